// The groundwater piece of a turn: the soil-aquifer coupling of the redistribution
// root zone and of the Richards columns around one groundwater step, the storage
// and reporting totals, surfacing, and the exchange with the channels.
// run_model calls step_groundwater through its table of pieces when its clock is due.
#include "model/hydrology/groundwater_coupling.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <utility>

#include "model/channel/channel_services.h"
#include "model/core/cell_arrays.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/model_state.h"
#include "model/core/soil_hydraulics.h"
#include "model/hydrology/groundwater.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/piece_cells.h"
#include "model/hydrology/layered_soil.h"
#include "model/hydrology/process_clocks.h"

namespace {

using namespace piece_cells;

// Per-cell arrays of the groundwater piece, allocated on its first step.
bool prepare_groundwater_arrays(model_state &s) {
    const int n = s.cell_count;
    if (!allocate_groundwater_work(s)) return false;
    return covers(s.water_table_elevation, n) && covers(s.aquifer_bottom, n) &&
           covers(s.gw_porosity, n) && covers(s.gw_boundary_code, n) && covers(s.elevation, n);
}

// Posts one cell's exchange volume (positive from the aquifer) as water that
// moved between the aquifer and `other`. The aquifer step takes (and clears) the
// volume it posts; when no aquifer step runs, the volume is cleared here, so that
// no later step posts the same water again.
void post_exchange_volume(model_state &s, double &volume, bool taken, ledger_node other) {
    s.water.move(ledger_node::aquifer, other, volume);
    if (!taken) volume = 0.0;
}

// Whether the lake beds' exchange volumes are booked and taken by the aquifer.
bool lake_exchange_on(const model_state &s) {
    return channel_routing_on(s) && s.lake_loss_flag == 1 && covers(s.lake_loss_volume, s.cell_count);
}

// Rule 2: the exchange volumes of the previous step, cell by cell in the
// direction each ran, on every cell whose aquifer the step takes them from (all
// but the fixed-head cells): the aquifer gives or takes them now.
void book_previous_exchange(model_state &s) {
    const bool lakes = lake_exchange_on(s);
    const bool seepage = covers(s.channel_seepage_volume, s.cell_count);
    const bool taken = s.inf_richards || s.inf_redist;  // the aquifer step runs
    for (int i = 1; i <= s.cell_count; ++i) {
        const int code = s.gw_boundary_code[at(i)];
        if (code == 2 || code == 5) continue;
        if (seepage) post_exchange_volume(s, s.channel_seepage_volume[at(i)], taken, ledger_node::channels);
        if (lakes) post_exchange_volume(s, s.lake_loss_volume[at(i)], taken, ledger_node::channel_lakes);
    }
}

// Water of each cell's Richards column above the water table (cm summed over cells).
double richards_unsaturated_storage(const model_state &s) {
    double total = 0.0;
    if (s.richards_theta.empty() || s.richards_dz.empty() || !covers(s.richards_cell_nodes, s.cell_count))
        return total;
    for (int i = 1; i <= s.cell_count; ++i) {
        const int nodes = s.richards_cell_nodes[at(i)];
        for (int k = 1; k <= nodes - 1; ++k)
            total += s.richards_theta(at(i), at(k)) * s.richards_dz(at(i), at(k));
    }
    return total;
}

// Rule 4: storage coefficient of each cell for the redistribution-coupled step,
// kept where the run holds them (the step otherwise forms them from its start
// heads, which are these water tables).
void set_storage_coefficients(model_state &s) {
    const bool held = covers(s.gw_storage_coefficient, s.cell_count);
    for (int i = 1; i <= s.cell_count; ++i) {
        bool problem = false;
        const double sc = redistribution_storage(s, i, s.water_table_elevation[at(i)], problem);
        if (problem) std::printf("there is a problem with groundwater storage term");
        if (held) s.gw_storage_coefficient[at(i)] = sc;
    }
}

// Moisture of the soil that a slab [from, to] (cm) of the wetted zone takes in,
// split at the layer boundary.
void wet_slab(model_state &s, int i, double from, double to, double moisture) {
    const double boundary = s.top_layer_depth_cm;
    const double upper = std::fmax(0.0, std::fmin(to, boundary) - from);
    const double lower = std::fmax(0.0, to - std::fmax(from, boundary));
    const double water = (to - from) * moisture;
    s.root_zone_water[at(i)] += water;
    s.root_upper_water[at(i)] += upper * moisture;
    s.root_lower_water[at(i)] += lower * moisture;
    store_if_changed(s.deep_percolation[at(i)], s.deep_percolation[at(i)] - water);
}

// Rule 6a's exchange of a cell whose table lies below the root zone: for every
// metre the table rose (or the root zone grew down into the soil above it) the
// aquifer gives the soil its porosity times the run's unsat-sat factor, and takes
// as much back for every metre it fell. The root zone is the soil store on the
// other side, as a Richards column is: it takes (or gives) the water at once,
// within what it can hold between its residual and saturated moisture, and the
// aquifer gives (or takes) the same at its next step.
void exchange_with_root_zone(model_state &s, int i, double rise) {
    const double f = s.root_zone_depth[at(i)];
    double &w = s.root_zone_water[at(i)];
    const double low = covers(s.soil_residual, i) ? s.soil_residual[at(i)] * f : 0.0;
    const double high = covers(s.soil_porosity, i) ? s.soil_porosity[at(i)] * f : f;
    double x = surface_exchange_factor(s, at(i)) * rise * 100.0;  // cm into the soil
    x = std::clamp(x, std::min(0.0, low - w), std::max(0.0, high - w));
    w += x;
    store_if_changed(s.surface_exchange_depth[at(i)], s.surface_exchange_depth[at(i)] + x);
}

// Rules 6a to 6e for one cell: the redistribution state follows the new water table.
void follow_water_table(model_state &s, int i) {
    const double limit = s.soil_moist_depth_cm, boundary = s.top_layer_depth_cm;
    double rise = s.water_table_elevation[at(i)] - s.gw_substep_head[at(i)];
    const double depth = (s.elevation[at(i)] - s.water_table_elevation[at(i)]) * 100.0;
    double &f = s.root_zone_depth[at(i)];
    double &w = s.root_zone_water[at(i)];
    const double below = covers(s.initial_moisture, i) ? s.initial_moisture[at(i)] : 0.0;
    if (depth > 1e-16 && f < depth) {
        const double f0 = f;
        if (depth > limit) {
            f = limit;
            if (f0 < limit) {
                wet_slab(s, i, f0, limit, below);
                rise += (limit - f0) / 100.0;
            }
            exchange_with_root_zone(s, i, rise);
        } else {
            f = depth;
            if (rise < 1e-16) wet_slab(s, i, f0, depth, below);
        }
    } else if (depth > 1e-16 && f > depth) {
        f = depth;
    } else if (!(depth > 1e-16)) {
        const bool lakes = s.channel_lake_count > 0, overland = s.overland_lake_on != 0;
        if ((!lakes && !overland) || (lakes && !in_channel_lake(s, i)) ||
            (overland && !in_overland_lake(s, i))) {
            if (covers(s.surfacing_mark, i)) s.surfacing_mark[at(i)] = 1;
            s.surfacing_flag = 1;
        }
        store_if_changed(s.deep_percolation[at(i)], s.deep_percolation[at(i)] + w);
        f = w = 0.0;
        s.root_upper_water[at(i)] = s.root_lower_water[at(i)] = 0.0;
    }
    if (f > 1e-16) {
        const double mean = w / f;
        const double low = covers(s.soil_residual, i) ? s.soil_residual[at(i)] : 0.0;
        const double high = covers(s.soil_porosity, i) ? s.soil_porosity[at(i)] : 1.0;
        const double bound = mean < low ? low : (mean > high ? high : mean);
        store_if_changed(s.deep_percolation[at(i)], s.deep_percolation[at(i)] + (mean - bound) * f);
        w = f * bound;
        if (f <= boundary) {
            s.root_upper_water[at(i)] = w;
            s.root_lower_water[at(i)] = 0.0;
        } else {
            s.root_upper_water[at(i)] = bound * boundary;
            s.root_lower_water[at(i)] = bound * (f - boundary);
        }
    }
}

bool redistribution_arrays_ready(const model_state &s) {
    const int n = s.cell_count;
    return covers(s.root_zone_depth, n) && covers(s.root_zone_water, n) &&
           covers(s.root_upper_water, n) && covers(s.root_lower_water, n) &&
           covers(s.deep_percolation, n);
}

// The deep percolation of every cell since the last step (cm), posted and
// cleared: the aquifer has taken it on every cell but the fixed-head ones, whose
// boundary passes it on.
void book_percolation(model_state &s) {
    if (!covers(s.deep_percolation, s.cell_count)) return;
    const double area = s.cell_size * s.cell_size;
    const ledger_node soil = soil_store_of(s);
    for (int i = 1; i <= s.cell_count; ++i) {
        const double perc = s.deep_percolation[at(i)];
        if (perc == 0.0) continue;
        const int code = s.gw_boundary_code[at(i)];
        const bool fixed = code == 2 || code == 5;
        s.water.move(soil, fixed ? ledger_node::head_boundaries : ledger_node::aquifer, perc / 100.0 * area);
        s.deep_percolation[at(i)] = 0.0;
    }
}

// Rule 6 after the coupled groundwater step; false when the run must stop.
bool after_coupled_step(model_state &s) {
    book_percolation(s);
    if (s.inf_richards) {
        s.gw_sweep_direction = s.gw_sweep_direction == 1 ? 2 : 1;
        for (int i = 1; i <= s.cell_count; ++i) {
            if (s.richards_last_substep[at(i)] > 1.0 / 360.0)
                s.richards_last_substep[at(i)] = 0.002777777777777778;
            // Without the card the columns were set up with the Brooks and Corey curves.
            if (s.richards_c_option != 2) soil_hydraulic_properties(s, i);
            else soil_column_helper(s, i);
            if (failed()) return false;
        }
        return true;
    }
    if (!redistribution_arrays_ready(s)) return true;
    s.surfacing_flag = 0;
    for (int i = 1; i <= s.cell_count; ++i) {
        const int code = s.gw_boundary_code[at(i)];
        if (code == 2 || code == 5) continue;
        if (covers(s.surfacing_mark, i) && s.surfacing_mark[at(i)] != 0) s.surfacing_mark[at(i)] = 0;
        store_if_changed(s.surface_exchange_depth[at(i)], 0.0);
        if (std::isnan(s.water_table_elevation[at(i)])) {
            std::printf("elevgw NaN in main()- point 6, grid cell %d\n", i);
            raise_printed_error();
            return false;
        }
        follow_water_table(s, i);
    }
    return true;
}

// Rule 8: a water table that reaches the ground starts an event.
void surfacing_starts_event(model_state &s) {
    if (s.surfacing_flag != 1 || s.event_active || s.event_start_flag) return;
    s.event_start_flag = 1;
    const double interval = s.time_step / 86400.0;
    for (process_clock *c : {&s.rain_clock, &s.infiltration_clock}) {
        c->interval = interval;
        c->last = s.now_days;
        c->next = s.now_days + interval;
    }
    s.rain_restart_days = s.now_days;
    if (s.inf_redist) {
        s.et_clock.next = s.infiltration_clock.next;
        s.et_clock.interval = s.infiltration_clock.interval;
        s.redist_wet_period = 0;
    }
    if (s.ov_con_trans_mode) {
        s.constituent_clock = s.rain_clock;
        sync_constituent_slots(s);
    }
}

bool exchanged_link(int type) {
    return type != link_structure && type != link_taken_by_lake && type != link_lake;
}

// Rule 9, orthogonal channels: each node's area takes the exchange of the step,
// and its cell's seepage volume the water moved; a node that would lose more
// than it holds ends empty and its cell gets only what the node held.
void exchange_orthogonal(model_state &s, int result, double dt) {
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    if (w.con_vect.empty() || w.area.empty() || w.qriv.empty()) return;
    for (int l = 1; l <= net.link_count; ++l) {
        const double dx = net.dx[at(l)];
        for (int n = 1; n <= routed_node_count(net, l); ++n) {
            const int c = w.con_vect[at(n)][at(l)];
            const bool cell = c >= 1 && c <= s.cell_count;
            if (result == 1) {
                if (cell) s.channel_seepage_volume[at(c)] = 0.0;
                continue;
            }
            if (result != 2 || !(dx > 0.0)) continue;
            const double q = w.qriv[at(n)][at(l)];
            double v = w.area[at(n)][at(l)] * dx + q * dt * dx;
            if (cell) s.channel_seepage_volume[at(c)] += q * dt * dx;
            if (v <= 0.0) {
                if (cell) s.channel_seepage_volume[at(c)] -= v;
                v = 0.0;
            }
            w.area[at(n)][at(l)] = v / dx;
        }
    }
}

// Rule 9, channel lakes of non-orthogonal channels: the lake-bed exchange of the
// step moves between the lakes and the lake loss volumes of their cells.
void exchange_lake_cells(model_state &s, double dt) {
    if (s.channel_lake_count <= 0) return;
    book_lake_bed_volumes(s, dt);
}

// Rule 9, non-orthogonal channels: node areas from the exchange of their stream
// cells (a node that would empty takes its losing entries scaled to what it
// holds), then the seepage of the stream cells; false after a negative area.
bool exchange_non_orthogonal(model_state &s, int result, double dt) {
    channel_network &net = s.channels;
    channel_work &w = s.chan;
    grid_stream_data &g = net.gst;
    exchange_lake_cells(s, dt);
    if (result == 1) {
        for (int i = 1; i <= s.cell_count; ++i) s.channel_seepage_volume[at(i)] = 0.0;
        return true;
    }
    if (result != 2 || w.area.empty() || w.qriv.empty() || w.gst_qriv.empty() || g.entry_count.empty())
        return true;
    for (int l = 1; l <= net.link_count; ++l) {
        const double dx = net.dx[at(l)];
        for (int n = 1; n <= routed_node_count(net, l); ++n) {
            double &a = w.area[at(n)][at(l)];
            double &q = w.qriv[at(n)][at(l)];
            double v = a * dx;
            const double loss = -(dx * q * dt);
            if (v - loss < 0.0 && q < 0.0) {
                q = 0.0;
                for (int i = 1; i <= g.cell_count; ++i)
                    for (int j = 1; j <= g.entry_count[at(i)]; ++j) {
                        if (g.gst_link[at(i)][at(j)] != l || g.gst_node[at(i)][at(j)] != n) continue;
                        double &flux = w.gst_qriv[at(i)][at(j)];
                        if (flux < 0.0) flux *= v / loss;
                        q += flux * g.gst_pct[at(i)][at(j)];
                        if (s.chan_con_trans && !w.gst_qriv_vol.empty())
                            w.gst_qriv_vol[at(i)][at(j)] += flux * dx * g.gst_pct[at(i)][at(j)] * dt;
                    }
            }
            v += q * dt * dx;
            a = dx > 0.0 ? v / dx : a;
            if (std::fabs(a) < 1e-15) a = 0.0;
            if (a < 0.0) {
                std::printf("Error undating channels for groundwater influence without routing: "
                            "node %d link %d \n",
                            n, l);
                raise_printed_error();
                return false;
            }
        }
    }
    const bool lakes = s.channel_lake_count > 0;
    for (int i = 1; i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[at(i)]; ++j) {
            const int l = g.gst_link[at(i)][at(j)], n = g.gst_node[at(i)][at(j)];
            const int c = g.gst_gnum[at(i)][at(j)];
            if (l < 1 || l > net.link_count || !exchanged_link(net.link_type[at(l)])) continue;
            if (n < 1 || n > routed_node_count(net, l) || c < 1 || c > s.cell_count) continue;
            if (!lakes || !in_channel_lake(s, c)) {
                if (s.gw_boundary_code[at(c)] == 4)
                    s.channel_seepage_volume[at(c)] +=
                        w.gst_qriv[at(i)][at(j)] * dt * net.dx[at(l)] * g.gst_pct[at(i)][at(j)];
            } else {
                s.channel_seepage_volume[at(c)] = 0.0;
            }
        }
    return true;
}

// Rule 9: the channel-groundwater exchange of explicit channel routing.
bool exchange_with_channels(model_state &s, double dt) {
    if (!s.chan_explicit || !(s.stream_loss || s.lake_loss_flag) || s.exchange_ended != 0)
        return true;
    const int result = section_table_lookup(s);
    if (failed()) return false;
    s.exchange_result = result;
    if (!exchange_channel_nodes(s, result, dt)) return false;
    if (result == 1) {
        s.exchange_ended = 1;
        double step = s.gw_clock.interval * 86400.0;
        for (int k = 0; k < 64 && step > 3600.0; ++k) step *= 0.5;
        s.channel_step_seconds = step;
        s.channel_clock.interval = step / 86400.0;
        s.channel_clock.next = s.now_days;
        s.channel_clock.last = s.now_days - s.gw_clock.interval;
        if (s.chan_con_trans) {
            s.channel_constituent_clock.next = s.channel_clock.next;
            s.channel_constituent_clock.last = s.channel_clock.last;
        }
    } else if (result == 2) {
        int nan_area = 0;
        ex_section(s, 1, nan_area);
        if (failed()) return false;
    }
    return true;
}

}  // namespace

bool exchange_channel_nodes(model_state &s, int result, double dt) {
    if (!covers(s.channel_seepage_volume, s.cell_count)) return true;
    if (s.project.non_ortho_channels) return exchange_non_orthogonal(s, result, dt);
    exchange_orthogonal(s, result, dt);
    return true;
}

pending_aquifer_exchange pending_exchange_of(const model_state &s) {
    pending_aquifer_exchange p;
    if (s.groundwater_on != 1 || !covers(s.gw_boundary_code, s.cell_count)) return p;
    const bool seepage = covers(s.channel_seepage_volume, s.cell_count);
    const bool lakes = covers(s.lake_loss_volume, s.cell_count);
    for (int i = 1; i <= s.cell_count; ++i) {
        const double v = (seepage ? s.channel_seepage_volume[at(i)] : 0.0);
        const double l = (lakes ? s.lake_loss_volume[at(i)] : 0.0);
        const int code = s.gw_boundary_code[at(i)];
        if (code == 2 || code == 5) {
            p.fixed_head += v + l;
        } else {
            p.seepage += v;
            p.lake += l;
        }
    }
    return p;
}

void settle_aquifer_exchange(model_state &s) {
    if (s.groundwater_on != 1 || !(s.inf_richards || s.inf_redist) ||
        !covers(s.gw_boundary_code, s.cell_count))
        return;
    book_previous_exchange(s);
    const bool lakes = lake_exchange_on(s);
    const bool seepage = covers(s.channel_seepage_volume, s.cell_count);
    double given = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) {
        const int code = s.gw_boundary_code[at(i)];
        if (code == 2 || code == 5) continue;
        if (seepage) given += std::exchange(s.channel_seepage_volume[at(i)], 0.0);
        if (lakes) given += std::exchange(s.lake_loss_volume[at(i)], 0.0);
    }
    s.gw_stored_volume -= given;
}

void post_aquifer_exchange(model_state &s, const pending_aquifer_exchange &before) {
    const pending_aquifer_exchange now = pending_exchange_of(s);
    s.water.move(ledger_node::head_boundaries, ledger_node::channels, now.fixed_head - before.fixed_head);
}

// The aquifer is due once the model time has reached its clock's next time. A
// groundwater step that the model step does not divide puts that time between
// two turns: the turn after it steps the aquifer over the whole time since its
// last step, so the aquifer keeps pace with the model time whatever the two
// steps are. Its step is next - last when the turn falls on the next time
// (within the clock tolerance), now - last when the turn lies beyond it.
namespace {

bool gw_clock_reached(const model_state &s) {
    return s.gw_clock.next - s.now_days < s.time_tolerance_days;
}

double gw_step_seconds(const model_state &s) {
    const process_clock &c = s.gw_clock;
    return clock_due(s, c) ? (c.next - c.last) * 86400.0 : (s.now_days - c.last) * 86400.0;
}

}  // namespace

void step_groundwater(model_state &s) {
    if (s.groundwater_on != 1 || !gw_clock_reached(s)) return;
    if (!prepare_groundwater_arrays(s)) {
        std::printf("The groundwater step needs the water table, aquifer bottom, porosity and\n"
                    "boundary code of every grid cell, which are missing.\n");
        raise_printed_error();
        return;
    }
    const double dt = gw_step_seconds(s);
    s.surfacing_flag = 0;
    s.unsaturated_storage_total = 0.0;
    const double pumped = s.gw_well_volume;
    const double leaked = s.gw_leakage_volume, lifted = s.gw_floor_volume + s.gw_withheld_volume;
    const double across = s.gw_boundary_flux_volume;

    if (s.stream_loss) book_previous_exchange(s);
    if (s.inf_richards) {
        s.unsaturated_storage_total = richards_unsaturated_storage(s);
        s.total_storage = s.unsaturated_storage_total + s.saturated_storage_total;
    }

    if (s.inf_richards || s.inf_redist) {
        if (s.inf_redist && !s.inf_richards) set_storage_coefficients(s);
        // The heads at the start of the step: without Richards columns the step is
        // one sub-step, whose start heads the solve keeps for the rules after it.
        if (s.inf_redist && !s.inf_richards)
            for (int i = 1; i <= s.cell_count; ++i) s.gw_substep_head[at(i)] = s.water_table_elevation[at(i)];
        double soil_in = 0.0, soil_out = 0.0;
        const double v = groundwater_step(s, dt, soil_in, soil_out);
        if (failed()) return;
        s.gw_exchange_volume += v;
        // The exchange with the soil as the table moved, posted when the aquifer
        // takes it, in each direction as the cells ran: into the aquifer, and what
        // the aquifer gave up to the soil above it (its exfiltration).
        water_ledger &w = s.water;
        const ledger_node soil = soil_store_of(s);
        w.move(soil, ledger_node::water_table, soil_in);
        w.move(ledger_node::water_table, ledger_node::aquifer, soil_in);
        w.move(ledger_node::aquifer, ledger_node::water_table, soil_out);
        w.move(ledger_node::water_table, soil, soil_out);
        // The percolation it took, and what it gave its wells, the deep aquifer and
        // its head boundaries, and what its floor added.
        if (!after_coupled_step(s)) return;
        w.move(ledger_node::aquifer, ledger_node::wells, s.gw_well_volume - pumped);
        w.move(ledger_node::aquifer, ledger_node::deep_aquifer, s.gw_leakage_volume - leaked);
        w.move(ledger_node::aquifer_floor, ledger_node::aquifer,
               s.gw_floor_volume + s.gw_withheld_volume - lifted);
        w.move(ledger_node::head_boundaries, ledger_node::aquifer, s.gw_boundary_flux_volume - across);
    }

    // Rule 7: saturated storage and the reporting totals (the step has booked the
    // well and leakage volumes it took, sub-step by sub-step). A river array that
    // the options in force do not make holds no water to book.
    s.saturated_storage_total = 0.0;
    double *river = s.river_exchange.empty() ? nullptr : s.river_exchange.data();
    for (int i = 1; i <= s.cell_count; ++i) {
        s.saturated_storage_total +=
            (s.water_table_elevation[at(i)] - s.aquifer_bottom[at(i)]) * s.gw_porosity[at(i)] * 100.0;
        const int code = s.gw_boundary_code[at(i)];
        if (river) {
            if (code == 2) s.river_exchange_total += river[i];
            river[i] = 0.0;
        }
        if (covers(s.surfacing_mark, i) && s.surfacing_mark[at(i)]) s.surfacing_flag = 1;
    }
    s.total_storage = s.unsaturated_storage_total + s.saturated_storage_total;

    surfacing_starts_event(s);
    const pending_aquifer_exchange before = pending_exchange_of(s);
    if (!exchange_with_channels(s, dt)) return;
    post_aquifer_exchange(s, before);

    s.gw_clock.last = s.now_days;
    s.gw_clock.next = s.now_days + s.gw_clock.interval;
}
