// The explicit overland scheme: hand-computed face discharges, still water, a
// closed flat basin, the step control (celerity, height and donor-depth checks,
// reductions carried over calls, the trimmed last sub-step), dikes, retention,
// the outlet drain and the mass balance of one call.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/hydrology/overland_boundaries.h"
#include "model/hydrology/overland_explicit.h"
#include "test_overland_grid.h"

namespace {

using namespace overlandtest;

class OverlandExplicit : public overland_test {};

// Two cells side by side: cell 1 on the left, 1 m higher over dx = 10 m.
void two_cells(model_state &s, double drop, double dx = 10.0, double n = 0.05) {
    make_grid(s, 1, 2, dx, [drop](int, int c) { return c == 1 ? 100.0 + drop : 100.0; }, n);
    s.outlet_slope = 0.0;  // no drain unless a test asks for one
}

TEST_F(OverlandExplicit, OneFaceMovesTheHandComputedManningFlow) {
    two_cells(s, 0.1);  // bed slope 0.01
    s.depth[1] = 0.02;
    s.depth[2] = 0.0;
    const double dt = 1.0;
    const double sf = 0.01 - (0.0 - 0.02) / 10.0;  // bed slope plus the depth gradient
    const double q = std::sqrt(sf) / 0.05 * std::pow(0.02, 5.0 / 3.0);
    route_overland_explicit(s, dt);
    EXPECT_NEAR(s.depth[2], q * dt / 10.0, 1e-12);
    EXPECT_NEAR(s.depth[1], 0.02 - q * dt / 10.0, 1e-12);
    EXPECT_NEAR(s.discharge_x[1], q * 10.0, 1e-12);  // returned in m3/s
}

TEST_F(OverlandExplicit, StillWaterOverUnevenGroundStaysStill) {
    // A pool whose surface lies at 101 m over ground between 100 and 100.6 m.
    make_grid(s, 3, 3, 10.0, [](int r, int c) { return 100.0 + 0.1 * (r + c - 2) + (r == 2 ? 0.2 : 0.0); },
              0.04);
    s.outlet_slope = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) s.depth[at(i)] = 101.0 - s.elevation[at(i)];
    for (int step = 0; step < 50; ++step) route_overland_explicit(s, 10.0);
    for (int i = 1; i <= s.cell_count; ++i)
        EXPECT_NEAR(s.elevation[at(i)] + s.depth[at(i)], 101.0, 1e-6) << "cell " << i;
}

TEST_F(OverlandExplicit, ClosedFlatBasinKeepsItsWaterAndLevelsOut) {
    make_grid(s, 4, 4, 10.0, [](int, int) { return 50.0; }, 0.03);
    s.outlet_slope = 0.0;  // no outlet flow
    for (int i = 1; i <= s.cell_count; ++i) s.depth[at(i)] = 0.05 + 0.01 * (i % 3);
    const double before = grid_volume(s);
    double out = 0.0;
    for (int step = 0; step < 5000; ++step) out += route_overland_explicit(s, 1.0);
    EXPECT_EQ(out, 0.0);
    EXPECT_NEAR(grid_volume(s), before, 1e-9 * before);
    const double mean = before / (s.cell_count * 100.0);
    for (int i = 1; i <= s.cell_count; ++i) EXPECT_NEAR(s.depth[at(i)], mean, 1e-3) << "cell " << i;
}

TEST_F(OverlandExplicit, OneCallBalancesGridWaterAndOutletVolume) {
    make_grid(s, 5, 6, 20.0, [](int r, int c) { return 30.0 - 0.05 * r - 0.03 * c + 0.02 * ((r * c) % 3); },
              0.035, 0.001, 0.02);
    for (int i = 1; i <= s.cell_count; ++i) s.depth[at(i)] = 0.002 * (i % 7);
    const double dt = 10.0;
    for (int call = 0; call < 20; ++call) {
        const double before = grid_volume(s);
        const double q = route_overland_explicit(s, dt);
        EXPECT_GE(q, 0.0);
        EXPECT_NEAR(grid_volume(s) + q * dt, before, 1e-12 * before + 1e-15) << "call " << call;
    }
}

TEST_F(OverlandExplicit, CellBelowRetentionNeitherSendsNorReceivesAcrossItsFaces) {
    // Cell 1 (upstream) holds less than its retention: its right face is closed both
    // ways, also to a deep downstream neighbour standing above it.
    make_grid(s, 1, 2, 10.0, [](int, int c) { return c == 1 ? 100.1 : 100.0; }, 0.05, 0.01);
    s.outlet_slope = 0.0;
    s.depth[1] = 0.005;
    s.depth[2] = 0.5;
    route_overland_explicit(s, 1.0);
    EXPECT_DOUBLE_EQ(s.depth[1], 0.005);
    EXPECT_DOUBLE_EQ(s.depth[2], 0.5);
    EXPECT_EQ(s.discharge_x[1], 0.0);
}

TEST_F(OverlandExplicit, EqualWaterSurfacesExchangeNothing) {
    // Flat ground, equal depths: the friction slope is zero and no water moves,
    // however many calls are made.
    make_grid(s, 1, 2, 10.0, [](int, int) { return 100.0; }, 0.05);
    s.outlet_slope = 0.0;
    s.depth[1] = s.depth[2] = 0.1;
    for (int call = 0; call < 100; ++call) route_overland_explicit(s, 10.0);
    EXPECT_EQ(s.depth[1], 0.1);
    EXPECT_EQ(s.depth[2], 0.1);
}

TEST_F(OverlandExplicit, NoFaceMovesMoreThanAQuarterOfTheLevelDifference) {
    // Deep water on nearly flat ground: Manning flow over 60 s would move far more
    // than the 2 cm difference of the two water surfaces.
    make_grid(s, 1, 2, 10.0, [](int, int) { return 100.0; }, 0.03);
    s.outlet_slope = 0.0;
    s.depth[1] = 1.02;
    s.depth[2] = 1.0;
    route_overland_explicit(s, 60.0);
    EXPECT_NEAR(s.depth[1], 1.02 - 0.005, 1e-12);
    EXPECT_NEAR(s.depth[2], 1.0 + 0.005, 1e-12);
}

TEST_F(OverlandExplicit, DikeCodeSixClosesTheRightAndDownFaces) {
    make_grid(s, 2, 2, 10.0, [](int r, int c) { return 100.0 - 0.5 * (r + c); }, 0.05);
    s.outlet_slope = 0.0;
    alloc_1d_int(s.dike_code, s.cell_count);
    s.dike_on = 1;
    s.dike_code[1] = 6;  // right and bottom sides of the upper-left cell
    s.depth[1] = 0.1;
    route_overland_explicit(s, 1.0);
    EXPECT_DOUBLE_EQ(s.depth[1], 0.1);
    EXPECT_EQ(s.depth[2], 0.0);
    EXPECT_EQ(s.depth[3], 0.0);
}

// A lone outlet cell drains by dh/dt = -k h^(5/3), k = sqrt(S) / (n dx), from the
// depth at the start of each sub-step; a step whose outlet Courant number
// (5/3 k h^(2/3) dt) reaches 1 is cut by three, so the depth follows the decay
// h(t) = (h0^(-2/3) + 2/3 k t)^(-3/2) at any step, never below zero. The call
// returns the step's mean discharge, which carries exactly the water drained.
TEST_F(OverlandExplicit, OutletDrainFollowsItsLawAndCutsTheStepItWouldOverrun) {
    const double k = std::sqrt(0.04) / (0.05 * 10.0), h0 = 0.1;
    const struct { double dt, share; } rows[] = {{1.0, 0.08}, {10.0, 0.13}, {100.0, 0.01}, {1000.0, 1e-4}};
    for (const auto &r : rows) {
        make_grid(s, 1, 1, 10.0, [](int, int) { return 5.0; }, 0.05, 0.0, 0.04);
        s.depth[1] = h0;
        const double h1 = std::pow(std::pow(h0, -2.0 / 3.0) + 2.0 / 3.0 * k * r.dt, -1.5);
        const double q = route_overland_explicit(s, r.dt);
        EXPECT_GT(s.depth[1], 0.0) << r.dt;
        EXPECT_NEAR(h0 - s.depth[1], h0 - h1, r.share * (h0 - h1)) << r.dt;  // first order in the sub-step
        EXPECT_NEAR(q * r.dt / 100.0, h0 - s.depth[1], 1e-12) << r.dt;
    }
    // A step short for the drain takes the Manning flow of the start depth.
    make_grid(s, 1, 1, 10.0, [](int, int) { return 5.0; }, 0.05, 0.0, 0.04);
    s.depth[1] = h0;
    EXPECT_NEAR(route_overland_explicit(s, 1.0), 10.0 * std::sqrt(0.04) * std::pow(h0, 1.666667) / 0.05, 1e-12);
    // 1 m on a 1 m cell, slope 10, n 0.01: k = 316 /s, so even 1/243 of a second's step
    // would drain 1.3 m. The run stops naming the step it needs (1 / (5/3 k) s).
    make_grid(s, 1, 1, 1.0, [](int, int) { return 5.0; }, 0.01, 0.0, 10.0);
    s.depth[1] = 1.0;
    const std::string out = printed([&] { route_overland_explicit(s, 1.0); });
    EXPECT_NE(out.find("The outlet cell 1 drains more water than it holds even in steps of 0.0041 s"), std::string::npos) << out;
    EXPECT_NE(out.find("Reduce TIMESTEP (now 1.0000 s) to 0.0019 s or less"), std::string::npos) << out;
    EXPECT_EQ(s.depth[1], 1.0);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(OverlandExplicit, ExplicitChannelRoutingLeavesTheOutletToTheChannel) {
    make_grid(s, 1, 1, 10.0, [](int, int) { return 5.0; }, 0.05, 0.0, 0.04);
    s.chan_explicit = 1;
    s.depth[1] = 0.1;
    EXPECT_EQ(route_overland_explicit(s, 1.0), 0.0);
    EXPECT_DOUBLE_EQ(s.depth[1], 0.1);
}

// A steep face with deep water fails the celerity check at any step above a
// fraction of a second.
void steep_face(model_state &s) {
    make_grid(s, 1, 2, 10.0, [](int, int c) { return c == 1 ? 110.0 : 100.0; }, 0.03);
    s.outlet_slope = 0.0;
    s.depth[1] = 0.5;
    s.quiet_card = 0;
}

TEST_F(OverlandExplicit, CelerityFailureDividesTheStepByThreeAndRedoesIt) {
    steep_face(s);
    const double before = grid_volume(s);
    const std::string out = printed([&] { route_overland_explicit(s, 9.0); });
    EXPECT_NE(out.find("    -> Cell Exceded Celerity Check\n"), std::string::npos);
    EXPECT_NE(out.find(" *Changing overland time step to 3.00 seconds...\n"), std::string::npos);
    EXPECT_EQ(out.rfind("\n  ]x:", 0), 0u);  // a line feed before the first report
    const explicit_step_control &c = s.explicit_control;
    EXPECT_EQ(c.reduced_count, 4);
    EXPECT_GT(c.reduced_step, 0.0);
    // The step was divided by a power of three.
    const double k = std::log(9.0 / c.reduced_step) / std::log(3.0);
    EXPECT_NEAR(k, std::round(k), 1e-9);
    EXPECT_NEAR(grid_volume(s), before, 1e-12);
    EXPECT_GE(s.depth[1], 0.0);
}

TEST_F(OverlandExplicit, ReducedStepServesFourCallsThenTheFullStepReturns) {
    steep_face(s);
    s.explicit_control.reduced_step = 0.5;
    s.explicit_control.reduced_count = 4;
    s.depth[1] = 0.001;  // little water: no check fails
    s.quiet_card = 0;
    for (int call = 1; call <= 4; ++call) {
        const std::string out = printed([&] { route_overland_explicit(s, 3.0); });
        EXPECT_EQ(out.find("Resetting"), std::string::npos) << "call " << call;
        EXPECT_EQ(s.explicit_control.reduced_in_use, 1);
    }
    EXPECT_EQ(s.explicit_control.reduced_count, 0);
    const std::string fifth = printed([&] { route_overland_explicit(s, 3.0); });
    EXPECT_EQ(fifth, "Resetting time step to 3.00 for overland flow...\n");
    EXPECT_EQ(s.explicit_control.reduced_in_use, 0);
}

TEST_F(OverlandExplicit, CarriedStepIsNeverLongerThanTheCallsStep) {
    // A reduced step of 10 s carried into a call of 3 s runs one 3 s sub-step.
    two_cells(s, 0.1);
    s.depth[1] = 0.01;
    s.explicit_control.reduced_step = 10.0;
    s.explicit_control.reduced_count = 2;
    const double sf = 0.01 + 0.01 / 10.0;
    const double q = std::sqrt(sf) / 0.05 * std::pow(0.01, 5.0 / 3.0);
    route_overland_explicit(s, 3.0);
    EXPECT_NEAR(s.depth[2], q * 3.0 / 10.0, 1e-12);
}

TEST_F(OverlandExplicit, LastSubStepIsTrimmedToTheRemainingTime) {
    // Sub-steps of 4 s over a 10 s call: 4 + 4 + 2, so the face moves ten seconds
    // of flow, not twelve. Long cells keep the flow nearly constant over the call.
    two_cells(s, 10.0, 1000.0);
    s.depth[1] = 0.01;
    s.explicit_control.reduced_step = 4.0;
    s.explicit_control.reduced_count = 1;
    route_overland_explicit(s, 10.0);
    const double q0 = std::sqrt(0.01 + 0.01 / 1000.0) / 0.05 * std::pow(0.01, 5.0 / 3.0);
    const double ten_seconds = q0 * 10.0 / 1000.0;
    EXPECT_NEAR(s.depth[2], ten_seconds, 0.005 * ten_seconds);
    EXPECT_NEAR(s.depth[1] + s.depth[2], 0.01, 1e-15);
}

TEST_F(OverlandExplicit, OutflowBeyondTheDonorsDepthFailsTheDepthCheck) {
    // Flow out of cell 1 whose transfer exceeds its depth, with the celerity and
    // height checks passing: H = q dt / dx is about 0.02 against a depth of 0.01.
    make_grid(s, 1, 2, 10.0, [](int, int c) { return c == 1 ? 110.0 : 100.0; }, 0.01);
    s.outlet_slope = 0.0;
    s.quiet_card = 0;
    s.depth[1] = 0.01;
    const std::string out = printed([&] { route_overland_explicit(s, 4.5); });
    EXPECT_NE(out.find("  ]x: h+dh < 0.00   (h+dh="), std::string::npos) << out;
    EXPECT_NE(out.find("  j:1\n    -> Outflow Exceeded Water Depth\n"), std::string::npos) << out;
    EXPECT_GE(s.depth[1], -0.0001);
    EXPECT_NEAR(s.depth[1] + s.depth[2], 0.01, 1e-15);
}

TEST_F(OverlandExplicit, InflowBeyondTheNeighboursDepthFailsTheDepthCheck) {
    // Ground rising to the right: water flows from cell 2 back into cell 1, and
    // the transfer exceeds the depth of cell 2, the donor.
    make_grid(s, 1, 2, 10.0, [](int, int c) { return c == 1 ? 100.0 : 110.0; }, 0.01);
    s.outlet_slope = 0.0;
    s.outlet_cell = 1;
    s.quiet_card = 0;
    s.depth[2] = 0.01;
    const std::string out = printed([&] { route_overland_explicit(s, 4.5); });
    EXPECT_NE(out.find("  j:2\n    -> Outflow Exceeded Water Depth\n"), std::string::npos) << out;
}

TEST_F(OverlandExplicit, AfterFiveReductionsTheCallGoesOnWithTheSmallStep) {
    steep_face(s);
    s.depth[1] = 3.0;  // fails at every step down to 9 / 243 s
    const std::string out = printed([&] { route_overland_explicit(s, 9.0); });
    int reductions = 0;
    for (std::size_t p = out.find("*Changing"); p != std::string::npos; p = out.find("*Changing", p + 1))
        ++reductions;
    EXPECT_EQ(reductions, 5);
    EXPECT_NE(out.find(" *Time step to small to divide, continuing with current time step\n"),
              std::string::npos);
    EXPECT_NEAR(s.explicit_control.reduced_step, 9.0 / 243.0, 1e-12);
}

TEST_F(OverlandExplicit, NoReductionBelowFiveThousandthsOfASecond) {
    steep_face(s);
    s.depth[1] = 5.0;
    const std::string out = printed([&] { route_overland_explicit(s, 0.0045); });
    EXPECT_EQ(out.find("*Changing"), std::string::npos);
    EXPECT_EQ(out.find("*Time step to small"), std::string::npos);
    EXPECT_EQ(s.explicit_control.reduced_count, 0);
}

TEST_F(OverlandExplicit, SweepOrderAlternatesFromOneAtTheFirstCall) {
    two_cells(s, 0.1);
    route_overland_explicit(s, 1.0);
    EXPECT_EQ(s.explicit_control.sweep_flag, 1);
    route_overland_explicit(s, 1.0);
    EXPECT_EQ(s.explicit_control.sweep_flag, 0);
}

TEST_F(OverlandExplicit, DryFlatGridMovesNothingAndPrintsNothing) {
    make_grid(s, 3, 3, 10.0, [](int, int) { return 1.0; }, 0.05, 0.0, 0.01);
    s.quiet_card = 0;
    double q = -1.0;
    const std::string out = printed([&] { q = route_overland_explicit(s, 10.0); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(q, 0.0);
    for (int i = 1; i <= s.cell_count; ++i) {
        EXPECT_EQ(s.discharge_x[at(i)], 0.0);
        EXPECT_EQ(s.discharge_y[at(i)], 0.0);
    }
}

TEST_F(OverlandExplicit, WetlandWaterWithinTheLayerSeepsLinearly) {
    two_cells(s, 0.1);
    s.wetlands_on = 1;
    alloc_1d_int(s.wetland_id, 2);
    s.wetland_id[1] = s.wetland_id[2] = 1;
    s.wetlands.resize(2);
    // Layer depth 0.05 m, seepage 1e-3 per s, transition 0.02 m, vegetation 1e-3, n 0.1.
    s.wetlands[1].values = {0.0, 0.05, 1e-3, 0.02, 1e-3, 0.0, 0.1};
    s.depth[1] = 0.03;  // within the layer
    const double sf = 0.01 + 0.03 / 10.0;
    route_overland_explicit(s, 1.0);
    EXPECT_NEAR(s.depth[2], sf * 0.03 * 1e-3 * 1.0 / 10.0, 1e-15);
}

}  // namespace
