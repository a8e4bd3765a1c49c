// Working state of the pipe-network time step (superlink_step and pipe_exchange,
// declared in model/channel/channel_services.h): the pipe and node states, the
// recurrence and end coefficients of every superlink, the junction system, the
// run totals of the surface exchange and the eight output files. It lives in the
// run state and is sized by the run's network at the first step.
#pragma once

#include <array>

#include "model/core/arrays.h"
#include "model/pipes/junction_solver.h"
#include "model/pipes/junction_sparse.h"

struct superlink_network;
struct model_state;

// The output files of the step, created at the first step of a run.
enum superlink_file_slot : int {
    slink_head_out = 0,   // "slink/head.out"
    slink_flow_print,     // "slink/flow.print"
    slink_head_print,     // "slink/head.print"
    debug_matrix_out,     // "debug/matrix.out"
    debug_debug_out,      // "debug/debug.out"
    debug_debug2_out,     // "debug/debug2.out"
    debug_debug3_out,     // "debug/debug3.out"
    debug_mass_out,       // "debug/mass.out"
    superlink_file_count
};

struct superlink_step_state {
    superlink_step_state() = default;
    superlink_step_state(const superlink_step_state &) = delete;
    superlink_step_state &operator=(const superlink_step_state &) = delete;
    ~superlink_step_state() { close_files(); }
    void close_files();

    // Per pipe k (1..N) of superlink l, [k][l]: mean depth, flow area, top width,
    // wetted perimeter, hydraulic radius, velocity, flow, the area of the loss
    // term, and the momentum (a, b, c, P) and recurrence coefficients.
    array_2d<double> ldepth, A, top_width, wet_per, hyd_R, l_veloc, Q, Ac;
    array_2d<double> a, b, c, P, T, U, V, W, O, X, Y, Z;
    // Per node k (1..N + 1): velocity, continuity coefficients E and D, and the
    // loss coefficient Cl.
    array_2d<double> n_veloc, E, D, Cl;
    // Per superlink: end flows and areas, and the end and flow coefficients.
    array_1d<double> Q_us, Q_ds, A_us, A_ds;
    array_1d<double> us_gam, us_mu, us_kap, ds_gam, ds_mu, ds_kap;
    array_1d<double> us_alpha, us_beta, us_chi, ds_alpha, ds_beta, ds_chi, Dstar;
    // Per superlink, the flows between its end nodes and its super-junctions
    // (m3/s): what leaves the upstream junction into node 1 and what node N + 1
    // gives the downstream junction. They differ from Q_us and Q_ds by the water
    // the two end nodes store in the step.
    array_1d<double> us_junction_flow, ds_junction_flow;
    // The same flows and the pipe flows as means over the whole step (m3/s),
    // when the step ran in shorter sub-steps: the water each carried.
    array_2d<double> step_Q;
    array_1d<double> step_us_flow, step_ds_flow;
    // Per pipe: the storage width of the continuity rows (m), the top width at
    // the first pass of a sub-step and then the secant of the section's water
    // between the old and the new mean depth; the section's water (m2) at the
    // sub-step's start and at the last pass.
    array_2d<double> storage_width, area_start, area_now;
    // Per pipe: the friction and loss terms of its momentum row per unit of flow.
    array_2d<double> resistance;
    // The state a sub-step starts from, restored for each of its passes and
    // when it is cut: node depths and pipe flows, end flows and junction heads.
    array_2d<double> h_start, Q_start;
    // Per pipe: the end flow of the last trial of a sub-step that changed the
    // flows too much, against which its half is checked (m3/s).
    array_2d<double> Q_trial;
    array_1d<double> Q_us_start, Q_ds_start, H_start;
    // Per superlink: ends that give no water to their junction and take none
    // (a fixed head that is no outlet, an outlet that would draw water back).
    array_1d<int> us_closed, ds_closed;
    // Per superlink: the normal and critical depths of its end flows (m), each
    // iteration started from the last sub-step's.
    array_1d<double> us_yn, us_yc, ds_yn, ds_yc;
    // Node depths of the last pass that lay beyond their bounds.
    int wild_depths = 0;
    // Per junction: the water its outlet handed on in the step (m3).
    array_1d<double> outlet_volume;
    // Per junction: the water its superlinks' end nodes did not hold and so did
    // not give it in this pass (m3).
    array_1d<double> junction_short;
    // Per super-junction: the fixed head and the right-hand side of its row; the
    // sparse junction system, and the dense solver that takes a step whose
    // sparse factorisation meets a small pivot (storage made on first need).
    array_1d<double> fixed_head, rhs;
    junction_sparse system;
    junction_solver solver;
    int junctions = 0;  // order of the junction system
    bool dense_only = false;  // solve every step densely (comparison runs)

    // Run totals (m3): surface water taken by inlets, tile inflow taken from the
    // aquifer, water spilled by surcharged inlets, water that type-888 outlets
    // put onto their cells and water that type-999 outlets offered the channels
    // (the channel step takes it, and posts the move, at its nodes).
    double slink_captured_total = 0.0, slink_tile_total = 0.0, slink_surcharge_total = 0.0;
    double slink_cell_outlet_total = 0.0, slink_channel_outlet_total = 0.0;
    // The ledger (m3): the water the network was given less what it gave, which
    // its nodes and junctions hold at the end of every step.
    double held = 0.0;
    // Run totals: the water the scheme's own solution made (negative: lost), the
    // continuity error no flow carries (m3); the water the depth floor and the
    // depth and head bounds added (m3, also posted to the ledger); the longest
    // pipe step (s); the steps run in shorter sub-steps, all steps, and the
    // shortest sub-step taken (s).
    double scheme_made = 0.0, bounds_added = 0.0, longest_step = 0.0;
    mutable bool guard_warned = false;  // the end-of-run warning about the bounds is given
    long long cut_steps = 0, steps = 0;
    double shortest_step = 0.0;
    // This step (m3): the spills the surcharged heads ask for, the spills,
    // tile inflow and outflow that took place.
    double slink_spilled = 0.0, spilled_step = 0.0, tile_step = 0.0, out_step = 0.0;
    int slink_dried_cells = 0, slink_water_added = 0;
    // Surface water within reach of the inlets, and taken by them, in this step (m3).
    double slink_available = 0.0, slink_taken = 0.0;
    // The first half of this step's take (m3), taken before the overland routing:
    // per junction and per node [k][l], and what of it the network has not yet
    // taken in (the pipe step adds it to the second half's).
    array_1d<double> junction_first_half;
    array_2d<double> node_first_half;
    double first_half_pending = 0.0;
    bool first_half_taken = false;  // else the pipe step's inlets take the whole step's share

    std::array<std::FILE *, superlink_file_count> files{};

    // Pipe-network series: blocks written, node counts N + 1 and the node heads.
    int series_blocks = 0;
    array_1d<int> head_node_count;
    array_2d<double> node_head;
};

// Allocates the step state for the network's dimensions (zeroed); false after
// an allocation message.
bool allocate_superlink_step_state(superlink_step_state &w, const superlink_network &p);

// A back-substituted depth of a node of a pipe of diameter D whose invert lies
// `below_ground` m under its ground: beyond 10 D below its invert or above its
// ground it is dropped to 0 (a surcharged node's head up to its ground is its
// water), and a depth that is not positive becomes 1e-7.
double bounded_node_depth(double h, double D, double below_ground = 0.0);

// A new junction head: more than 1 mm below the invert it is raised to the invert.
double bounded_junction_head(double x, double invert);

// Surface water an inlet of type t (1..9) takes from a cell of depth d (m) in a
// pipe step of dt seconds (m3): t / 9 of the cell's water per minute, as a rate
// (a step of one minute takes t / 9 of it, two steps of 30 s take the same), so
// that the water the inlets take does not depend on the pipe step.
inline constexpr double inlet_capture_minute = 60.0;
double inlet_capture_volume(int t, double d, double cell_size, double dt);

// The inlets take their cells' water over a pipe step in two halves, one on each
// side of the overland routing: this is the first, over half of the step of dt
// seconds that the pipe network is about to run, taken before the routing where
// the last routing left water flowing. Posted to the ledger and held for the pipe
// step, which adds the second half's, taken after the routing (taken once after
// the routing, the inlets took less the longer the step).
void take_inlet_first_half(model_state &state, double dt);

// Water of pipe k of superlink l at the mean depth y (m3): a full pipe with the
// narrow slot above its crown, as the network counts it.
double superlink_pipe_water(const superlink_network &p, int k, int l, double y);

// The water the network holds now (m3): its pipes at their mean depths, the
// plan areas of its nodes and of its junctions that are no fixed heads (after
// a step, as that step left it).
double pipe_network_water(const model_state &state);
