// Powers of the Manning terms; see thirds_powers.h.
#include "model/thirds_powers.h"

#include <cmath>

double pow_two_thirds(double x) { return std::pow(x, 2.0 / 3.0); }
double pow_five_thirds(double x) { return std::pow(x, 5.0 / 3.0); }

void pow_two_thirds_n(const double *x, double *y, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) y[i] = pow_two_thirds(x[i]);
}

void pow_five_thirds_n(const double *x, double *y, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) y[i] = pow_five_thirds(x[i]);
}
