// The routing pieces of a turn: overland flow with its boundaries and the choice
// of scheme, overland constituents, the pipe network, the overland lakes and the
// channel step (the groundwater piece is in groundwater_coupling.cpp).
// run_model calls each through its table of pieces; each acts when its clock is due.
#include "model/hydrology/overland_pieces.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/channel/channel_services.h"
#include "model/constituents/pipe_constituents.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/groundwater.h"
#include "model/hydrology/groundwater_coupling.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/piece_cells.h"
#include "model/hydrology/layered_soil.h"
#include "model/hydrology/overland_ade.h"
#include "model/hydrology/overland_boundaries.h"
#include "model/hydrology/overland_explicit.h"
#include "model/hydrology/process_clocks.h"
#include "model/core/soil_hydraulics.h"
#include "model/core/cell_arrays.h"
#include "model/core/model_state.h"
#include "model/sediment/channel_sediment.h"

namespace {

using namespace piece_cells;

// A per-cell array of the pieces, allocated zeroed on first use.
bool ensure_cells(array_1d<double> &a, int cells) {
    if (covers(a, cells)) return true;
    return alloc_1d_double(a, cells) == 0;
}


// The overland boundary cells for the step, with the totals of the run state.
bool apply_overland_boundaries(model_state &s, double dt) {
    const int n = s.cell_count;
    if (!covers(s.ov_boundary_type, n) || !covers(s.ov_boundary_value2, n)) return true;
    overland_grid g;
    if (!overland_grid_of(s, g)) return false;
    row_ref<const int> type(s.ov_boundary_type.data(), s.ov_boundary_type.last());
    row_ref<double> value(s.ov_boundary_value2.data(), s.ov_boundary_value2.last());
    update_boundary_heads(n, type, value, s.now_days);
    if (failed()) return false;
    boundary_totals totals{s.boundary_free_outflow, s.boundary_inflow, s.boundary_outflow};
    overland_boundary_flux(g, type, row_ref<const double>(value.data(), value.last()), dt, totals);
    s.boundary_free_outflow = totals.free_outflow;
    s.boundary_inflow = totals.fixed_head_inflow;
    s.boundary_outflow = totals.fixed_head_outflow;
    return true;
}

// The water the overland step moved across land-stream faces (its net sums per
// stream cell, positive onto the stream cell) joins the water of the stream cell,
// from which the channel step's lateral inflow takes it into the channel: the step
// changes no stream cell's depth itself, and without this the water would leave
// the land for no store. The sums are cleared once handed over.
void hand_stream_exchange_to_cells(model_state &s) {
    const int n = s.cell_count, sc = s.stream_cell_count;
    if (!s.non_ortho_channels || sc < 1 || !covers(s.stream_cell_id, n) || !covers(s.stream_net_exchange, sc) ||
        !covers(s.depth, n))
        return;
    const double area = s.cell_size * s.cell_size;
    for (int i = 1; i <= n; ++i) {
        const int k = s.stream_cell_id[at(i)];
        if (k < 1 || k > sc) continue;
        double &net = s.stream_net_exchange[at(k)];
        s.depth[at(i)] += net / area;
        net = 0.0;
        // A stream cell that gave the land more than it held is lifted back to 0
        // by the overland clean-up, which books the water.
        if (s.depth[at(i)] < 0.0) {
            s.negative_depth_volume += -s.depth[at(i)] * area;
            s.depth[at(i)] = 0.0;
        }
    }
    if (covers(s.stream_inflow_sum, sc) && covers(s.stream_outflow_sum, sc))
        for (int k = 1; k <= sc; ++k) s.stream_inflow_sum[at(k)] = s.stream_outflow_sum[at(k)] = 0.0;
}

// The largest depth of every cell so far (maximum-depth output).
void keep_max_depths(model_state &s) {
    const int n = s.cell_count;
    if (!ensure_cells(s.max_depth, n) || !covers(s.depth, n)) return;
    for (int i = 1; i <= n; ++i)
        if (s.max_depth[at(i)] < s.depth[at(i)]) s.max_depth[at(i)] = s.depth[at(i)];
}

// Rules 8 and 9 of the overland step, once no rain is falling. An event run with
// channels ends early only when the surface is dry and the channels hold less
// than a hundredth of the event's rain.
void after_rain(model_state &s) {
    if (!s.long_term && !s.hxt_on && channel_routing_on(s) && !s.overland_routing_switch &&
        0.01 * s.event_rain_volume > channel_water_volume(s)) {
        if (!s.quiet) std::printf("Rainfall for this event has ended.\n");
        if (s.summary_file) {
            std::fprintf(s.summary_file, "Rainfall for this event ended. Runoff is complete\n");
            std::fflush(s.summary_file);
        }
        s.keep_running = 0;
    }
    const bool pumps = s.project.ov_pump.given || s.project.lake_pump.given;
    if (s.long_term && !s.groundwater_on && !pumps && !s.channel_input_routing &&
        dry_spell_may_be_skipped(s) && (!s.overland_routing_switch || !s.flow_present_switch)) {
        // The dry spell until the next event is skipped in one turn.
        s.event_start_flag = 0;
        if (s.event_number >= 0 && at(s.event_number) < s.event_start_times.size()) {
            s.rain_clock.last = s.event_start_times[at(s.event_number)];
            s.rain_clock.next = s.rain_clock.last + s.rain_clock.interval;
        }
        s.outlet_discharge = 0.0;
        if (!s.inf_richards && !s.groundwater_on && !s.inf_redist) {
            s.infiltration_clock.next = s.et_clock.next = s.rain_clock.next;
            s.infiltration_clock.last = s.et_clock.last = s.rain_clock.last;
        }
    }
}

}  // namespace

overland_route_fn choose_overland_scheme(int scheme_code) {
    if (scheme_code == 1) return route_overland_explicit;
    if (scheme_code == 3) return route_overland_ade_pc;
    return route_overland_ade;
}

bool explicit_overland_scheme(const model_state &s) {
    const overland_route_fn route =
        s.overland_route ? s.overland_route : choose_overland_scheme(s.overland_scheme);
    return route == route_overland_explicit;
}

namespace {

// Whether a depth of cells 1..n is above 1e-16 m (wet) and whether one is not a
// number (nan), two cells at a time without branches.
void survey_depths(const double *depth, int n, bool &wet, bool &nan) {
    int i = 1, w = 0, bad = 0;
#if defined(__SSE2__)
    const __m128d tiny = _mm_set1_pd(1e-16);
    __m128d any_wet = _mm_setzero_pd(), any_nan = _mm_setzero_pd();
    for (; i < n; i += 2) {
        const __m128d d = _mm_loadu_pd(depth + i);
        any_wet = _mm_or_pd(any_wet, _mm_cmpgt_pd(d, tiny));
        any_nan = _mm_or_pd(any_nan, _mm_cmpunord_pd(d, d));
    }
    w = _mm_movemask_pd(any_wet);
    bad = _mm_movemask_pd(any_nan);
#endif
    for (; i <= n; ++i) {
        w |= depth[i] > 1e-16;
        bad |= depth[i] != depth[i];
    }
    wet = w != 0;
    nan = bad != 0;
}

}  // namespace

bool survey_overland_cells(model_state &s, bool after_routing) {
    s.overland_routing_switch = 0;
    s.flow_present_switch = 0;
    const int n = s.cell_count;
    explicit_step_control &c = s.explicit_control;
    const bool surveyed = after_routing && c.survey_valid && s.overland_route == route_overland_explicit;
    c.survey_valid = 0;
    if (!covers(s.depth, n)) return true;
    const bool flows = covers(s.discharge_x, n) && covers(s.discharge_y, n);
    const bool channel = channel_routing_on(s);
    const bool lakes = s.overland_lake_on || channel;
    // The explicit scheme's one pass surveyed its cells on its way (no lake cells
    // to leave out, no NaN among them).
    if (surveyed && !lakes && flows) {
        s.overland_routing_switch = c.survey_wet > 0 ? 1 : 0;
        s.flow_present_switch = c.survey_flows;
        return true;
    }
    const double *depth = s.depth.data();
    const double *qx = flows ? s.discharge_x.data() : nullptr;
    const double *qy = flows ? s.discharge_y.data() : nullptr;
    // Without lake cells to leave out the depths are surveyed in one sweep; a
    // depth that is not a number is found again by the loop below, which names it.
    if (!lakes) {
        bool wet = false, nan = false;
        survey_depths(depth, n, wet, nan);
        if (!nan) {
            bool flow = false;
            for (int i = 1; flows && !flow && i <= n; ++i) flow = std::fabs(qx[i]) > 1e-16 || std::fabs(qy[i]) > 1e-16;
            s.overland_routing_switch = wet ? 1 : 0;
            s.flow_present_switch = flow ? 1 : 0;
            return true;
        }
    }
    // Every depth is checked for NaN; the discharges only until one flows.
    bool water = false, flow = false;
    for (int i = 1; i <= n; ++i) {
        if (lakes && (in_overland_lake(s, i) || (channel && in_channel_lake(s, i)))) continue;
        const double d = depth[i];
        if (std::isnan(d)) {
            s.overland_routing_switch = water ? 1 : 0;
            s.flow_present_switch = flow ? 1 : 0;
            std::printf("h NaN in main()- point 3, grid cell %d\n", i);
            raise_printed_error();
            return false;
        }
        water |= d > 1e-16;
        if (flows && !flow) flow = std::fabs(qx[i]) > 1e-16 || std::fabs(qy[i]) > 1e-16;
    }
    s.overland_routing_switch = water ? 1 : 0;
    s.flow_present_switch = flow ? 1 : 0;
    return true;
}

namespace {

bool has(const array_1d<int> &a, std::size_t i) { return !a.empty() && i <= a.last(); }

bool overland_lake_cell(const model_state &s, std::size_t i) {
    return s.overland_lake_on && has(s.overland_lake_id, i) && s.overland_lake_id[i] > 0;
}

bool channel_lake_cell(const model_state &s, std::size_t i) {
    return s.channel_lake_count > 0 && has(s.cell_channel_lake, i) && s.cell_channel_lake[i] > 0;
}

}  // namespace

double overland_surface_volume(const model_state &s) {
    const double area = s.cell_size * s.cell_size;
    double volume = 0.0;
    if (s.depth.empty()) return 0.0;
    // Without lakes over the cells, a plain sum through a pointer: the debug
    // builds' water check forms this volume after every time-step piece.
    if (!s.overland_lake_on && !(channel_routing_on(s) && s.channel_lake_count > 0)) {
        const double *depth = s.depth.data();
        const std::size_t n = std::min(static_cast<std::size_t>(std::max(s.cell_count, 0)), s.depth.last());
        for (std::size_t i = 1; i <= n; ++i) volume += depth[i] * area;
        return volume;
    }
    for (int c = 1; c <= s.cell_count; ++c) {
        const std::size_t i = static_cast<std::size_t>(c);
        if (s.overland_lake_on) {
            if (overland_lake_cell(s, i)) continue;
        } else if (channel_routing_on(s) && channel_lake_cell(s, i)) {
            continue;
        }
        volume += s.depth[i] * area;
    }
    return volume;
}

namespace {

// Water that the overland step routed onto a channel-lake cell has reached the
// lake: it joins the lake's volume and inflow total, and the cell holds none.
// Without this the water would stay on the cell, counted neither as surface
// water (lake cells are left out of it) nor as lake water.
void move_overland_water_into_channel_lakes(model_state &s) {
    channel_network &net = s.channels;
    const int n = s.cell_count;
    if (net.lake_count < 1 || !covers(s.cell_channel_lake, n) || !covers(s.depth, n)) return;
    const double cell_area = s.cell_size * s.cell_size;
    double moved = 0.0;
    for (int i = 1; i <= n; ++i) {
        const int k = s.cell_channel_lake[at(i)];
        if (k < 1 || k > net.lake_count || at(k) >= net.lakes.size()) continue;
        const double d = s.depth[at(i)];
        if (!(d > 0.0)) continue;
        channel_lake &lake = net.lakes[at(k)];
        lake.volume += d * cell_area;
        lake.volume_in += d * cell_area;
        moved += d * cell_area;
        s.depth[at(i)] = 0.0;
    }
    s.water.move(ledger_node::surface, ledger_node::channel_lakes, moved);
}

// The overland lakes' inflow from the flow, not yet in their volumes (m3).
double overland_lake_inflow(const model_state &s) {
    double v = 0.0;
    for (const lake_record &lake : s.lakes) v += lake.inflow_volume;
    return v;
}

}  // namespace

namespace {
void route_overland_step(model_state &s);
}  // namespace

// The flow's exchanges across the grid's boundary, its clean-up of negative
// depths and its inflow to the overland lakes, posted from the step's totals.
void step_overland_flow(model_state &s) {
    if (!clock_due(s, s.rain_clock)) return;
    const double inflow = s.boundary_inflow, outflow = s.boundary_outflow + s.boundary_free_outflow;
    const double cleanup = s.negative_depth_volume, to_lakes = overland_lake_inflow(s);
    // The pipe inlets take the first half of their step's water before the routing.
    if (s.storm_sewer_on && clock_due(s, s.pipe_clock)) {
        take_inlet_first_half(s, clock_step_seconds(s, s.pipe_clock));
        take_first_half_mass(s, clock_step_seconds(s, s.rain_clock));
    }
    route_overland_step(s);
    water_ledger &w = s.water;
    w.move(ledger_node::overland_boundary, ledger_node::surface, s.boundary_inflow - inflow);
    w.move(ledger_node::surface, ledger_node::overland_boundary,
           s.boundary_outflow + s.boundary_free_outflow - outflow);
    w.move(ledger_node::overland_cleanup, ledger_node::surface, s.negative_depth_volume - cleanup);
    w.move(ledger_node::surface, ledger_node::overland_lakes, overland_lake_inflow(s) - to_lakes);
}

namespace {

void route_overland_step(model_state &s) {
    const double dt = clock_step_seconds(s, s.rain_clock);
    s.overland_routing_switch = 0;
    s.flow_present_switch = 0;

    if (s.overland_boundary_on && !apply_overland_boundaries(s, dt)) return;
    if (!survey_overland_cells(s)) return;

    const bool channel = channel_routing_on(s);
    if (s.overland_routing_switch) {
        if (!s.overland_route) s.overland_route = choose_overland_scheme(s.overland_scheme);
        const double q = s.overland_route(s, dt);
        if (failed()) return;
        hand_stream_exchange_to_cells(s);
        // With channel routing the channel step owns the outlet discharge.
        if (!channel) s.outlet_discharge = q;
        if (s.overland_route != route_overland_explicit)
            s.ade_state.sweep_order = s.ade_state.sweep_order == 1 ? 2 : 1;
        if (s.overland_lake_on) s.lake_update_flag = 1;
    } else if (!channel) {
        s.outlet_discharge = 0.0;  // a dry grid sends nothing to the outlet
    }

    if (s.flood_grid_on) keep_max_depths(s);
    if (channel) move_overland_water_into_channel_lakes(s);

    if (s.erosion.soil_erosion == 1 && s.project.soil_erosion == 1) {
        overland_erosion(s, dt, s.cell_size, s.sediment.viscosity);
        if (failed()) return;
    }
    double base = 0.0;  // the Sacramento runoff that left with the outlet flow
    if (!channel && s.sacramento_on) {
        // Without channels the base flow of the stores leaves at the outlet.
        base = take_sacramento_runoff(s, s.sac_discharge * dt);
        s.water.move(ledger_node::sacramento_transit, ledger_node::outlet, base);
        if (dt > 0.0) s.outlet_discharge += base / dt;
    }
    if (!channel) {
        const double v = s.outlet_discharge * dt;
        s.outflow_volume += v;
        if (s.ov_con_trans_mode) s.constituent_outflow_volume += v;
        s.water.move(ledger_node::surface, ledger_node::outlet, v - base);
    }

    take_clock_step(s, s.rain_clock);
    if (s.rainborne_constituent_flag) return;
    if (!survey_overland_cells(s, true)) return;
    after_rain(s);
}

}  // namespace

void step_overland_constituents(model_state &s) {
    // The sediment-bound scheme owns the overland transport slot; the pools piece
    // later in the turn then finds it not due.
    if (!s.ov_con_trans_mode || !s.ov_con_trans_mode1 || !clock_due(s, s.constituent_clock)) return;
    // The time since the last transport, as the flow step and the rain take it
    // (now - last): the scheduled interval (next - last) differs from it by the
    // rounding of the clock in days, and the face flows times it would then not
    // move the water that the flow moved.
    const double dt = clock_step_seconds(s, s.constituent_clock);
    // The step's rain is already in the depths that the flow has routed; its
    // mass joins the water before the transport, so that the water the transport
    // starts from (previous depth + the step's rain) holds the rain's mass too.
    // Added after the transport, it would reach the water one step late.
    add_rainborne_constituent_mass(s);
    // Likewise the mass of the water the stream cells gave to the channels since
    // the last transport, which takes that water off the cells' depths: both leave
    // in the same step (the volumes are cleared once the transport has used them).
    const bool exchanged = add_stream_exchange_mass(s, true);
    const double outlet_mass = overland_constituent_transport(s, dt);
    if (failed()) return;
    if (exchanged) clear_stream_exchange_volumes(s);
    s.sediment.outlet_mass = outlet_mass;
    close_overland_constituent_step(s);
    clear_overland_constituent_accumulators(s);
    s.constituent_clock.last = s.now_days;
    s.constituent_clock.next = s.now_days + s.constituent_clock.interval;
}

namespace {

// Magnitude of the overland flow of cell c (0 for a cell outside the grid).
double cell_flow_speed(const model_state &s, int c) {
    if (c < 1 || !covers(s.discharge_x, c) || !covers(s.discharge_y, c)) return 0.0;
    const double qx = s.discharge_x[at(c)], qy = s.discharge_y[at(c)];
    return std::sqrt(qx * qx + qy * qy);
}

// The inputs of a pipe-network step: the overland flow at every inlet (types 1
// to 9), the channel level at every outlet into the channels, cleared surface
// inflows and the smallest node depth.
void prepare_superlink_step(model_state &s) {
    superlink_network &p = s.superlinks;
    const bool inlets = !s.flow_to_superlink.empty();
    for (int j = 1; j <= p.num_junctions; ++j) {
        const int t = p.junction_kind[at(j)];
        if (inlets && t >= 1 && t <= 9)
            s.flow_to_superlink[0][at(j)] = cell_flow_speed(s, int_at(s.junction_cell, j));
    }
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int k = 1; k <= p.link_node_count[at(l)]; ++k) {
            const int t = p.inlet_type[at(k)][at(l)];
            if (!inlets || t < 1 || t > 9 || at(k) > s.flow_to_superlink.rows()) continue;
            int c = 0;
            if (!s.superlink_node_gnum.empty() && at(k) <= s.superlink_node_gnum.rows())
                c = s.superlink_node_gnum[at(k)][at(l)];
            s.flow_to_superlink[at(k)][at(l)] = cell_flow_speed(s, c);
        }
    if (channel_routing_on(s) && !s.chan.outlet_level.empty()) {
        const channel_network &net = s.channels;
        for (int j = 1; j <= p.num_junctions; ++j) {
            if (p.junction_kind[at(j)] != 999) continue;
            double level = 0.0;
            if (node_value(net.yp, int_at(s.chan.outlet_node, j), int_at(s.chan.outlet_link, j), level))
                s.chan.outlet_level[at(j)] = level;
        }
    }
    for (int j = 1; j <= p.num_junctions; ++j) p.junc_inflow[at(j)] = 0.0;
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const int n = p.link_node_count[at(l)];
        // The depth floor of 0.1 mm is the step's: it takes its sections there
        // and lays no water.
        for (int k = 1; k <= n; ++k) p.Q_node[at(k)][at(l)] = 0.0;
    }
}

// Tile-drain rates for the next step, which takes the water from the cells'
// aquifer and books the volume each cell gave to the pipes.
void exchange_tile_drains(model_state &s) {
    superlink_network &p = s.superlinks;
    if (!p.tile_drain || s.superlink_tile_flow.empty()) return;
    for (int l = 1; l <= p.num_superlinks; ++l)
        for (int k = 1; k <= p.link_node_count[at(l)]; ++k) s.superlink_tile_flow[at(k)][at(l)] = 0.0;
    p.exchange_flag = pipe_exchange(s);
    for (int c = 1; c <= p.gpi_cell_count; ++c) {
        if (p.gpi_npipes[at(c)] < 1) continue;
        const int g = p.gpi_gnum[at(c)][1];
        if (covers(s.tile_cell_flow, g) && g >= 1) s.tile_cell_flow[at(g)] = 0.0;
    }
}

}  // namespace

void step_superlink_coupling(model_state &s) {
    if (!s.storm_sewer_on || !clock_due(s, s.pipe_clock)) return;
    const double dt = clock_step_seconds(s, s.pipe_clock);
    // The depth floors that the first step lays add to what the network held.
    const bool first = s.superlinks.superlink_step_count == 0;
    const double before = first ? pipe_network_water(s) : 0.0;
    prepare_superlink_step(s);
    superlink_step(s, dt);
    if (failed()) return;
    carry_pipe_constituents(s, dt);
    if (failed()) return;
    if (first)
        s.water.move(ledger_node::pipe_start_floor, ledger_node::pipes,
                     s.superlinks.slink_volume_start - before);
    // The next time counts from the clock, as every other piece's does: adding
    // the interval to the scheduled time would drift away from the clock in
    // Julian-day time until the pipe network is never due again.
    take_clock_step(s, s.pipe_clock);
    ++s.superlinks.superlink_step_count;
    exchange_tile_drains(s);
}

void update_overland_lakes(model_state &s) {
    if (!s.overland_lake_on || !s.lake_update_flag) return;
    const int n = s.cell_count;
    const int count = s.overland_lake_count;
    if (!covers(s.overland_lake_id, n) || s.lakes.size() <= at(count)) return;
    const double area = s.cell_size * s.cell_size;
    for (int k = 1; k <= count; ++k) s.lakes[at(k)].volume = 0.0;
    for (int i = 1; i <= n; ++i) {
        const int k = s.overland_lake_id[at(i)];
        if (k >= 1 && k <= count) s.lakes[at(k)].volume += (s.lakes[at(k)].elevation - s.elevation[at(i)]) * area;
    }
    olake_extent(s);
    if (failed()) return;
    // The step's rain and overland inflow are now in the lakes.
    for (int k = 1; k <= count; ++k) s.lakes[at(k)].rain_volume = s.lakes[at(k)].inflow_volume = 0.0;
    s.lake_update_flag = 0;
}

namespace {

// Rule 9 of the channel step: without a groundwater model the water table the
// channels and lakes exchange with lies outside the model; each cell's volume
// (positive into the channels) is posted in the direction it ran.
void book_seepage_without_groundwater(model_state &s) {
    const int n = s.cell_count;
    const bool lakes = s.channel_lake_count > 0 && covers(s.lake_loss_volume, n);
    if (!covers(s.channel_seepage_volume, n)) return;
    for (int i = 1; i <= n; ++i) {
        s.water.move(ledger_node::deep_aquifer, ledger_node::channels, s.channel_seepage_volume[at(i)]);
        s.channel_seepage_volume[at(i)] = 0.0;
        if (lakes && in_channel_lake(s, i)) {
            s.water.move(ledger_node::deep_aquifer, ledger_node::channel_lakes, s.lake_loss_volume[at(i)]);
            s.lake_loss_volume[at(i)] = 0.0;
        }
    }
}

double halved_below(double step, double limit) {
    for (int k = 0; k < 64 && step > limit; ++k) step *= 0.5;
    return step;
}

// Rule 11: the channel clock over a long-term dry spell.
void channel_dry_spell(model_state &s) {
    if (!s.long_term || s.event_start_flag || s.flow_present_switch || s.rainborne_constituent_flag)
        return;
    if (s.channel_lake_count > 0) s.channel_state_flag = channel_lake_below_second_level(s);
    if (!(s.dry_spell_count == 0 || (s.channel_state_flag == 0 && s.exchange_result == 0))) return;
    const double volume = channel_water_volume(s);
    if (failed()) return;
    if (!(volume < 0.01 * s.event_rain_volume || s.event_rain_volume == 0.0)) return;
    ++s.dry_spell_count;
    const double gw_step = s.gw_clock.interval * 86400.0;
    if (s.channel_state_flag == 1) {
        double step = halved_below(s.groundwater_on ? gw_step : 60.0, 60.0);
        if (s.chan_con_trans && step > s.time_step) step = s.time_step;
        s.channel_step_seconds = step;
        s.channel_clock.interval = step / 86400.0;
        s.channel_clock.next = s.now_days + s.channel_clock.interval;
    } else if (s.exchange_result != 1) {
        if (s.outlet_discharge >= 1e-06) return;
        s.channel_clock.interval = s.rain_clock.interval;
        s.channel_clock.next = s.rain_clock.next;
        s.exchange_ended = 0;
    } else {
        s.channel_step_seconds = halved_below(gw_step, 60.0);
        s.channel_clock.interval = gw_step / 86400.0;
        s.channel_clock.next = s.now_days + s.channel_clock.interval;
    }
}

}  // namespace

// The channel is due once the model time has reached its clock's next time: a
// channel step taken from a groundwater step that the model step does not divide
// falls between two turns, and the turn after it routes the whole time since.
void step_channel_routing(model_state &s) {
    if (!(s.channel_clock.next - s.now_days < s.time_tolerance_days)) return;
    const double since = s.now_days - s.channel_clock.last;
    const double dt = since > 1e-06 ? since * 86400.0 : s.channel_step_seconds;

    const pending_aquifer_exchange exchanged = pending_exchange_of(s);
    const double sources = s.chan.point_source_volume, sinks = s.chan.point_sink_volume;
    const double lifted = s.chan.negative_area_volume, to_lakes = s.chan.to_lakes_volume;
    const double from_lakes = s.chan.from_lakes_volume, from_pipes = s.chan.pipe_outlet_volume;
    if (s.chan_explicit || s.chan_mesh) {
        lateral_inflow(s, s.cell_size, dt);
        if (failed()) return;
        if (s.channel_lake_count > 0) {
            update_lake_extent(s);
            if (failed()) return;
        }
        if (s.chan_explicit) {
            ++s.channel_route_calls;
            s.exchange_result = ex_flow_route(s);
            if (failed()) return;
        }
        track_max_erodible_levels(s);
        if (s.chan_sediment_on && s.erosion.soil_erosion) {
            if (!gather_lateral_sediment(s)) return;
            channel_sediment_transport(s, dt, s.cell_size);
            if (failed()) return;
            book_channel_sediment_step(s, dt);
        }
        if (s.groundwater_on == 0 && (s.water_table_on || s.stream_loss))
            book_seepage_without_groundwater(s);
        if (s.flood_stream_on) {
            track_max_channel(s);
            if (failed()) return;
        }
    }

    post_aquifer_exchange(s, exchanged);
    water_ledger &w = s.water;
    w.move(ledger_node::point_sources, ledger_node::channels, s.chan.point_source_volume - sources);
    w.move(ledger_node::channels, ledger_node::point_sources, s.chan.point_sink_volume - sinks);
    w.move(ledger_node::channel_floor, ledger_node::channels, s.chan.negative_area_volume - lifted);
    w.move(ledger_node::channels, ledger_node::channel_lakes, s.chan.to_lakes_volume - to_lakes);
    w.move(ledger_node::channel_lakes, ledger_node::channels, s.chan.from_lakes_volume - from_lakes);
    w.move(ledger_node::pipes, ledger_node::channels, s.chan.pipe_outlet_volume - from_pipes);
    if (s.chan_explicit) w.move(ledger_node::channels, ledger_node::outlet, s.routed_outflow_volume);

    // Without explicit routing the overland step has booked the outlet flow.
    if (s.chan_explicit) {
        s.channel_step_outlet_volume = s.routed_outflow_volume;
        s.outflow_volume += s.routed_outflow_volume;
        s.routed_outflow_volume = 0.0;
    }
    s.channel_clock.last = s.now_days;
    s.channel_clock.next = s.now_days + s.channel_clock.interval;
    ++s.channel_step_count;
    if (s.rainborne_constituent_flag > 0) s.dry_spell_count = 0;
    channel_dry_spell(s);
}
