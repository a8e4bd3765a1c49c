// Test helper: builds 1-based matrices and vectors from nested lists and frees
// them automatically at the end of a test.
#pragma once
#include <initializer_list>
#include <vector>

#include "calibrator/engine/numeric/nr_arrays.h"

namespace numeric_test {

// Owns a 1-based double matrix for the length of a test.
struct owned_matrix {
    double_matrix m;
    int rows;
    int cols;
    owned_matrix(int r, int c) : m(dmatrix(1, r, 1, c)), rows(r), cols(c) {}
    owned_matrix(std::initializer_list<std::initializer_list<double>> values)
        : owned_matrix(static_cast<int>(values.size()), static_cast<int>(values.begin()->size())) {
        int i = 1;
        for (const auto &row : values) {
            int j = 1;
            for (double x : row) {
                m(i, j++) = x;
            }
            ++i;
        }
    }
    ~owned_matrix() { free_dmatrix(m, 1, rows, 1, cols); }
    owned_matrix(const owned_matrix &other) : owned_matrix(other.rows, other.cols) {
        for (int i = 1; i <= rows; ++i) {
            for (int j = 1; j <= cols; ++j) {
                m(i, j) = other.m(i, j);
            }
        }
    }
    owned_matrix &operator=(const owned_matrix &) = delete;
    double &operator()(int i, int j) const { return m(i, j); }
};

// Owns a 1-based double vector for the length of a test.
struct owned_vector {
    double_vector v;
    int n;
    explicit owned_vector(int size) : v(dvector(1, size)), n(size) {}
    owned_vector(std::initializer_list<double> values) : owned_vector(static_cast<int>(values.size())) {
        int i = 1;
        for (double x : values) {
            v[i++] = x;
        }
    }
    ~owned_vector() { free_dvector(v, 1, n); }
    owned_vector(const owned_vector &) = delete;
    owned_vector &operator=(const owned_vector &) = delete;
    double &operator[](int i) const { return v[i]; }
};

// The n x n Hilbert matrix, H(i, j) = 1 / (i + j - 1).
inline owned_matrix hilbert(int n) {
    owned_matrix h(n, n);
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) {
            h(i, j) = 1.0 / (i + j - 1);
        }
    }
    return h;
}

}  // namespace numeric_test
