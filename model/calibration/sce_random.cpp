// Random numbers of the SCE-UA optimiser: the minimal standard generator with a
// 32-entry Bays-Durham shuffle table and the polar method for Gaussian deviates.
// Called by the optimiser's point generators; the table lives for the process.
#include "model/calibration/sce_random.h"

#include <array>
#include <cmath>

namespace {

constexpr int multiplier = 16807;
constexpr int modulus = 2147483647;  // 2^31 - 1
constexpr int schrage_q = 127773;    // modulus / multiplier
constexpr int schrage_r = 2836;      // modulus % multiplier
constexpr int table_size = 32;
constexpr int table_divisor = 1 + (modulus - 1) / table_size;
constexpr double scale = 1.0 / modulus;
constexpr double largest_uniform = 1.0 - 1.2e-7;

// The process-wide shuffle table and its last output.
struct shuffle_table {
    std::array<int, table_size> entries{};
    int last = 0;
};
shuffle_table table;

// The Gaussian value kept from the last pair.
bool have_spare = false;
double spare = 0.0;

}  // namespace

int lehmer_step(int state) {
    const int k = state / schrage_q;
    int next = multiplier * (state - k * schrage_q) - schrage_r * k;
    if (next < 0) next += modulus;
    return next;
}

double sce_uniform(int &state) {
    if (state <= 0 || table.last == 0) {
        state = state < 0 ? -state : state;
        if (state >= modulus) state %= modulus;  // 2^31 - 1 itself would stay 0
        if (state < 1) state = 1;
        for (int j = table_size + 7; j >= 0; --j) {
            state = lehmer_step(state);
            if (j < table_size) table.entries[static_cast<std::size_t>(j)] = state;
        }
        table.last = table.entries[0];
        have_spare = false;
    }
    state = lehmer_step(state);
    const int j = table.last / table_divisor;
    table.last = table.entries[static_cast<std::size_t>(j)];
    table.entries[static_cast<std::size_t>(j)] = state;
    const double u = scale * table.last;
    return u > largest_uniform ? largest_uniform : u;
}

double sce_gaussian(int &state) {
    if (state <= 0) have_spare = false;
    if (have_spare) {
        have_spare = false;
        return spare;
    }
    double v1 = 0.0, v2 = 0.0, r2 = 0.0;
    do {
        v1 = 2.0 * sce_uniform(state) - 1.0;
        v2 = 2.0 * sce_uniform(state) - 1.0;
        r2 = v1 * v1 + v2 * v2;
    } while (r2 >= 1.0 || r2 == 0.0);
    const double factor = std::sqrt(-2.0 * std::log(r2) / r2);
    spare = v1 * factor;
    have_spare = true;
    return v2 * factor;
}
