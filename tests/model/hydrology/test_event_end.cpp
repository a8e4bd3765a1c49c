// Tests of the end of an event: the event's mass balance formed from hand-made
// totals (rain = outflow + storage + interception + infiltration gives no error;
// no rain gives -1), the summary it triggers, and the calibration line and record
// with the 35.32 factor of QOUT_CFS.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/calibration/calibration_services.h"
#include "model/core/globals.h"
#include "model/hydrology/event_end.h"
#include "model/hydrology/hydrology_services.h"
#include "model/core/model_state.h"
#include "tests/model/output_test_support.h"

namespace {

using outputtest::contents;

// Four cells of 10 m (100 m2 each).
class EventEnd : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.cell_count = 4;
        s.cell_size = 10.0;
        s.quiet = 1;
        alloc_1d_double(s.depth, 4);
        alloc_1d_double(s.elevation, 4);
        s.end_of_event = 1;
        s.event_number = 1;
    }
    void TearDown() override {
        if (s.summary_file) std::fclose(s.summary_file);
        s.summary_file = nullptr;
        reset_process_globals();
    }
    model_state s;
};

TEST_F(EventEnd, BalancedEventHasNoError) {
    // 2 m3 of rain: 1.2 m3 left at the outlet and 0.002 m on each of the four
    // cells (0.8 m3) remains on the surface.
    s.water.move(ledger_node::atmosphere, ledger_node::surface, 2.0);
    s.water.move(ledger_node::surface, ledger_node::outlet, 1.2);
    for (int i = 1; i <= 4; ++i) s.depth[i] = 0.002;
    form_event_balance(s);
    EXPECT_NEAR(s.final_overland_volume, 0.8, 1e-12);
    EXPECT_NEAR(s.mass_input_original, 2.0, 1e-12);
    EXPECT_NEAR(s.mass_output_final, 2.0, 1e-12);
    EXPECT_NEAR(s.mass_conservation_error, 0.0, 1e-12);
}

TEST_F(EventEnd, InterceptionAndInfiltrationCloseTheBalance) {
    // 10 m3 fell: 1 m3 stayed on the canopy (interception is a run total that was
    // 4 m3 when the event began), 9 m3 reached the ground; 3 m3 infiltrated, 2 m3
    // left, 4 m3 remain on the surface (0.01 m on each cell).
    s.water.move(ledger_node::atmosphere, ledger_node::canopy, 4.0);
    s.event_marks.water = s.water.mark();
    s.water.move(ledger_node::atmosphere, ledger_node::canopy, 1.0);
    s.water.move(ledger_node::atmosphere, ledger_node::surface, 9.0);
    s.water.move(ledger_node::surface, ledger_node::front_soil, 3.0);
    s.water.move(ledger_node::surface, ledger_node::outlet, 2.0);
    for (int i = 1; i <= 4; ++i) s.depth[i] = 0.01;
    form_event_balance(s);
    EXPECT_NEAR(s.mass_input_original, 10.0, 1e-12);
    EXPECT_NEAR(s.mass_conservation_error, 0.0, 1e-12);
}

TEST_F(EventEnd, WaterMissingFromTheBalanceIsANegativeError) {
    s.water.move(ledger_node::atmosphere, ledger_node::surface, 100.0);
    s.water.move(ledger_node::surface, ledger_node::outlet, 90.0);  // 10 m3 unaccounted for
    form_event_balance(s);
    EXPECT_NEAR(s.mass_conservation_error, -0.1, 1e-12);
}

TEST_F(EventEnd, LiftedChannelAreasCountAsAnInputOfTheEvent) {
    // The routing had added 0.5 m3 before the event and 2.5 m3 by its end; the
    // event's 2 m3 and its 100 m3 of rain leave at the outlet.
    s.water.move(ledger_node::channel_floor, ledger_node::channels, 0.5);
    s.event_marks.water = s.water.mark();
    s.water.move(ledger_node::channel_floor, ledger_node::channels, 2.0);
    s.water.move(ledger_node::atmosphere, ledger_node::surface, 100.0);
    s.water.move(ledger_node::surface, ledger_node::outlet, 102.0);
    form_event_balance(s);
    EXPECT_NEAR(s.mass_input_original, 102.0, 1e-12);
    EXPECT_NEAR(s.mass_conservation_error, 0.0, 1e-12);
}

TEST_F(EventEnd, CleanUpWaterCountsAsAnInput) {
    // 1 m3 added by lifting negative depths; 101 m3 leave.
    s.water.move(ledger_node::atmosphere, ledger_node::surface, 100.0);
    s.water.move(ledger_node::overland_cleanup, ledger_node::surface, 1.0);
    s.water.move(ledger_node::surface, ledger_node::outlet, 101.0);
    form_event_balance(s);
    EXPECT_NEAR(s.mass_input_original, 101.0, 1e-12);
    EXPECT_NEAR(s.mass_conservation_error, 0.0, 1e-12);
}

TEST_F(EventEnd, NoRainGivesMinusOne) {
    for (int i = 1; i <= 4; ++i) s.depth[i] = 0.5;
    s.event_initial_overland_volume = 200.0;
    form_event_balance(s);
    EXPECT_EQ(s.mass_conservation_error, -1.0);
}

TEST_F(EventEnd, FinishEventActsOnlyOnTheFlagAndWritesTheSummary) {
    s.summary_file = std::tmpfile();
    s.end_of_event = 0;
    finish_event(s);
    EXPECT_EQ(contents(s.summary_file), "");
    s.end_of_event = 1;
    s.water.move(ledger_node::atmosphere, ledger_node::surface, 1.0);
    s.water.move(ledger_node::surface, ledger_node::outlet, 1.0);
    finish_event(s);
    EXPECT_EQ(s.end_of_event, 0);
    EXPECT_EQ(s.last_finished_event, 1);
    const std::string text = contents(s.summary_file);
    EXPECT_NE(text.find("         KORVA EVENT RUNOFF SIMULATION SUMMARY\n"), std::string::npos);
    EXPECT_NE(text.find("mass conservation error:              0.000000 percent\n"),
              std::string::npos);
}

TEST_F(EventEnd, CalibrationLineAndRecordInCubicMetres) {
    calibration_results record;
    record.event_count = 2;
    record.values_per_event = 1;
    record.peaks.assign(3, 0.0);
    record.volumes.assign(3, 0.0);
    s.calibration_run = 1;
    s.calib_results = &record;
    s.optim_file.file = std::tmpfile();
    s.event_number = 2;
    s.peak_outlet_discharge = 1.5;
    s.outflow_volume = 1234.5;
    finish_event(s);
    EXPECT_EQ(contents(s.optim_file.file), "2     1.500        1234.5\n");
    EXPECT_DOUBLE_EQ(record.peaks[2], 1.5);
    EXPECT_DOUBLE_EQ(record.volumes[2], 1234.5);
    EXPECT_DOUBLE_EQ(record.peaks[1], 0.0);
}

TEST_F(EventEnd, CalibrationValuesWithQoutCfsUseTheFactor3532) {
    calibration_results record;
    record.event_count = 1;
    record.values_per_event = 1;
    record.peaks.assign(2, 0.0);
    record.volumes.assign(2, 0.0);
    s.calibration_run = 1;
    s.discharge_in_cfs = 1;
    s.calib_results = &record;
    s.optim_file.file = std::tmpfile();
    s.peak_outlet_discharge = 2.0;
    s.outflow_volume = 100.0;
    finish_event(s);
    EXPECT_EQ(contents(s.optim_file.file), "1    70.64        3532.0\n");
    EXPECT_DOUBLE_EQ(record.peaks[1], 70.64);
    EXPECT_DOUBLE_EQ(record.volumes[1], 3532.0);
}

}  // namespace
