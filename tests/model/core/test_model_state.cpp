// Tests of the run-state object: the defaults of a new object, the range-checked
// member tables and their report at destruction, and that a second object starts
// from the same defaults whatever the first held.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "model/core/globals.h"
#include "model/core/model_state.h"

namespace {

TEST(ModelState, NewObjectHoldsTheDefaults) {
    auto s = std::make_unique<model_state>();
    EXPECT_DOUBLE_EQ(s->grid.latitude, 32.0);
    EXPECT_DOUBLE_EQ(s->grid.longitude, -90.0);
    EXPECT_EQ(s->rain.interpolation, 1);
    EXPECT_EQ(s->rain.precip_kind, 0);
    EXPECT_EQ(s->project.calib_comp_data, 1);
    EXPECT_EQ(s->project.calib_obj_func, 1);
    // The card defaults belong to the reader, not to the new record.
    EXPECT_DOUBLE_EQ(s->project.m_river, 0.0);
    EXPECT_EQ(s->project.hxt_event_num, 0);
    EXPECT_EQ(s->project.nutrient_cards, nullptr);

    EXPECT_EQ(s->summary_file, nullptr);
    EXPECT_EQ(s->mask_file, nullptr);
    EXPECT_EQ(s->outlet_hydro_file, nullptr);
    EXPECT_EQ(s->pipe_tile_file, nullptr);
    EXPECT_EQ(s->calib_results, nullptr);
    EXPECT_EQ(s->point_out, nullptr);
    EXPECT_TRUE(s->cell_number_grid.empty());
    EXPECT_EQ(s->project_file_name, "");
    EXPECT_EQ(s->cell_count, 0);
    EXPECT_EQ(s->quiet, 0);
    EXPECT_EQ(s->keep_running, 0);
    EXPECT_DOUBLE_EQ(s->now_days, 0.0);

    EXPECT_EQ(s->overland_scheme, 1);
    EXPECT_DOUBLE_EQ(s->cubic_feet_per_cubic_metre, 35.314667);
    EXPECT_DOUBLE_EQ(s->channel_constant, 998200.0);
    EXPECT_EQ(s->channel_setup_setting, 2);
    EXPECT_EQ(s->constituent_output_name, "con_output");
    EXPECT_EQ(s->gw_solver_switch, 1);
    EXPECT_DOUBLE_EQ(s->gw_relax_coeff, 1.0);
    EXPECT_DOUBLE_EQ(s->channel_bed_thickness, 1.0);
    EXPECT_EQ(s->contaminant_input_index, -1);
    EXPECT_EQ(s->flush_interval, 5000);
    EXPECT_DOUBLE_EQ(s->rain_param_a, 80.0);
    EXPECT_DOUBLE_EQ(s->rain_param_b, 27.0);
    EXPECT_EQ(s->run_summary_switch, 1);

    EXPECT_EQ(s->erosion.soil_erosion, 0);
    EXPECT_EQ(s->erosion.settings[4], 4);
    EXPECT_EQ(s->erosion.settings[0], 0);
    EXPECT_EQ(s->erosion.files[6], "");

    for (const soil_layer_record &row : s->soil_layers)
        for (double v : row.values) ASSERT_EQ(v, 0.0);
    EXPECT_EQ(s->soil_layers.size(), 151u);
    EXPECT_EQ(s->precip_records.size(), 2000u);
    EXPECT_EQ(s->precip_records[1999].minute, 0);
}

TEST(ModelState, MemberTablesAreEmptyAndNamed) {
    model_state s;
    EXPECT_TRUE(s.precip_conc.empty());
    EXPECT_EQ(s.precip_conc.name(), "precip_conc");
    EXPECT_EQ(s.OV_MASS_INIT.name(), "OV_MASS_INIT");
    EXPECT_EQ(s.event_ov_land_mass.name(), "event_ov_land_mass");
    EXPECT_EQ(s.ov_precip_dmt.name(), "ov_precip_dmt");
    EXPECT_EQ(s.GLOBAL_MASS_FINAL.name(), "GLOBAL_MASS_FINAL");
    EXPECT_EQ(s.constituent_type.name(), "constituent_type");
    EXPECT_TRUE(s.constituent_type.empty());
    for (const double_table &t : s.transport_tables) {
        EXPECT_EQ(t.rows(), 0);
        EXPECT_EQ(t.columns(), 0);
    }
}

TEST(ModelState, OutOfRangeAccessIsReportedOncePerMemberAtDestruction) {
    auto s = std::make_unique<model_state>();
    ASSERT_EQ(grow_double_array(s->OV_MASS_INIT, 3, 1.5), 0);
    ASSERT_EQ(grow_int_array_fill(s->constituent_type, 3, 2), 0);
    ASSERT_EQ(grow_double_array(s->GLOBAL_MASS_INIT, 3, 0.0), 0);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_DOUBLE_EQ(s->OV_MASS_INIT[i], 1.5);
        EXPECT_EQ(s->constituent_type[i], 2);
        s->GLOBAL_MASS_INIT[i] = i;
    }
    EXPECT_FALSE(s->OV_MASS_INIT.bad_range());
    EXPECT_FALSE(s->GLOBAL_MASS_INIT.bad_range());
    s->OV_MASS_INIT[0] = 7.0;      // below the range
    s->constituent_type[4] = 9;   // above the range
    s->constituent_type[-1] = 9;  // a second bad access of the same member
    EXPECT_TRUE(s->OV_MASS_INIT.bad_range());
    EXPECT_TRUE(s->constituent_type.bad_range());
    EXPECT_FALSE(s->GLOBAL_MASS_INIT.bad_range());
    EXPECT_DOUBLE_EQ(s->OV_MASS_INIT[1], 1.5);  // the array itself is untouched

    testing::internal::CaptureStdout();
    s.reset();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: bad range addressed in array\nError: bad range addressed in array\n");
}

TEST(ModelState, SecondObjectStartsFromTheSameDefaults) {
    auto first = std::make_unique<model_state>();
    first->grid.rows = 50;
    first->grid.latitude = 45.0;
    first->project.long_term = 1;
    first->project.summary = {"run.sum", 1};
    first->quiet = 1;
    first->overland_scheme = 3;
    first->erosion.settings[4] = 9;
    ASSERT_EQ(grow_double_array(first->precip_conc, 4, 2.0), 0);
    first.reset();

    model_state second;
    EXPECT_EQ(second.grid.rows, 0);
    EXPECT_DOUBLE_EQ(second.grid.latitude, 32.0);
    EXPECT_EQ(second.project.long_term, 0);
    EXPECT_EQ(second.project.summary.name, "");
    EXPECT_EQ(second.quiet, 0);
    EXPECT_EQ(second.overland_scheme, 1);
    EXPECT_EQ(second.erosion.settings[4], 4);
    EXPECT_TRUE(second.precip_conc.empty());
}

TEST(ModelState, MemberRecordResets) {
    project_params p;
    p.long_term = 1;
    p.calib_obj_func = 0;
    p.nutrient_cards = std::make_unique<nutrient_card_record>();
    init_project_params(p);
    EXPECT_EQ(p.long_term, 0);
    EXPECT_EQ(p.calib_obj_func, 1);
    EXPECT_EQ(p.nutrient_cards, nullptr);

    grid_params g;
    g.longitude = 10.0;
    g.rows = 5;
    init_grid_params(g);
    EXPECT_DOUBLE_EQ(g.longitude, -90.0);
    EXPECT_EQ(g.rows, 0);

    rain_params r;
    r.interpolation = 0;
    r.precip_file = {"rain.txt", 1};
    init_rain_params(r);
    EXPECT_EQ(r.interpolation, 1);
    EXPECT_EQ(r.precip_file.given, 0);

    erosion_record e;
    e.settings[4] = 4;
    e.files[0] = "sed.txt";
    init_location_record(e);
    EXPECT_EQ(e.settings[4], 0);
    EXPECT_EQ(e.files[0], "");

    soil_layer_record row;
    row.values[49] = 3.0;
    init_soil_layer_record(row);
    EXPECT_EQ(row.values[49], 0.0);
}

}  // namespace
