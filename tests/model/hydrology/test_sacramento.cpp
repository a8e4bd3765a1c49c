// Tests of the soil-moisture accounting step: one step worked by hand, the
// increment count, the baseflow recession, the limits of the lower zone (full
// zone, full free-water stores, the share of the primary store), ET beyond the
// upper tension water, the balance over a long random sequence, and the run
// totals of step_sacramento against the summary's residual.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/sacramento.h"
#include "model/hydrology/soil_water_services.h"
#include "model/core/model_state.h"
#include "model/output/output_writers.h"
#include "model/output_test_support.h"
#include "support/run_program.h"

namespace {

// Capacities 50/40 mm upper, 100/20/80 mm lower; contents as below.
sacramento_basin basin() {
    sacramento_basin b;
    b.uztwm = 50.0;
    b.uzfwm = 40.0;
    b.uzk = 0.3;
    b.zperc = 40.0;
    b.rexp = 2.0;
    b.lztwm = 100.0;
    b.lzfsm = 20.0;
    b.lzfpm = 80.0;
    b.lzsk = 0.05;
    b.lzpk = 0.01;
    b.pfree = 0.2;
    b.uztwc = 20.0;
    b.uzfwc = 2.0;
    b.lztwc = 60.0;
    b.lzfsc = 5.0;
    b.lzfpc = 40.0;
    b.pbase = b.lzpk * b.lzfpm + b.lzsk * b.lzfsm;  // 1.8 mm
    return b;
}

// The basin with no depletion (uzk, lzsk, lzpk 0), all percolation free (pfree 1)
// and full upper tension water: water moves only by percolation and runoff.
sacramento_basin percolating_basin() {
    sacramento_basin b = basin();
    b.lzsk = b.lzpk = b.uzk = 0.0;
    b.pfree = 1.0;
    b.uztwc = b.uztwm;
    return b;
}

double lower_contents(const sacramento_basin &b) { return b.lztwc + b.lzfsc + b.lzfpc; }

void step(sacramento_basin &b, double &e, double p) {
    double extra = -1.0;
    sacramento_step(b, e, p, extra);
    EXPECT_EQ(extra, 0.0);
}

TEST(SacramentoStep, OneStepWorkedByHand) {
    sacramento_basin b = basin();
    double e = 5.0;
    step(b, e, 34.0);
    // ET: E1 = 5 x 20/50 = 2. The zones need no balance (0.36 > 0.05; 0.6 > 0.525).
    // Rain: 32 mm fill the tension deficit, twx = 2; ninc = int(4/5 + 1.00001) = 1.
    // Baseflow 0.01 x 40 + 0.05 x 5 = 0.65; lzfpc 39.6, lzfsc 4.75.
    // defr = 1 - 104.35/200 = 0.47825; perc = 1.8 x 2/40 x (1 + 40 defr^2)
    //      = 0.913403025; uzfwc 1.086596975; interflow 0.3 x that = 0.3259790925.
    // Tension water takes 0.8 perc = 0.73072242; percf = 0.2 perc = 0.182680605,
    // fracp = 2 x 0.8 x 0.505/(0.505 + 0.7625) = 0.637475345.
    // The 2 mm of excess rain fit into the upper free water.
    EXPECT_DOUBLE_EQ(e, 2.0);
    EXPECT_DOUBLE_EQ(b.uztwc, 50.0);
    EXPECT_NEAR(b.uzfwc, 0.7606178825 + 2.0, 1e-12);
    EXPECT_NEAR(b.lztwc, 60.73072242, 1e-12);
    EXPECT_NEAR(b.lzfpc, 39.6 + 0.637475345168 * 0.182680605, 1e-10);
    EXPECT_NEAR(b.lzfsc, 4.75 + (1.0 - 0.637475345168) * 0.182680605, 1e-10);
    EXPECT_NEAR(b.channel_inflow, 0.65 + 0.3259790925, 1e-12);
    EXPECT_NEAR(b.balance_residual, 0.0, 1e-12);
}

TEST(SacramentoStep, OneIncrementPerFiveMillimetres) {
    const struct {
        double water;
        int increments;
    } cases[] = {{0.0, 1}, {4.99, 1}, {5.0, 2}, {9.99, 2}, {10.0, 3}, {12.0, 3}, {100.0, 21}};
    for (const auto &c : cases) EXPECT_EQ(sacramento_increments(c.water), c.increments) << c.water;
    EXPECT_EQ(sacramento_increments(NAN), 0);
    EXPECT_EQ(sacramento_increments(1e9), 0);
}

// Dry steps with the upper free water empty and the lower tension water full:
// only the two lower free-water stores drain.
TEST(SacramentoStep, DryRecessionIsGeometric) {
    sacramento_basin b = basin();
    b.uzfwc = 0.0;
    b.lztwc = b.lztwm;
    const double primary = b.lzfpc, supplementary = b.lzfsc;
    double previous = b.lzfpc + b.lzfsc;
    for (int k = 1; k <= 50; ++k) {
        double e = 0.0;
        step(b, e, 0.0);
        EXPECT_NEAR(b.lzfpc, primary * std::pow(1.0 - b.lzpk, k), 1e-11) << k;
        EXPECT_NEAR(b.lzfsc, supplementary * std::pow(1.0 - b.lzsk, k), 1e-11) << k;
        EXPECT_NEAR(b.channel_inflow, previous - (b.lzfpc + b.lzfsc), 1e-12) << k;
        previous = b.lzfpc + b.lzfsc;
    }
    EXPECT_NEAR(b.balance_residual, 0.0, 1e-11);
}

TEST(SacramentoStep, BaseflowOfAStepDoesNotDependOnTheIncrements) {
    // Without percolation (pbase 0) the lower stores only drain; 30 mm of upper
    // free water make 7 increments, an empty one 1.
    sacramento_basin one = basin(), seven = basin();
    one.pbase = seven.pbase = 0.0;
    one.lztwc = seven.lztwc = 100.0;
    one.uzfwc = 0.0;
    seven.uzfwc = 30.0;
    seven.uztwc = 50.0;  // no upper-zone balance
    ASSERT_EQ(sacramento_increments(seven.uzfwc), 7);
    double e = 0.0;
    step(one, e, 0.0);
    step(seven, e, 0.0);
    EXPECT_NEAR(seven.lzfpc, 40.0 * (1.0 - 0.01), 1e-12);
    EXPECT_NEAR(seven.lzfsc, 5.0 * (1.0 - 0.05), 1e-12);
    EXPECT_NEAR(seven.lzfpc, one.lzfpc, 1e-12);
    EXPECT_NEAR(seven.lzfsc, one.lzfsc, 1e-12);
    // Interflow drains 30 mm by 1 - (1 - 0.3) over the step as well.
    EXPECT_NEAR(seven.uzfwc, 30.0 * 0.7, 1e-12);
    EXPECT_NEAR(seven.channel_inflow, 0.65 + 9.0, 1e-12);
}

TEST(SacramentoStep, RainInsideTheTensionDeficitGivesNoRunoff) {
    sacramento_basin b = basin();
    b.uzfwc = 0.0;
    double e = 0.0;
    step(b, e, 29.0);  // deficit 30 mm
    EXPECT_DOUBLE_EQ(b.uztwc, 49.0);
    EXPECT_EQ(b.uzfwc, 0.0);
    // Only the baseflow leaves: 0.01 x 40 + 0.05 x 5.
    EXPECT_NEAR(b.channel_inflow, 0.65, 1e-15);
}

TEST(SacramentoStep, EvapotranspirationBeyondTheTensionWaterTakesFreeWater) {
    sacramento_basin b = basin();
    b.uzfwc = 40.0;
    double e = 52.0;
    b.pbase = 0.0;
    b.uzk = 0.0;
    step(b, e, 0.0);
    // E1 = 52 x 20/50 = 20.8 > 20: all 20 mm, then 32 mm of the 40 mm of free
    // water; the 8 mm left are shared by the capacities 50 and 40.
    EXPECT_DOUBLE_EQ(e, 52.0);
    EXPECT_NEAR(b.uztwc, 8.0 * 50.0 / 90.0, 1e-12);
    EXPECT_NEAR(b.uzfwc, 8.0 * 40.0 / 90.0, 1e-12);

    sacramento_basin dry = basin();
    e = 60.0;  // more than both upper stores hold
    step(dry, e, 0.0);
    EXPECT_DOUBLE_EQ(e, 22.0);
    EXPECT_EQ(dry.uztwc, 0.0);
    EXPECT_EQ(dry.uzfwc, 0.0);
    EXPECT_NEAR(dry.balance_residual, 0.0, 1e-13);
}

TEST(SacramentoStep, FullLowerZoneReturnsTheExcessToUpperFreeWater) {
    // Zero depletion rates keep the full lower zone full; a large pbase asks
    // for more percolation than the upper free water holds, which empties it
    // before the capacity check.
    for (const double uzfwc : {0.5, 20.0}) {
        sacramento_basin b = percolating_basin();
        b.lztwc = b.lztwm;
        b.lzfsc = b.lzfsm;
        b.lzfpc = b.lzfpm;
        b.uzfwc = uzfwc;
        b.pbase = 1000.0;
        double e = 0.0;
        step(b, e, 0.0);
        EXPECT_EQ(lower_contents(b), 200.0) << uzfwc;
        EXPECT_EQ(b.lzfpc, b.lzfpm);
        EXPECT_EQ(b.lzfsc, b.lzfsm);
        EXPECT_DOUBLE_EQ(b.uzfwc, uzfwc) << uzfwc;
        EXPECT_EQ(b.channel_inflow, 0.0);
        EXPECT_NEAR(b.balance_residual, 0.0, 1e-13);
    }
    // A percolation that the upper free water can give is returned before the
    // interflow: 1 mm of each of the five increments, and the interflow then
    // drains 30 percent of the whole 20 mm over the step.
    sacramento_basin b = percolating_basin();
    b.uzk = 0.3;
    b.lztwc = b.lztwm;
    b.lzfsc = b.lzfsm;
    b.lzfpc = b.lzfpm;
    b.uzfwc = 20.0;
    b.pbase = 10.0;
    double e = 0.0;
    step(b, e, 0.0);
    EXPECT_EQ(lower_contents(b), 200.0);
    EXPECT_NEAR(b.uzfwc, 20.0 * 0.7, 1e-12);
    EXPECT_NEAR(b.channel_inflow, 20.0 * 0.3, 1e-12);
}

TEST(SacramentoStep, FullFreeWaterStoresSendPercolationToTensionWater) {
    // 40 mm of rain on full upper tension water, all percolation free (pfree 1)
    // and as fast as the upper free water allows: within the step both lower
    // free-water stores fill, and the percolation of the later increments goes to
    // the lower tension water instead of dividing by their zero deficiency.
    sacramento_basin b = percolating_basin();
    b.lzfsc = b.lzfsm;
    b.lzfpc = b.lzfpm;
    b.lztwc = 50.0;  // the zone balance moves 25 mm of free water to it
    b.uzfwc = 0.0;
    b.pbase = 1000.0;
    double e = 0.0;
    step(b, e, 40.0);
    ASSERT_TRUE(std::isfinite(b.uzfwc) && std::isfinite(b.lztwc));
    EXPECT_EQ(b.lzfpc, b.lzfpm);
    EXPECT_EQ(b.lzfsc, b.lzfsm);
    // No baseflow or interflow: what the rain did not leave in the upper free
    // water or as runoff is in the lower tension water.
    EXPECT_NEAR(b.lztwc, 50.0 + 40.0 - b.uzfwc - b.channel_inflow, 1e-12);
    EXPECT_GT(b.lztwc, 75.0);
    EXPECT_LE(b.lztwc, b.lztwm);
    EXPECT_NEAR(b.balance_residual, 0.0, 1e-12);
    // The next dry steps go on without a number going astray.
    for (int k = 0; k < 5; ++k) step(b, e, 0.0);
    EXPECT_TRUE(std::isfinite(b.uzfwc));
    EXPECT_LE(lower_contents(b), 200.0 + 1e-12);
    EXPECT_NEAR(b.balance_residual, 0.0, 1e-12);
}

TEST(SacramentoStep, PrimaryShareIsAtMostTheWholePercolation) {
    // Empty primary store (80 of 100 mm of free-water capacity, hpl 0.8) beside a
    // nearly full supplementary one: 2 x 0.8 x 1/(1 + 0.05) exceeds 1, so all the
    // free percolation goes to the primary store and lzfsc does not move.
    sacramento_basin b = percolating_basin();
    b.lzfsm = 1.0;
    b.lzfpm = 4.0;
    b.lzfsc = 0.95;
    b.lzfpc = 0.0;
    b.lztwm = 1.0;
    b.lztwc = 1.0;
    b.uzfwc = 2.0;
    b.zperc = 0.0;
    b.pbase = 10.0;
    double e = 0.0;
    step(b, e, 0.0);
    EXPECT_EQ(b.lzfsc, 0.95);
    EXPECT_GT(b.lzfpc, 0.0);
    EXPECT_NEAR(b.lzfpc, 2.0 - b.uzfwc, 1e-13);
    EXPECT_NEAR(b.balance_residual, 0.0, 1e-13);
}

TEST(SacramentoStep, OverflowOfThePrimaryStoreGoesToTensionWater) {
    // Free percolation of 2 mm (pbase 2, uzfwc = uzfwm, zperc 0) into a primary
    // store with 1 mm of room and a supplementary one with 0.1 mm: fracp =
    // 2 x 0.5 x 0.1/0.11; the supplementary store takes its 0.1 mm, the primary
    // store fills, and the 0.9 mm it cannot hold go to the lower tension water.
    sacramento_basin b = percolating_basin();
    b.zperc = 0.0;
    b.lzfpm = b.lzfsm = 10.0;
    b.lzfpc = 9.0;
    b.lzfsc = 9.9;
    b.lztwc = 99.0;
    b.uzfwm = b.uzfwc = 4.0;
    b.pbase = 2.0;
    double e = 0.0;
    step(b, e, 0.0);
    EXPECT_EQ(b.lzfpc, 10.0);
    EXPECT_EQ(b.lzfsc, 10.0);
    EXPECT_NEAR(b.lztwc, 99.9, 1e-12);
    EXPECT_NEAR(b.uzfwc, 2.0, 1e-12);
    EXPECT_NEAR(b.balance_residual, 0.0, 1e-13);
}

TEST(SacramentoStep, BalanceHoldsOverALongRandomSequence) {
    std::mt19937 random(20210712u);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int run = 0; run < 4; ++run) {
        sacramento_basin b = basin();
        // Zero depletion rates, all-free and no-free percolation, and saved water.
        if (run == 1) b.uzk = b.lzsk = b.lzpk = 0.0;
        if (run == 2) b.pfree = 1.0;
        if (run == 3) {
            b.pfree = 0.0;
            b.saved = 20.0;
            b.rexp = 1.7;
        }
        b.pbase = b.lzpk * b.lzfpm + b.lzsk * b.lzfsm + (run == 1 ? 3.0 : 0.0);
        double rain = 0.0, et = 0.0;
        for (int k = 0; k < 20000; ++k) {
            // Dry spells, drizzle and storms that fill every store.
            const double u = unit(random);
            const double p = u < 0.6 ? 0.0 : u < 0.9 ? 5.0 * unit(random) : 150.0 * unit(random);
            double e = unit(random) < 0.3 ? 0.0 : 1.5 * unit(random) * (k % 24 < 12 ? 1.0 : 0.1);
            if (k % 5000 == 4999) e = 500.0;  // empties the upper zone
            const double demand = e;
            step(b, e, p);
            rain += p;
            et += e;
            ASSERT_LE(e, demand + 1e-12);
            const double stores[5] = {b.uztwc, b.uzfwc, b.lztwc, b.lzfsc, b.lzfpc};
            const double capacity[5] = {b.uztwm, b.uzfwm, b.lztwm, b.lzfsm, b.lzfpm};
            for (int z = 0; z < 5; ++z) {
                ASSERT_TRUE(std::isfinite(stores[z])) << run << " " << k << " " << z;
                ASSERT_GE(stores[z], -1e-12) << run << " " << k << " " << z;
                ASSERT_LE(stores[z], capacity[z] + 1e-9) << run << " " << k << " " << z;
            }
            ASSERT_GE(b.channel_inflow, 0.0);
        }
        EXPECT_NEAR(b.balance_residual, 0.0, 1e-9) << run;
        EXPECT_GT(rain, 0.0);
        EXPECT_GT(et, 0.0);
    }
}

// step_sacramento over a week of hours: the residual that the run summary forms
// from the totals equals the running balance residual. A basin of 1000 km2 puts
// 1e-9 mm into the third decimal of the summary's m3 residual.
TEST(SacramentoRun, SummaryResidualEqualsTheBalanceResidual) {
    testsupport::scratch_dir dir;
    reset_process_globals();
    model_state s;
    outputtest::make_grid(s);
    s.sacramento_on = 1;
    s.watershed_area = 1.0e9;
    s.sac_basin = basin();
    s.sac_basin.pbase = 0.0;  // formed by the first call
    alloc_1d_double(s.potential_et, s.cell_count);
    const double hour = 1.0 / 24.0;
    s.time_tolerance_days = 0.01 / 86400.0;
    s.now_days = 100.0;
    s.sacramento_clock = {100.0 - hour, 100.0, hour};
    std::mt19937 random(7u);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int k = 0; k < 168; ++k) {
        for (int c = 1; c <= s.cell_count; ++c)
            s.potential_et[c] = (k % 24 < 12 ? 0.4 : 0.0) * unit(random) / 36000.0;  // cm/s
        if (k % 30 < 4) {
            const double v = 12.0 * unit(random) / 1000.0 * 1.0e9;
            s.infiltration_volume_total += v;
            s.water.move(ledger_node::surface, ledger_node::sacramento, v);
        }
        step_sacramento(s);
        ASSERT_EQ(error_record.fatal, 0);
        s.now_days += hour;
    }
    EXPECT_NEAR(s.sac_basin.pbase, 1.8, 1e-15);
    EXPECT_GT(s.water.moved(ledger_node::sacramento, ledger_node::sacramento_transit), 0.0);
    EXPECT_GT(s.sac_outflow_volume, 0.0);
    EXPECT_GT(s.water.moved(ledger_node::sacramento, ledger_node::atmosphere), 0.0);

    s.summary_file = std::fopen((dir.path() / "run.sum").c_str(), "w");
    ASSERT_NE(s.summary_file, nullptr);
    write_run_summary(s);
    std::fclose(s.summary_file);
    s.summary_file = nullptr;
    const std::string text = dir.read("run.sum");
    const std::string label = "Residual (neg. means mass created (m3):";
    const std::size_t m3 = text.find(label);
    ASSERT_NE(m3, std::string::npos) << text;
    const double residual = std::strtod(text.c_str() + m3 + label.size(), nullptr) / 1.0e6;
    const std::string total = "Sacramento simulation total residual water balance:";
    const std::size_t at = text.find(total);
    ASSERT_NE(at, std::string::npos);
    const double printed = std::strtod(text.c_str() + at + total.size(), nullptr);
    EXPECT_NEAR(printed, s.sac_basin.balance_residual, 1e-15);
    EXPECT_NEAR(residual, s.sac_basin.balance_residual, 1e-9);
    EXPECT_NEAR(s.sac_basin.balance_residual, 0.0, 1e-9);
    reset_process_globals();
}

}  // namespace
