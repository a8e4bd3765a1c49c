// Overland constituent processes and pieces on hand-built run states: the
// advection step against hand values, tracer conservation in a closed basin, the
// sources and sinks, the interval-share rule and the slots of the two pieces.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/channel/channel_services.h"
#include "model/constituents/constituent_transport.h"
#include "model/input/input_readers.h"
#include "model/model_state.h"

namespace {

namespace tt = transport_table;
constexpr double day = 86400.0;

std::size_t at(int i) { return static_cast<std::size_t>(i); }

// A rows x cols grid of cell size dx, cells numbered row by row, depth h
// everywhere, nc constituents, flows zero.
void make_grid(model_state &s, int rows, int cols, double dx, double h, int nc) {
    const int n = rows * cols;
    s.cell_count = n;
    s.cell_size = dx;
    for (auto *a : {&s.depth, &s.discharge_x, &s.discharge_y, &s.net_rain_rate}) alloc_1d_double(*a, n);
    for (auto *a : {&s.right, &s.down, &s.left, &s.up}) alloc_1d_int(*a, n);
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
            const int i = (r - 1) * cols + c;
            s.right[at(i)] = c < cols ? i + 1 : 0;
            s.left[at(i)] = c > 1 ? i - 1 : 0;
            s.down[at(i)] = r < rows ? i + cols : 0;
            s.up[at(i)] = r > 1 ? i - cols : 0;
            s.depth[at(i)] = h;
        }
    allocate_constituent_arrays(nc, s, n, 0);
    for (int i = 1; i <= n; ++i) s.previous_depth[at(i)] = h;
    s.ov_con_trans_mode = 1;
    s.time_tolerance_days = 0.01 / day;
    s.now_days = 2450000.0;
}

double &cell(model_state &s, int table, int k, int i) { return constituent_row(s, table, k)[i]; }

// Sets constituent k's concentration in cell i and the mass it gives.
void put(model_state &s, int k, int i, double c) {
    cell(s, tt::concentration, k, i) = c;
    cell(s, tt::mass, k, i) = c * s.depth[at(i)] * s.cell_size * s.cell_size;
}

double total_mass(model_state &s, int k) {
    double m = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) m += cell(s, tt::mass, k, i);
    return m;
}

// One due pools step of dt seconds ending now.
void pools_step(model_state &s, double dt) {
    s.now_days += dt / day;
    s.constituent_clock.last = s.now_days - dt / day;
    s.constituent_clock.next = s.now_days;
    s.rain_clock.next = s.now_days + dt / day;
    step_overland_constituent_pools(s);
}

void advect(model_state &s, int k, int sweep, double dt) {
    std::vector<double> rate(at(s.cell_count + 1), 0.0);
    overland_advection_step(s,
                            {constituent_row(s, tt::concentration, k), constituent_row(s, tt::mass, k),
                             constituent_row(s, tt::dispersion_coef, k), rate.data()},
                            sweep, k, dt, s.cell_size);
}

TEST(OverlandAdvection, UpwindPredictorCorrectorAcrossOneFaceMatchesHandValues) {
    struct row {
        double flow, disp, m1, m2;
    };
    // Two cells of 10 m3 (dx 10 m, depth 0.1 m), c = 2 and 0, a step of 4 s.
    // Flow 0.5 m3/s: predictor moves 4, corrector 3.2, the mean 3.6.
    // Dispersion 0.5 m2/s: predictor 0.4, corrector (1.96 - 0.04) x 0.05 x 4, mean 0.392.
    for (const row &r : {row{0.5, 0.0, 16.4, 3.6}, row{0.0, 0.5, 19.608, 0.392}}) {
        model_state s;
        make_grid(s, 1, 2, 10.0, 0.1, 1);
        put(s, 1, 1, 2.0);
        s.discharge_x[1] = r.flow;
        cell(s, tt::dispersion_coef, 1, 1) = cell(s, tt::dispersion_coef, 1, 2) = r.disp;
        advect(s, 1, 1, 4.0);
        EXPECT_NEAR(cell(s, tt::mass, 1, 1), r.m1, 1e-12);
        EXPECT_NEAR(cell(s, tt::mass, 1, 2), r.m2, 1e-12);
        EXPECT_NEAR(cell(s, tt::concentration, 1, 2), r.m2 / 10.0, 1e-12);
    }
}

TEST(OverlandAdvection, NegativeFlowTakesTheConcentrationOfTheHighSideCell) {
    model_state s;
    make_grid(s, 2, 1, 10.0, 0.1, 1);  // one column: cell 1 above cell 2
    put(s, 1, 2, 2.0);
    s.discharge_y[1] = -0.5;  // from cell 2 up into cell 1
    advect(s, 1, 2, 4.0);
    EXPECT_NEAR(cell(s, tt::mass, 1, 1), 3.6, 1e-12);
    EXPECT_NEAR(cell(s, tt::mass, 1, 2), 16.4, 1e-12);
}

TEST(OverlandAdvection, TracerInAClosedBasinKeepsItsMassAndTheBalanceCloses) {
    model_state s;
    make_grid(s, 4, 5, 10.0, 0.2, 1);
    for (int i = 1; i <= s.cell_count; ++i) {
        s.discharge_x[at(i)] = 0.04 * std::sin(1.3 * i);
        s.discharge_y[at(i)] = 0.03 * std::cos(0.7 * i);
        cell(s, tt::dispersion_coef, 1, i) = 0.2;
    }
    put(s, 1, 7, 50.0);
    put(s, 1, 13, 20.0);
    const double m0 = total_mass(s, 1);
    s.OV_MASS_INIT[1] = m0 / 1000.0;
    int sweeps[2] = {0, 0};
    for (int step = 0; step < 60; ++step) {
        ++sweeps[s.constituent_sweep_order - 1];
        pools_step(s, 30.0);
    }
    EXPECT_EQ(sweeps[0], 30);
    EXPECT_EQ(sweeps[1], 30);
    EXPECT_NEAR(total_mass(s, 1), m0, 1e-9 * m0);
    EXPECT_GT(cell(s, tt::mass, 1, 1), 0.0);  // the tracer has spread
    finish_constituent_balances(s);
    EXPECT_LT(std::fabs(s.OV_MASS_ERROR[1]), 1e-6);
}

TEST(OverlandAdvection, OutletMassLeavesThroughTheSourceTermAndIsBooked) {
    model_state s;
    make_grid(s, 1, 3, 10.0, 0.1, 1);
    for (int i = 1; i <= 3; ++i) put(s, 1, i, 1.0);
    s.OV_MASS_INIT[1] = total_mass(s, 1) / 1000.0;
    s.outlet_cell = 3;
    s.constituent_slots.outlet.last = s.now_days;
    s.ov_exit_mass[1] = 2.5;  // c x outflow volume of the outlet slot
    pools_step(s, 10.0);
    EXPECT_NEAR(cell(s, tt::mass, 1, 3), 10.0 - 2.5, 1e-12);
    EXPECT_NEAR(s.OV_MASS_OUT[1], 2.5e-3, 1e-15);
    EXPECT_NEAR(s.GLOBAL_MASS_OUT[1], 2.5e-3, 1e-15);
    EXPECT_EQ(s.ov_exit_mass[1], 0.0);
    finish_constituent_balances(s);
    EXPECT_LT(std::fabs(s.OV_MASS_ERROR[1]), 1e-9);
}

TEST(OverlandAdvection, SweepOrderChangesTheResultAndAlternates) {
    model_state a, b;
    for (model_state *s : {&a, &b}) {
        make_grid(*s, 2, 2, 10.0, 0.1, 1);
        put(*s, 1, 1, 3.0);
        s->discharge_x[1] = 0.6;
        s->discharge_y[1] = 0.4;
        s->discharge_x[3] = 0.2;
    }
    advect(a, 1, 1, 5.0);
    advect(b, 1, 2, 5.0);
    EXPECT_GT(std::fabs(cell(a, tt::mass, 1, 4) - cell(b, tt::mass, 1, 4)), 1e-6);
    EXPECT_NEAR(total_mass(a, 1), total_mass(b, 1), 1e-12);
}

TEST(PoolDepthRatio, ShareOnlyWhenTheStepIsShorterThanTheProcessInterval) {
    struct row {
        double a, b, c, m, expected;
    };
    for (const row &r : {row{10.0, 100.0, 60.0, 8.0, 2.0}, row{40.0, 100.0, 60.0, 8.0, 8.0},
                         row{50.0, 100.0, 60.0, 8.0, 8.0}, row{60.0, 2450000.0, 2449999.99, 3.0, 3.0}})
        EXPECT_DOUBLE_EQ(pool_depth_ratio(r.a, r.b, 1e-6, r.c, r.m), r.expected);
}

TEST(SoilPoolTransfer, RateIsGainsLessLossesAndEveryShareIsBooked) {
    model_state s;
    make_grid(s, 1, 2, 10.0, 0.1, 2);
    s.constituent_sources_on = 1;
    for (int k = 1; k <= 2; ++k) {
        cell(s, tt::rain_mass, k, 1) = 3.0;
        cell(s, tt::accumulation_target, k, 1) = 1.5;
        cell(s, tt::release_accumulator, k, 1) = 2.0;
        cell(s, tt::loss_accumulator, k, 1) = 1.0;
    }
    s.constituent_type[1] = 1;
    s.constituent_type[2] = 2;
    // Process times in days against a step in seconds: the whole amount is taken.
    s.constituent_clock.last = s.now_days - 10.0 / day;
    sync_constituent_slots(s);
    EXPECT_DOUBLE_EQ(soil_pool_transfer(s, 1, 1, 1, 10.0), -0.05);
    EXPECT_DOUBLE_EQ(soil_pool_transfer(s, 2, 1, 0, 10.0), -0.15);  // no release or loss
    EXPECT_DOUBLE_EQ(s.ov_precip_dmt[1], 3.0);
    EXPECT_DOUBLE_EQ(s.ov_infil_dmt[1], 1.5);
    EXPECT_DOUBLE_EQ(s.ov_uptake_dmt[1], 2.0);
    EXPECT_DOUBLE_EQ(s.ov_decay_dmt[1], 1.0);
    EXPECT_DOUBLE_EQ(s.ov_decay_dmt[2], 0.0);
    EXPECT_DOUBLE_EQ(cell(s, tt::release_accumulator, 2, 1), 2.0);
    EXPECT_DOUBLE_EQ(cell(s, tt::rain_mass, 1, 1), 0.0);
}

TEST(ConstituentSources, RainMassIsTheRainVolumeTimesItsConcentration) {
    model_state s;
    make_grid(s, 1, 2, 10.0, 0.01, 1);
    s.previous_depth[2] = 0.0;
    s.precip_conc[1] = 5.0;
    s.net_rain_rate[1] = 36.0;  // mm/h = 1e-5 m/s
    cell(s, tt::concentration, 1, 2) = 7.0;
    rain_constituent_mass(s, 1, 10.0, 60.0);
    const double volume = 1e-5 * 60.0 * 100.0;
    EXPECT_NEAR(cell(s, tt::mass, 1, 1), 5.0 * volume, 1e-15);
    EXPECT_NEAR(cell(s, tt::rain_mass, 1, 1), 5.0 * volume, 1e-15);
    EXPECT_NEAR(cell(s, tt::concentration, 1, 1), 5.0 * volume / (0.0106 * 100.0), 1e-12);
    EXPECT_EQ(cell(s, tt::concentration, 1, 2), 7.0);  // dry and no rain: left as it was
}

TEST(ConstituentSources, ReleaseStopsAtSaturationAndNeverExceedsThePool) {
    model_state s;
    make_grid(s, 1, 3, 10.0, 0.1, 1);
    const double sat[3] = {10.0, 3.0, 10.0}, pool[3] = {2.0, 50.0, 100.0};
    for (int i = 1; i <= 3; ++i) {
        cell(s, tt::concentration, 1, i) = 4.0;
        cell(s, tt::saturation_conc, 1, i) = sat[i - 1];
        cell(s, tt::release_rate, 1, i) = 1e-3;
        cell(s, tt::land_pool, 1, i) = pool[i - 1];
    }
    ov_pool_release(s, 1, 10.0, 60.0);  // (10 - 4) x 1e-3 x 0.1 x 100 x 60 = 3.6
    const double released[3] = {2.0, 0.0, 3.6};
    for (int i = 1; i <= 3; ++i) {
        EXPECT_NEAR(cell(s, tt::release_accumulator, 1, i), released[i - 1], 1e-12);
        EXPECT_NEAR(cell(s, tt::land_pool, 1, i), pool[i - 1] - released[i - 1], 1e-12);
    }
}

TEST(ConstituentSources, LossIsCappedAtTheMassOfTheShallowerDepth) {
    struct row {
        double dt, expected;
    };
    // 1e-3 x 4 x (0.05 + 0.1) / 2 x 100 x dt, at most 4 x 100 x 0.05 = 20.
    for (const row &r : {row{60.0, 1.8}, row{6000.0, 20.0}}) {
        model_state s;
        make_grid(s, 1, 1, 10.0, 0.1, 1);
        s.previous_depth[1] = 0.05;
        cell(s, tt::concentration, 1, 1) = 4.0;
        cell(s, tt::decay_coef, 1, 1) = 1e-3;
        ov_first_order_loss(s, 1, 10.0, r.dt);
        EXPECT_NEAR(cell(s, tt::loss_accumulator, 1, 1), r.expected, 1e-12);
    }
}

TEST(OverlandConstituentPieces, OnlyTypeOneConstituentsTakeTheExchangeProcesses) {
    model_state s;
    make_grid(s, 1, 1, 10.0, 0.1, 2);
    s.constituent_sources_on = 1;
    s.constituent_type[1] = 1;
    s.constituent_type[2] = 3;
    for (int k = 1; k <= 2; ++k) {
        cell(s, tt::saturation_conc, k, 1) = 5.0;
        cell(s, tt::release_rate, k, 1) = 1e-3;
        cell(s, tt::land_pool, k, 1) = 100.0;
        cell(s, tt::decay_coef, k, 1) = 1e-3;
        put(s, k, 1, 1.0);
    }
    s.rain_clock.next = s.now_days + 60.0 / day;
    for (process_clock *c : {&s.constituent_slots.release, &s.constituent_slots.loss}) {
        c->next = s.now_days;
        c->last = s.now_days - 60.0 / day;
    }
    step_overland_constituent_sources(s);
    EXPECT_GT(cell(s, tt::release_accumulator, 1, 1), 0.0);
    EXPECT_GT(cell(s, tt::loss_accumulator, 1, 1), 0.0);
    EXPECT_EQ(cell(s, tt::release_accumulator, 2, 1), 0.0);
    EXPECT_EQ(cell(s, tt::loss_accumulator, 2, 1), 0.0);
    EXPECT_EQ(s.constituent_slots.release.next, s.rain_clock.next);
    EXPECT_EQ(s.constituent_slots.release.last, s.now_days);
}

TEST(OverlandConstituentPieces, WithTransportOffNothingChangesNotEvenTheSlots) {
    model_state s;
    make_grid(s, 1, 2, 10.0, 0.1, 1);
    put(s, 1, 1, 2.0);
    s.discharge_x[1] = 0.5;
    s.ov_con_trans_mode = 0;
    s.rainborne_constituent_flag = 1;
    s.net_rain_rate[1] = 10.0;
    s.precip_conc[1] = 1.0;
    s.constituent_clock.next = s.now_days;
    s.constituent_slots.rain.next = s.now_days;
    s.constituent_slots.outlet.next = s.now_days;
    s.constituent_outflow_volume = 3.0;
    step_overland_constituent_sources(s);
    step_overland_constituent_pools(s);
    EXPECT_EQ(cell(s, tt::mass, 1, 1), 20.0);
    EXPECT_EQ(cell(s, tt::mass, 1, 2), 0.0);
    EXPECT_EQ(s.constituent_clock.next, s.now_days);
    EXPECT_EQ(s.constituent_slots.rain.next, s.now_days);
    EXPECT_EQ(s.constituent_outflow_volume, 3.0);
    EXPECT_EQ(s.constituent_sweep_order, 1);
}

TEST(OverlandConstituentPieces, OutletSlotBooksConcentrationTimesTheOutflowVolume) {
    model_state s;
    make_grid(s, 1, 2, 10.0, 0.1, 1);
    put(s, 1, 2, 4.0);
    s.outlet_cell = 2;
    s.constituent_outflow_volume = 0.75;
    s.constituent_slots.outlet.next = s.now_days;
    step_overland_constituent_sources(s);
    EXPECT_DOUBLE_EQ(s.ov_exit_mass[1], 3.0);
    EXPECT_EQ(s.constituent_outflow_volume, 0.0);
}

}  // namespace
