// Tests of the run files: which rows of the table open as a function of the
// settings, the labels and codes of failures, the mapping-table exemptions, the
// run-number prefix, the nutrient outlet files, and that the one clean-up closes
// every stream of a run, failed or not.
#include <gtest/gtest.h>

#include <dirent.h>

#include <memory>
#include <string>

#include "tests/model/framework_test_support.h"
#include "model/core/globals.h"
#include "model/core/model_state.h"
#include "model/project/run_files.h"
#include "model/project/run_setup.h"

namespace {

using frameworktest::capture_stdout;

// Number of open file descriptors of this process.
int open_descriptor_count() {
    DIR *d = opendir("/proc/self/fd");
    if (!d) return -1;
    int count = 0;
    while (readdir(d)) ++count;
    closedir(d);
    return count;
}

class RunFiles : public frameworktest::globals_reset {
protected:
    void SetUp() override {
        frameworktest::globals_reset::SetUp();
        baseline = open_descriptor_count();
        // The four files every run opens.
        dir.dir().write("mask.map", "mask\n");
        dir.dir().write("elev.map", "elevation\n");
        s.mask_name = "mask.map";
        s.elevation_name = "elev.map";
        s.summary_name = "summary.txt";
        s.outlet_hydro_name = "outlet.otl";
    }
    void TearDown() override {
        close_run_files(s);
        EXPECT_EQ(open_descriptor_count(), baseline) << "a stream of the run stayed open";
        frameworktest::globals_reset::TearDown();
    }
    // Writes input files that the rows read.
    void inputs(std::initializer_list<const char *> names) {
        for (const char *n : names) dir.dir().write(n, "data\n");
    }
    void open() { open_project_files(s); }
    std::string text1() const { return error_record.text1; }
    std::string text2() const { return error_record.text2; }

    frameworktest::in_scratch_dir dir;
    model_state s;
    int baseline = 0;
};

TEST_F(RunFiles, MinimalRunOpensTheFourFiles) {
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_NE(s.mask_file, nullptr);
    EXPECT_NE(s.elevation_file, nullptr);
    EXPECT_NE(s.summary_file, nullptr);
    EXPECT_NE(s.outlet_hydro_file, nullptr);
    EXPECT_EQ(open_run_file_count(s), 4);
    EXPECT_TRUE(dir.dir().exists("summary.txt"));
    close_run_files(s);
    EXPECT_EQ(open_run_file_count(s), 0);
    EXPECT_EQ(s.summary_file, nullptr);
}

TEST_F(RunFiles, MissingSummaryStopsBeforeTheOutlet) {
    s.summary_name.clear();
    open();
    EXPECT_EQ(error_record.code, 4);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(text1(), "output summary");
    EXPECT_EQ(s.outlet_hydro_file, nullptr);
    EXPECT_EQ(open_run_file_count(s), 2);  // mask and elevation stay open until the clean-up
}

TEST_F(RunFiles, MissingOutletHydrograph) {
    s.outlet_hydro_name.clear();
    open();
    EXPECT_EQ(error_record.code, 4);
    EXPECT_EQ(text1(), "output hydrograph");
}

TEST_F(RunFiles, MissingInputNamesItsKindAndFile) {
    s.elevation_name = "no_such.map";
    open();
    EXPECT_EQ(error_record.code, 4);
    EXPECT_EQ(text1(), "elevation data");
    EXPECT_EQ(text2(), "no_such.map");
    EXPECT_EQ(s.summary_file, nullptr);
    const std::string out = capture_stdout([] { report_error(); });
    EXPECT_EQ(out, "\nError: Unable to open elevation data file.\n  (File: no_such.map)\n");
}

TEST_F(RunFiles, QuotedNameIsOpenedWithoutItsQuotes) {
    dir.dir().write("my mask.map", "mask\n");
    s.mask_name = "\"my mask.map\"";
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_NE(s.mask_file, nullptr);
}

TEST_F(RunFiles, GroundwaterRows) {
    inputs({"bound.dat", "wells.dat", "k.map", "wt.map", "bot.map"});
    s.groundwater_on = 1;
    s.water_table_on = 1;
    s.gw_boundfile_name = "bound.dat";
    s.gw_well_level_on = 1;
    s.out_well_location_name = "wells.dat";
    s.gw_well_level_name = "levels.out";
    s.gw_hycond_map_on = 1;
    s.gw_hycond_map_name = "k.map";
    s.water_table_name = "wt.map";
    s.aquifer_bottom_name = "bot.map";
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_NE(s.gw_boundary_file, nullptr);
    EXPECT_NE(s.well_location_file, nullptr);
    EXPECT_NE(s.well_level_file, nullptr);
    EXPECT_NE(s.gw_hycond_file, nullptr);
    EXPECT_EQ(s.gw_porosity_file, nullptr);  // its card not given
    EXPECT_NE(s.water_table_file, nullptr);
    EXPECT_NE(s.aquifer_bottom_file, nullptr);
    EXPECT_TRUE(dir.dir().exists("levels.out"));
    EXPECT_EQ(open_run_file_count(s), 4 + 6);
}

TEST_F(RunFiles, GroundwaterFilesAreNotTriedWithoutGroundwater) {
    s.gw_boundfile_name = "missing.dat";
    s.water_table_on = 1;  // a water table alone, without GW_SIMULATION
    s.water_table_name = "missing.map";
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(open_run_file_count(s), 4);
}

TEST_F(RunFiles, WaterTableNamedByTwoRowsIsOpenedOnce) {
    // Groundwater with layered soil: rows 10/14 and 11/15 name the same files.
    inputs({"wt.map", "bot.map", "soil.map", "layers.dat", "bound.dat"});
    s.groundwater_on = 1;
    s.water_table_on = 1;
    s.inf_layered = 1;
    s.gw_boundfile_name = "bound.dat";
    s.water_table_name = "wt.map";
    s.aquifer_bottom_name = "bot.map";
    s.soil_type_name = "soil.map";
    s.soil_layer_name = "layers.dat";
    const int before = open_descriptor_count();
    open();
    EXPECT_EQ(error_record.fatal, 0);
    // mask, elevation, summary, outlet, boundary, water table, bottom, soil, layers
    EXPECT_EQ(open_run_file_count(s), 9);
    EXPECT_EQ(open_descriptor_count() - before, 9);
}

TEST_F(RunFiles, RichardsWithoutSoilMapGoesOnWhenTheMappingTableHasARichardsTable) {
    s.inf_richards = 1;
    s.mapping_table_on = 1;
    s.table_present[6] = 1;  // RICHARDS_EQN_INFILTRATION_BROOKS
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.soil_type_file, nullptr);
    EXPECT_EQ(s.soil_layer_file, nullptr);
    EXPECT_NE(s.evap_out_file, nullptr);
}

TEST_F(RunFiles, RichardsWithoutSoilMapOrTableFails) {
    s.inf_richards = 1;
    open();
    EXPECT_EQ(error_record.code, 4);
    EXPECT_EQ(text1(), "soil type");
}

TEST_F(RunFiles, LayeredSoilWithoutSoilMapGoesOn) {
    s.inf_layered = 1;
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.evap_out_file, nullptr);  // only Richards and redistribution write it
}

TEST_F(RunFiles, EvaporationOutputHeader) {
    s.inf_redist = 1;
    open();
    ASSERT_EQ(error_record.fatal, 0);
    close_run_files(s);
    EXPECT_EQ(dir.dir().read("evap_out"),
              "year/month/day hour avgsomo avg_pot  avgetrate  avgfav  avgbottomfav  CFGI "
              "temp(C)  avg_somo_L1  avg_somo_L2\n");

    reset_process_globals();
    model_state r;
    r.mask_name = "mask.map";
    r.elevation_name = "elev.map";
    r.summary_name = "summary.txt";
    r.outlet_hydro_name = "outlet.otl";
    r.inf_richards = 1;
    r.table_present[5] = 1;
    open_project_files(r);
    ASSERT_EQ(error_record.fatal, 0);
    close_run_files(r);
    EXPECT_EQ(dir.dir().read("evap_out"),
              "year/month/day hour avgsomo avg_pot  avgetrate  avgfav  avgbottomfav  CFGI "
              "temp(C)\n");
}

TEST_F(RunFiles, GreenAmptParameterMaps) {
    inputs({"m.map", "ks.map", "hc.map", "phi.map"});
    s.inf_green_ampt = 1;
    s.project.moisture.given = 1;
    s.project.conductivity.given = 1;
    s.project.capillary.given = 1;
    s.project.porosity.given = 1;
    s.project.pore_index.given = 1;  // redistribution only: not tried
    s.moisture_name = "m.map";
    s.conductivity_name = "ks.map";
    s.capillary_name = "hc.map";
    s.porosity_name = "phi.map";
    s.pore_index_name = "missing.map";
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(open_run_file_count(s), 8);
    EXPECT_EQ(s.pore_index_file, nullptr);

    s.inf_redist = 1;  // now the pore index is needed and missing
    close_run_files(s);
    open();
    EXPECT_EQ(error_record.code, 4);
    EXPECT_EQ(text1(), "pore dist. index");
}

TEST_F(RunFiles, GreenAmptTableExemptsTheMissingMaps) {
    s.inf_green_ampt = 1;
    s.mapping_table_on = 1;
    s.table_present[3] = 1;  // GREEN_AMPT_INFILTRATION
    s.table_present[4] = 1;  // GREEN_AMPT_INITIAL_SOIL_MOISTURE
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(open_run_file_count(s), 4);
}

TEST_F(RunFiles, MoistureWithoutItsTableFails) {
    s.inf_green_ampt = 1;
    s.mapping_table_on = 1;
    s.table_present[3] = 1;
    open();
    EXPECT_EQ(error_record.code, 4);
    EXPECT_EQ(text1(), "soil moisture");
}

TEST_F(RunFiles, LongTermRows) {
    inputs({"met.dat", "alb.map"});
    s.long_term = 1;
    s.hydromet_name = "met.dat";
    s.project.albedo.given = 1;
    s.albedo_name = "alb.map";
    s.project.vheight.given = 1;  // read only with Penman-Monteith
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_NE(s.hydromet_file, nullptr);
    EXPECT_NE(s.albedo_file, nullptr);
    EXPECT_EQ(s.vheight_file, nullptr);

    close_run_files(s);
    s.et_penman = 1;
    open();
    EXPECT_EQ(text1(), "veg. height");
    reset_process_globals();
    close_run_files(s);
    s.table_present[7] = 1;  // EVAPOTRANSPIRATION
    open();
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(RunFiles, ChannelRows) {
    inputs({"links.dat", "nodes.dat", "chan.in"});
    s.chan_explicit = 1;
    s.links_name = "links.dat";
    s.nodes_name = "nodes.dat";
    s.channel_input_name = "chan.in";
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_NE(s.links_file, nullptr);
    EXPECT_NE(s.nodes_file, nullptr);
    EXPECT_NE(s.channel_input_file, nullptr);
    EXPECT_EQ(s.stream_cell_file, nullptr);

    close_run_files(s);
    s.non_ortho_channels = 1;
    s.project.non_ortho_channels = 1;
    open();
    EXPECT_EQ(error_record.code, 4);
    EXPECT_EQ(text1(), "grid-stream connectivity");
    EXPECT_EQ(s.links_file, nullptr);
}

TEST_F(RunFiles, InterceptionRetentionAndRoughnessExemptions) {
    s.interception_on = 1;
    s.project.reten_depth.given = 1;
    s.roughness_map_on = 1;
    s.table_present[1] = s.table_present[2] = s.table_present[0] = 1;
    open();
    EXPECT_EQ(error_record.fatal, 0);

    close_run_files(s);
    s.table_present[2] = 0;
    open();
    EXPECT_EQ(text1(), "retention depth");
}

TEST_F(RunFiles, FloodStreamWithoutAName) {
    s.project.flood_stream.given = 1;
    open();
    EXPECT_EQ(error_record.code, 4);
    EXPECT_EQ(text1(), "output flood stream stage");
}

TEST_F(RunFiles, PointListOutputsCarryTheirOwnCodes) {
    inputs({"points.txt"});
    s.in_hyd_location_on = 1;
    s.in_hyd_location_name = "points.txt";
    s.out_hyd_location_name = "no_dir/hyd.out";
    open();
    EXPECT_EQ(error_record.code, 51);
    EXPECT_EQ(text1(), "no_dir/hyd.out");
    EXPECT_EQ(text2(), "points.txt");

    reset_process_globals();
    close_run_files(s);
    s.out_hyd_location_name = "hyd.out";
    s.out_dep_location_on = 1;
    s.out_dep_location_name = "no_dir/dep.out";
    open();
    EXPECT_EQ(error_record.code, 50);
    EXPECT_EQ(text2(), "points.txt");

    reset_process_globals();
    close_run_files(s);
    s.out_dep_location_name = "dep.out";
    s.project.out_con_location.given = 1;
    s.out_con_location_name = "";
    open();
    EXPECT_EQ(error_record.code, 49);
}

TEST_F(RunFiles, ThetaOutputCodeCarriesTheListFirst) {
    inputs({"theta_points.txt"});
    s.in_theta_location_on = 1;
    s.in_theta_location_name = "theta_points.txt";
    s.out_theta_location_name = "no_dir/theta.out";
    open();
    EXPECT_EQ(error_record.code, 48);
    EXPECT_EQ(text1(), "theta_points.txt");
    EXPECT_EQ(text2(), "no_dir/theta.out");
    const std::string out = capture_stdout([] { report_error(); });
    EXPECT_EQ(out.rfind("\nError: Can't open theta location output file: no_dir/theta.out\n", 0),
              0u);
}

TEST_F(RunFiles, OutputFilesOfACalibrationSeriesTakeTheRunPrefix) {
    file_prefix_on = 1;
    file_prefix_number = 0;
    s.storm_sewer_on = 1;
    s.project.pipe_head.given = 1;
    s.pipe_head_name = "head.out";
    for (const char *folder : {"slink/.keep", "debug/.keep"}) dir.dir().write(folder, "");
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_TRUE(dir.dir().exists("0_summary.txt"));
    EXPECT_TRUE(dir.dir().exists("0_outlet.otl"));
    EXPECT_FALSE(dir.dir().exists("summary.txt"));
    // Inputs keep their names, and so do the pipe-network outputs.
    EXPECT_NE(s.mask_file, nullptr);
    EXPECT_TRUE(dir.dir().exists("head.out"));
    EXPECT_FALSE(dir.dir().exists("0_head.out"));
}

TEST_F(RunFiles, PipeOutputsKeepTheirQuotes) {
    s.storm_sewer_on = 1;
    s.project.pipe_head.given = 1;
    s.pipe_head_name = "\"head.out\"";
    s.project.pipe_tile.given = 1;  // given without a name
    s.project.pipe_flow.given = 1;  // after the failing row: not tried
    s.pipe_flow_name = "flow.out";
    open();
    EXPECT_TRUE(dir.dir().exists("\"head.out\""));
    EXPECT_FALSE(dir.dir().exists("flow.out"));
    EXPECT_EQ(error_record.code, 4);
    EXPECT_EQ(text1(), "superlink tile");
}

TEST_F(RunFiles, NutrientOutletFiles) {
    s.nutrients_on = 1;
    s.project.nutrient_cards = std::make_unique<nutrient_card_record>();
    s.project.nutrient_cards->hydrograph_output[1] = {1, "no3"};
    s.project.nutrient_cards->hydrograph_output[9] = {1, "oxygen"};
    s.nutrient_summary_file = std::fopen("ntr.sum", "w");
    ASSERT_NE(s.nutrient_summary_file, nullptr);
    open();
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_NE(s.nutrient_conc_files[1], nullptr);
    EXPECT_NE(s.nutrient_mass_files[9], nullptr);
    EXPECT_EQ(s.nutrient_conc_files[0], nullptr);
    EXPECT_EQ(open_run_file_count(s), 4 + 4 + 1);
    close_run_files(s);
    EXPECT_TRUE(dir.dir().exists("no3.conc"));
    EXPECT_TRUE(dir.dir().exists("oxygen.mass"));
    EXPECT_EQ(dir.dir().read("ntr.sum"),
              "Opening file: no3.conc\nOpening file: no3.mass\n"
              "Opening file: oxygen.conc\nOpening file: oxygen.mass\n"
              "Closing the nutrient output files...\n");
}

TEST_F(RunFiles, NutrientFileThatCannotBeOpened) {
    s.nutrients_on = 1;
    s.project.nutrient_cards = std::make_unique<nutrient_card_record>();
    s.project.nutrient_cards->hydrograph_output[2] = {1, "no_dir/nh4"};
    s.nutrient_summary_file = std::fopen("ntr.sum", "w");
    open();
    EXPECT_EQ(error_record.code, 4);
    EXPECT_EQ(text1(), "nutrient concentration");
    EXPECT_EQ(text2(), "no_dir/nh4.conc");
    close_run_files(s);
    EXPECT_EQ(dir.dir().read("ntr.sum"),
              "Opening file: no_dir/nh4.conc\n"
              "Error opening nutrient concentration output file (hydrograph style )\n"
              "for the Ammonium (NH4+) hydrograph file. \n"
              "Given filename: no_dir/nh4.conc\n"
              "Closing the nutrient output files...\n");
}

TEST_F(RunFiles, CleanUpClosesTheStreamsOutsideTheSlots) {
    write_outlet_inflow_header(s, "inflow.q7");
    ASSERT_NE(s.outlet_inflow_file, nullptr);
    s.point_output_file = std::fopen("segments.out", "w");
    ASSERT_NE(s.point_output_file, nullptr);
    s.elevation_name = "missing.map";
    open();  // fails at row 2
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(open_run_file_count(s), 3);
    close_run_files(s);
    EXPECT_EQ(open_run_file_count(s), 0);
    EXPECT_EQ(open_descriptor_count(), baseline);
    close_run_files(s);  // a second call finds nothing to close
}

TEST_F(RunFiles, OutletInflowFileThatCannotBeOpenedIsSkipped) {
    write_outlet_inflow_header(s, "no_dir/inflow.q7");
    EXPECT_EQ(s.outlet_inflow_file, nullptr);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(RunFiles, EveryOpenedRowIsClosedByTheCleanUp) {
    // Many rows at once; the descriptor count after the clean-up is checked in
    // TearDown, and no stream of the slots survives it.
    inputs({"links.dat", "nodes.dat", "chan.in", "points.txt", "met.dat", "rain.gag",
            "lake.map", "lake.dat", "init.dep", "wsp.in", "q.in"});
    s.chan_explicit = 1;
    s.links_name = "links.dat";
    s.nodes_name = "nodes.dat";
    s.channel_input_name = "chan.in";
    s.explic_backwater = 1;
    s.wat_surf_profile_out_name = "wsp.out";
    s.dis_profile_out_name = "q.out";
    s.explic_hotstart = 1;
    s.wat_surf_profile_name = "wsp.in";
    s.dis_profile_name = "q.in";
    s.project.write_chan_hotstart.given = 1;
    s.write_chan_hotstart_name = "hot.out";
    s.project.ov_init_depth.given = 1;
    s.ov_init_depth_name = "init.dep";
    s.in_hyd_location_on = 1;
    s.in_hyd_location_name = "points.txt";
    s.out_hyd_location_name = "hyd.out";
    s.sig_outlet_hydro_on = 1;
    s.sig_outlet_hydro_name = "sig.otl";
    s.lake_output_on = 1;
    s.lake_output_name = "lake.out";
    s.project.chan_depth.given = s.project.chan_discharge.given = 1;
    s.project.chan_velocity.given = 1;
    s.chan_depth_name = "d.out";
    s.chan_discharge_name = "q.series";
    s.chan_velocity_name = "v.out";
    s.long_term = 1;
    s.hydromet_name = "met.dat";
    s.gauge_file_on = 1;
    s.precip_name = "rain.gag";
    s.project.overland_lake_map.given = 1;
    s.overland_lake_map_name = "lake.map";
    s.overland_lake_file_name = "lake.dat";
    open();
    EXPECT_EQ(error_record.fatal, 0) << text1();
    EXPECT_EQ(open_run_file_count(s), 4 + 20);
    close_run_files(s);
    EXPECT_EQ(open_run_file_count(s), 0);
}

}  // namespace
