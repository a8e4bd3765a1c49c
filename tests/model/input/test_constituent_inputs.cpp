// Tests of the sediment, contaminant, soil-moisture location and overland hotstart
// inputs on hand-written files: the viscosity polynomial against tabulated water
// viscosities, the transport form, the class list split at SAND_SIZE, the unit
// conversion of the constituent tables with masses worked by hand, the location
// files and the initial depths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "model/core/errors.h"
#include "model/framework_test_support.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/input/input_services.h"
#include "model/input/sediment_inputs.h"
#include "model/core/model_state.h"
#include "support/captured_output.h"

namespace {

using frameworktest::capture_stdout;
using frameworktest::in_scratch_dir;
using testsupport::map_text;

// A table row: id in columns 1-6, description to column 86, values from 87.
std::string row(int id, const std::string &values) {
    std::string line = std::to_string(id);
    line.resize(86, ' ');
    return line + values + "\n";
}

// A SEDIMENTS row: values from character 45.
std::string sediment_row(const std::string &values) {
    std::string line = "x";
    line.resize(44, ' ');
    return line + values + "\n";
}

// A 1 x 2 grid of 10 m cells, both inside the mask.
class ConstituentInputs : public ::testing::Test {
public:
    void SetUp() override {
        reset_process_globals();
        s.quiet = 1;
        s.grid_rows = 1;
        s.grid_cols = 2;
        s.cell_size = 10.0;
        alloc_2d_int(s.cell_number_grid, 2, 3);
        s.cell_number_grid[1][1] = 1;
        s.cell_number_grid[1][2] = 2;
        s.cell_count = 2;
        alloc_1d_double(s.depth, 2);
        alloc_1d_double(s.elevation, 2);
    }
    void TearDown() override { reset_process_globals(); }
    void write(const std::string &name, const std::string &text) { dir.dir().write(name, text); }
    std::FILE *open(const std::string &name, const std::string &text) {
        write(name, text);
        return std::fopen(name.c_str(), "r");
    }
    in_scratch_dir dir;
    model_state s;
};

// Five classes in table order 0.5, 0.002, 1.0, 0.01, 0.05 mm; the soil-erosion
// table gives cell 1 (id 1) fractions .10 .20 .30 .15 .25 in that order.
void write_sediment_tables(ConstituentInputs &t) {
    t.write("e.idx", map_text(1, 2, "1 2\n"));
    t.write("map.cmt",
            std::string("KORVA_INDEX_MAP_TABLES\nINDEX_MAP e.idx \"E\"\nSEDIMENTS\nNUM_SED 5\n") +
                "ID DESC\n" + sediment_row("0.5 2.65 s1.out") + sediment_row("0.002 2.6 c.out") +
                sediment_row("1.0 2.7 s2.out") + sediment_row("0.01 2.6 m.out") +
                sediment_row("0.05 2.62 f.out") + "SOIL_EROSION_PROPS \"E\"\nNUM_IDS 2\n" +
                "NUM_SED 5\nID DESC\n" +
                row(1, "1 2 3 4 5 6 7 8 0.10 0.20 0.30 0.15 0.25") +
                row(2, "11 12 13 14 15 16 17 18 0.2 0.2 0.2 0.2 0.2"));
}

void enable_sediments(model_state &s) {
    s.erosion.soil_erosion = 1;
    s.project.soil_erosion_value = 12;
    s.project.sand_size = 0.0625;
    s.project.outlet_sed_flux = {"sed.out", 1};
    s.mapping_table_on = 1;
    s.mapping_table_name = "map.cmt";
    s.table_present[8] = 1;
}

}  // namespace

TEST(WaterViscosity, PolynomialMatchesTabulatedValues) {
    // Kinematic viscosity of pure water: 1.31e-6, 1.00e-6 and 0.80e-6 m2/s at
    // 10, 20 and 30 deg C (published tables, three figures).
    const struct {
        double t, nu;
    } table[] = {{10.0, 1.306e-6}, {20.0, 1.004e-6}, {30.0, 0.801e-6}};
    for (const auto &k : table)
        EXPECT_NEAR(water_viscosity_polynomial(k.t), k.nu, 0.01 * k.nu) << k.t;
    EXPECT_DOUBLE_EQ(water_viscosity_polynomial(0.0), 1.79767207e-06);
}

TEST_F(ConstituentInputs, TemperatureIsClampedToTheFittedRange) {
    write_sediment_tables(*this);
    enable_sediments(s);
    s.quiet = 0;
    s.project.water_temp = -2.0;
    capture_stdout([&] { read_sediment_inputs(s); });
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.sediment.water_temp, 0.0);
    EXPECT_DOUBLE_EQ(s.sediment.viscosity, 1.79767207e-06);

    model_state hot;
    hot.project.water_temp = 45.0;
    const std::string out = capture_stdout([&] {
        EXPECT_DOUBLE_EQ(usable_water_temperature(45.0, hot), 40.0);
    });
    EXPECT_NE(out.find("Warning: water temperature 45.00 C is above 40 C"), std::string::npos)
        << out;
    EXPECT_DOUBLE_EQ(usable_water_temperature(25.0, hot), 25.0);
}

TEST_F(ConstituentInputs, SedimentRecordClassesAndFractions) {
    write_sediment_tables(*this);
    enable_sediments(s);
    s.project.water_temp = 20.0;
    s.project.max_sed_flux = {"flux.out", 1};
    read_sediment_inputs(s);
    ASSERT_EQ(error_record.fatal, 0);
    const sediment_record &r = s.sediment;
    EXPECT_EQ(r.transport_form, 2);  // option 12
    EXPECT_EQ(r.transport_option, 2);
    EXPECT_NEAR(r.viscosity, 1.0e-6, 1e-8);
    EXPECT_NE(r.outlet_file.file, nullptr);
    EXPECT_NE(r.flux_file.file, nullptr);
    EXPECT_EQ(r.suspended_file.file, nullptr);

    ASSERT_EQ(r.class_count, 5);
    EXPECT_EQ(s.erosion.size_class_count, 5);
    EXPECT_EQ(r.wash_count, 3);
    EXPECT_EQ(r.sand_count, 2);
    // Wash classes first, then sand, each in table order.
    const double diameters[6] = {0, 0.002, 0.01, 0.05, 0.5, 1.0};
    const int rows[6] = {0, 2, 4, 5, 1, 3};
    const double fractions[6] = {0, 0.20, 0.15, 0.25, 0.10, 0.30};
    for (int k = 1; k <= 5; ++k) {
        EXPECT_DOUBLE_EQ(r.classes[k].diameter, diameters[k]) << k;
        EXPECT_EQ(r.classes[k].table_row, rows[k]) << k;
        EXPECT_DOUBLE_EQ(r.fraction[1][k], fractions[k]) << k;
        EXPECT_DOUBLE_EQ(r.fraction[2][k], 0.2) << k;
    }
    EXPECT_EQ(r.classes[1].output_name, "c.out");
    EXPECT_DOUBLE_EQ(r.classes[5].specific_gravity, 2.7);
    // Five columns everywhere a class index goes.
    EXPECT_GE(r.mass.cols(), 5u);
    EXPECT_GE(r.ov_qsmax.cols(), 5u);
    EXPECT_TRUE(r.ov_qsvol.empty());
    EXPECT_DOUBLE_EQ(r.splash_coeff[1], 1.0);
    EXPECT_DOUBLE_EQ(r.transport_factor[2], 18.0);
}

TEST_F(ConstituentInputs, SedimentRefusals) {
    enable_sediments(s);
    s.table_present[8] = 0;
    capture_stdout([&] { read_sediment_inputs(s); });
    EXPECT_EQ(error_record.fatal, 1);  // 92, reported

    reset_process_globals();
    write("map.cmt", "KORVA_INDEX_MAP_TABLES\nSEDIMENTS\nNUM_SED 1\nID\n" +
                         sediment_row("0.5 2.65 s.out"));
    s.table_present[8] = 1;
    read_sediment_inputs(s);
    EXPECT_EQ(error_record.code, 93);  // no SOIL_EROSION_PROPS table

    reset_process_globals();
    model_state t;
    t.erosion.soil_erosion = 1;
    t.project.outlet_sed_flux = {"no_dir/sed.out", 1};
    open_sediment_outputs(t);
    EXPECT_EQ(error_record.code, 4);
    EXPECT_STREQ(error_record.text1, "outlet sediment hydrograph");
    EXPECT_STREQ(error_record.text2, "no_dir/sed.out");
}

TEST_F(ConstituentInputs, UnitConversionAndInitialMasses) {
    s.ov_con_trans_mode = 1;
    s.ov_decay_coef = 1.0;   // per day
    s.ov_mass_load = 0.5;
    read_contaminant_inputs(s);
    ASSERT_EQ(error_record.fatal, 0);
    ASSERT_EQ(s.constituent_count, 1);
    namespace tt = transport_table;
    double *conc = table_value(1, s.transport_tables[tt::concentration]);
    conc[1] = 2.0;
    conc[2] = 3.0;
    s.depth[1] = 0.1;
    s.depth[2] = 0.0;
    convert_constituent_units(s);
    EXPECT_DOUBLE_EQ(table_value(1, s.transport_tables[tt::decay_coef])[1], 1.0 / 86400.0);
    // 2 x 0.1 m x 10 m x 10 m = 20; the dry cell holds nothing.
    EXPECT_DOUBLE_EQ(table_value(1, s.transport_tables[tt::mass])[1], 20.0);
    EXPECT_DOUBLE_EQ(table_value(1, s.transport_tables[tt::mass])[2], 0.0);
    EXPECT_DOUBLE_EQ(conc[2], 0.0);
    EXPECT_DOUBLE_EQ(table_value(1, s.transport_tables[tt::land_pool])[2], 500.0);
    EXPECT_DOUBLE_EQ(table_value(1, s.transport_tables[tt::mass_bound])[1], 1.0e6);
    EXPECT_DOUBLE_EQ(s.OV_MASS_INIT[1], 0.02);
    EXPECT_DOUBLE_EQ(s.OV_LAND_MASS_INIT[1], 1.0);
    EXPECT_DOUBLE_EQ(s.GLOBAL_MASS_INIT[1], 1.02);
    // The first event's summary starts from these masses.
    EXPECT_DOUBLE_EQ(s.event_ov_mass_init[1], 0.02);
    EXPECT_DOUBLE_EQ(s.event_ov_land_mass[1], 1.0);
}

TEST_F(ConstituentInputs, StreamCellsAddNothingToTheOverlandMass) {
    s.ov_con_trans_mode = 1;
    s.chan_explicit = 1;
    s.non_ortho_channels = 1;
    alloc_1d_int(s.stream_cell_id, 2);
    s.stream_cell_id[2] = 1;
    read_contaminant_inputs(s);
    double *conc = table_value(1, s.transport_tables[transport_table::concentration]);
    conc[1] = conc[2] = 2.0;
    s.depth[1] = s.depth[2] = 0.1;
    convert_constituent_units(s);
    EXPECT_DOUBLE_EQ(s.OV_MASS_INIT[1], 0.02);  // cell 1 only
    EXPECT_DOUBLE_EQ(conc[2], 0.0);
}

TEST_F(ConstituentInputs, ContaminantTableFillsTheCoefficientRows) {
    write("c.idx", map_text(1, 2, "2 1\n"));
    write("map.cmt", std::string("KORVA_INDEX_MAP_TABLES\nINDEX_MAP c.idx \"L\"\n") +
                         "CONTAMINANT_TRANSPORT\nNUM_CONTAM 1\n\"N\" \"L\" \"n.out\"\n" +
                         "PRECIP_CONC 0.7\nNUM_IDS 2\nID\n" + row(1, "1 2 3 4 5 6") +
                         row(2, "7 8 9 10 11 12"));
    s.ov_con_trans_mode = 1;
    s.mapping_table_on = 1;
    s.mapping_table_name = "map.cmt";
    s.table_present[10] = 1;
    read_contaminant_inputs(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.constituent_count, 1);
    EXPECT_EQ(s.constituent_sources_on, 1);
    EXPECT_EQ(s.constituent_type[1], 1);
    EXPECT_DOUBLE_EQ(s.precip_conc[1], 0.7);
    // Cell 1 has id 2, cell 2 id 1; columns release .. dispersion in order.
    EXPECT_DOUBLE_EQ(table_value(1, s.transport_tables[transport_table::release_rate])[1], 7.0);
    EXPECT_DOUBLE_EQ(table_value(1, s.transport_tables[transport_table::dispersion_coef])[2], 6.0);
    EXPECT_EQ(s.contaminant_output_files[1], "n.out");
}

TEST_F(ConstituentInputs, ThetaLocations) {
    s.in_theta_location_on = 1;
    s.in_theta_location_name = "theta.in";
    struct {
        const char *text;
        const char *message;  // empty: read
    } cases[] = {
        {"2\n1 2\n1 1\n", ""},
        {"3\n1 2\n1 1\n", "End of file reached in file theta.in, exiting\n"},
        {"1\n2 1\n", "lies off the 1 x 2 grid"},
    };
    for (const auto &k : cases) {
        reset_process_globals();
        s.theta_location_file = open("theta.in", k.text);
        const std::string out = capture_stdout([&] { read_theta_locations(s); });
        std::fclose(s.theta_location_file);
        if (*k.message == 0) {
            EXPECT_EQ(error_record.fatal, 0) << out;
            ASSERT_EQ(s.theta_location_count, 2);
            EXPECT_EQ(s.theta_location_cell[1], 2);
            EXPECT_EQ(s.theta_location_cell[2], 1);
        } else {
            EXPECT_EQ(error_record.fatal, 1) << k.text;
            EXPECT_NE(out.find(k.message), std::string::npos) << out;
        }
    }
    s.cell_number_grid[1][1] = 0;
    s.theta_location_file = open("theta.in", "1\n1 1\n");
    reset_process_globals();
    const std::string out = capture_stdout([&] { read_theta_locations(s); });
    std::fclose(s.theta_location_file);
    EXPECT_NE(out.find("outside the watershed mask"), std::string::npos) << out;
}

TEST_F(ConstituentInputs, RichardsThetaLocationsKeepTheirDepthNodes) {
    s.in_theta_location_on = 1;
    s.in_theta_location_name = "theta.in";
    s.inf_richards = 1;
    alloc_1d_int(s.richards_cell_nodes, 2);
    s.richards_cell_nodes[1] = s.richards_cell_nodes[2] = 5;
    s.theta_location_file = open("theta.in", "2 3\n1 2 3\n1 3 5\n1 1 1\n4\n");
    read_theta_locations(s);
    std::fclose(s.theta_location_file);
    ASSERT_EQ(error_record.fatal, 0);
    ASSERT_EQ(s.theta_location_count, 2);
    EXPECT_EQ(s.theta_location_cell[1], 2);
    EXPECT_EQ(s.theta_location_depths[1], 3);
    EXPECT_EQ(s.theta_location_nodes[1][1], 1);
    EXPECT_EQ(s.theta_location_nodes[1][2], 3);
    EXPECT_EQ(s.theta_location_nodes[1][3], 5);
    EXPECT_EQ(s.theta_location_depths[2], 1);
    EXPECT_EQ(s.theta_location_nodes[2][1], 4);

    for (const char *bad : {"1 2\n1 1 3\n1 2 3\n", "1 2\n1 1 1\n6\n"}) {
        reset_process_globals();
        s.theta_location_file = open("theta.in", bad);
        capture_stdout([&] { read_theta_locations(s); });
        std::fclose(s.theta_location_file);
        EXPECT_EQ(error_record.fatal, 1) << bad;  // too many depths; node off the column
    }
}

TEST_F(ConstituentInputs, HotstartDepthsAndUniformSurface) {
    s.elevation[1] = 100.0;
    s.elevation[2] = 100.5;
    s.ov_init_depth_name = "h.map";
    s.ov_hotstart_file = open("h.map", map_text(1, 2, "0.25 0.125\n"));
    read_overland_hotstart(s);
    std::fclose(s.ov_hotstart_file);
    s.ov_hotstart_file = nullptr;
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.depth[1], 0.25);
    EXPECT_DOUBLE_EQ(s.previous_depth[2], 0.125);

    // A surface below every cell leaves the depths; one between them fills cell 1.
    s.project.init_elev_head_given = 1;
    s.project.init_elev_head = 99.0;
    read_overland_hotstart(s);
    EXPECT_DOUBLE_EQ(s.depth[1], 0.25);
    EXPECT_DOUBLE_EQ(s.depth[2], 0.125);
    s.project.init_elev_head = 100.3;
    read_overland_hotstart(s);
    EXPECT_NEAR(s.depth[1], 0.3, 1e-12);
    EXPECT_DOUBLE_EQ(s.depth[2], 0.125);
    EXPECT_NEAR(s.previous_depth[1], 0.3, 1e-12);

    s.project.init_elev_head_given = 0;
    s.ov_hotstart_file = open("h.map", map_text(1, 2, "0.25 -0.5\n"));
    const std::string out = capture_stdout([&] { read_overland_hotstart(s); });
    std::fclose(s.ov_hotstart_file);
    s.ov_hotstart_file = nullptr;
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("depth -0.5 at grid cell 2"), std::string::npos) << out;
}
