// Tests of the run set-up: settings derived from minimal hand-written project files,
// every option-check code in its order (from project files or a run state filled
// directly), the start-up header and the output interval in steps.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <memory>
#include <string>

#include "tests/model/framework_test_support.h"
#include "model/core/calendar.h"
#include "model/core/globals.h"
#include "model/core/model_state.h"
#include "model/project/run_files.h"
#include "model/project/run_setup.h"

namespace {

using frameworktest::capture_stdout;

// Uniform rain that passes the precipitation check.
const std::string rain_cards = "PRECIP_UNIF\nRAIN_INTENSITY 25.0\nRAIN_DURATION 30\n";

class RunSetup : public frameworktest::globals_reset {
protected:
    void TearDown() override {
        if (state) close_run_files(*state);
        pause_on_exit = 0;
        frameworktest::globals_reset::TearDown();
    }

    // Reads a project of the given cards into a fresh run state; the console text.
    std::string read(const std::string &cards) {
        dir.dir().write("run.prj", "KORVAPROJECT\n" + cards);
        if (state) close_run_files(*state);
        state = std::make_unique<model_state>();
        return capture_stdout([&] { read_run_parameters("run.prj", *state); });
    }
    // Reads the project and checks it; the code left by the checks (not reported).
    int check(const std::string &cards) {
        read(cards);
        EXPECT_EQ(error_record.fatal, 0) << "reading failed";
        console = capture_stdout([&] { check_project_options(*state); });
        return error_record.code;
    }

    frameworktest::in_scratch_dir dir;
    std::unique_ptr<model_state> state;
    std::string console;
};

TEST_F(RunSetup, MissingProjectFileIsCode3) {
    state = std::make_unique<model_state>();
    testing::internal::CaptureStderr();
    const std::string out = capture_stdout([&] { read_run_parameters("absent.prj", *state); });
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "reading run parameters from project file: absent.prj\n");
    EXPECT_EQ(error_record.code, 3);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(RunSetup, AnnouncesItselfUnlessQuietOrCalibrating) {
    EXPECT_EQ(read(rain_cards),
              "reading run parameters from project file: run.prj\nfinished reading project file\n");
    EXPECT_EQ(read(rain_cards + "SUPER_QUIET\n"),
              "reading run parameters from project file: run.prj\n");
    EXPECT_EQ(state->quiet, 1);
    dir.dir().write("run.prj", "KORVAPROJECT\n" + rain_cards);
    state = std::make_unique<model_state>();
    state->calibration_run = 1;
    EXPECT_EQ(capture_stdout([&] { read_run_parameters("run.prj", *state); }),
              "finished reading project file\n");
}

TEST_F(RunSetup, SimpleDerivedValues) {
    read(rain_cards +
         "EVENT_MIN_Q 0\nTOP_LAYER_DEPTH 0.1\nSOIL_MOIST_DEPTH 0.25\nPAUSE\n"
         "START_DATE 2000 1 1\nSTART_TIME 18 30\nEND_TIME 2000 1 3 6 0\n");
    const model_state &s = *state;
    EXPECT_DOUBLE_EQ(s.event_min_q, 0.05);
    EXPECT_DOUBLE_EQ(s.top_layer_depth_cm, 10.0);
    EXPECT_DOUBLE_EQ(s.soil_moist_depth_cm, 25.0);
    EXPECT_EQ(pause_on_exit, 1);
    EXPECT_EQ(s.year, 2000);
    EXPECT_EQ(s.packed_time, 1830);
    EXPECT_EQ(s.packed_date, 20000101);
    EXPECT_DOUBLE_EQ(s.now_days, 2451545.0 + 6.5 / 24.0);  // noon of 1 January 2000 + 6.5 h
    EXPECT_DOUBLE_EQ(s.event_start_days, s.now_days);
    EXPECT_EQ(s.end_time_on, 1);
    EXPECT_DOUBLE_EQ(s.end_time_days, 2451546.75);
    EXPECT_EQ(s.uniform_rain_on, 1);
    EXPECT_DOUBLE_EQ(s.rain_intensity, 25.0);
    EXPECT_DOUBLE_EQ(s.rain_duration, 30.0);
    EXPECT_DOUBLE_EQ(s.soil_param_constant, 0.15);
    EXPECT_DOUBLE_EQ(s.retention_value, 1.0);
    EXPECT_EQ(s.grid_map_files_on, 1);  // MAP_TYPE 0
}

TEST_F(RunSetup, EventMinimumDischargeAboveTheFloorIsKept) {
    read(rain_cards + "EVENT_MIN_Q 0.2\n");
    EXPECT_DOUBLE_EQ(state->event_min_q, 0.2);
}

TEST_F(RunSetup, MapTypes) {
    read(rain_cards + "MAP_TYPE 1\n");
    EXPECT_EQ(state->datasets_on, 1);
    EXPECT_EQ(state->binary_datasets, 0);
    read(rain_cards + "MAP_TYPE 2\n");
    EXPECT_EQ(state->datasets_on, 1);
    EXPECT_EQ(state->binary_datasets, 1);
    read(rain_cards + "MAP_TYPE 3\n");
    EXPECT_EQ(state->datasets_on + state->grid_map_files_on, 0);
    read(rain_cards + "MAP_TYPE 4\n");
    EXPECT_EQ(error_record.code, 5);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(RunSetup, ChannelSchemes) {
    read(rain_cards + "CHAN_EXPLIC\nM_RIVER 2.5\nNON_ORTHO_CHANNELS\nSTREAM_CELL grid.str\n");
    EXPECT_EQ(state->chan_explicit, 1);
    EXPECT_DOUBLE_EQ(state->channel_bed_thickness, 2.5);
    EXPECT_EQ(state->stream_cell_name, "grid.str");
    read(rain_cards + "DIFFUSIVE_WAVE\n");
    EXPECT_EQ(state->chan_explicit, 1);
    read(rain_cards + "CHAN_MESH\nM_RIVER 2.5\n");
    EXPECT_EQ(state->chan_mesh, 1);
    EXPECT_DOUBLE_EQ(state->channel_bed_thickness, 1.0);  // M_RIVER only for explicit
    EXPECT_EQ(check(rain_cards + "CHAN_PREISS\n"), 0);
    EXPECT_EQ(state->chan_explicit + state->chan_implicit + state->chan_mesh, 0);
    EXPECT_EQ(check(rain_cards + "CHAN_DRAIN\n"), 35);
    EXPECT_EQ(state->chan_drain_init, 1);
    reset_process_globals();
    EXPECT_EQ(check(rain_cards + "CHAN_BACKWATER\n"), 35);
}

TEST_F(RunSetup, InfiltrationSchemeIsOneHot) {
    read(rain_cards + "INF_REDIST\n");
    EXPECT_EQ(state->inf_redist, 1);
    EXPECT_EQ(state->inf_cont_redist, 1);
    EXPECT_EQ(state->inf_green_ampt + state->inf_layered + state->inf_richards, 0);
    read(rain_cards + "INF_REDIST\nNO_CONT_INF_REDIST\n");
    EXPECT_EQ(state->inf_cont_redist, 0);
    read(rain_cards + "GREEN_AMPT\nMOISTURE moist.map\nCONDUCTIVITY ks.map\n");
    EXPECT_EQ(state->inf_green_ampt, 1);
    EXPECT_EQ(state->initial_moisture_on, 1);
    EXPECT_EQ(state->conductivity_on, 1);
    EXPECT_EQ(state->capillary_on, 0);
    EXPECT_EQ(state->moisture_name, "moist.map");
    EXPECT_EQ(state->rate_of_infil_on, 0);
    read(rain_cards + "GREEN_AMPT\nRATE_OF_INFIL rate\n");
    EXPECT_EQ(state->rate_of_infil_on, 1);
    read(rain_cards + "RATE_OF_INFIL rate\n");
    EXPECT_EQ(state->rate_of_infil_on, 0);  // no infiltration scheme
}

TEST_F(RunSetup, GroundwaterNeedsBothCards) {
    read(rain_cards + "GW_SIMULATION\n");
    EXPECT_EQ(state->groundwater_on, 0);
    read(rain_cards + "WATER_TABLE wt.map\nGW_SIMULATION\nGW_UNIF_HYCOND 0.5\n");
    EXPECT_EQ(state->water_table_on, 1);
    EXPECT_EQ(state->groundwater_on, 1);
    EXPECT_EQ(state->stream_loss, 1);
    EXPECT_EQ(state->gw_unif_hycond_on, 1);
    EXPECT_DOUBLE_EQ(state->gw_unif_hycond, 0.5);
    EXPECT_DOUBLE_EQ(state->gw_relax_coeff, 1.0);  // kept without GW_RELAX_COEFF
    read(rain_cards + "WATER_TABLE wt.map\nGW_SIMULATION\nGW_RELAX_COEFF 1.4\n");
    EXPECT_DOUBLE_EQ(state->gw_relax_coeff, 1.4);
}

TEST_F(RunSetup, RelaxationCoefficientOutsideZeroToTwoIsRefused) {
    for (const char *value : {"0", "-0.5", "2", "2.5"}) {
        reset_process_globals();
        const std::string out =
            read(rain_cards + "WATER_TABLE wt.map\nGW_SIMULATION\nGW_RELAX_COEFF " + value + "\n");
        EXPECT_NE(out.find("lies outside (0, 2)"), std::string::npos) << value << out;
        EXPECT_EQ(error_record.fatal, 1) << value;
    }
    reset_process_globals();
    read(rain_cards + "WATER_TABLE wt.map\nGW_SIMULATION\nGW_RELAX_COEFF 1.99\n");
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(state->gw_relax_coeff, 1.99);
}

TEST_F(RunSetup, RoughnessTableCountsOnlyWithoutManningN) {
    // The presence flag of a ROUGHNESS table as the mapping-table scan leaves it.
    dir.dir().write("run.prj", "KORVAPROJECT\n" + rain_cards + "MANNING_N 0.03\n");
    state = std::make_unique<model_state>();
    state->table_present[0] = 1;
    capture_stdout([&] { read_run_parameters("run.prj", *state); });
    EXPECT_EQ(state->roughness_map_on, 0);
    check_project_options(*state);
    EXPECT_EQ(error_record.code, 0);

    dir.dir().write("run.prj", "KORVAPROJECT\n" + rain_cards);
    state = std::make_unique<model_state>();
    state->table_present[0] = 1;
    capture_stdout([&] { read_run_parameters("run.prj", *state); });
    EXPECT_EQ(state->roughness_map_on, 1);
}

TEST_F(RunSetup, OptimizeSetsAndClearsTheCalibrationFlag) {
    dir.dir().write("run.prj", "KORVAPROJECT\n" + rain_cards);
    state = std::make_unique<model_state>();
    state->calibration_run = 1;
    capture_stdout([&] { read_run_parameters("run.prj", *state); });
    EXPECT_EQ(state->calibration_run, 0);
    read(rain_cards + "OPTIMIZE obs.txt\n");
    EXPECT_EQ(state->calibration_run, 1);
    EXPECT_EQ(state->optimize_name, "obs.txt");
}

TEST_F(RunSetup, FlushIntervalNeedsAPositiveNumber) {
    read(rain_cards + "FLUSH_BUFFER 100\n");
    EXPECT_EQ(state->flush_on, 1);
    EXPECT_EQ(state->flush_interval, 100);
    read(rain_cards + "FLUSH_BUFFER\n");
    EXPECT_EQ(state->flush_on, 1);
    EXPECT_EQ(state->flush_interval, 5000);
}

TEST_F(RunSetup, PluxMapNamesLieInTheExchangeDirectory) {
    read(rain_cards + "HXT\nPLUX share.txt\nKSAT_TO_PLUX ks.out\n");
    EXPECT_EQ(state->plux_exchange_name, "exchange/share.txt");
    EXPECT_EQ(state->plux_map_switches[1], 1);
    EXPECT_EQ(state->plux_map_names[1], "exchange/ks.out");
    EXPECT_EQ(state->plux_map_switches[0], 0);
}

TEST_F(RunSetup, NutrientSummaryFileIsOpenedWithItsHeader) {
    read(rain_cards + "NUTRIENTS\nNTR_SUM ntr.sum\n");
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(state->nutrients_on, 1);
    ASSERT_NE(state->nutrient_summary_file, nullptr);
    close_run_files(*state);
    EXPECT_EQ(dir.dir().read("ntr.sum"),
              "\n\n     ***** Nutrient Mass Balance and Summary File *****\n\n"
              "------------------------------------------------------------\n\n"
              "Closing the nutrient output files...\n");
}

TEST_F(RunSetup, NutrientSummaryThatCannotBeOpenedIsCode130) {
    read(rain_cards + "NUTRIENTS\n");
    EXPECT_EQ(error_record.code, 130);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(RunSetup, OutletInflowHeader) {
    read(rain_cards + "Q7_INPUT inflow.q7\n");
    EXPECT_EQ(state->q7_input_on, 1);
    close_run_files(*state);
    EXPECT_EQ(dir.dir().read("inflow.q7"), "  output from KORVA\n\n    JDAY     QIN\n");
}

TEST_F(RunSetup, StartupHeaderGoesIntoTheSummaryFile) {
    state = std::make_unique<model_state>();
    print_startup_info(*state, "ignored.prj");  // no summary file: nothing happens
    state->summary_file = std::fopen("summary.txt", "w");
    ASSERT_NE(state->summary_file, nullptr);
    print_startup_info(*state, "basin.prj");
    close_run_files(*state);
    EXPECT_EQ(dir.dir().read("summary.txt"),
              "\n\n_________KORVA start-up information________\n"
              "Run parameters read from ZEP project file: basin.prj\n");
}

// ---- option checks from project files ----

TEST_F(RunSetup, PlainProjectPassesTheChecks) {
    EXPECT_EQ(check(rain_cards), 0);
    EXPECT_EQ(console, "");
}

TEST_F(RunSetup, NoPrecipitationCardIsCode11) {
    EXPECT_EQ(check(""), 11);
    reset_process_globals();
    EXPECT_EQ(check("PRECIP_UNIF\nRAIN_INTENSITY 10\n"), 11);
}

TEST_F(RunSetup, ManningAndRoughnessMapIsCode6AndComesFirst) {
    EXPECT_EQ(check("MANNING_N 0.03\nROUGHNESS n.map\n"), 6);  // code 11 would follow
}

TEST_F(RunSetup, LongTermChecks) {
    const std::string lt = rain_cards + "LONG_TERM\n";
    EXPECT_EQ(check(lt + "ET_CALC_PENMAN\nET_CALC_DEARDORFF\n"), 7);
    reset_process_globals();
    EXPECT_EQ(check(lt + "INF_REDIST\nALBEDO a.map\n"), 9);
    reset_process_globals();
    EXPECT_EQ(check(lt + "ET_CALC_DEARDORFF\nGREEN_AMPT\n"), 20);
    reset_process_globals();
    EXPECT_EQ(check(lt + "ET_CALC_DEARDORFF\nINF_REDIST\n"), 21);
    reset_process_globals();
    EXPECT_EQ(check(lt + "ET_CALC_DEARDORFF\nINF_REDIST\nALBEDO a.map\n"), 0);
    const std::string penman = lt + "ET_CALC_PENMAN\nINF_REDIST\nALBEDO a.map\n";
    reset_process_globals();
    EXPECT_EQ(check(penman), 22);
    reset_process_globals();
    EXPECT_EQ(check(penman + "VHEIGHT v.map\n"), 23);
    reset_process_globals();
    EXPECT_EQ(check(penman + "VHEIGHT v.map\nTCOEFF t.map\n"), 24);
    reset_process_globals();
    EXPECT_EQ(check(penman + "VHEIGHT v.map\nTCOEFF t.map\nCANOPY c.map\n"), 25);
    reset_process_globals();
    EXPECT_EQ(check(penman + "VHEIGHT v.map\nTCOEFF t.map\nCANOPY c.map\nWILTING_POINT w\n"), 0);
    // Richards' equation needs none of the vegetation maps.
    reset_process_globals();
    EXPECT_EQ(check(lt + "ET_CALC_PENMAN\nINF_RICHARDS\n"), 0);
}

TEST_F(RunSetup, TwoHydrometFormatsAreCode8InAnyRun) {
    EXPECT_EQ(check(rain_cards + "HMET_SAMSON a.dat\nHMET_QAR b.dat\n"), 8);
}

TEST_F(RunSetup, RichardsWithGroundwaterNeedsTheCellThickness) {
    const std::string gw = rain_cards + "INF_RICHARDS\nWATER_TABLE w.map\nGW_SIMULATION\n"
                                        "GW_UNIF_POROSITY 0.3\nGW_UNIF_HYCOND 1e-5\n";
    EXPECT_EQ(check(gw), 32);
    reset_process_globals();
    EXPECT_EQ(check(gw + "AQUIFER_DELTA_Z 0.5\n"), 0);
}

TEST_F(RunSetup, RichardsClearsTheGreenAmptSwitches) {
    EXPECT_EQ(check(rain_cards + "INF_RICHARDS\nMOISTURE m.map\nCONDUCTIVITY k.map\n"), 0);
    EXPECT_EQ(state->initial_moisture_on, 0);
    EXPECT_EQ(state->conductivity_on, 0);
}

TEST_F(RunSetup, ErosionSetsChannelSedimentOnlyWithExplicitChannels) {
    EXPECT_EQ(check(rain_cards + "CHAN_EXPLIC\nSOIL_EROSION\nCHAN_DISCHARGE q.out\n"), 0);
    EXPECT_EQ(state->chan_sediment_on, 1);
    EXPECT_EQ(state->chan_discharge_out, 1);
    EXPECT_EQ(check(rain_cards + "SOIL_EROSION\nCHAN_DISCHARGE q.out\n"), 0);
    EXPECT_EQ(state->chan_sediment_on, 0);
    EXPECT_EQ(state->chan_discharge_out, 0);
}

TEST_F(RunSetup, GroundwaterCardPairs) {
    const std::string gw = rain_cards + "INF_REDIST\nWATER_TABLE w.map\nGW_SIMULATION\n";
    EXPECT_EQ(check(gw + "GW_POROSITY_MAP p.map\nGW_UNIF_POROSITY 0.3\n"), 38);
    reset_process_globals();
    EXPECT_EQ(check(gw + "GW_UNIF_POROSITY 0.3\nGW_HYCOND_MAP k.map\nGW_UNIF_HYCOND 1\n"), 40);
    reset_process_globals();
    EXPECT_EQ(check(gw + "GW_UNIF_POROSITY 0.3\nGW_UNIF_HYCOND 1\nSACRAMENTO sac.dat\n"), 42);
}

TEST_F(RunSetup, PorosityWarningIsReportedAtOnceAndTheChecksGoOn) {
    const int code = check(rain_cards +
                           "INF_REDIST\nWATER_TABLE w.map\nGW_SIMULATION\nGW_HYCOND_MAP k.map\n"
                           "GW_UNIF_HYCOND 1\n");
    EXPECT_EQ(code, 40);
    EXPECT_EQ(console.rfind("\nWarning: You have specified neither spatially-varied, uniform, or "
                            "mapping table porosity for\n",
                            0),
              0u);
}

TEST_F(RunSetup, ConductivityWarningEndsTheChecks) {
    // Warning 41 is stored for the driver; the Sacramento card is then not refused.
    const int code = check(rain_cards +
                           "INF_REDIST\nWATER_TABLE w.map\nGW_SIMULATION\nGW_UNIF_POROSITY 0.3\n"
                           "SACRAMENTO sac.dat\n");
    EXPECT_EQ(code, 41);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(console, "");
}

TEST_F(RunSetup, GroundwaterTableSilencesBothWarnings) {
    read(rain_cards + "INF_REDIST\nWATER_TABLE w.map\nGW_SIMULATION\nSACRAMENTO sac.dat\n");
    state->table_present[14] = 1;  // a GROUNDWATER table in the mapping-table file
    console = capture_stdout([&] { check_project_options(*state); });
    EXPECT_EQ(error_record.code, 42);
    EXPECT_EQ(console, "");
}

TEST_F(RunSetup, ExchangeChecks) {
    EXPECT_EQ(check(rain_cards + "HXT\n"), 43);
    EXPECT_EQ(console, "Running KORVA in HXT environment\n");
    reset_process_globals();
    EXPECT_EQ(check(rain_cards + "HXT\nPLUX share.txt\nHXT_EVENT_NUM\n"), 44);
    EXPECT_EQ(console,
              "Running KORVA in HXT environment\n"
              "KORVA will share data with PLUX through file: exchange/share.txt\n"
              "This is an event call of KORVA by HXT, hxt_event_num=-1\n");
    reset_process_globals();
    EXPECT_EQ(check(rain_cards + "HXT\nPLUX share.txt\nHXT_EVENT_NUM 3\nWATER_TABLE w\nINF_REDIST\n"
                                 "GW_SIMULATION\nGW_UNIF_POROSITY 0.3\nGW_UNIF_HYCOND 1\n"),
              45);
    reset_process_globals();
    EXPECT_EQ(check(rain_cards + "PLUX share.txt\n"), 46);
    reset_process_globals();
    EXPECT_EQ(check(rain_cards + "HXT\nPLUX share.txt\nHXT_EVENT_NUM 2\n"), 0);
}

// ---- option checks on a run state filled directly (pairs that one project file
// cannot produce) ----

class OptionChecks : public frameworktest::globals_reset {
protected:
    int run() {
        check_project_options(s);
        return error_record.code;
    }
    model_state s;
};

TEST_F(OptionChecks, RainSwitchesBothSet) {
    s.gauge_file_on = 1;
    s.uniform_rain_on = 1;
    EXPECT_EQ(run(), 10);
}

TEST_F(OptionChecks, LayeredSoilPairs) {
    s.inf_layered = 1;
    s.inf_green_ampt = 1;
    EXPECT_EQ(run(), 26);
    reset_process_globals();
    s.inf_green_ampt = 0;
    s.inf_redist = 1;
    EXPECT_EQ(run(), 27);
    reset_process_globals();
    s.inf_redist = 0;
    s.inf_richards = 1;
    EXPECT_EQ(run(), 28);
}

TEST_F(OptionChecks, LayeredSoilAloneClearsTheSoilSwitches) {
    s.inf_layered = 1;
    s.initial_moisture_on = s.conductivity_on = s.capillary_on = 1;
    s.porosity_on = s.pore_index_on = s.residual_sat_on = 1;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(s.initial_moisture_on + s.conductivity_on + s.capillary_on + s.porosity_on +
                  s.pore_index_on + s.residual_sat_on,
              0);
}

TEST_F(OptionChecks, RichardsPairs) {
    s.inf_richards = 1;
    s.inf_green_ampt = 1;
    EXPECT_EQ(run(), 29);
    reset_process_globals();
    s.inf_green_ampt = 0;
    s.inf_redist = 1;
    EXPECT_EQ(run(), 30);
}

TEST_F(OptionChecks, GreenAmptWithRedistribution) {
    s.inf_green_ampt = 1;
    s.inf_redist = 1;
    EXPECT_EQ(run(), 33);
}

TEST_F(OptionChecks, ChannelPairs) {
    s.chan_drain_init = 1;
    s.chan_backwater_init = 1;
    EXPECT_EQ(run(), 34);
    reset_process_globals();
    s.chan_drain_init = s.chan_backwater_init = 0;
    s.chan_explicit = 1;
    s.chan_mesh = 1;
    EXPECT_EQ(run(), 37);
}

// ---- output intervals ----

TEST(OutputIntervalSteps, TruncatesTowardZeroAndNeverGoesBelowOne) {
    EXPECT_EQ(output_interval_steps(5.0, 10.0), 30);
    EXPECT_EQ(output_interval_steps(60.0, 30.0), 120);
    EXPECT_EQ(output_interval_steps(360.0, 30.0), 720);
    EXPECT_EQ(output_interval_steps(1.0, 7.0), 8);      // 8.57 steps
    EXPECT_EQ(output_interval_steps(0.1, 30.0), 1);     // 0.2 steps
    EXPECT_EQ(output_interval_steps(1e300, 1.0), INT_MAX);
    EXPECT_EQ(output_interval_steps(std::nan(""), 1.0), 1);
    EXPECT_EQ(output_interval_steps(5.0, 0.0), 1);
}

}  // namespace
