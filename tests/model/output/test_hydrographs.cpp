// Tests of the per-interval time-series writer: the outlet hydrograph lines at the
// hydrograph interval (byte-exact in every mode), the high-precision twin, the
// long-term date number with its leap-year divisor, the outlet inflow rows, and
// the lake and well-level lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/core/calendar.h"
#include "model/core/globals.h"
#include "model/output/hydrographs.h"
#include "model/core/model_state.h"
#include "model/output/output_writers.h"
#include "model/input/input_readers.h"
#include "model/output/point_output.h"
#include "tests/model/output_test_support.h"
#include "support/run_program.h"

namespace {

using outputtest::contents;

class Hydrographs : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.outlet_hydro_file = std::tmpfile();
        s.time_step = 10.0;
        s.hydrograph_interval_steps = 30;  // HYD_FREQ 5 minutes at 10 s steps
        s.keep_running = 1;  // turns of a run that goes on
    }
    void TearDown() override {
        for (std::FILE *f : {s.outlet_hydro_file, s.sig_outlet_hydro_file, s.outlet_inflow_file,
                             s.lake_output_file, s.well_level_file})
            if (f) std::fclose(f);
        s.outlet_hydro_file = s.sig_outlet_hydro_file = s.outlet_inflow_file = nullptr;
        s.lake_output_file = s.well_level_file = nullptr;
        reset_process_globals();
    }
    // One turn at step n of the clock with the outlet discharge q.
    void turn(int n, double q) {
        s.step_number = n;
        s.elapsed_minutes = n * s.time_step / 60.0;
        s.outlet_discharge = q;
        write_time_series(s);
    }
    model_state s;
};

TEST_F(Hydrographs, LinesAtEveryThirtiethStepInMinutes) {
    for (int n = 0; n <= 90; ++n) turn(n, 0.001 * n);
    EXPECT_EQ(contents(s.outlet_hydro_file),
              "    0.00     0.000\n"
              "    5.00     0.030\n"
              "   10.00     0.060\n"
              "   15.00     0.090\n");
    EXPECT_EQ(s.outlet_line_count, 4);
}

TEST_F(Hydrographs, HighPrecisionTwinKeepsMinutesFormat) {
    s.sig_outlet_hydro_file = std::tmpfile();
    s.strict_julian_date = 1;
    s.now_days = 2450000.25;
    turn(30, 1.23456789);
    EXPECT_EQ(contents(s.outlet_hydro_file), "2450000.25000000     1.235\n");
    EXPECT_EQ(contents(s.sig_outlet_hydro_file), "2450000.25     1.234568\n");
}

TEST_F(Hydrographs, CubicFeetPerSecondWithQoutCfs) {
    s.discharge_in_cfs = 1;
    turn(0, 2.0);
    // 2 m3/s x 35.314667 = 70.629334 ft3/s.
    EXPECT_EQ(contents(s.outlet_hydro_file), "    0.00     70.629\n");
}

TEST_F(Hydrographs, LongTermDateNumberUsesTheLeapDivisor) {
    s.long_term = 1;
    s.year = 1996;  // (1996 - 1900) % 4 == 0
    s.day_of_year = 60;
    s.hour = 12;
    s.minute = 30;
    EXPECT_DOUBLE_EQ(longterm_date_number(s), 1996.0 + (60 * 1440 + 750) / 527040.0);
    s.year = 1997;
    EXPECT_DOUBLE_EQ(longterm_date_number(s), 1997.0 + (60 * 1440 + 750) / 525600.0);
    s.year = 1996;
    turn(0, 12.5);
    // 87150 / 527040 = 0.165357468...
    EXPECT_EQ(contents(s.outlet_hydro_file), "   1996.16535747     12.5000\n");
}

TEST_F(Hydrographs, StrictJulianLongTermDateIsTheJulianDate) {
    s.long_term = 1;
    s.strict_julian_date = 1;
    s.now_days = julian_day(2000, 1, 1, 12, 0, 0.0);
    EXPECT_DOUBLE_EQ(longterm_date_number(s), 2451545.0);
}

TEST_F(Hydrographs, SuppressedOutputWritesNothing) {
    parallel_layout.suppress_output = 1;
    turn(0, 1.0);
    EXPECT_EQ(contents(s.outlet_hydro_file), "");
    EXPECT_EQ(s.outlet_line_count, 0);
}

TEST_F(Hydrographs, IntervalOfZeroStepsWritesEveryStep) {
    s.hydrograph_interval_steps = 0;
    turn(0, 1.0);
    turn(1, 2.0);
    EXPECT_EQ(s.outlet_line_count, 2);
}

TEST_F(Hydrographs, OutletInflowRowsCarryTheDayOfYear) {
    s.outlet_inflow_file = std::tmpfile();
    s.q7_input_on = 1;
    s.day_of_year = 100;
    s.hour = 6;
    s.minute = 0;
    turn(0, 3.25);
    EXPECT_EQ(contents(s.outlet_inflow_file), "100.2    3.2    \n");
}

TEST_F(Hydrographs, NutrientLinesCarryTheOutletNodeConcentrationAndMassFlux) {
    // Two links; the outlet is computational node 3 of link 2 (node 4 bounds it).
    s.nutrients_on = 1;
    s.project.nutrient_cards = std::make_unique<nutrient_card_record>();
    s.project.nutrient_cards->hydrograph_output[1].on = 1;  // NO3
    s.channels.link_count = 2;
    alloc_1d_int(s.channels.comp_node_count, 2);
    s.channels.comp_node_count[2] = 3;
    ASSERT_EQ(alloc_3d_double(s.nutrient.stream.conc, 10, 2, 4), 0);
    s.nutrient.stream.conc[2][2][3] = 0.75;  // NO3 (species index 2) at the outlet
    s.nutrient.stream.conc[2][2][4] = 9.0;   // the bounding point is not the outlet
    s.nutrient.stream.conc[1][2][3] = 5.0;   // NO2
    s.nutrient_conc_files[1] = std::tmpfile();
    s.nutrient_mass_files[1] = std::tmpfile();
    turn(30, 2.5);
    EXPECT_EQ(contents(s.nutrient_conc_files[1]), "      5.00000000      0.7500\n");
    EXPECT_EQ(contents(s.nutrient_mass_files[1]), "      5.00000000      1.8750\n");
    double c = -1.0, m = -1.0;
    nutrient_outlet_values(s, 0, c, m);
    EXPECT_EQ(c, 5.0);
    EXPECT_EQ(m, 12.5);
    // Without stream species arrays (no channels) both are 0.
    s.nutrient.stream.conc.release();
    nutrient_outlet_values(s, 1, c, m);
    EXPECT_EQ(c, 0.0);
    EXPECT_EQ(m, 0.0);
    for (std::FILE *f : {s.nutrient_conc_files[1], s.nutrient_mass_files[1]}) std::fclose(f);
    s.nutrient_conc_files[1] = s.nutrient_mass_files[1] = nullptr;
}

TEST_F(Hydrographs, LakeLineHoldsLevelAndVolumeOfEachLake) {
    s.lake_output_file = std::tmpfile();
    s.overland_lake_on = s.lake_output_on = 1;
    s.overland_lake_count = 2;
    s.lakes.assign(3, lake_record{});
    s.lakes[1].elevation = 101.5;
    s.lakes[1].volume = 250.0;
    s.lakes[2].elevation = 99.25;
    s.lakes[2].volume = 12.5;
    turn(60, 0.0);
    EXPECT_EQ(contents(s.lake_output_file),
              "   10.00000000   101.500    250.000    99.250     12.500 \n");
}

TEST_F(Hydrographs, WellLevelLineReadsTheCellOfEachLocation) {
    s.well_level_file = std::tmpfile();
    s.gw_well_level_on = 1;
    alloc_2d_int(s.cell_number_grid, 3, 3);
    s.cell_number_grid[1][2] = 1;
    s.cell_number_grid[2][2] = 2;
    alloc_1d_double(s.water_table_elevation, 2);
    s.water_table_elevation[1] = 98.5;
    s.water_table_elevation[2] = 97.25;
    s.gw_output_location_count = 2;
    alloc_1d_int(s.gw_output_rows, 2);
    alloc_1d_int(s.gw_output_cols, 2);
    s.gw_output_rows[1] = 2;
    s.gw_output_cols[1] = 2;
    s.gw_output_rows[2] = 1;
    s.gw_output_cols[2] = 2;
    turn(0, 0.0);
    EXPECT_EQ(contents(s.well_level_file), "    0.00000000    97.250000    98.500000 \n");
}

// The soil-moisture location line in its three layouts: Richards moistures at the
// listed depth nodes, the two layer moistures of a long-term redistribution run,
// and the cell's root-zone moisture otherwise.
TEST_F(Hydrographs, ThetaLocationLineInEachLayout) {
    s.in_theta_location_on = 1;
    s.theta_location_count = 2;
    alloc_1d_int(s.theta_location_cell, 2);
    s.theta_location_cell[1] = 2;
    s.theta_location_cell[2] = 1;

    // Richards: location 1 lists nodes 3 and 1 of cell 2, location 2 node 2 of cell 1.
    s.inf_richards = 1;
    alloc_1d_int(s.theta_location_depths, 2);
    alloc_2d_int(s.theta_location_nodes, 2, 2);
    s.theta_location_depths[1] = 2;
    s.theta_location_nodes[1][1] = 3;
    s.theta_location_nodes[1][2] = 1;
    s.theta_location_depths[2] = 1;
    s.theta_location_nodes[2][1] = 2;
    alloc_2d_double(s.richards_theta, 2, 3, "THETA");
    s.richards_theta[2][3] = 0.35;
    s.richards_theta[2][1] = 0.125;
    s.richards_theta[1][2] = 0.4;
    std::FILE *f = std::tmpfile();
    write_theta_location_values(s, f);
    EXPECT_EQ(contents(f), "    0.350000     0.125000     0.400000 \n");
    std::fclose(f);

    // Redistribution: root zones of 30 cm (cell 2) and 10 cm (cell 1) under a
    // 20 cm top layer; cell 1 has no lower layer.
    s.inf_richards = 0;
    s.inf_redist = 1;
    s.top_layer_depth_cm = 20.0;
    alloc_1d_double(s.root_zone_depth, 2);
    alloc_1d_double(s.root_zone_water, 2);
    alloc_1d_double(s.root_upper_water, 2);
    alloc_1d_double(s.root_lower_water, 2);
    alloc_1d_double(s.soil_porosity.full(), 2);
    s.root_zone_depth[2] = 30.0;
    s.root_upper_water[2] = 6.0;   // 6 / 20
    s.root_lower_water[2] = 2.5;   // 2.5 / 10
    s.root_zone_water[2] = 8.5;
    s.root_zone_depth[1] = 10.0;
    s.root_upper_water[1] = 4.0;   // 4 / 10
    s.root_zone_water[1] = 4.0;
    s.long_term = 1;
    f = std::tmpfile();
    write_theta_location_values(s, f);
    EXPECT_EQ(contents(f), "    0.300000     0.250000     0.400000   999.990000 \n");
    std::fclose(f);

    // Event run: the cell's root-zone water over its depth.
    s.long_term = 0;
    f = std::tmpfile();
    write_theta_location_values(s, f);
    EXPECT_EQ(contents(f), "    0.283333     0.400000 \n");
    std::fclose(f);
}

}  // namespace

namespace {

// ---- segment fluxes ----

// Three cells in a row (1 2 3); cells 2 and 3 form segment 5, cell 1 none.
class SegmentFluxes : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.grid_rows = 1;
        s.grid_cols = 3;
        s.cell_size = 10.0;
        s.quiet = 1;
        alloc_2d_int(s.cell_number_grid, 2, 4);
        for (int c = 1; c <= 3; ++c) s.cell_number_grid[1][c] = c;
        s.cell_count = 3;
        alloc_1d_int(s.right, 3);
        alloc_1d_int(s.down, 3);
        s.right[1] = 2;
        s.right[2] = 3;
        alloc_1d_double(s.discharge_x, 3);
        alloc_1d_double(s.discharge_y, 3);
        s.q7_fluxes_on = 1;
        s.project.q7_segment_map.name = (dir.path() / "seg.map").string();
        s.project.q7_nodes_to_segs.name = (dir.path() / "pairs.txt").string();
        s.project.q7_segment_fluxes.name = (dir.path() / "fluxes.txt").string();
        dir.write("seg.map",
                  "north: 10.0\nsouth: 0.0\neast: 30.0\nwest: 0.0\nrows: 1\ncols: 3\n0 5 5\n");
    }
    void TearDown() override {
        if (s.point_output_file) std::fclose(s.point_output_file);
        s.point_output_file = nullptr;
        free_point_output(s.point_out);
        s.point_out = nullptr;
        reset_process_globals();
    }
    testsupport::scratch_dir dir;
    model_state s;
};

TEST_F(SegmentFluxes, BoundaryFlowAveragedOverTheInterval) {
    dir.write("pairs.txt", "1\n1 1 5\n");
    create_point_output(s);
    ASSERT_EQ(error_record.fatal, 0);
    // Only the face between cell 1 and cell 2 is a segment boundary.
    s.discharge_x[1] = 0.5;
    s.discharge_x[2] = 9.0;  // inside the segment: not counted
    accumulate_point_output(s);
    s.discharge_x[1] = -1.5;
    accumulate_point_output(s);
    write_point_output_row(s, 100.25);
    accumulate_point_output(s);
    write_point_output_row(s, 100.5);
    std::fflush(s.point_output_file);
    EXPECT_EQ(dir.read("fluxes.txt"),
              "   jday   5         \n"
              "1.000     1.00      \n"
              "1.250     1.50      \n");
}

TEST_F(SegmentFluxes, PairOfASegmentNotInTheMapIsRefused) {
    dir.write("pairs.txt", "2\n1 1 5\n1 2 4\n");
    create_point_output(s);
    // Stored for the driver to report with its message.
    EXPECT_EQ(error_record.code, 97);
    EXPECT_EQ(error_record.fatal, 1);
}

}  // namespace
