// Powers x^y of positive bases for arrays, as exp(y ln x) from a logarithm and an
// exponential of about one unit each, written so that the compiler vectorises
// them: a kernel gathers the bases of many nodes and forms their powers in one
// call (the soil curves of the Richards columns).
#pragma once

// out[i] = x[i]^y[i] for i < n, within about (2 + |y ln x|) units of the last
// place of the exact power. Bases that are not positive normal numbers and
// powers that would leave the normal range are handed to std::pow.
void positive_powers(const double *x, const double *y, double *out, int n);
