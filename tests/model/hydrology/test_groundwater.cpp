// The groundwater step against analytical solutions (Dupuit between fixed heads,
// Theis drawdown around a pumped well, the erfc response to a step in head), the
// line relaxation against a dense solve, the step's own water balance with the
// floor of the saturated thickness, the river-cell exchange and the wells.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/hydrology/groundwater.h"
#include "model/hydrology/hydrology_services.h"
#include "model/input/surface_inputs.h"
#include "model/input/wells.h"
#include "model/core/series.h"
#include "test_overland_grid.h"

namespace {

using namespace overlandtest;

// A rows x cols aquifer of cell size dx: conductivity k (m/s), storage S, bottom
// 0 and the head h0 everywhere, no wells, a tight solver.
void make_aquifer(model_state &s, int rows, int cols, double dx, double k, double storage, double h0) {
    make_grid(s, rows, cols, dx, [](int, int) { return 1000.0; }, 0.04);
    const int n = rows * cols;
    for (auto *a : {&s.water_table_elevation, &s.aquifer_bottom.full(), &s.gw_porosity.full(),
                    &s.gw_hycond.full(), &s.gw_static_flux})
        alloc_1d_double(*a, n);
    alloc_1d_int(s.gw_boundary_code, n);
    ASSERT_TRUE(allocate_groundwater_work(s));
    for (int i = 1; i <= n; ++i) {
        s.water_table_elevation[at(i)] = h0;
        s.gw_porosity.full()[at(i)] = storage;
        s.gw_storage_coefficient[at(i)] = storage;
        s.gw_hycond.full()[at(i)] = k;
        s.gw_boundary_code[at(i)] = 1;
    }
    s.gw_lsor_dir = 1;
    s.gw_relax_coeff = 1.0;
    s.gw_lsor_con = 1e-10;
    s.gw_sweep_direction = 1;
}

// Runs the step over `total` seconds in steps growing by `growth` from 60 s.
void run_for(model_state &s, double total, double growth) {
    double t = 0.0, dt = 60.0;
    while (t < total) {
        const double step = std::min(dt, total - t);
        double unsat = 0.0;
        groundwater_step(s, step, unsat);
        ASSERT_EQ(error_record.fatal, 0);
        t += step;
        dt *= growth;
    }
}

class GroundwaterStep : public overland_test {};

struct dupuit_case {
    double recharge_over_k, expected;
};

TEST_F(GroundwaterStep, DupuitProfileBetweenFixedHeads) {
    // Bottom 0, h = 10 m at x = 0 and 8 m at x = 1000 m: h(500)^2 = 100 - 36 / 2
    // (+ R / K x (L - x) with recharge).
    for (const dupuit_case c : {dupuit_case{0.0, 9.055}, dupuit_case{1e-4, 10.344}}) {
        reset_process_globals();
        auto fresh = std::make_unique<model_state>();
        model_state &st = *fresh;
        const double k = 1e-4;
        make_aquifer(st, 1, 101, 10.0, k, 0.2, 9.0);
        st.gw_boundary_code[1] = st.gw_boundary_code[101] = 5;
        st.water_table_elevation[1] = 10.0;
        st.water_table_elevation[101] = 8.0;
        for (int i = 2; i <= 100; ++i) st.gw_static_flux[at(i)] = -c.recharge_over_k * k;
        for (int step = 0; step < 8; ++step) {
            double unsat = 0.0;
            groundwater_step(st, 1e9, unsat);
            ASSERT_EQ(error_record.fatal, 0);
        }
        EXPECT_NEAR(st.water_table_elevation[51], c.expected, 0.005 * c.expected) << c.recharge_over_k;
        EXPECT_EQ(st.water_table_elevation[1], 10.0);  // fixed heads keep their values
        EXPECT_EQ(st.water_table_elevation[101], 8.0);
    }
}

TEST_F(GroundwaterStep, TheisDrawdownAroundAPumpedWell) {
    // K = 1e-4 m/s, b = 50 m, Sy = 0.2, Q = 0.01 m3/s, one day; dx = 5 m, edges 300 m out.
    const int m = 121, centre = 61;
    make_aquifer(s, m, m, 5.0, 1e-4, 0.2, 50.0);
    s.gw_relax_coeff = 1.6;
    s.gw_lsor_con = 1e-6;
    s.gw_static_flux[at(cell(m, centre, centre))] = 0.01 / 25.0;
    run_for(s, 86400.0, 1.5);
    const double published[][2] = {{20.0, 0.404}, {30.0, 0.284}, {50.0, 0.148}, {100.0, 0.027}};
    for (const auto &p : published) {
        const int c = cell(m, centre, centre + static_cast<int>(p[0] / 5.0));
        const double drawdown = 50.0 - s.water_table_elevation[at(c)];
        EXPECT_NEAR(drawdown, p[1], 0.05 * p[1]) << "r = " << p[0];
    }
}

TEST_F(GroundwaterStep, StepInHeadSpreadsAsTheErrorFunction) {
    // h = h0 + dh erfc(x / (2 sqrt(T t / S))) with T = K b = 5e-3 m2/s, S = 0.2.
    const double h0 = 50.0, dh = 0.1, t = 86400.0;
    make_aquifer(s, 1, 201, 5.0, 1e-4, 0.2, h0);
    s.gw_boundary_code[1] = 5;
    s.water_table_elevation[1] = h0 + dh;
    run_for(s, t, 1.2);
    const double spread = 2.0 * std::sqrt(1e-4 * h0 * t / 0.2);
    for (double x : {25.0, 50.0, 100.0, 150.0}) {
        const int c = 1 + static_cast<int>(x / 5.0);
        const double expected = dh * std::erfc(x / spread);
        EXPECT_NEAR(s.water_table_elevation[at(c)] - h0, expected, 0.03 * dh) << "x = " << x;
    }
}

// The four face coefficients of cell i (up, down, left, right): each face is
// stored once, at the cell above or left of it; a fixed-head cell has none.
std::array<std::pair<int, double>, 4> cell_faces(const model_state &s, int i) {
    const bool fixed = s.gw_boundary_code[at(i)] == 5;
    const int ju = s.up[at(i)], jl = s.left[at(i)];
    const auto c = [fixed](double v) { return fixed ? 0.0 : v; };
    return {{{ju, c(s.gw_coef_down[at(ju)])},
             {s.down[at(i)], c(s.gw_coef_down[at(i)])},
             {jl, c(s.gw_coef_right[at(jl)])},
             {s.right[at(i)], c(s.gw_coef_right[at(i)])}}};
}

// Dense Gaussian elimination of the five-point system of the solver over a
// sub-step of 1 s: a solved cell's storage joins its diagonal, its sink less its
// stored start head its right side; a fixed head keeps its start value.
std::vector<double> dense_solve(const model_state &s) {
    const int n = s.cell_count;
    std::vector<std::vector<double>> a(at(n + 1), std::vector<double>(at(n + 2), 0.0));
    for (int i = 1; i <= n; ++i) {
        const bool fixed = s.gw_boundary_code[at(i)] == 5;
        const double S = s.gw_storage_coefficient[at(i)], h0 = s.gw_substep_head[at(i)];
        double sum = S;
        for (const auto &l : cell_faces(s, i)) {
            if (l.first) a[at(i)][at(l.first)] += l.second;
            sum += l.second;
        }
        a[at(i)][at(i)] = fixed ? 1.0 : -sum;
        a[at(i)][at(n + 1)] = fixed ? h0 : s.gw_net_sink[at(i)] - S * h0;
    }
    for (int p = 1; p <= n; ++p)
        for (int r = p + 1; r <= n; ++r) {
            const double f = a[at(r)][at(p)] / a[at(p)][at(p)];
            for (int c = p; c <= n + 1; ++c) a[at(r)][at(c)] -= f * a[at(p)][at(c)];
        }
    std::vector<double> x(at(n + 1), 0.0);
    for (int r = n; r >= 1; --r) {
        double v = a[at(r)][at(n + 1)];
        for (int c = r + 1; c <= n; ++c) v -= a[at(r)][at(c)] * x[at(c)];
        x[at(r)] = v / a[at(r)][at(r)];
    }
    return x;
}

TEST_F(GroundwaterStep, LineRelaxationMatchesADenseSolveInEveryKindAndDirection) {
    make_aquifer(s, 3, 4, 10.0, 1e-4, 0.2, 0.0);
    // Unequal face coefficients, a fixed-head row (diagonal 1, right-hand side its head).
    for (int i = 1; i <= s.cell_count; ++i) {
        s.gw_coef_down[at(i)] = s.down[at(i)] ? 0.2 + 0.02 * i : 0.0;
        s.gw_coef_right[at(i)] = s.right[at(i)] ? 0.5 - 0.03 * i : 0.0;
    }
    for (int i : {1, 2}) s.gw_boundary_code[at(i)] = 5;
    for (int i = 1; i <= s.cell_count; ++i) {
        s.gw_storage_coefficient[at(i)] = 0.05 * i;
        s.gw_substep_head[at(i)] = i <= 2 ? 4.0 + i : 0.1 * i;
        s.gw_net_sink[at(i)] = -0.7 * i + 1.0;
    }
    const std::vector<double> exact = dense_solve(s);
    for (int kind : {1, 2})
        for (int direction : {1, 2}) {
            for (int i = 1; i <= s.cell_count; ++i) s.water_table_elevation[at(i)] = 0.0;
            s.gw_lsor_dir = kind;
            s.gw_relax_coeff = 1.2;
            s.gw_lsor_con = 1e-12;
            const int sweeps = groundwater_solve_2d(s, direction, 1.0);
            ASSERT_GT(sweeps, 1);
            for (int i = 1; i <= s.cell_count; ++i)
                EXPECT_NEAR(s.water_table_elevation[at(i)], exact[at(i)], 1e-9)
                    << "kind " << kind << " direction " << direction << " cell " << i;
        }
}

TEST_F(GroundwaterStep, SweepCapAndNonNumbersStopTheSolver) {
    make_aquifer(s, 2, 2, 10.0, 1e-4, 0.2, 5.0);
    // No faces: each cell's diagonal is its storage -1, its right side its sink -1.
    for (int i = 1; i <= 4; ++i) {
        s.gw_storage_coefficient[at(i)] = 1.0;
        s.gw_net_sink[at(i)] = -1.0;
    }
    s.gw_net_sink[3] = std::nan("");
    const std::string out = printed([&] { EXPECT_EQ(groundwater_solve_2d(s, 1, 1.0), -1); });
    EXPECT_NE(out.find("grid cell 3 is not a number"), std::string::npos) << out;
    EXPECT_EQ(error_record.fatal, 1);
    reset_process_globals();
    // Over-relaxation at 2 never settles a diagonal system: the cap stops it.
    s.gw_net_sink[3] = -1.0;
    s.gw_relax_coeff = 2.0;
    s.gw_lsor_con = 1e-30;
    const std::string capped = printed([&] { EXPECT_EQ(groundwater_solve_2d(s, 1, 1.0), -1); });
    EXPECT_NE(capped.find("did not converge in 10000 sweeps"), std::string::npos) << capped;
}

TEST_F(GroundwaterStep, NetVolumeEqualsStorageChangePlusFloor) {
    // A closed 4 x 5 aquifer with uneven conductivity and storage, recharge, leakage
    // and a pumped cell that the floor of 0.001 m holds.
    make_aquifer(s, 4, 5, 20.0, 2e-4, 0.15, 3.0);
    s.gw_lsor_con = 1e-13;
    s.gw_leakage_rate = 0.036;  // cm/h: 1e-7 m/s
    for (int i = 1; i <= s.cell_count; ++i) {
        s.gw_hycond.full()[at(i)] = 1e-4 * (1 + i % 3);
        s.gw_storage_coefficient[at(i)] = 0.1 + 0.01 * i;
        s.water_table_elevation[at(i)] = 2.0 + 0.1 * i;
        s.gw_static_flux[at(i)] = -2e-7;
    }
    s.gw_static_flux[7] = 5e-4;  // extracts far more than the cell can give
    // A thin corner cell above its neighbours drains below its bottom: the floor.
    s.aquifer_bottom.full()[20] = 3.95;
    s.water_table_elevation[20] = 3.96;
    s.gw_static_flux[20] = 0.0;
    std::vector<double> before(at(s.cell_count + 1));
    for (int i = 1; i <= s.cell_count; ++i) before[at(i)] = s.water_table_elevation[at(i)];
    double unsat = 0.0;
    const double v = groundwater_step(s, 86400.0, unsat);
    ASSERT_EQ(error_record.fatal, 0);
    double change = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) {
        change += s.gw_storage_coefficient[at(i)] * (s.water_table_elevation[at(i)] - before[at(i)]) * 400.0;
        EXPECT_GE(s.water_table_elevation[at(i)], s.aquifer_bottom[at(i)] + 0.001) << i;
    }
    // The pumped cell went down to its floor, and its sink has stopped.
    EXPECT_DOUBLE_EQ(s.water_table_elevation[7], 0.001);
    EXPECT_LE(s.gw_net_sink[7], 0.0);
    EXPECT_NEAR(change, v + s.gw_floor_volume, 1e-9 * std::fabs(v));
    // The aquifer lost what its wells and leakage took (the pumped cell far less
    // than it asked for), and gained what the floor added: no other term runs.
    double asked = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) asked += (s.gw_static_flux[at(i)] + 1e-7) * 86400.0 * 400.0;
    EXPECT_LT(s.gw_well_volume + s.gw_leakage_volume, 0.1 * asked);
    EXPECT_NEAR(v, -(s.gw_well_volume + s.gw_leakage_volume) + s.gw_withheld_volume, 1e-9 * asked);
    EXPECT_NEAR(change, -(s.gw_well_volume + s.gw_leakage_volume) + s.gw_floor_volume +
                            s.gw_withheld_volume,
                1e-9 * asked);
}

// Sets up a groundwater piece run of one hour ending now, redistribution coupled.
void make_redistribution_piece(model_state &s, double limit_cm) {
    s.groundwater_on = 1;
    s.inf_redist = 1;
    s.soil_moist_depth_cm = limit_cm;
    s.time_tolerance_days = 1e-7;
    s.now_days = 2450000.0;
    s.gw_clock.interval = 3600.0 / 86400.0;
    s.gw_clock.last = s.now_days - s.gw_clock.interval;
    s.gw_clock.next = s.now_days;
}

TEST_F(GroundwaterStep, RedistributionStorageCoefficientFollowsTheDepthToTheTable) {
    // Ground at 1000 m, limit 100 cm: the table 0.5 m down lies in the soil (its
    // saturated moisture 0.45), 1.5 m down in the aquifer (porosity 0.25), at the
    // surface it stores 1.0; a soil moisture of 0 falls back on the porosity.
    make_aquifer(s, 1, 4, 10.0, 1e-6, 0.25, 999.0);
    make_redistribution_piece(s, 100.0);
    alloc_1d_double(s.soil_porosity.full(), 4);
    const double head[] = {0.0, 999.5, 998.5, 1000.0, 999.5};
    const double soil[] = {0.0, 0.45, 0.45, 0.45, 0.0};
    for (int i = 1; i <= 4; ++i) {
        s.water_table_elevation[at(i)] = head[i];
        s.soil_porosity.full()[at(i)] = soil[i];
    }
    const std::string out = printed([&] { step_groundwater(s); });
    ASSERT_EQ(error_record.fatal, 0) << out;
    const double expected[] = {0.0, 0.45, 0.25, 1.0, 0.25};
    for (int i = 1; i <= 4; ++i) EXPECT_DOUBLE_EQ(s.gw_storage_coefficient[at(i)], expected[i]) << i;
    EXPECT_NE(out.find("there is a problem with groundwater storage term"), std::string::npos) << out;
    EXPECT_EQ(s.gw_clock.last, s.now_days);
}

TEST_F(GroundwaterStep, SurfacingWithNoEventRestartsTheRainAndInfiltrationClocks) {
    struct surfacing_case {
        int event_active, event_start_flag;
        bool restarts;
    };
    const surfacing_case cases[] = {{0, 0, true}, {1, 0, false}, {0, 1, false}};
    for (const surfacing_case &c : cases) {
        SCOPED_TRACE(c.event_active * 10 + c.event_start_flag);
        auto owned = std::make_unique<model_state>();
        model_state &m = *owned;
        make_aquifer(m, 1, 1, 10.0, 1e-6, 0.25, 1000.2);  // the table above the ground
        make_redistribution_piece(m, 100.0);
        m.time_step = 30.0;
        for (auto *a : {&m.root_zone_depth, &m.root_zone_water, &m.root_upper_water, &m.root_lower_water,
                        &m.deep_percolation})
            alloc_1d_double(*a, 1);
        alloc_1d_byte(m.surfacing_mark, 1);
        m.root_zone_depth[1] = 20.0;
        m.root_zone_water[1] = 6.0;
        m.event_active = c.event_active;
        m.event_start_flag = c.event_start_flag;
        m.rain_clock = {100.0, 101.0, 1.0};
        m.infiltration_clock = {100.0, 101.0, 1.0};
        const process_clock rain = m.rain_clock;
        step_groundwater(m);
        ASSERT_EQ(error_record.fatal, 0);
        // The wetted zone's 6 cm go to the percolation and the zone empties.
        EXPECT_EQ(m.surfacing_mark[1], 1);
        EXPECT_DOUBLE_EQ(m.deep_percolation[1], 6.0);
        EXPECT_EQ(m.root_zone_depth[1], 0.0);
        if (c.restarts) {
            EXPECT_EQ(m.event_start_flag, 1);
            for (const process_clock *k : {&m.rain_clock, &m.infiltration_clock}) {
                EXPECT_EQ(k->last, m.now_days);
                EXPECT_DOUBLE_EQ(k->interval, 30.0 / 86400.0);
                EXPECT_DOUBLE_EQ(k->next, m.now_days + 30.0 / 86400.0);
            }
            EXPECT_EQ(m.et_clock.next, m.infiltration_clock.next);
            EXPECT_EQ(m.rain_restart_days, m.now_days);
        } else {
            EXPECT_EQ(m.rain_clock.next, rain.next);
            EXPECT_EQ(m.infiltration_clock.last, rain.last);
        }
    }
}

TEST_F(GroundwaterStep, DryCellGetsNoLeakageNoExtractionAndTheThinTransmissivity) {
    make_aquifer(s, 1, 2, 10.0, 1e-4, 0.2, 0.0005);
    s.gw_leakage_rate = 3.6;
    s.gw_static_flux[1] = 1e-6;
    double unsat = 0.0;
    const double v = groundwater_step(s, 3600.0, unsat);
    EXPECT_EQ(s.gw_leakage_rate_cell[1], 0.0);
    EXPECT_EQ(s.gw_well_rate[1], 0.0);
    EXPECT_EQ(s.gw_net_sink[1], 0.0);
    EXPECT_EQ(v, 0.0);
    // Face coefficient of two equal transmissivities T over 10 m cells: T / 100.
    EXPECT_DOUBLE_EQ(s.gw_coef_right[1], 1e-4 * 0.001 / 100.0);
    // Both heads are lifted to the floor, and the water it took is booked.
    EXPECT_DOUBLE_EQ(s.water_table_elevation[1], 0.001);
    EXPECT_NEAR(s.gw_floor_volume, 2 * 0.2 * 0.0005 * 100.0, 1e-12);
}

TEST_F(GroundwaterStep, WorkArraysOnlyWhereTheOptionsInForceUseThem) {
    struct option_case {
        int redist, channels;
        double leakage;
        int wells;
    };
    for (const option_case &c : {option_case{1, 0, 0.0, 0}, option_case{0, 1, 3.6, 1}}) {
        model_state m;
        make_grid(m, 2, 2, 10.0, [](int, int) { return 1000.0; }, 0.04);
        m.inf_redist = c.redist;
        m.chan_explicit = c.channels;
        m.gw_leakage_rate = c.leakage;
        m.gw_wells_from_table = c.wells;
        ASSERT_TRUE(allocate_groundwater_work(m));
        EXPECT_EQ(m.surface_exchange_depth.empty(), c.redist == 0);
        EXPECT_EQ(m.channel_seepage_volume.empty(), c.channels == 0);
        EXPECT_EQ(m.lake_loss_volume.empty(), c.channels == 0);
        EXPECT_EQ(m.gw_leakage_rate_cell.empty(), c.leakage == 0.0);
        EXPECT_EQ(m.gw_well_rate.empty(), c.wells == 0);
        EXPECT_TRUE(m.river_exchange.empty());  // made by the step at its first river cell
    }
}

TEST_F(GroundwaterStep, RiverCellExchangeWithItsActiveNeighbours) {
    // Row of three: a river cell (code 2) at 6 m between an active cell at 5 m and
    // an inactive one (code 0). F = b (h_i - h_j) / dx dx K dts.
    make_aquifer(s, 1, 3, 10.0, 1e-4, 0.2, 5.0);
    s.gw_boundary_code[2] = 2;
    s.gw_boundary_code[3] = 0;
    s.water_table_elevation[2] = 6.0;
    s.gw_storage_coefficient[1] = 1e12;  // holds cell 1 at 5 m over the step
    s.gw_storage_coefficient[3] = 1e12;
    double unsat = 0.0;
    groundwater_step(s, 100.0, unsat);
    EXPECT_NEAR(s.river_exchange[2], 6.0 * (1.0 / 10.0) * 10.0 * 1e-4 * 100.0, 1e-9);
    EXPECT_EQ(s.water_table_elevation[2], 6.0);
}

TEST_F(GroundwaterStep, WellsArePlacedByTheIndexMapAndTheirRatesApplied) {
    make_aquifer(s, 2, 3, 10.0, 1e-4, 0.2, 5.0);
    time_series series;
    series.times = {2450000.0, 2450001.0};
    series.values = {0.0, 2.0};
    series.count = 2;
    add_time_series_id(7, &series);
    std::vector<well_record> table = {{3, 0, 0.5, 0}, {4, 1, 0.0, 7}};
    array_2d<int> grid;
    alloc_2d_int(grid, 3, 4);
    grid(1, 2) = 3;  // cell 2
    grid(2, 3) = 4;  // cell 6
    place_wells(s, table, grid);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_TRUE(table.empty());
    ASSERT_EQ(s.placed_wells.size(), 2u);
    EXPECT_EQ(s.placed_wells[0].id, 6);  // newest first, id now the cell number
    EXPECT_EQ(s.placed_wells[1].id, 2);
    s.gw_well_rate[1] = 0.25;
    apply_well_rates(s, 2450000.25, 10.0);
    EXPECT_DOUBLE_EQ(s.gw_well_rate[2], 0.5 / 100.0);
    EXPECT_DOUBLE_EQ(s.gw_well_rate[6], 0.5 / 100.0);  // the series at a quarter day
    EXPECT_EQ(s.gw_well_rate[1], 0.25);                // a cell without a well keeps its rate
    reset_process_globals();
}

TEST_F(GroundwaterStep, WellMissingFromTheTableOrOutsideTheMaskNamesRowAndColumn) {
    make_aquifer(s, 2, 3, 10.0, 1e-4, 0.2, 5.0);
    s.cell_number_grid(2, 1) = 0;  // a position outside the mask
    std::vector<well_record> table = {{3, 0, 0.5, 0}};
    array_2d<int> grid;
    alloc_2d_int(grid, 3, 4);
    grid(1, 3) = 9;
    grid(2, 1) = 3;
    grid(2, 2) = 3;
    const std::string out = printed([&] { place_wells(s, table, grid); });
    EXPECT_NE(out.find("A well was found in the index map (cell [1,3]) that \n  was not found in "
                       "the well table."),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("(cell [2,1]) lies outside the watershed mask"), std::string::npos) << out;
    ASSERT_EQ(s.placed_wells.size(), 1u);  // the scan went on to the good well
    EXPECT_EQ(s.placed_wells[0].id, 5);
    EXPECT_EQ(error_record.fatal, 1);
}

}  // namespace
