// Cubic RBF surrogate with a linear tail and the "rbf" self-test. The fit and
// evaluation serve the "cmaesrbf" screening; the self-test is MODE "rbf".
#include "calibrator/cmaes/rbf.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>

#include "calibrator/engine/cmaes_entry.h"
#include "calibrator/engine/numeric/numeric.h"

namespace {

double distance(const double_matrix &centres, int i, const double_matrix &others, int j, int N) {
    double sum = 0.0;
    for (int k = 1; k <= N; ++k) {
        const double d = centres(i, k) - others(j, k);
        sum += d * d;
    }
    return std::sqrt(sum);
}

void clear_coefficients(double_vector &coefficients, int m) {
    for (int i = 1; i <= m; ++i) {
        coefficients[i] = 0.0;
    }
}

// Factorises A (m x m) in place and solves for the right-hand side `rhs`, which
// receives the solution. Returns 1, without solving, when the decomposition
// meets a row of zeros.
calib_status factorise_and_solve(double_matrix &a, int m, double_vector &rhs) {
    int_vector permutation = ivector(1, m);
    int parity = 0;
    short status = 0;
    lu_decompose(a, m, permutation, parity, status);
    if (status == 0) {
        lu_solve(a, m, permutation, rhs);
    }
    free_ivector(permutation, 1, m);
    return status != 0 ? 1 : 0;
}

constexpr int test_centres = 100;
constexpr int test_dimension = 2;

// Prompts for the seed and places the test centres; writes "centers.txt".
// Returns 1 when the file cannot be written or the seed is refused.
calib_status prepare_self_test(double_matrix &centres, double_vector &values) {
    std::FILE *out = std::fopen("centers.txt", "w");
    if (out == nullptr) {
        std::printf("\nThe file centers.txt cannot be opened for writing.\n");
        return 1;
    }
    std::printf("\n\nEnter a randomly generated unsigned long (0 to 4,294,967,295): ");
    std::fflush(stdout);
    uint32_t seed = 0;
    if (rbf_read_seed(stdin, seed) != 0) {
        std::printf("\nThe seed must be a whole number from 0 to 4,294,967,295.\n");
        std::fclose(out);
        return 1;
    }
    rbf_place_test_centres(seed, centres, values, out);
    std::fclose(out);
    return 0;
}

// Work arrays of the two self tests: room for 1000 centres with their values and
// coefficients, and the evaluation point.
struct self_test_arrays {
    double_matrix centres = dmatrix(1, 1000, 1, test_dimension + 1);
    double_vector values = dvector(1, 1000);
    double_vector coefficients = dvector(1, test_dimension + 1001);
    double_vector point = dvector(1, 2);
};

void free_self_test_arrays(self_test_arrays &t) {
    free_dvector(t.point, 1, 2);
    free_dvector(t.coefficients, 1, test_dimension + 1001);
    free_dvector(t.values, 1, 1000);
    free_dmatrix(t.centres, 1, 1000, 1, test_dimension + 1);
}

}  // namespace

int rbf_centre_count(int N) {
    const int screening = static_cast<int>(N * 0.5 * (N + 1));
    return screening > N + 1 ? screening : N + 1;
}

calib_status rbf_fit_dim(const double_matrix &centres, const double_vector &values,
                         double_vector &coefficients, int n, int N) {
    const int m = n + N + 1;
    if (N < 1 || n < N + 1) {
        clear_coefficients(coefficients, m > 0 ? m : 0);
        return 1;
    }
    double_matrix phi = dmatrix(1, n, 1, n);
    double_matrix p = dmatrix(1, n, 1, N + 1);
    double_matrix pt = dmatrix(1, N + 1, 1, n);
    double_matrix a = dmatrix(1, m, 1, m);
    double_vector rhs = dvector(1, m);

    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) {
            const double r = distance(centres, i, centres, j, N);
            phi(i, j) = r * r * r;
        }
        for (int k = 1; k <= N; ++k) {
            p(i, k) = centres(i, k);
        }
        p(i, N + 1) = 1.0;
    }
    dmtranspose(p, n, N + 1, pt);
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) {
            a(i, j) = phi(i, j);
        }
        for (int k = 1; k <= N + 1; ++k) {
            a(i, n + k) = p(i, k);
            a(n + k, i) = pt(k, i);
        }
    }
    for (int i = 1; i <= n; ++i) {
        rhs[i] = values[i];
    }

    calib_status status = factorise_and_solve(a, m, rhs);
    if (status == 0) {
        for (int i = 1; i <= m; ++i) {
            coefficients[i] = rhs[i];
        }
    } else {
        clear_coefficients(coefficients, m);
    }

    free_dvector(rhs, 1, m);
    free_dmatrix(a, 1, m, 1, m);
    free_dmatrix(pt, 1, N + 1, 1, n);
    free_dmatrix(p, 1, n, 1, N + 1);
    free_dmatrix(phi, 1, n, 1, n);
    return status;
}

calib_status rbf_fit(const double_matrix &centres, const double_vector &values, double_vector &coefficients,
                     int n, const control_data &cd) {
    return rbf_fit_dim(centres, values, coefficients, n, cd.adjustable_count);
}

double rbf_evaluate_dim(const double_vector &coefficients, const double_matrix &centres,
                        const double_vector &point, int n, int N) {
    double sum = 0.0;
    for (int i = 1; i <= n; ++i) {
        double r2 = 0.0;
        for (int k = 1; k <= N; ++k) {
            const double d = centres(i, k) - point[k];
            r2 += d * d;
        }
        const double r = std::sqrt(r2);
        sum += coefficients[i] * r * r * r;
    }
    for (int k = 1; k <= N; ++k) {
        sum += coefficients[n + k] * point[k];
    }
    return sum + coefficients[n + N + 1];
}

double rbf_evaluate(const double_vector &coefficients, const double_matrix &centres,
                    const double_vector &point, int n, const control_data &cd) {
    return rbf_evaluate_dim(coefficients, centres, point, n, cd.adjustable_count);
}

double rand_uniform_shuffled(int32_t *state) {
    static int32_t output = 0;
    static int32_t table[32];
    auto step = [](int32_t s) {
        const int32_t hi = s / 127773;
        int32_t next = 16807 * (s - hi * 127773) - 2836 * hi;
        return next < 0 ? next + 2147483647 : next;
    };
    if (*state <= 0 || output == 0) {
        const int64_t negated = -static_cast<int64_t>(*state);
        // A state of 2^31 - 1 would stick the generator at 0.
        *state = negated < 1 ? 1 : static_cast<int32_t>(negated >= 2147483647 ? 2147483646 : negated);
        for (int j = 39; j >= 0; --j) {
            *state = step(*state);
            if (j < 32) {
                table[j] = *state;
            }
        }
        output = table[0];
    }
    *state = step(*state);
    const int j = output / 67108864;
    output = table[j];
    table[j] = *state;
    const double value = output * 4.656612875245797e-10;
    return value > 0.99999988 ? 0.99999988 : value;
}

double rbf_test_function(double x, double y) { return std::sin(x) * std::sin(y); }

calib_status rbf_read_seed(std::FILE *in, uint32_t &seed) {
    std::string line;
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n') {
        line.push_back(static_cast<char>(c));
    }
    std::size_t i = 0;
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) {
        ++i;
    }
    uint64_t value = 0;
    std::size_t digits = 0;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) {
        value = value * 10 + static_cast<uint64_t>(line[i] - '0');
        if (value > 4294967295ULL) {
            return 1;
        }
        ++i;
        ++digits;
    }
    if (digits == 0) {
        return 1;
    }
    if (line.compare(i, 2, "ld") == 0) {
        i += 2;
    }
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) {
        ++i;
    }
    if (i != line.size()) {
        return 1;
    }
    seed = static_cast<uint32_t>(value);
    return 0;
}

void rbf_place_test_centres(uint32_t seed, double_matrix &centres, double_vector &values, std::FILE *out) {
    for (int i = 1; i <= test_centres; ++i) {
        for (int j = 1; j <= test_dimension; ++j) {
            seed = seed * 1664525u + 1013904223u;
            int32_t g = static_cast<int32_t>(static_cast<double>(seed) * -0.5);
            centres(i, j) = rand_uniform_shuffled(&g) * 1.0 + 0.0;
        }
        if (out != nullptr) {
            std::fprintf(out, "%lf\t%lf\n", centres(i, 1), centres(i, 2));
        }
        values[i] = rbf_test_function(centres(i, 1), centres(i, 2));
    }
}

calib_status rbf_self_test(int argc, char *argv[], control_data &cd) {
    (void)argc;
    (void)argv;
    (void)cd;  // the test function has two coordinates, whatever the problem declares
    const int N = test_dimension;
    self_test_arrays arrays;
    double_matrix &centres = arrays.centres;
    double_vector &values = arrays.values;
    double_vector &coefficients = arrays.coefficients;
    double_vector &point = arrays.point;

    calib_status status = prepare_self_test(centres, values);
    if (status == 0) {
        status = rbf_fit_dim(centres, values, coefficients, test_centres, N);
        point[1] = 0.25;
        point[2] = 0.25;
        (void)rbf_evaluate_dim(coefficients, centres, point, test_centres, N);
    }

    free_self_test_arrays(arrays);
    return status;
}

calib_status rbf_self_test_inline(int argc, char *argv[], control_data &cd) {
    (void)argc;
    (void)argv;
    (void)cd;
    const int N = test_dimension;
    const int n = test_centres;
    const int m = n + N + 1;
    self_test_arrays arrays;
    double_matrix &centres = arrays.centres;
    double_vector &values = arrays.values;
    double_vector &coefficients = arrays.coefficients;
    double_vector &point = arrays.point;

    calib_status status = prepare_self_test(centres, values);
    if (status == 0) {
        // The system [[Phi, P], [P', 0]] assembled directly.
        double_matrix a = dmatrix(1, m, 1, m);
        for (int i = 1; i <= n; ++i) {
            for (int j = 1; j <= n; ++j) {
                const double r = distance(centres, i, centres, j, N);
                a(i, j) = r * r * r;
            }
            a(i, n + 1) = centres(i, 1);
            a(i, n + 2) = centres(i, 2);
            a(i, n + 3) = 1.0;
            a(n + 1, i) = centres(i, 1);
            a(n + 2, i) = centres(i, 2);
            a(n + 3, i) = 1.0;
        }
        for (int i = 1; i <= n; ++i) {
            coefficients[i] = values[i];
        }
        status = factorise_and_solve(a, m, coefficients);
        if (status != 0) {
            clear_coefficients(coefficients, m);
        }
        free_dmatrix(a, 1, m, 1, m);
        point[1] = 0.5;
        point[2] = 0.5;
        (void)rbf_evaluate_dim(coefficients, centres, point, n, N);
    }

    free_self_test_arrays(arrays);
    return status;
}
