// The work arrays of one chunk of the explicit scheme's one pass and its loops four
// cells at a time in AVX2, chosen at run time. Used only by overland_explicit.cpp,
// which runs the same operations two cells or one at a time for the rest.
#pragma once

#include <cstddef>

constexpr int explicit_chunk_cells = 128;
// A face whose Courant number (kinematic celerity 5/3 |q| / d of the donor's depth,
// times step / dx) reaches this fails the celerity check and the step is cut.
constexpr double explicit_max_face_courant = 1.0;
// A face of flowing water that moves more than this share of its level gap
// fails the check (overland_boundaries.h): a third, inside the stability limit
// of the diffusion number (a half of the gap) by enough that no face alternates
// from step to step.
constexpr double explicit_flowing_share = 1.0 / 3.0;

// The faces of one direction of a chunk.
struct explicit_chunk_direction {
    alignas(32) double sf[explicit_chunk_cells];     // friction slope
    alignas(32) double root[explicit_chunk_cells];   // sqrt(|sf|)
    alignas(32) double limit[explicit_chunk_cells];  // a quarter of the level gap
    alignas(32) double stands[explicit_chunk_cells]; // 1: standing water (standing_face)
    alignas(32) double hk[explicit_chunk_cells];     // the neighbour's depth
    alignas(32) double t[explicit_chunk_cells];      // transfer (m)
    alignas(32) double q[explicit_chunk_cells];      // unit discharge (m2/s)
    alignas(32) double need[explicit_chunk_cells];   // 1: an open face of a wet cell
};

// The arrays of the pass that the chunk loops read and write.
struct explicit_chunk_inputs {
    const double *from;  // depths read by the pass
    const double *z;
    const int *right, *down, *dike;  // dike: null without dikes
    std::size_t mask;                // ring slots 0..mask, slot mask + 1 for closed faces
    double dx, inv_dx;
};

// The chunk's values per cell beside the two directions.
struct explicit_chunk {
    explicit_chunk_direction fx, fy;
    alignas(32) double own[explicit_chunk_cells];        // the cell's depth
    alignas(32) double arg_first[explicit_chunk_cells];  // power argument of every cell
    alignas(32) double arg_y[explicit_chunk_cells];      // the down face's own argument
    alignas(32) int second[explicit_chunk_cells];        // 1: the down face needs arg_y's power
    alignas(32) int slot[explicit_chunk_cells];          // ring slot of the down face's transfer
    alignas(32) int ring_apart[explicit_chunk_cells / 4];  // 1: no down face of four cells
                                                           // reaches one of them
};

// True when the one pass runs the loops below: the processor has AVX2 and they
// are not switched off.
bool explicit_chunks_avx2();
// Switches the loops below on (where the processor has AVX2) or off, so that the
// two paths can be compared; result: whether they are now in use.
bool explicit_chunks_use_avx2(bool on);

// Gathers, slopes, level gaps and power arguments of cells start + c for c < len,
// a multiple of four; cell start + len must exist (its depth and elevation are
// read with the last four). rb is the retention of cell start. Result: len.
int explicit_faces_avx2(const explicit_chunk_inputs &a, const double *rb, int start, int len,
                        explicit_chunk &k);

// Square roots, transfers, discharges and the face check of one direction for
// c < len (a multiple of four) from the powers p; `fail` and `nan` take the
// check's failures and transfers that are not numbers, `held` the standing
// faces held to their limit. The roots are not kept.
void explicit_transfers_avx2(explicit_chunk_direction &d, const double *p, const double *own,
                             const double *n, int len, double step_over_dx, double dx_over_step,
                             bool &fail, bool &nan, long long &held);

// The new depths, saved depths, ring of down transfers and discharges of the
// cells start + c for c < len, four at a time in the groups below vector_len (the
// cells of explicit_faces_avx2) whose down faces reach past the four and whose
// ring slots do not wrap, one at a time elsewhere; from_left carries the transfer
// of the face (i - 1, i).
void explicit_apply_avx2(const explicit_chunk &k, int start, int len, int vector_len, double *ring,
                         std::size_t mask, double *to, double *save, double *qx, double *qy,
                         double q_scale, bool x_first, double &from_left);
