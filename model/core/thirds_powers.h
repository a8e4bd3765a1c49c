// Powers x^(2/3) and x^(5/3) for the Manning terms of the overland and channel
// kernels, as std::pow(x, 2.0 / 3.0) and std::pow(x, 5.0 / 3.0) compute them
// (the exponents are the doubles nearest 2/3 and 5/3), bit for bit: a value good
// to about 2^-75 is rounded once, and the few arguments whose exact power lies
// so near a midpoint between two doubles that the library's own rounding may
// differ are handed to std::pow. The array forms let a kernel gather the depths
// of many faces and take their powers in one call.
#pragma once

#include <cstddef>

// y[i] = x[i]^(2/3) for i < n; y may equal x.
void pow_two_thirds_n(const double *x, double *y, std::size_t n);
// y[i] = x[i]^(5/3) for i < n; y may equal x.
void pow_five_thirds_n(const double *x, double *y, std::size_t n);

double pow_two_thirds(double x);
double pow_five_thirds(double x);

// The same results by the portable scalar path (the array forms above take a
// vector path when the processor has one; both give the same bits).
void pow_two_thirds_n_portable(const double *x, double *y, std::size_t n);
void pow_five_thirds_n_portable(const double *x, double *y, std::size_t n);
double pow_two_thirds_portable(double x);
double pow_five_thirds_portable(double x);
// True when the array forms run the vector path on this processor.
bool thirds_powers_vector_path();
