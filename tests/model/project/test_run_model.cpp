// Tests of the run driver: the time-step set-up with hand-computed intervals, the
// time loop over a table of pieces (order, error tests, end), the clean-up of the
// process-wide lists, and two runs in one process.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/mass_ledger.h"
#include "model/core/sediment_ledger.h"
#include "model/core/model_state.h"
#include "model/input/input_readers.h"
#include "model/project/run_model.h"
#include "model/project/water_check.h"
#include "model/channel/channel_services.h"
#include "model/core/series.h"
#include "support/run_program.h"
#include "tests/model/sediment/sediment_test_support.h"

namespace {

class SetupTimeSteps : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.grid.timestep = 30.0;
        s.grid.hyd_freq = 15.0;
        s.grid.map_freq = 60;
        s.grid.outslope = 0.001;
    }
    void TearDown() override { reset_process_globals(); }

    // Runs the set-up; returns the console text.
    std::string run() {
        testing::internal::CaptureStdout();
        setup_time_steps(s);
        return testing::internal::GetCapturedStdout();
    }

    model_state s;
};

TEST_F(SetupTimeSteps, StoreTimeStepZeroTakesTheModelStep) {
    run();
    EXPECT_DOUBLE_EQ(s.time_step, 30.0);
    EXPECT_DOUBLE_EQ(s.base_time_step, 30.0);
    EXPECT_DOUBLE_EQ(s.grid.st_time_step, 30.0);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(SetupTimeSteps, TheSmallerOfTheTwoStepsIsUsed) {
    s.grid.st_time_step = 10.0;
    run();
    EXPECT_DOUBLE_EQ(s.time_step, 10.0);
    s.grid.st_time_step = 60.0;
    run();
    EXPECT_DOUBLE_EQ(s.time_step, 30.0);
    EXPECT_DOUBLE_EQ(s.grid.st_time_step, 60.0);
}

TEST_F(SetupTimeSteps, TinyTimeStepIsCode52) {
    s.grid.timestep = 0.001;
    run();
    EXPECT_EQ(error_record.code, 52);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(s.hydrograph_interval_steps, 0);  // nothing after the failure is set
}

TEST_F(SetupTimeSteps, IntervalsInModelSteps) {
    s.grid.rows = 12;
    s.grid.cols = 9;
    s.grid.tot_time = 1440;
    s.grid.gridsize = 90.0;
    s.grid.outrow = 4;
    s.grid.outcol = 5;
    run();
    EXPECT_EQ(s.hydrograph_interval_steps, 30);  // 15 min * 60 / 30 s
    EXPECT_EQ(s.map_interval_steps, 120);        // 60 / 30 s * 60 min
    EXPECT_EQ(s.grid_rows, 12);
    EXPECT_EQ(s.grid_cols, 9);
    EXPECT_EQ(s.mask_rows, 12);
    EXPECT_EQ(s.mask_cols, 9);
    EXPECT_EQ(s.total_time, 1440);
    EXPECT_DOUBLE_EQ(s.cell_size, 90.0);
    EXPECT_EQ(s.outlet_row, 4);
    EXPECT_EQ(s.outlet_col, 5);
    EXPECT_DOUBLE_EQ(s.outlet_slope, 0.001);
    EXPECT_DOUBLE_EQ(s.latitude, 32.0);
    EXPECT_DOUBLE_EQ(s.longitude, -90.0);
}

TEST_F(SetupTimeSteps, MissingHydrographIntervalWarnsAndUsesAnHour) {
    s.grid.hyd_freq = 0.0;
    const std::string out = run();
    EXPECT_EQ(out, "\nWarning: Write hydrograph time step not specified, defaulting to 1 hour.\n");
    EXPECT_EQ(s.hydrograph_interval_steps, 120);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(error_record.code, 0);
}

TEST_F(SetupTimeSteps, MissingMapIntervalDefaultsToSixHours) {
    s.grid.map_freq = 0;
    EXPECT_EQ(run(), "Warning: Write solution time step not specified, defaulting to 6 hours.\n");
    EXPECT_EQ(s.map_interval_steps, 720);
    s.quiet = 1;
    EXPECT_EQ(run(), "");
    EXPECT_EQ(s.map_interval_steps, 720);
}

TEST_F(SetupTimeSteps, MissingOutletSlopeIsCode56) {
    s.grid.outslope = 0.0;
    run();
    EXPECT_EQ(error_record.code, 56);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(SetupTimeSteps, LongTermNeedsSitePositionAndOffset) {
    s.long_term = 1;
    run();
    EXPECT_EQ(error_record.code, 57);  // the default longitude is -90
    reset_process_globals();
    s.grid.longitude = 25.0;
    s.grid.latitude = 0.0;
    run();
    EXPECT_EQ(error_record.code, 57);
    reset_process_globals();
    s.grid.latitude = 60.2;
    run();
    EXPECT_EQ(error_record.code, 58);
    reset_process_globals();
    s.grid.gmt = 2.0;
    s.grid.gmt_given = 1;
    s.grid.qout_cfs = 1;
    s.grid.quiet = 1;
    run();
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.gmt_offset, 2.0);
    EXPECT_EQ(s.gmt_given, 1);
    EXPECT_EQ(s.discharge_in_cfs, 1);
    EXPECT_EQ(s.quiet_card, 1);
}

// A table of test pieces that record their calls.
std::vector<std::string> calls;
int turns_left = 0;

void piece_a(model_state &) { calls.push_back("a"); }
void piece_b(model_state &) { calls.push_back("b"); }
void piece_last(model_state &s) {
    calls.push_back("last");
    s.keep_running = --turns_left > 0;
}
void piece_fatal(model_state &) {
    calls.push_back("fatal");
    raise_printed_error();
}
void piece_warning(model_state &) {
    calls.push_back("warning");
    error_record.code = 55;
    error_record.fatal = 0;
}
void piece_negative_code(model_state &) {
    calls.push_back("negative");
    error_record.code = -1;
}

class TimeLoop : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        calls.clear();
    }
    void TearDown() override { reset_process_globals(); }
    model_state s;
};

TEST_F(TimeLoop, RunsEveryPieceOnceWhenTheLoopFlagIsAlreadyCleared) {
    const time_step_piece pieces[] = {{"a", piece_a}, {"b", piece_b}};
    s.keep_running = 0;
    EXPECT_TRUE(run_time_loop(s, pieces));
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b"}));
}

TEST_F(TimeLoop, TurnsGoOnWhileTheLoopFlagIsSet) {
    const time_step_piece pieces[] = {{"a", piece_a}, {"last", piece_last}};
    turns_left = 3;
    EXPECT_TRUE(run_time_loop(s, pieces));
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "last", "a", "last", "a", "last"}));
}

TEST_F(TimeLoop, FatalErrorRunsNoLaterPiece) {
    const time_step_piece pieces[] = {{"a", piece_a}, {"fatal", piece_fatal}, {"b", piece_b}};
    s.keep_running = 1;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(run_time_loop(s, pieces));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n");
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "fatal"}));
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(TimeLoop, WarningIsPrintedAndTheTurnGoesOn) {
    const time_step_piece pieces[] = {{"warning", piece_warning}, {"b", piece_b}};
    testing::internal::CaptureStdout();
    EXPECT_TRUE(run_time_loop(s, pieces));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nWarning: Write hydrograph time step not specified, defaulting to 1 hour.\n");
    EXPECT_EQ(calls, (std::vector<std::string>{"warning", "b"}));
}

TEST_F(TimeLoop, UnreportedCodeEndsTheLoopAfterTheTurn) {
    const time_step_piece pieces[] = {{"negative", piece_negative_code}, {"b", piece_b}};
    s.keep_running = 1;
    EXPECT_FALSE(run_time_loop(s, pieces));
    EXPECT_EQ(calls, (std::vector<std::string>{"negative", "b"}));
}

// Two cells of 10 m: a piece whose canopy catches 2 mm on both and posts it, then
// a piece that takes 1 mm from cell 2 without posting where it went. The check
// stops the first turn at that piece, naming the canopy and the 0.1 m3.
void piece_rain_posted(model_state &s) {
    for (std::size_t c = 1; c <= 2; ++c) s.interception_store[c] += 2.0;
    s.water.move(ledger_node::atmosphere, ledger_node::canopy, 0.4);
}
void piece_unposted_loss(model_state &s) { s.interception_store[2] -= 1.0; }

TEST_F(TimeLoop, WaterMovedWithoutAPostingStopsTheFirstTurnAtItsPiece) {
    if (!water_check_built) GTEST_SKIP() << "the ledger check is built in debug builds only";
    s.cell_count = 2;
    s.cell_size = 10.0;
    ASSERT_TRUE(s.interception_store.obtain(2));
    s.interception_store[1] = 0.5;
    const time_step_piece pieces[] = {{"rain", piece_rain_posted}, {"leak", piece_unposted_loss},
                                      {"a", piece_a}, {"last", piece_last}};
    turns_left = 3;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(run_time_loop(s, pieces));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(calls, std::vector<std::string>{});
    EXPECT_NE(out.find("canopy changed by -0.100000 m3"), std::string::npos) << out;
    EXPECT_NE(out.find("piece leak."), std::string::npos) << out;
    EXPECT_EQ(error_record.fatal, 1);
}

// One constituent on two cells: a piece whose rain brings 3 g to each and posts
// it, then a piece that moves 1 g of cell 2 into the land pool and posts it, then
// one that takes 2 g from the land pool without posting where it went. The check
// stops the first turn at that piece, naming the constituent, the land pool and
// the 0.002 kg.
void piece_tracer_rain(model_state &s) {
    double *mass = table_value(1, s.transport_tables[transport_table::mass]);
    for (int c = 1; c <= 2; ++c) mass[c] += 3.0;
    post_mass(s, 1, ledger_node::atmosphere, ledger_node::surface, 6.0);
}
void piece_tracer_to_pool(model_state &s) {
    table_value(1, s.transport_tables[transport_table::mass])[2] -= 1.0;
    table_value(1, s.transport_tables[transport_table::land_pool])[2] += 1.0;
    post_mass(s, 1, ledger_node::surface, ledger_node::land_pool, 1.0);
}
void piece_tracer_leak(model_state &s) { table_value(1, s.transport_tables[transport_table::land_pool])[1] -= 2.0; }

TEST_F(TimeLoop, ConstituentMassMovedWithoutAPostingStopsTheFirstTurnAtItsPiece) {
    if (!water_check_built) GTEST_SKIP() << "the ledger check is built in debug builds only";
    s.cell_count = 2;
    s.cell_size = 10.0;
    s.ov_con_trans_mode = 1;
    allocate_constituent_arrays(1, s, 2, 0);
    ASSERT_EQ(s.constituent_count, 1);
    table_value(1, s.transport_tables[transport_table::land_pool])[1] = 5.0;
    const time_step_piece pieces[] = {{"rain", piece_tracer_rain}, {"pool", piece_tracer_to_pool},
                                      {"leak", piece_tracer_leak}, {"a", piece_a}, {"last", piece_last}};
    turns_left = 3;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(run_time_loop(s, pieces));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(calls, std::vector<std::string>{});
    EXPECT_NE(out.find("mass of Contaminant     1 in the land pool changed by -0.002000 kg"), std::string::npos)
        << out;
    EXPECT_NE(out.find("piece leak."), std::string::npos) << out;
    EXPECT_EQ(error_record.fatal, 1);
}

// A rained-on row of six 10 m cells with three soil classes (two silts and a
// sand), draining through cell 6: the real overland erosion piece detaches,
// carries, settles and lets soil out at the outlet. Over 30 turns every move is
// posted, and what the stores lost is what the ledgers took out at the outlet.
// A piece that then carries 0.01 m3 of the sand's loose soil off cell 6 without
// posting stops the first turn there, naming the class, the store and the volume.
void piece_erosion(model_state &s) {
    ++s.step_number;
    overland_erosion(s, 5.0, 10.0, 1e-6);
}
void piece_sand_carried_off(model_state &s) { s.sediment.deposited[6][3] -= 0.01; }

class SedimentTimeLoop : public TimeLoop {
protected:
    void SetUp() override {
        TimeLoop::SetUp();
        sediment_test::make_row(s, 6, 10.0, 0.02, 0.004, 0.002);
        sediment_test::make_record(s, {0.01, 0.05, 0.3}, {2.65, 2.65, 2.65}, {0.3, 0.3, 0.4}, 0.0625, 0.5);
        s.erosion.soil_erosion = 1;
        s.sediment.transport_option = 2;
        for (std::size_t i = 1; i <= 6; ++i) {
            s.sediment.transport_factor[i] = 1.0;
            s.step_rain_rate[i] = 40.0;
        }
        s.outlet_cell = 6;
        s.outlet_slope = 0.02;
        s.outlet_discharge = 0.002;
    }
};

TEST_F(SedimentTimeLoop, TheErosionPiecePostsEveryMoveOfTheSoil) {
    if (!water_check_built) GTEST_SKIP() << "the ledger check is built in debug builds only";
    const double before = sediment_test::soil_total(s);
    const time_step_piece pieces[] = {{"erosion", piece_erosion}, {"last", piece_last}};
    turns_left = 30;
    EXPECT_TRUE(run_time_loop(s, pieces));
    double out = 0.0, detached = 0.0;
    for (int k = 1; k <= 3; ++k) {
        out += sediment_ledger(s, k).moved(ledger_node::surface, ledger_node::outlet) +
               sediment_ledger(s, k).moved(ledger_node::loose_soil, ledger_node::outlet);
        detached += sediment_ledger(s, k).moved(ledger_node::loose_soil, ledger_node::surface);
    }
    EXPECT_GT(detached, 0.0);
    EXPECT_GT(out, 0.0);
    EXPECT_NEAR(before - sediment_test::soil_total(s), out, 1e-12 * before);
}

TEST_F(SedimentTimeLoop, SedimentMovedWithoutAPostingStopsTheFirstTurnAtItsPiece) {
    if (!water_check_built) GTEST_SKIP() << "the ledger check is built in debug builds only";
    const time_step_piece pieces[] = {{"erosion", piece_erosion}, {"leak", piece_sand_carried_off},
                                      {"a", piece_a}, {"last", piece_last}};
    turns_left = 3;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(run_time_loop(s, pieces));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(calls, std::vector<std::string>{});
    EXPECT_NE(out.find("sediment of class 3 (sand) in the loose soil changed by -1.000000e-02 m3"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("piece leak."), std::string::npos) << out;
    EXPECT_EQ(error_record.fatal, 1);
}

TEST(TimeStepSequence, TheTwentySevenPiecesInTheirOrder) {
    const std::vector<std::string> expected = {
        "advance_clock",           "read_precip_event",
        "init_event",              "read_radar_precip",
        "apply_rainfall",          "apply_point_inflows",
        "step_infiltration",       "step_longterm_hydromet",
        "step_sacramento",         "step_evapotranspiration",
        "step_overland_flow",      "step_overland_constituents",
        "step_superlink_coupling", "step_overland_constituent_sources",
        "step_overland_constituent_pools", "step_groundwater",
        "update_overland_lakes",   "step_channel_routing",
        "track_peak_discharge",    "step_channel_constituents",
        "route_channel_constituents", "print_progress",
        "check_simulation_end",    "exchange_plux_maps",
        "finish_event",            "write_time_series",
        "write_maps"};
    std::vector<std::string> names;
    for (const time_step_piece &p : time_step_sequence()) {
        names.push_back(p.name);
        EXPECT_NE(p.run, nullptr);
    }
    EXPECT_EQ(names, expected);
}

// Runs in a scratch directory, where "out_time.dat" is written.
class RunModel : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        old_dir = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
    }
    void TearDown() override {
        std::filesystem::current_path(old_dir);
        reset_process_globals();
    }
    // One run; the console text.
    std::string run(const std::string &project) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        result = run_model(project, nullptr);
        err = testing::internal::GetCapturedStderr();
        return testing::internal::GetCapturedStdout();
    }

    testsupport::scratch_dir dir;
    std::filesystem::path old_dir;
    int result = -1;
    std::string err;
};

TEST_F(RunModel, MissingProjectFileEndsThroughTheCleanUp) {
    const std::string out = run("absent.prj");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(err.find("Error opening project file named: absent.prj\n"), std::string::npos);
    EXPECT_NE(out.find("Run time:"), std::string::npos);
    EXPECT_EQ(testsupport::split_lines(dir.read("out_time.dat")).size(), 1u);
    EXPECT_EQ(dir.read("out_time.dat").substr(0, 16), "total time (s): ");
}

TEST_F(RunModel, SecondRunKeepsNothingOfTheFirst) {
    dir.write("list.txt", "1\n[N] \"%d\"\n");
    dir.write("vals.txt", "7\n");
    dir.write("flows.ts", "KORVA_TS\nrelease\nABSOLUTE\n2004 3 5 0 0 1.5\nEND_TS\n");
    dir.write("first.prj", "KORVAPROJECT\nREPLACE_PARAMS list.txt\nREPLACE_VALS vals.txt\n"
                           "TIME_SERIES_FILE flows.ts\nROWS [N]\n");
    run("first.prj");
    EXPECT_EQ(error_record.fatal, 1);  // stopped before any input is read
    // The clean-up emptied the lists that the cards filled.
    EXPECT_TRUE(replace_param_list.empty());
    EXPECT_EQ(find_time_series("release"), nullptr);
    EXPECT_EQ(replace_line_index, 0);

    const std::string out = run("absent.prj");
    EXPECT_EQ(err, "Error opening project file named: absent.prj\n");
    EXPECT_EQ(out.find("Time step"), std::string::npos);
    EXPECT_EQ(testsupport::split_lines(dir.read("out_time.dat")).size(), 2u);
}

TEST_F(RunModel, SecondFullRunInTheSameProcessRepeatsTheFirst) {
    const std::string header = "north: 300\nsouth: 0\neast: 300\nwest: 0\nrows: 3\ncols: 3\n";
    dir.write("mask.asc", header + "0 1 0\n1 1 1\n0 1 0\n");
    dir.write("elev.asc", header + "10 10 10\n10 9 10\n10 8 10\n");
    dir.write("rough.asc", header + "0.05 0.05 0.05\n0.05 0.05 0.05\n0.05 0.05 0.05\n");
    dir.write("storm.gag", "EVENT test storm\nNRGAG 2\nNRPDS 3\nCOORD 0 0\nCOORD 300 300\n"
                           "GAGES 2021 7 12 14 00 0 0\nGAGES 2021 7 12 14 10 2 4\n"
                           "GAGES 2021 7 12 14 30 3 3\n");
    dir.write("flows.ts", "KORVA_TS\nrelease\nABSOLUTE\n2021 7 12 14 0 1.5\nEND_TS\n");
    dir.write("p.prj", "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\n"
                       "ROUGHNESS rough.asc\nSUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 3\nCOLS 3\n"
                       "GRIDSIZE 100\nTOT_TIME 120\nSTART_DATE 2021 7 12\nSTART_TIME 14 0\n"
                       "TIMESTEP 30\nHYD_FREQ 5\nMAP_FREQ 60\nOUTROW 3\nOUTCOL 2\n"
                       "OUTSLOPE 0.01\nOVERTYPE explicit\nQUIET\nPRECIP_FILE storm.gag\n"
                       "RAIN_INV_DISTANCE\nTIME_SERIES_FILE flows.ts\n");
    const std::string first_out = run("p.prj");
    ASSERT_EQ(error_record.fatal, 0) << first_out;
    const std::string hydrograph = dir.read("p.otl");
    const std::string summary = dir.read("p.sum");
    ASSERT_FALSE(hydrograph.empty());
    EXPECT_NE(summary.find("Total precipitation:"), std::string::npos) << summary;

    // The event counters, held lines, series and run totals all start again.
    const std::string second_out = run("p.prj");
    ASSERT_EQ(error_record.fatal, 0) << second_out;
    EXPECT_EQ(dir.read("p.otl"), hydrograph);
    EXPECT_EQ(dir.read("p.sum"), summary);
    EXPECT_EQ(testsupport::split_lines(dir.read("out_time.dat")).size(), 2u);
}

}  // namespace
