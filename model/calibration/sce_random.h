// Random numbers of the SCE-UA optimiser: the minimal standard generator with a
// shuffle table (shared by every optimiser of the process), Gaussian deviates by
// the polar method, and the step of the generator itself.
#pragma once

// One step of the minimal standard generator: 16807 x state modulo 2^31 - 1,
// computed by Schrage's factorisation (state in 1 .. 2^31 - 2).
int lehmer_step(int state);

// Uniform deviate in (0, 0.99999988] from the shuffled generator. A state at or
// below 0 re-seeds it from -state (1 when that is 0) and refills the table.
double sce_uniform(int &state);

// Standard normal deviate; the second value of each pair is kept for the next call.
// A re-seed of the uniform generator drops a kept value, so that a seed alone
// decides the sequence that follows it.
double sce_gaussian(int &state);
