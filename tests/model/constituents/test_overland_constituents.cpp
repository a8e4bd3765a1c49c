// Overland constituent processes and pieces on hand-built run states: the
// advection step against hand values, tracer conservation in a closed basin, the
// sources and sinks, the interval-share rule and the slots of the two pieces.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/channel/channel_services.h"
#include "model/constituents/constituent_transport.h"
#include "model/hydrology/hydrology_services.h"
#include "model/input/input_readers.h"
#include "model/core/mass_ledger.h"
#include "model/core/model_state.h"

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
    EXPECT_NEAR(mass_ledger(s, 1).moved(ledger_node::surface, ledger_node::outlet), 2.5e-3, 1e-15);
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

TEST(OverlandConstituentPieces, UnderTheSedimentBoundSchemeTheLandPoolGivesOnlyWhatIsTakenUp) {
    // One cell, 0.1 m deep, c = 1 under a saturation of 5 with 100 in the land
    // pool: the pools scheme's release would move 4 x 1e-3 x 0.1 x 100 x 60 = 2.4
    // out of the pool into an accumulator that the sediment-bound transport never
    // reads. Water plus pool must stay what they were, less the booked decay.
    model_state s;
    make_grid(s, 1, 1, 10.0, 0.1, 1);
    s.ov_con_trans_mode1 = 1;
    s.constituent_sources_on = 1;
    s.constituent_type[1] = 1;
    cell(s, tt::saturation_conc, 1, 1) = 5.0;
    cell(s, tt::release_rate, 1, 1) = 1e-3;
    cell(s, tt::decay_coef, 1, 1) = 1e-4;
    cell(s, tt::land_pool, 1, 1) = 100.0;
    put(s, 1, 1, 1.0);
    const double before = cell(s, tt::mass, 1, 1) + cell(s, tt::land_pool, 1, 1);
    s.rain_clock.next = s.now_days + 60.0 / day;
    for (process_clock *c : {&s.constituent_slots.release, &s.constituent_slots.loss, &s.constituent_clock}) {
        c->next = s.now_days;
        c->last = s.now_days - 60.0 / day;
    }
    s.constituent_clock.interval = 60.0 / day;
    step_overland_constituent_sources(s);
    EXPECT_EQ(s.constituent_slots.release.next, s.rain_clock.next);  // the slots still move
    EXPECT_EQ(s.constituent_slots.loss.next, s.rain_clock.next);
    step_overland_constituents(s);
    EXPECT_GT(mass_ledger(s, 1).moved(ledger_node::land_pool, ledger_node::surface), 0.0);
    EXPECT_GT(mass_ledger(s, 1).moved(ledger_node::surface, ledger_node::transformation), 0.0);
    const double after = cell(s, tt::mass, 1, 1) + cell(s, tt::land_pool, 1, 1);
    EXPECT_NEAR(after + mass_ledger(s, 1).moved(ledger_node::surface, ledger_node::transformation) * 1000.0, before, 1e-12 * before);
    EXPECT_NEAR(100.0 - cell(s, tt::land_pool, 1, 1), mass_ledger(s, 1).moved(ledger_node::land_pool, ledger_node::surface) * 1000.0, 1e-12);
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

// The sediment-bound scheme on a row of three cells of 100 m2 and 0.1 m: 0.01
// m3/s from cell 1 to 2 and from 2 to 3, the outlet, which sends 0.1 m3 on in
// a step of 10 s; constituent 1 at 5 in cell 1 (50 in mass).
void flowing_row(model_state &s) {
    make_grid(s, 1, 3, 10.0, 0.1, 1);
    s.discharge_x[1] = s.discharge_x[2] = 0.01;
    s.outlet_cell = 3;
    s.constituent_outflow_volume = 0.1;
    put(s, 1, 1, 5.0);
}

TEST(SedimentBoundTransport, UpwindPassMatchesHandValuesAndTheTracerIsKept) {
    model_state s;
    flowing_row(s);
    put(s, 1, 3, 2.0);  // 20 in the outlet cell
    const double before = total_mass(s, 1);
    const double out = overland_constituent_transport(s, 10.0);
    // Cell 1: the predictor sends 0.01 x 5 x 10 = 0.5 on and leaves 49.5 over a
    // predicted 0.099 m, still c = 5, so the corrector sends 0.5 too: 49.5 stay.
    EXPECT_NEAR(cell(s, tt::mass, 1, 1), 49.5, 1e-12);
    // The outlet cell (c = 2) gives half the 0.1 m3 in each pass: about 0.2.
    EXPECT_GT(out, 0.19);
    EXPECT_LT(out, 0.21);
    EXPECT_DOUBLE_EQ(s.ov_out_dmt[1], out);
    EXPECT_NEAR(total_mass(s, 1) + out, before, 1e-12 * before);
    EXPECT_NEAR(cell(s, tt::concentration, 1, 1), 49.5 / (0.1 * 100.0), 1e-12);
}

TEST(SedimentBoundTransport, DecayAndACellDryAtTheStartAreBookedNotLost) {
    model_state s;
    flowing_row(s);
    s.constituent_outflow_volume = 0.0;
    for (int i = 1; i <= 3; ++i) cell(s, tt::decay_coef, 1, i) = 1e-3;
    // Cell 3 dried out since the last step with 7 still booked to it.
    s.previous_depth[3] = 0.0;
    cell(s, tt::mass, 1, 3) = 7.0;
    const double before = total_mass(s, 1);
    overland_constituent_transport(s, 10.0);
    EXPECT_GE(s.ov_infil_dmt[1], 7.0);
    EXPECT_GT(s.ov_decay_dmt[1], 0.0);
    EXPECT_NEAR(total_mass(s, 1) + s.ov_decay_dmt[1] + s.ov_infil_dmt[1], before, 1e-12 * before);
    // First-order decay over the step of 10 s at 1e-3/s takes close to 1 percent of the 50.
    EXPECT_NEAR(s.ov_decay_dmt[1], 50.0 * (1.0 - std::exp(-0.01)), 0.01);
}

TEST(SedimentBoundTransport, StillCellDecaysAsTheExponentialAndTakesBackChannelMass) {
    model_state s;
    make_grid(s, 1, 1, 10.0, 0.1, 1);
    put(s, 1, 1, 5.0);
    cell(s, tt::decay_coef, 1, 1) = 1e-3;
    for (int step = 1; step <= 360; ++step) {
        overland_constituent_transport(s, 10.0);
        const double exact = 50.0 * std::exp(-1e-3 * 10.0 * step);
        ASSERT_NEAR(cell(s, tt::mass, 1, 1), exact, 1e-3 * exact) << step;
    }
    const double before = cell(s, tt::mass, 1, 1);  // the channel gives 3 back
    cell(s, tt::decay_coef, 1, 1) = 0.0;
    s.chan_explicit = 1;
    cell(s, tt::lateral_mass, 1, 1) = -3.0;
    overland_constituent_transport(s, 10.0);
    EXPECT_NEAR(cell(s, tt::mass, 1, 1), before + 3.0, 1e-12);
    EXPECT_NEAR(s.ov_qlat_dmt[1], -3.0, 1e-12);
}

TEST(SedimentBoundTransport, ParticleBoundSpeciesSettlesIntoTheLooseSoil) {
    model_state s;
    make_grid(s, 1, 2, 10.0, 0.1, 2);
    sediment_record &r = s.sediment;
    r.class_count = 1;
    r.classes.resize(2);
    r.classes[1].diameter = 0.05;  // mm: the Stokes range
    r.classes[1].specific_gravity = 2.65;
    r.viscosity = 1e-6;
    for (auto *a : {&r.deposited, &r.suspended, &r.eroded, &r.detachment_share, &r.fraction})
        alloc_2d_double(*a, 2, 1, "test");
    s.bound_dissolved_count = 1;  // constituent 2 is tied to class 1
    s.bound_species_factor = {1.0};
    for (auto *a : {&s.x_slope, &s.y_slope}) alloc_1d_double(*a, 2);
    cell(s, tt::mass, 2, 1) = 998.2;  // 1e-3 m3 of soil in the water of cell 1
    s.previous_depth[2] = 0.0;         // cell 2 is dry with 99.82 of it
    cell(s, tt::mass, 2, 2) = 99.82;
    overland_constituent_transport(s, 10.0);
    EXPECT_NEAR(r.deposited[2][1], 1e-4, 1e-15);
    EXPECT_EQ(cell(s, tt::mass, 2, 2), 0.0);
    // Stokes: w = 1.65 x 9.81 x (5e-5)^2 / 18e-6 = 2.248e-3 m/s, over 0.1 m a
    // rate of 0.02248/s; what settled is booked as decay and joined the soil, and
    // so are the 99.82 that the dry cell's water left there.
    const double settled = r.deposited[1][1] * 998200.0;
    EXPECT_NEAR(settled + 99.82, s.ov_decay_dmt[2], 1e-9);
    EXPECT_NEAR(cell(s, tt::mass, 2, 1) + settled, 998.2, 1e-9);
    EXPECT_NEAR(settled / 998.2, 1.0 - std::exp(-0.02248 * 10.0), 0.02);
}

TEST(SedimentBoundTransport, PieceBooksFlipsCopiesTheDepthAndKeepsTheSlot) {
    model_state s;
    flowing_row(s);
    s.ov_con_trans_mode1 = 1;
    s.depth[1] = 0.2;
    cell(s, tt::rain_mass, 1, 2) = 2000.0;  // put into the water by the sources piece
    s.constituent_clock = {s.now_days - 10.0 / day, s.now_days, 10.0 / day};
    step_overland_constituents(s);
    EXPECT_DOUBLE_EQ(mass_ledger(s, 1).moved(ledger_node::atmosphere, ledger_node::surface), 2.0);
    EXPECT_DOUBLE_EQ(mass_ledger(s, 1).moved(ledger_node::surface, ledger_node::outlet), s.sediment.outlet_mass / 1000.0);
    EXPECT_GT(s.sediment.outlet_mass, 0.0);
    EXPECT_EQ(s.ov_precip_dmt[1], 0.0);
    EXPECT_EQ(cell(s, tt::rain_mass, 1, 2), 0.0);
    EXPECT_EQ(s.constituent_sweep_order, 2);
    EXPECT_EQ(s.previous_depth[1], 0.2);
    EXPECT_DOUBLE_EQ(s.constituent_clock.next, s.now_days + 10.0 / day);
    // The pools piece of the same turn finds the slot not due.
    const double m = cell(s, tt::mass, 1, 1);
    step_overland_constituent_pools(s);
    EXPECT_EQ(cell(s, tt::mass, 1, 1), m);
    EXPECT_EQ(s.constituent_sweep_order, 2);
    // Without overland transport the piece does nothing.
    s.ov_con_trans_mode = 0;
    s.constituent_clock.next = s.now_days;
    step_overland_constituents(s);
    EXPECT_EQ(s.constituent_sweep_order, 2);
}

}  // namespace
