// Allocators and free twins of the 1-based vectors and matrices, and the fatal
// error routine through which every failure of the numerical library ends the
// process. Used by every stage of the calibration program that does arithmetic.
#include "calibrator/engine/numeric/nr_arrays.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>

namespace {

void default_exit(int status) { std::exit(status); }

nr_exit_handler current_exit_handler = default_exit;

// Number of elements of the index range low..high, or -1 when the range is
// reversed by more than one (an empty range high = low - 1 has 0 elements).
long long range_length(int low, int high) {
    long long length = static_cast<long long>(high) - static_cast<long long>(low) + 1;
    return length < 0 ? -1 : length;
}

// Allocates `count` zeroed elements; nullptr when count is not representable
// or the allocation fails.
template <typename T>
T *allocate_zeroed(long long count) {
    if (count < 0 || static_cast<unsigned long long>(count) >
                         std::numeric_limits<std::size_t>::max() / sizeof(T)) {
        return nullptr;
    }
    return new (std::nothrow) T[static_cast<std::size_t>(count)]();
}

// One block of (high - low + 2) elements with element `low` first.
template <typename T>
nr_vector<T> allocate_vector(int low, int high, const char *failure_message) {
    long long length = range_length(low, high);
    T *block = length < 0 ? nullptr : allocate_zeroed<T>(length + 1);
    if (block == nullptr) {
        nr_error(failure_message);
    }
    return nr_vector<T>{block, low, high};
}

template <typename T>
void release_vector(nr_vector<T> &v, int low) {
    if (v.block == nullptr) {
        return;
    }
    assert(low == v.low);
    (void)low;
    delete[] v.block;
    v = nr_vector<T>{};
}

// A row table of (rows + 1) pointers over one data block of rows x columns + 1
// elements; row i starts at its element col_low, rows follow each other.
template <typename T>
nr_matrix<T> allocate_matrix(int row_low, int row_high, int col_low, int col_high) {
    long long row_count = range_length(row_low, row_high);
    long long col_count = range_length(col_low, col_high);
    T **rows = row_count < 0 ? nullptr : allocate_zeroed<T *>(row_count + 1);
    if (rows == nullptr) {
        nr_error("allocation failure 1 in matrix()");
    }
    T *data = nullptr;
    if (col_count == 0 ||
        (col_count > 0 && row_count <= std::numeric_limits<long long>::max() / col_count - 1)) {
        data = allocate_zeroed<T>(row_count * col_count + 1);
    }
    if (data == nullptr) {
        delete[] rows;
        nr_error("allocation failure 2 in matrix()");
    }
    for (long long i = 0; i < row_count; ++i) {
        rows[i] = data + i * col_count;
    }
    if (row_count == 0) {
        rows[0] = data;  // keeps the spare element of an empty matrix releasable
    }
    return nr_matrix<T>{rows, row_low, row_high, col_low, col_high};
}

template <typename T>
void release_matrix(nr_matrix<T> &m, int row_low, int col_low) {
    if (m.rows == nullptr) {
        return;
    }
    assert(row_low == m.row_low && col_low == m.col_low);
    (void)row_low;
    (void)col_low;
    // The data block starts at the first row; the table always has an entry 0.
    delete[] m.rows[0];
    delete[] m.rows;
    m = nr_matrix<T>{};
}

}  // namespace

nr_exit_handler set_nr_exit_handler(nr_exit_handler handler) {
    nr_exit_handler previous = current_exit_handler;
    current_exit_handler = handler != nullptr ? handler : default_exit;
    return previous;
}

void nr_exit(int status) {
    current_exit_handler(status);
    std::exit(status);
}

namespace {
std::string error_context;
std::string input_note;
}  // namespace

void nr_set_context(const std::string &context) { error_context = context; }
void nr_set_input_note(const std::string &note) { input_note = note; }

void nr_error(const char *message) {
    std::fprintf(stderr, "Numerical Recipes run-time error...\n");
    std::fprintf(stderr, "%s\n", message);
    if (!error_context.empty()) std::fprintf(stderr, "%s\n", error_context.c_str());
    if (!input_note.empty()) std::fprintf(stderr, "%s\n", input_note.c_str());
    std::fprintf(stderr, "...now exiting to system...\n");
    std::fflush(stderr);
    nr_exit(1);
}

double_vector dvector(int low, int high) {
    return allocate_vector<double>(low, high, "allocation failure in dvector()");
}

int_vector ivector(int low, int high) {
    return allocate_vector<int>(low, high, "allocation failure in ivector()");
}

double_matrix dmatrix(int row_low, int row_high, int col_low, int col_high) {
    return allocate_matrix<double>(row_low, row_high, col_low, col_high);
}

void free_dvector(double_vector &v, int low, int /*high*/) { release_vector(v, low); }

void free_ivector(int_vector &v, int low, int /*high*/) { release_vector(v, low); }

void free_dmatrix(double_matrix &m, int row_low, int /*row_high*/, int col_low, int /*col_high*/) {
    release_matrix(m, row_low, col_low);
}

void extend_dvector(double_vector &v, int high, int cap) {
    if (v.block != nullptr && high <= v.high) return;
    const int low = v.block != nullptr ? v.low : 1;
    const long long length = v.block != nullptr ? range_length(v.low, v.high) : 0;
    const long long doubled = static_cast<long long>(low) + 2 * length + 15;
    const long long wanted = doubled > high ? doubled : high;
    const int new_high = static_cast<int>(wanted < cap ? wanted : (cap > high ? cap : high));
    double_vector grown = dvector(low, new_high);
    for (int i = low; v.block != nullptr && i <= v.high; ++i) grown[i] = v[i];
    if (v.block != nullptr) release_vector(v, low);
    v = grown;
}
