// Eigenvalues and eigenvectors of symmetric matrices by cyclic Jacobi rotations,
// their descending sort, and an index sort of a vector. Called by the parameter
// statistics of the GML drivers and by the surrogate screening of CMA-ES.
#include <cmath>

#include "calibrator/engine/numeric/numeric.h"

namespace {

constexpr int max_jacobi_sweeps = 50;
constexpr int insertion_sort_limit = 7;  // partitions this small are insertion sorted
constexpr int index_stack_size = 50;

// One plane rotation of the pair (a(i, j), a(k, l)).
inline void rotate(const double_matrix &a, double s, double tau, int i, int j, int k, int l) {
    double g = a(i, j);
    double h = a(k, l);
    a(i, j) = g - s * (h + g * tau);
    a(k, l) = h + s * (g - h * tau);
}

inline void swap_ints(int &x, int &y) {
    int held = x;
    x = y;
    y = held;
}

}  // namespace

void jacobi(double_matrix &a, int n, double_vector &d, double_matrix &v, int &rotations) {
    // sweep_start holds the diagonal at the start of a sweep; updates accumulates
    // the sweep's changes so that they are added in one go at its end.
    double_vector sweep_start = dvector(1, n);
    double_vector updates = dvector(1, n);
    for (int p = 1; p <= n; ++p) {
        for (int q = 1; q <= n; ++q) {
            v(p, q) = 0.0;
        }
        v(p, p) = 1.0;
    }
    for (int p = 1; p <= n; ++p) {
        sweep_start[p] = a(p, p);
        d[p] = a(p, p);
        updates[p] = 0.0;
    }
    rotations = 0;
    for (int sweep = 1; sweep <= max_jacobi_sweeps; ++sweep) {
        double off_diagonal = 0.0;
        for (int p = 1; p < n; ++p) {
            for (int q = p + 1; q <= n; ++q) {
                off_diagonal += std::fabs(a(p, q));
            }
        }
        if (off_diagonal == 0.0) {
            free_dvector(updates, 1, n);
            free_dvector(sweep_start, 1, n);
            return;
        }
        double threshold =
            sweep < 4 ? 0.2 * off_diagonal / (static_cast<double>(n) * static_cast<double>(n)) : 0.0;
        for (int p = 1; p < n; ++p) {
            for (int q = p + 1; q <= n; ++q) {
                double g = 100.0 * std::fabs(a(p, q));
                if (sweep > 4 && std::fabs(d[p]) + g == std::fabs(d[p]) &&
                    std::fabs(d[q]) + g == std::fabs(d[q])) {
                    // Too small to change either diagonal element: drop it.
                    a(p, q) = 0.0;
                } else if (std::fabs(a(p, q)) > threshold) {
                    double h = d[q] - d[p];
                    double t;
                    if (std::fabs(h) + g == std::fabs(h)) {
                        t = a(p, q) / h;
                    } else {
                        double theta = 0.5 * h / a(p, q);
                        t = 1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
                        if (theta < 0.0) {
                            t = -t;
                        }
                    }
                    double c = 1.0 / std::sqrt(1.0 + t * t);
                    double s = t * c;
                    double tau = s / (1.0 + c);
                    h = t * a(p, q);
                    updates[p] -= h;
                    updates[q] += h;
                    d[p] -= h;
                    d[q] += h;
                    a(p, q) = 0.0;
                    for (int j = 1; j < p; ++j) {
                        rotate(a, s, tau, j, p, j, q);
                    }
                    for (int j = p + 1; j < q; ++j) {
                        rotate(a, s, tau, p, j, j, q);
                    }
                    for (int j = q + 1; j <= n; ++j) {
                        rotate(a, s, tau, p, j, q, j);
                    }
                    for (int j = 1; j <= n; ++j) {
                        rotate(v, s, tau, j, p, j, q);
                    }
                    ++rotations;
                }
            }
        }
        for (int p = 1; p <= n; ++p) {
            sweep_start[p] += updates[p];
            d[p] = sweep_start[p];
            updates[p] = 0.0;
        }
    }
    free_dvector(updates, 1, n);
    free_dvector(sweep_start, 1, n);
    nr_error("Too many iterations in routine jacobi");
}

void eigen_sort(double_vector &d, double_matrix &v, int n) {
    for (int i = 1; i < n; ++i) {
        int k = i;
        double largest = d[i];
        for (int j = i + 1; j <= n; ++j) {
            if (d[j] >= largest) {
                k = j;
                largest = d[j];
            }
        }
        if (k != i) {
            d[k] = d[i];
            d[i] = largest;
            for (int j = 1; j <= n; ++j) {
                double held = v(j, i);
                v(j, i) = v(j, k);
                v(j, k) = held;
            }
        }
    }
}

void indexx(int n, const double_vector &values, int_vector &index) {
    for (int j = 1; j <= n; ++j) {
        index[j] = j;
    }
    if (n < 2) {
        return;
    }
    int_vector stack = ivector(1, index_stack_size);
    int stack_top = 0;
    int l = 1;
    int ir = n;
    for (;;) {
        if (ir - l < insertion_sort_limit) {
            for (int j = l + 1; j <= ir; ++j) {
                int held = index[j];
                double a = values[held];
                int i = j - 1;
                for (; i >= l; --i) {
                    if (values[index[i]] <= a) {
                        break;
                    }
                    index[i + 1] = index[i];
                }
                index[i + 1] = held;
            }
            if (stack_top == 0) {
                break;
            }
            ir = stack[stack_top--];
            l = stack[stack_top--];
        } else {
            // Median of the left, centre and right elements as partitioning
            // element, with the other two as sentinels at both ends.
            int k = (l + ir) >> 1;
            swap_ints(index[k], index[l + 1]);
            if (values[index[l]] > values[index[ir]]) {
                swap_ints(index[l], index[ir]);
            }
            if (values[index[l + 1]] > values[index[ir]]) {
                swap_ints(index[l + 1], index[ir]);
            }
            if (values[index[l]] > values[index[l + 1]]) {
                swap_ints(index[l], index[l + 1]);
            }
            int i = l + 1;
            int j = ir;
            int partition_index = index[l + 1];
            double a = values[partition_index];
            for (;;) {
                // The explicit limits only matter for values that are not
                // numbers, which compare false both ways.
                do {
                    ++i;
                } while (i < ir && values[index[i]] < a);
                do {
                    --j;
                } while (j > l && values[index[j]] > a);
                if (j < i) {
                    break;
                }
                swap_ints(index[i], index[j]);
            }
            index[l + 1] = index[j];
            index[j] = partition_index;
            stack_top += 2;
            if (stack_top > index_stack_size) {
                free_ivector(stack, 1, index_stack_size);
                nr_error("NSTACK too small in indexx.");
            }
            // Push the larger part, sort the smaller one next.
            if (ir - i + 1 >= j - l) {
                stack[stack_top] = ir;
                stack[stack_top - 1] = i;
                ir = j - 1;
            } else {
                stack[stack_top] = j - 1;
                stack[stack_top - 1] = l;
                l = i;
            }
        }
    }
    free_ivector(stack, 1, index_stack_size);
}
