// The two overland constituent pieces of the time loop: the sources piece runs
// the per-cell processes at their own slots, the pools piece transports every
// constituent over the grid and books the step's mass balance. The run's
// constituent balance that the summary prints is formed here too.
#include <cmath>

#include "model/channel/channel_services.h"
#include "model/constituents/constituent_transport.h"
#include "model/constituents/lake_constituents.h"
#include "model/core/mass_ledger.h"
#include "model/output/contaminant_summaries.h"
#include "model/hydrology/process_clocks.h"
#include "model/core/model_state.h"

namespace tt = transport_table;

namespace {

double slot_seconds(const model_state &s, const process_clock &slot) {
    return (s.now_days - slot.last) * 86400.0;
}

void move_slot(model_state &s, process_clock &slot, double next) {
    slot.last = s.now_days;
    slot.next = next;
}

// Posts a step total (g) of constituent k to its ledger, then clears it.
void post(model_state &s, checked_array<double> &step, int k, ledger_node from, ledger_node to) {
    post_mass(s, k, from, to, step[k]);
    step[k] = 0.0;
}

}  // namespace

void add_rainborne_constituent_mass(model_state &s) {
    model_state::constituent_slot_clocks &sl = s.constituent_slots;
    if (!s.rainborne_constituent_flag || !clock_due(s, sl.rain)) return;
    const double dt = slot_seconds(s, sl.rain);
    for (int k = 1; k <= s.constituent_count; ++k) rain_constituent_mass(s, k, s.cell_size, dt);
    move_slot(s, sl.rain, s.rain_clock.next);
}

bool add_stream_exchange_mass(model_state &s, bool keep_volumes) {
    model_state::constituent_slot_clocks &sl = s.constituent_slots;
    if (!s.ov_con_trans_mode || !s.chan_explicit || !clock_due(s, sl.exchange)) return false;
    // With channel constituents the routing gives the exchanged water its mass in
    // the step that moved it; what a routing that was not due left is given here,
    // so that the cells lose it with its water.
    if (s.chan.wq_exchange_volume.empty())
        for (int k = 1; k <= s.constituent_count; ++k)
            stream_exchange_mass(s, k, s.channels.gst.gst_Vlat);
    else
        channel_exchange_mass(s);
    if (!keep_volumes) clear_stream_exchange_volumes(s);
    move_slot(s, sl.exchange, s.rain_clock.next);
    return true;
}

void channel_exchange_mass(model_state &s) {
    array_2d<double> &v = s.chan.wq_exchange_volume;
    if (v.empty()) return;
    for (int k = 1; k <= s.constituent_count; ++k) stream_exchange_mass(s, k, v);
    const grid_stream_data &g = s.channels.gst;
    for (int i = 1; i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j) v[i][j] = 0.0;
}

void clear_stream_exchange_volumes(model_state &s) {
    grid_stream_data &g = s.channels.gst;
    for (int i = 1; !g.gst_Vlat.empty() && i <= g.cell_count; ++i)
        for (int j = 1; j <= g.entry_count[i]; ++j) g.gst_Vlat[i][j] = 0.0;
}

void step_overland_constituent_sources(model_state &s) {
    if (!s.ov_con_trans_mode) return;
    model_state::constituent_slot_clocks &sl = s.constituent_slots;
    const int nc = s.constituent_count;
    const double dx = s.cell_size;
    const double rain_next = s.rain_clock.next;
    // Under the sediment-bound scheme the overland-constituents piece has done
    // this earlier in the turn, so the slot is no longer due.
    add_rainborne_constituent_mass(s);
    if (clock_due(s, sl.accumulation)) {
        for (int k = 1; k <= nc; ++k) constituent_accumulate(s, k);
        move_slot(s, sl.accumulation, s.infiltration_clock.next);
    }
    if (s.constituent_sources_on) {
        // The sediment-bound transport takes its uptake from the land pool and its
        // decay itself and reads neither accumulator: under it the two processes
        // only move their slots, or the pool would lose what nothing receives.
        const bool accumulate = !s.ov_con_trans_mode1;
        if (clock_due(s, sl.release)) {
            const double dt = slot_seconds(s, sl.release);
            for (int k = 1; k <= nc && accumulate; ++k)
                if (s.constituent_type[k] == 1) ov_pool_release(s, k, dx, dt);
            move_slot(s, sl.release, rain_next);
        }
        if (clock_due(s, sl.loss)) {
            const double dt = slot_seconds(s, sl.loss);
            for (int k = 1; k <= nc && accumulate; ++k)
                if (s.constituent_type[k] == 1) ov_first_order_loss(s, k, dx, dt);
            move_slot(s, sl.loss, rain_next);
        }
    }
    if (s.project.nutrients && clock_due(s, sl.nutrient)) move_slot(s, sl.nutrient, rain_next);
    if (!s.chan_explicit) {
        if (clock_due(s, sl.outlet)) {
            const int o = s.outlet_cell;
            for (int k = 1; o >= 1 && k <= nc; ++k)
                s.ov_exit_mass[k] +=
                    constituent_row(s, tt::concentration, k)[o] * s.constituent_outflow_volume;
            s.constituent_outflow_volume = 0.0;
            move_slot(s, sl.outlet, rain_next);
        }
        return;
    }
    // Under the sediment-bound scheme the overland-constituents piece has done
    // this earlier in the turn, so the slot is no longer due.
    add_stream_exchange_mass(s, false);
}

void step_overland_constituent_pools(model_state &s) {
    if (!s.ov_con_trans_mode || !clock_due(s, s.constituent_clock)) return;
    const int n = s.cell_count, nc = s.constituent_count;
    // The time since the last step (now - last), the span over which the flow
    // moved the water that the face flows carry.
    const double dt = slot_seconds(s, s.constituent_clock);
    model_state::overland_constituent_work &w = s.pool_work;
    for (array_1d<double> *a : {&w.conc, &w.mass, &w.disp, &w.rate})
        if (a->empty() || a->last() < static_cast<std::size_t>(n)) alloc_1d_double(*a, n);
    for (int k = 1; k <= nc; ++k) {
        double *conc = constituent_row(s, tt::concentration, k);
        double *mass = constituent_row(s, tt::mass, k);
        const double *disp = constituent_row(s, tt::dispersion_coef, k);
        const int type_one = s.constituent_type[k] == 1;
        release_lake_mass(s, k);
        for (int i = 1; i <= n; ++i) {
            w.conc[i] = conc[i];
            w.mass[i] = mass[i];
            w.disp[i] = disp[i];
            w.rate[i] = soil_pool_transfer(s, k, i, type_one, dt);
        }
        overland_advection_step(s, {w.conc.data(), w.mass.data(), w.disp.data(), w.rate.data()},
                                s.constituent_sweep_order, k, dt, s.cell_size);
        double lifted = 0.0;
        for (int i = 1; i <= n; ++i) {
            mass[i] = w.mass[i];
            conc[i] = w.conc[i];
            if (mass[i] < 0.0) {
                lifted -= mass[i];
                mass[i] = 0.0;
                conc[i] = 0.0;
            }
        }
        post_mass(s, k, ledger_node::mass_cleanup, ledger_node::surface, lifted);
        move_lake_cell_mass(s, k);
    }
    move_slot(s, s.constituent_clock, s.rain_clock.next);
    close_overland_constituent_step(s);
}

void close_overland_constituent_step(model_state &s) {
    using n = ledger_node;
    const n soil = constituent_soil_node(s);
    for (int k = 1; k <= s.constituent_count; ++k) {
        if (s.chan_explicit)
            post(s, s.ov_qlat_dmt, k, n::surface, constituent_channel_inflow_node(s));
        else
            post(s, s.ov_out_dmt, k, n::surface, n::outlet);
        post(s, s.ov_point_dmt, k, n::point_sources, n::surface);
        post(s, s.ov_decay_dmt, k, n::surface, n::transformation);
        post(s, s.ov_infil_dmt, k, n::surface, soil);
        post(s, s.ov_from_lake_dmt, k, n::overland_lakes, n::surface);
        post(s, s.ov_uptake_dmt, k, n::land_pool, n::surface);
        post(s, s.ov_precip_dmt, k, n::atmosphere, n::surface);
        s.ov_out_dmt[k] = s.ov_qlat_dmt[k] = 0.0;
    }
    s.constituent_sweep_order = s.constituent_sweep_order == 1 ? 2 : 1;
    for (int i = 1; i <= s.cell_count && !s.previous_depth.empty(); ++i)
        s.previous_depth[static_cast<std::size_t>(i)] = s.depth[static_cast<std::size_t>(i)];
}

void finish_constituent_balances(model_state &s) {
    if (!s.ov_con_trans_mode) return;
    for (int k = 1; k <= s.constituent_count; ++k) {
        s.OV_MASS_FINAL[k] = overland_water_mass(s, k);
        s.OV_LAND_MASS_FINAL[k] = overland_land_mass(s, k);
        s.OV_MASS_ERROR[k] = run_overland_account(s, k).error_percent();
        // What the land and the overland lakes hold; the channel balance adds
        // the channels and their lakes.
        s.GLOBAL_MASS_FINAL[k] = s.OV_MASS_FINAL[k] + s.OV_LAND_MASS_FINAL[k] +
                                 overland_lake_constituent_mass(s, k) / 1000.0;
    }
}
