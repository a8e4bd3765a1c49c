// Soil and vegetation inputs on hand-written maps, tables and soil tables: the
// unit conversions, the GREEN_AMPT_INFILTRATION table, the soil map, area
// reduction, the moisture deficit and its clamp, the water table and aquifer
// bottom, the three-layer soil table, the redistribution and layered checks, the
// Richards column sizing and the bounds of a uniform initial moisture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/layered_soil.h"
#include "model/input/input_readers.h"
#include "model/input/soil_inputs.h"
#include "model/input/soil_tables.h"
#include "model/core/model_state.h"
#include "model/project/project_file.h"
#include "support/captured_output.h"
#include "support/run_program.h"

namespace {

using testsupport::map_text;
using testsupport::printed;
using testsupport::printed_err;

// A mapping-table row: id in columns 1-6, values from column 87.
std::string table_row(int id, const std::string &values) {
    char id_field[16];
    std::snprintf(id_field, sizeof id_field, "%-6d", id);
    std::string line = id_field;
    line += "soil";
    line.resize(86, ' ');
    return line + values + "\n";
}

// A 2 x 2 grid whose mask leaves out row 1, column 2: cells 1 / 2 3.
class SoilInputs : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.grid_rows = 2;
        s.grid_cols = 2;
        s.cell_size = 10.0;
        s.quiet = 1;
        alloc_2d_int(s.cell_number_grid, 3, 3);
        alloc_2d_int(s.data_grid, 3, 3);
        s.cell_number_grid[1][1] = 1;
        s.cell_number_grid[2][1] = 2;
        s.cell_number_grid[2][2] = 3;
        s.cell_count = 3;
        alloc_1d_double(s.elevation, 3);
        alloc_1d_double(s.depth, 3);
    }
    void TearDown() override {
        for (std::FILE **f : {&s.conductivity_file, &s.capillary_file, &s.porosity_file,
                              &s.moisture_file, &s.soil_type_file, &s.soil_layer_file,
                              &s.water_table_file, &s.aquifer_bottom_file, &s.pore_index_file,
                              &s.residual_sat_file})
            if (*f) std::fclose(*f), *f = nullptr;
        reset_process_globals();
    }
    std::FILE *file(const std::string &name, const std::string &text) {
        dir.write(name, text);
        return std::fopen((dir.path() / name).c_str(), "r");
    }
    std::string path(const std::string &name) const { return (dir.path() / name).string(); }
    // The 2 x 2 map of the three cells' values (the outside cell holds 9).
    std::FILE *cells_map(const std::string &name, const std::string &a, const std::string &b,
                         const std::string &c) {
        return file(name, map_text(2, 2, a + " 9\n" + b + " " + c + "\n"));
    }
    // Green and Ampt with the three parameter maps and a moisture map.
    void green_ampt_maps(const std::string &moisture) {
        s.inf_green_ampt = 1;
        s.conductivity_on = s.capillary_on = s.porosity_on = s.initial_moisture_on = 1;
        s.conductivity_file = cells_map("ks.map", "3.6", "0.36", "7.2");
        s.capillary_file = cells_map("psi.map", "25", "10", "0");
        s.porosity_file = cells_map("phi.map", "0.4", "0.45", "0.5");
        s.moisture_file = cells_map("theta.map", moisture, "0.2", "0.5");
        allocate_soil_cell_arrays(s);
    }

    testsupport::scratch_dir dir;
    model_state s;
};

TEST_F(SoilInputs, NothingWithoutAnInfiltrationScheme) {
    allocate_soil_cell_arrays(s);
    EXPECT_TRUE(s.soil_ksat.empty());
    read_soil_parameters(s);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(SoilInputs, GreenAmptMapsAreConvertedToMetresAndSeconds) {
    green_ampt_maps("0.1");
    read_soil_parameters(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_NEAR(s.soil_ksat[1], 1.0e-5, 1e-20);   // 3.6 cm/h
    EXPECT_NEAR(s.soil_ksat[3], 2.0e-5, 1e-20);
    EXPECT_NEAR(s.soil_capillary[1], 0.25, 1e-15);  // 25 cm
    EXPECT_NEAR(s.soil_capillary[2], 0.10, 1e-15);
    EXPECT_DOUBLE_EQ(s.soil_porosity[2], 0.45);
    // The deficit is porosity minus initial moisture.
    EXPECT_NEAR(s.moisture_state[1], 0.3, 1e-15);
    EXPECT_NEAR(s.moisture_state[2], 0.25, 1e-15);
    EXPECT_NEAR(s.moisture_state[3], 0.0, 1e-15);
}

TEST_F(SoilInputs, MoistureAbovePorosityIsClampedWithAWarning) {
    green_ampt_maps("0.45");
    const std::string out = printed([&] { read_soil_parameters(s); });
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_NE(out.find("Warning: initial water content > phi at grid 1\n"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("at grid 2"), std::string::npos);
    EXPECT_EQ(s.moisture_state[1], 0.0);
}

TEST_F(SoilInputs, EchoesGoToTheSummaryFile) {
    green_ampt_maps("0.1");
    s.conductivity_name = "ks.map";
    s.summary_file = std::tmpfile();
    read_soil_parameters(s);
    std::rewind(s.summary_file);
    char line[256] = {};
    ASSERT_TRUE(std::fgets(line, sizeof line, s.summary_file));
    EXPECT_STREQ(line, "reading saturated hydraulic conductivity map from file: ks.map\n");
    std::fclose(s.summary_file);
    s.summary_file = nullptr;
}

TEST_F(SoilInputs, NegativeConductivityIsRefusedNamingTheCell) {
    green_ampt_maps("0.1");
    std::fclose(s.conductivity_file);
    s.conductivity_file = cells_map("ks2.map", "3.6", "-1", "7.2");
    const std::string out = printed([&] { read_soil_parameters(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("grid cell 2"), std::string::npos) << out;
}

TEST_F(SoilInputs, GreenAmptTableFillsTheSixColumns) {
    s.inf_green_ampt = 1;
    s.mapping_table_on = 1;
    s.table_present[3] = 1;  // GREEN_AMPT_INFILTRATION
    s.conductivity_on = s.capillary_on = s.porosity_on = 1;
    s.mapping_table_name = path("map.cmt");
    dir.write("soils.idx", map_text(2, 2, "1 0\n2 1\n"));
    dir.write("map.cmt", "KORVA_INDEX_MAP_TABLES\nINDEX_MAP \"" + path("soils.idx") +
                             "\" \"Soils\"\nGREEN_AMPT_INFILTRATION \"Soils\"\nNUM_IDS 2\n"
                             "ID DESCRIPTION KS PSI PHI LAMBDA THR SIX\n" +
                             table_row(1, "3.6 25 0.4 0.3 0.05 0.27") +
                             table_row(2, "0.36 10 0.5 0.2 0.06 0.28"));
    allocate_soil_cell_arrays(s);
    s.initial_moisture_on = 1;
    s.moisture_file = cells_map("m.map", "0", "0", "0");
    const std::string out = printed([&] { read_soil_parameters(s); });
    ASSERT_EQ(error_record.fatal, 0) << out;
    EXPECT_NEAR(s.soil_ksat[1], 1.0e-5, 1e-20);
    EXPECT_NEAR(s.soil_ksat[2], 1.0e-6, 1e-20);
    EXPECT_NEAR(s.soil_capillary[2], 0.10, 1e-15);
    EXPECT_DOUBLE_EQ(s.soil_porosity[3], 0.4);
    EXPECT_DOUBLE_EQ(s.soil_pore_index[2], 0.2);
    EXPECT_DOUBLE_EQ(s.soil_residual[1], 0.05);
    EXPECT_DOUBLE_EQ(s.soil_sixth[2], 0.28);
}

TEST_F(SoilInputs, ParameterWithoutMapOrTableNeedsASoilRow) {
    s.inf_green_ampt = 1;
    allocate_soil_cell_arrays(s);
    const std::string out = printed([&] { read_soil_parameters(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("no saturated hydraulic conductivity for grid cell 1"), std::string::npos)
        << out;
    EXPECT_NE(out.find("soil index 0"), std::string::npos) << out;
}

TEST_F(SoilInputs, ParametersFromTheSoilRowsBySoilIndex) {
    s.inf_green_ampt = 1;
    allocate_soil_cell_arrays(s);
    s.soil_type_file = file("soil.map", map_text(2, 2, "4 0\n4 5\n"));
    s.soil_type_name = "soil.map";
    for (int k : {4, 5}) {
        auto &v = s.soil_layers[static_cast<std::size_t>(k)].values;
        v[layer_conductivity_field] = 3.6 * (k - 3);
        v[layer_capillary_field] = 10.0 * k;
        v[layer_porosity_field] = 0.1 * k;
        s.soil_row_read[static_cast<std::size_t>(k)] = 1;
    }
    s.initial_moisture_on = 1;
    s.moisture_file = cells_map("m.map", "0", "0", "0");
    read_soil_parameters(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.soil_index[1], 4);
    EXPECT_EQ(s.soil_index[2], 4);
    EXPECT_EQ(s.soil_index[3], 5);
    EXPECT_NEAR(s.soil_ksat[3], 2.0e-5, 1e-20);
    EXPECT_NEAR(s.soil_capillary[1], 0.40, 1e-15);
    EXPECT_NEAR(s.soil_porosity[3], 0.5, 1e-15);
    EXPECT_NEAR(s.moisture_state[3], 0.5, 1e-15);  // dry soil: the deficit is the porosity
}

TEST_F(SoilInputs, AreaReductionWithoutFileOrTableIsOne) {
    s.inf_green_ampt = 1;
    s.project.area_reduction.given = 1;
    allocate_soil_cell_arrays(s);
    read_area_reduction(s);
    EXPECT_EQ(error_record.fatal, 0);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(s.area_reduction[i], 1.0);
}

TEST_F(SoilInputs, AreaReductionFromAFileIsOneMinusTheValue) {
    s.inf_green_ampt = 1;
    s.project.area_reduction.given = 1;
    s.project.area_reduction.name = path("ar.map");
    dir.write("ar.map", map_text(2, 2, "0.3 9\n0 1\n"));
    allocate_soil_cell_arrays(s);
    read_area_reduction(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_NEAR(s.area_reduction[1], 0.7, 1e-15);
    EXPECT_EQ(s.area_reduction[2], 1.0);
    EXPECT_EQ(s.area_reduction[3], 0.0);
}

TEST_F(SoilInputs, AreaReductionFileThatCannotBeOpened) {
    s.inf_green_ampt = 1;
    s.project.area_reduction.given = 1;
    s.project.area_reduction.name = path("missing.map");
    allocate_soil_cell_arrays(s);
    const std::string out = printed([&] { read_area_reduction(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("Can't open area reduction file named: "), std::string::npos) << out;
}

TEST_F(SoilInputs, RedistributionWithoutPoreIndexStopsBeforeTheResidualSaturation) {
    s.inf_redist = 1;
    s.conductivity_on = s.capillary_on = s.porosity_on = 1;
    s.conductivity_file = cells_map("ks.map", "3.6", "0.36", "7.2");
    s.capillary_file = cells_map("psi.map", "25", "10", "1");
    s.porosity_file = cells_map("phi.map", "0.4", "0.45", "0.5");
    s.residual_sat_file = cells_map("thr.map", "0.05", "0.05", "0.05");
    s.project.residual_sat.given = 1;
    allocate_soil_cell_arrays(s);
    std::string out;
    const std::string err = printed_err([&] { out = printed([&] { read_soil_parameters(s); }); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(err, "For infiltration redistribution, pore index map must be specified\n"
                   "Program stopped.\n");
    EXPECT_EQ(s.soil_residual[1], 0.0);  // not read
}

TEST_F(SoilInputs, RedistributionCopiesTheInitialMoisture) {
    s.inf_redist = 1;
    s.conductivity_on = s.capillary_on = s.porosity_on = s.initial_moisture_on = 1;
    s.conductivity_file = cells_map("ks.map", "3.6", "0.36", "7.2");
    s.capillary_file = cells_map("psi.map", "25", "10", "1");
    s.porosity_file = cells_map("phi.map", "0.4", "0.45", "0.5");
    s.pore_index_file = cells_map("lam.map", "0.3", "0.3", "0.3");
    s.residual_sat_file = cells_map("thr.map", "0.05", "0.05", "0.05");
    s.moisture_file = cells_map("theta.map", "0.2", "0.25", "0.3");
    s.project.pore_index.given = s.project.residual_sat.given = 1;
    allocate_soil_cell_arrays(s);
    read_soil_parameters(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.soil_pore_index[2], 0.3);
    EXPECT_DOUBLE_EQ(s.soil_residual[3], 0.05);
    EXPECT_DOUBLE_EQ(s.moisture_state[2], 0.25);
    EXPECT_DOUBLE_EQ(s.initial_moisture[3], 0.3);
}

TEST_F(SoilInputs, WaterTableGivesTheAquiferBottomUnderRichards) {
    s.inf_richards = 1;
    s.water_table_on = 1;
    s.groundwater_on = 1;
    s.water_table_file = cells_map("wt.map", "100.0", "98.5", "97");
    s.aquifer_bottom_file = cells_map("ab.map", "50", "50", "50");
    read_water_table(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.water_table_elevation[1], 100.0);
    EXPECT_NEAR(s.aquifer_bottom[1], 99.9, 1e-12);  // whatever the map says
    EXPECT_NEAR(s.aquifer_bottom[3], 96.9, 1e-12);
    EXPECT_EQ(s.water_table_file, nullptr);  // closed after reading
    EXPECT_EQ(s.unsat_exchange_depth.last(), 3u);
}

TEST_F(SoilInputs, WaterTableAndAquiferBottomWithGroundwater) {
    s.inf_redist = 1;
    s.water_table_on = 1;
    s.groundwater_on = 1;
    s.water_table_file = cells_map("wt.map", "100.0", "98.5", "97");
    s.aquifer_bottom_file = cells_map("ab.map", "50", "51", "52");
    read_water_table(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.aquifer_bottom[2], 51.0);
    EXPECT_EQ(s.aquifer_bottom_file, nullptr);
}

// ---- three-layer soil table ----

const char *layer_table(int second) {
    static std::string text;
    text = "2 " + std::to_string(second) +
           "\n7\n1.5 20.0 0.45 0.20 10.0\n0.5 25.0 0.40 0.22 30.0\n0.1 30.0 0.35 0.25\n"
           "12\n2.0 10.0 0.40 0.10 5.0\n1.0 11.0 0.41 0.11 6.0\n0.4 12.0 0.42 x\n";
    return text.c_str();
}

TEST_F(SoilInputs, ThreeLayerTablePlacesItsFourteenValues) {
    std::FILE *f = file("layers.tab", layer_table(0));
    read_soil_layer_table(f, "layers.tab", s);
    std::fclose(f);
    ASSERT_EQ(error_record.fatal, 0);
    const auto &v = s.soil_layers[7].values;
    EXPECT_EQ(v[4], 1.5);   // layer 1 conductivity
    EXPECT_EQ(v[0], 20.0);  // layer 1 capillary head
    EXPECT_EQ(v[7], 0.45);  // porosity
    EXPECT_EQ(v[10], 0.20); // initial moisture
    EXPECT_EQ(v[22], 10.0); // depth
    EXPECT_EQ(v[5], 0.5);
    EXPECT_EQ(v[23], 30.0);
    EXPECT_EQ(v[6], 0.1);
    EXPECT_EQ(v[2], 30.0);
    EXPECT_EQ(v[9], 0.35);
    EXPECT_EQ(v[12], 0.25);
    EXPECT_EQ(v[24], 0.0);  // the third layer has no depth
    EXPECT_EQ(s.soil_row_read[7], 1);
    EXPECT_EQ(s.soil_row_read[8], 0);
    for (double x : s.soil_layers[8].values) EXPECT_EQ(x, 0.0);
    // A value that is not a number leaves its field.
    EXPECT_EQ(s.soil_layers[12].values[9], 0.42);
    EXPECT_EQ(s.soil_layers[12].values[12], 0.0);
}

TEST_F(SoilInputs, SecondHeaderIntegerIsNotUsed) {
    model_state other;
    std::FILE *f = file("a.tab", layer_table(0));
    read_soil_layer_table(f, "a.tab", s);
    std::fclose(f);
    f = file("b.tab", layer_table(5));
    read_soil_layer_table(f, "b.tab", other);
    std::fclose(f);
    for (int k = 0; k < soil_layer_rows; ++k)
        EXPECT_EQ(s.soil_layers[static_cast<std::size_t>(k)].values,
                  other.soil_layers[static_cast<std::size_t>(k)].values);
}

TEST_F(SoilInputs, SoilIndexOutsideTheTableIsRefused) {
    std::FILE *f = file("bad.tab", "1 0\n151\n1 1 1 1 1\n1 1 1 1 1\n1 1 1 1\n");
    const std::string out = printed([&] { read_soil_layer_table(f, "bad.tab", s); });
    std::fclose(f);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("soil index 151"), std::string::npos) << out;
}

TEST_F(SoilInputs, LayerValueBeyondItsQuantityIsRefused) {
    // Ks, capillary head, porosity, moisture, depth of layer 2: porosity 1e308.
    std::FILE *f = file("bad.tab", "1 0\n3\n1 1 0.4 0.2 5\n1 1 1e308 0.2 5\n1 1 0.4 0.2\n");
    const std::string out = printed([&] { read_soil_layer_table(f, "bad.tab", s); });
    std::fclose(f);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("soil 3 of the multi-layer soil table bad.tab: value 3 of its layer 2 line, "
                       "1e+308, lies outside 0 to 1"),
              std::string::npos)
        << out;
}

TEST_F(SoilInputs, LayeredSchemeReadsTheTableAndChecksEveryCell) {
    s.inf_layered = 1;
    allocate_soil_cell_arrays(s);
    s.soil_type_file = file("soil.map", map_text(2, 2, "7 0\n12 7\n"));
    s.soil_layer_file = file("layers.tab", layer_table(0));
    read_soil_parameters(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.soil_index[2], 12);
    EXPECT_EQ(s.soil_layers[12].values[4], 2.0);

    model_state t;
    t.quiet = 1;
    t.grid_rows = t.grid_cols = 2;
    alloc_2d_int(t.cell_number_grid, 3, 3);
    alloc_2d_int(t.data_grid, 3, 3);
    t.cell_number_grid[1][1] = 1;
    t.cell_count = 1;
    t.inf_layered = 1;
    allocate_soil_cell_arrays(t);
    t.soil_type_file = file("soil2.map", map_text(2, 2, "9 0\n0 0\n"));
    t.soil_layer_file = file("layers2.tab", layer_table(0));
    const std::string out = printed([&] { read_soil_parameters(t); });
    std::fclose(t.soil_type_file);
    std::fclose(t.soil_layer_file);
    t.soil_type_file = t.soil_layer_file = nullptr;
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("grid cell 1 has soil index 9"), std::string::npos) << out;
}

TEST_F(SoilInputs, LayeredSchemeWithoutItsTableIsAnError) {
    s.inf_layered = 1;
    allocate_soil_cell_arrays(s);
    const std::string out = printed([&] { read_soil_parameters(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("SOIL_LAYER_INPUT_FILE"), std::string::npos) << out;
}

TEST_F(SoilInputs, RichardsColumnsWithoutNodesAreAnError) {
    s.inf_richards = 1;
    allocate_soil_cell_arrays(s);
    for (int i = 1; i <= 3; ++i) s.soil_index[i] = 2;
    s.soil_row_read[2] = 1;  // a soil without layer depths or node spacing
    const std::string out = printed([&] { setup_richards_soil(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("node count 0"), std::string::npos) << out;
}

TEST_F(SoilInputs, RichardsColumnsAreSizedAndInitialised) {
    s.inf_richards = 1;
    s.soil_moist_depth_cm = 40.0;
    allocate_soil_cell_arrays(s);
    auto &v = s.soil_layers[2].values;
    for (int l = 0; l < 3; ++l) {
        v[layer_conductivity_field + l] = 1.0;
        v[layer_porosity_field + l] = 0.4;
        v[richards_residual_field + l] = 0.05;
        v[layer_moisture_field + l] = 0.2;
        v[layer_depth_field + l] = 20.0;
        v[richards_spacing_field + l] = 5.0;
        v[richards_lambda_field + l] = 0.5;
        v[richards_bubbling_field + l] = -20.0;
    }
    for (int i = 1; i <= 3; ++i) s.soil_index[i] = 2;
    s.soil_row_read[2] = 1;
    printed([&] { setup_richards_soil(s); });
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.richards_node_count, 13);
    EXPECT_EQ(s.richards_head.rows(), 3u);
    EXPECT_EQ(s.richards_head.cols(), 13u);
    EXPECT_TRUE(s.havercamp_a.empty());  // Brooks and Corey form
    EXPECT_DOUBLE_EQ(s.richards_column_depth[2], 0.4);
    EXPECT_NEAR(s.richards_theta[3][5], 0.2, 1e-12);
    EXPECT_NEAR(s.root_zone_moisture[1], 0.2, 1e-12);
}

TEST_F(SoilInputs, MoistureAndAreaReductionCardsTakeTheRestOfTheLine) {
    dir.write("run.prj", "KORVAPROJECT\nMOISTURE   wet soil.map  \t\nAREA_REDUCTION\t ar.map\n"
                         "WATERSHED_MASK mask.map\n");
    project_params p;
    grid_params g;
    rain_params r;
    read_project_file(path("run.prj"), p, g, r);
    EXPECT_EQ(p.moisture.given, 1);
    EXPECT_EQ(p.moisture.name, "wet soil.map");
    EXPECT_EQ(p.area_reduction.name, "ar.map");
    dir.write("bare.prj", "KORVAPROJECT\nMOISTURE  \n");
    read_project_file(path("bare.prj"), p, g, r);
    EXPECT_EQ(p.moisture.given, 1);
    EXPECT_EQ(p.moisture.name, "");
}

TEST(BoundInitialLevel, KeepsAUniformMoistureInsideItsBounds) {
    array_1d<double> out, lower, upper;
    array_1d<int> soil;
    alloc_1d_double(out, 2);
    alloc_1d_double(lower, 2);
    alloc_1d_double(upper, 2);
    alloc_1d_int(soil, 2);
    lower[1] = lower[2] = 0.06;
    upper[1] = upper[2] = 0.40;
    bound_initial_level(2, out, nullptr, nullptr, soil, lower, upper, 1, 0.05);
    EXPECT_NEAR(out[1], 0.07, 1e-15);
    bound_initial_level(2, out, nullptr, nullptr, soil, lower, upper, 1, 0.45);
    EXPECT_NEAR(out[2], 0.39, 1e-15);
    bound_initial_level(2, out, nullptr, nullptr, soil, lower, upper, 1, 0.25);
    EXPECT_EQ(out[1], 0.25);
    // By soil class.
    double class_upper[soil_layer_rows] = {}, class_lower[soil_layer_rows] = {};
    class_upper[3] = 0.30;
    class_lower[3] = 0.10;
    soil[1] = 3;
    soil[2] = 3;
    bound_initial_level(2, out, class_upper, class_lower, soil, lower, upper, 0, 0.35);
    EXPECT_NEAR(out[1], 0.29, 1e-15);
}

}  // namespace

namespace richards_table {

// A layer line of `count` values 100 L + j (j = 1..count).
std::string layer_line(int layer, int count) {
    std::string line;
    for (int j = 1; j <= count; ++j) line += std::to_string(100 * layer + j) + (j < count ? " " : "\n");
    return line;
}

struct table_case {
    int form, mapping;
    std::string header;  // the lines before the first entry
    int values;          // values per layer line
    int layers;
};

std::FILE *file_with(const std::string &text) {
    std::FILE *f = std::tmpfile();
    std::fputs(text.c_str(), f);
    std::rewind(f);
    return f;
}

TEST(RichardsSoilTable, PlacesEveryValueOfBothFormsAndSources) {
    const table_case cases[] = {
        {1, 0, "2\n12\n", 9, 3},
        {2, 0, "2\n12\n", 11, 3},
        {1, 1, "NUM_IDS 2\nLAYERS 3\nID K PHI TR TI WP FC D LAM BP X\n", 10, 3},
        {2, 1, "NUM_IDS 2\nLAYERS   2\nID K PHI TR TI WP FC D A B ALPHA BETA\n", 11, 2},
    };
    for (const table_case &c : cases) {
        clear_error_state();
        auto s = std::make_unique<model_state>();
        std::string text = c.header;
        for (int soil : {7, 150}) {
            text += std::to_string(soil) + (c.mapping ? "     sand loam\n" : "\n");
            text += "\n2.5 5 10 0.25\n";  // a blank line is passed over
            for (int l = 1; l <= c.layers; ++l) text += layer_line(l, c.values);
        }
        std::FILE *f = file_with(text);
        richards_table_counts counts;
        read_soil_table(f, "soils.tab", c.form, c.mapping, *s, counts);
        std::fclose(f);
        ASSERT_EQ(error_record.fatal, 0) << c.form << c.mapping;
        EXPECT_EQ(counts.soil_count, 2);
        EXPECT_EQ(counts.layer_count, c.layers);
        for (int soil : {7, 150}) {
            const auto &v = s->soil_layers[static_cast<std::size_t>(soil)].values;
            EXPECT_EQ(s->soil_row_read[static_cast<std::size_t>(soil)], 1);
            EXPECT_EQ(v[46], 2.5);
            EXPECT_EQ(v[47], 5.0);
            EXPECT_EQ(v[48], 10.0);
            EXPECT_EQ(v[49], 0.25);
            for (int l = 1; l <= c.layers; ++l) {
                const double b = 100.0 * l;
                EXPECT_EQ(v[3 + l], b + 1);
                EXPECT_EQ(v[6 + l], b + 2);
                EXPECT_EQ(v[18 + l], b + 3);
                EXPECT_EQ(v[9 + l], b + 4);
                EXPECT_EQ(v[12 + l], b + 5);
                EXPECT_EQ(v[15 + l], b + 6);
                EXPECT_EQ(v[21 + l], b + 7);
                if (c.form == 1) {
                    EXPECT_EQ(v[24 + l], b + 8);
                    EXPECT_EQ(v[27 + l], -(b + 9));
                    EXPECT_EQ(v[30 + l], c.mapping ? b + 10 : 0.0);
                } else {
                    EXPECT_EQ(v[33 + l], b + 8);
                    EXPECT_EQ(v[36 + l], b + 9);
                    EXPECT_EQ(v[39 + l], b + 10);
                    EXPECT_EQ(v[42 + l], b + 11);
                }
            }
        }
        EXPECT_EQ(s->soil_row_read[8], 0);
        EXPECT_EQ(s->soil_layers[8].values[4], 0.0);
        // Layer depths 101..307 cm at spacings 2.5, 5, 10: the deepest column;
        // the own file's second count 12 gives at least 13 nodes.
        const int layer_nodes = static_cast<int>(std::lround(107 / 2.5)) +
                                (c.layers > 1 ? static_cast<int>(std::lround(207 / 5.0)) : 0) +
                                (c.layers > 2 ? static_cast<int>(std::lround(307 / 10.0)) : 0);
        EXPECT_EQ(counts.node_count, layer_nodes + 1);
    }
}

TEST(RichardsSoilTable, SmallColumnsTakeTheSecondHeaderCountPlusOne) {
    clear_error_state();
    auto s = std::make_unique<model_state>();
    std::FILE *f = file_with("1\n40\n3\n10 10 10 0.1\n" + std::string(3, ' ') +
                             "1 0.4 0.05 0.2 0.1 0.2 10 0.5 20\n"
                             "1 0.4 0.05 0.2 0.1 0.2 10 0.5 20\n"
                             "1 0.4 0.05 0.2 0.1 0.2 10 0.5 20 99 98\n");
    richards_table_counts counts;
    read_soil_table(f, "soils.tab", 1, 0, *s, counts);
    std::fclose(f);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(counts.node_count, 41);
    EXPECT_EQ(s->soil_layers[3].values[31], 0.0);  // trailing values are not read
}

TEST(RichardsSoilTable, RefusesBadIndexesLayerCountsAndValues) {
    const std::string line9 = "1 0.4 0.05 0.2 0.1 0.2 10 0.5 20\n";
    struct refused {
        int mapping;
        std::string text, message;
    } cases[] = {
        {0, "1\n0\n151\n1 1 1 0.1\n" + line9 + line9 + line9, "entry 1"},
        {0, "1\n0\n0\n1 1 1 0.1\n" + line9 + line9 + line9, "soil index must run from 1 to 150"},
        {1, "NUM_IDS 1\nLAYERS 4\nheader\n", "4 layers"},
        {1, "NUM_IDS 1\nLAYERS 0\nheader\n", "0 layers"},
        {0, "2\n0\n1\n1 1 1 0.1\n" + line9 + line9 + line9 + "2\n1 1 x 0.1\n",
         "entry 2 of the Richards soil table soils.tab: value 3 of its node spacing line"},
        {0, "1\n0\n1\n1 1 1 0.1\n" + line9 + "1 0.4 0.05 0.2\n", "value 5 of its layer 2 line"},
        {0, "1\n0\n1\n1 1 1 0.1\n" + line9, "file ends before its layer 2 line"},
        {0, "one\n0\n", "soil count cannot be read"},
        {1, "NUM_IDS\n", "NUM_IDS line cannot be read"},
        {0, "-2\n0\n", "soil count is negative"},
    };
    for (const refused &c : cases) {
        clear_error_state();
        auto s = std::make_unique<model_state>();
        std::FILE *f = file_with(c.text);
        richards_table_counts counts;
        const std::string out = printed([&] { read_soil_table(f, "soils.tab", 1, c.mapping, *s, counts); });
        std::fclose(f);
        EXPECT_EQ(error_record.fatal, 1) << c.text;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        EXPECT_NE(out.find("soils.tab"), std::string::npos) << out;
    }
}

}  // namespace richards_table
