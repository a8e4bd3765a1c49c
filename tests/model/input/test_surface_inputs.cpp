// Tests of the surface-input readers on hand-written maps and files: roughness
// (uniform and mapped, with the checks of n), retention (map in mm, uniform card,
// none without the card), interception maps, overland lakes with the lake file
// and the level check, and the groundwater conversions and boundary codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/input/lake_file.h"
#include "model/input/surface_inputs.h"
#include "model/core/model_state.h"
#include "support/captured_output.h"
#include "support/run_program.h"

namespace {

using testsupport::map_text;
using testsupport::printed;
using testsupport::printed_err;

// A 2 x 3 grid of 10 m cells; the mask leaves out row 1, column 3, so the five
// cells are numbered 1 2 / 3 4 5 in row order.
class SurfaceInputs : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.grid_rows = 2;
        s.grid_cols = 3;
        s.cell_size = 10.0;
        s.quiet = 1;
        alloc_2d_int(s.cell_number_grid, 3, 4);
        const int numbers[2][3] = {{1, 2, 0}, {3, 4, 5}};
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 3; ++c) s.cell_number_grid[r][c] = numbers[r - 1][c - 1];
        s.cell_count = 5;
        alloc_1d_double(s.elevation, 5);
        for (int i = 1; i <= 5; ++i) s.elevation[i] = 100.0 + i;  // 101 .. 105
    }
    void TearDown() override { reset_process_globals(); }

    std::FILE *file(const std::string &name, const std::string &text) {
        dir.write(name, text);
        return std::fopen((dir.path() / name).c_str(), "r");
    }
    std::string path(const std::string &name) const { return (dir.path() / name).string(); }

    testsupport::scratch_dir dir;
    model_state s;
};

// ---- roughness ----

TEST_F(SurfaceInputs, UniformManningFillsEveryCell) {
    s.manning_n = 0.001;
    read_roughness(s);
    EXPECT_EQ(error_record.fatal, 0);
    ASSERT_EQ(s.roughness.last(), 5u);
    for (int i = 1; i <= 5; ++i) EXPECT_DOUBLE_EQ(s.roughness[i], 0.001);
}

TEST_F(SurfaceInputs, UniformManningOfZeroStopsTheRun) {
    s.manning_n = 0.0;
    const std::string out = printed([&] { read_roughness(s); });
    EXPECT_NE(out.find("\nInvalid spatially uniform overland flow Manning n value=0.000000\n"),
              std::string::npos);
    EXPECT_NE(out.find("KORVA exiting.\n"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(SurfaceInputs, RoughnessMapIsPackedByCellNumber) {
    s.roughness_map_on = 1;
    s.roughness_name = "n.map";
    s.roughness_file = file("n.map", map_text(2, 3, "0.05 0.06 9.0\n0.07 0.08 0.09\n"));
    read_roughness(s);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.roughness_file, nullptr);  // closed by the reader
    const double expected[6] = {0.0, 0.05, 0.06, 0.07, 0.08, 0.09};
    for (int i = 1; i <= 5; ++i) EXPECT_DOUBLE_EQ(s.roughness[i], expected[i]);
}

TEST_F(SurfaceInputs, MappedManningOfZeroNamesTheFirstBadCell) {
    s.roughness_map_on = 1;
    s.roughness_name = "n.map";
    s.roughness_file = file("n.map", map_text(2, 3, "0.05 0.06 0.0\n0.07 0.0 -1.0\n"));
    const std::string out = printed([&] { read_roughness(s); });
    // The 0.0 outside the mask is not a cell; cell 4 is the first bad one.
    EXPECT_NE(out.find("Overland Manning n=0 at grid cell 4.  Program terminating.\n"),
              std::string::npos);
    EXPECT_EQ(out.find("grid cell 5"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

// ---- retention ----

// Without a retention map the run keeps one depth for every cell and no array.
TEST_F(SurfaceInputs, RetentionWithoutAMapIsOneDepth) {
    // Without the card the set-up hands the reader 1.0; that is not a depth.
    const struct {
        int card;
        double value, depth;
    } cases[] = {{1, 5.0, 0.005}, {1, 0.0, 0.0}, {0, 1.0, 0.0}};
    for (const auto &c : cases) {
        s.retention_on = c.card;
        s.retention_value = c.value;
        read_retention(s);
        EXPECT_EQ(error_record.fatal, 0);
        EXPECT_TRUE(s.retention_uniform);
        EXPECT_DOUBLE_EQ(s.retention_uniform_depth, c.depth) << "card " << c.card << ", " << c.value;
        EXPECT_TRUE(s.retention_depth.empty());
    }
}

TEST_F(SurfaceInputs, RetentionMapIsConvertedFromMillimetres) {
    s.project.reten_depth.given = 1;
    s.retention_name = "r.map";
    s.retention_file = file("r.map", map_text(2, 3, "1 2 99\n3 4 5\n"));
    // A run before it in the same process had one depth for every cell.
    s.retention_uniform = true;
    s.retention_uniform_depth = 0.005;
    read_retention(s);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_FALSE(s.retention_uniform);
    for (int i = 1; i <= 5; ++i) EXPECT_DOUBLE_EQ(s.retention_depth[i], i / 1000.0);
}

// ---- interception ----

TEST_F(SurfaceInputs, InterceptionMapsAreStoredAsRead) {
    s.interception_on = 1;
    s.storage_capacity_name = "cap.map";
    s.storage_capacity_file = file("cap.map", map_text(2, 3, "2 2 0\n3 3 3\n"));
    s.interception_coeff_name = "coef.map";
    s.interception_coeff_file = file("coef.map", map_text(2, 3, "0.1 0.2 0\n0.3 0.4 0.5\n"));
    read_interception(s);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.interception_capacity[1], 2.0);
    EXPECT_DOUBLE_EQ(s.interception_capacity[5], 3.0);
    EXPECT_DOUBLE_EQ(s.interception_coefficient[2], 0.2);
    EXPECT_DOUBLE_EQ(s.interception_coefficient[5], 0.5);
}

TEST_F(SurfaceInputs, InterceptionOffReadsNothing) {
    read_interception(s);
    EXPECT_TRUE(s.interception_capacity.empty());
    EXPECT_EQ(error_record.fatal, 0);
}

// ---- overland lakes ----

TEST_F(SurfaceInputs, LakeVolumesAndCellCountsFromTheMapAndFile) {
    s.overland_lake_on = 1;
    s.overland_lake_map_name = "lake.map";
    // Lake 1 on cells 1 and 3 (ground 101 and 103), lake 2 on cell 5 (ground 105).
    s.overland_lake_map_file = file("lake.map", map_text(2, 3, "1 0 7\n1 0 2\n"));
    s.overland_lake_data_file =
        file("lakes.dat", "KORVA_OVERLAND_LAKE_FILE\nLAKE 1 103.5 0.0\nlake 2 105.0 0.0\n");
    printed([&] { read_overland_lakes(s); });
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.overland_lake_count, 2);
    ASSERT_EQ(s.lakes.size(), 3u);
    EXPECT_EQ(s.lakes[1].cell_count, 2);
    EXPECT_EQ(s.lakes[2].cell_count, 1);
    // (103.5 - 101 + 103.5 - 103) x 100 m2; a cell exactly at the level adds nothing.
    EXPECT_DOUBLE_EQ(s.lakes[1].volume, 300.0);
    EXPECT_DOUBLE_EQ(s.lakes[2].volume, 0.0);
    EXPECT_EQ(s.overland_lake_id_copy[3], 1);
}

TEST_F(SurfaceInputs, LakeCellAboveTheLevelStopsTheRun) {
    s.overland_lake_on = 1;
    s.overland_lake_map_name = "lake.map";
    s.overland_lake_map_file = file("lake.map", map_text(2, 3, "0 1 0\n0 1 0\n"));
    s.overland_lake_data_file = file("lakes.dat", "korva_overland\nLAKE 1 103.0 10.0\n");
    const std::string out = printed([&] { read_overland_lakes(s); });
    // Cell 2 (ground 102) is below 103; cell 4 (ground 104) is above it.
    EXPECT_NE(out.find("There is a lake cell in lake 1 that is above the initial lake water "
                       "surface\n"),
              std::string::npos);
    EXPECT_NE(out.find("specified as 103.000000.  This situation is not\n"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

// ---- the lake file ----

class LakeFile : public SurfaceInputs {
protected:
    std::string read(const std::string &text, int expected) {
        records.assign(static_cast<std::size_t>(expected) + 1, lake_record{});
        std::FILE *f = file("lakes.dat", text);
        std::string err = printed_err([&] { printed([&] { read_lake_file(f, 1, expected, records); }); });
        std::fclose(f);
        return err;
    }
    std::vector<lake_record> records;
};

TEST_F(LakeFile, CardWordsInAnyCaseAndTheLaterDuplicateWins) {
    read("KORVA_OVERLAND_LAKE\nLAKE 1 10 100\nLakes 2 0 0\nLake 2 20 200\nlake 2 25 250\n", 3);
    // Three LAKE cards (LAKES is not one) against three expected: accepted.
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(records[1].initial_elevation, 10.0);
    EXPECT_DOUBLE_EQ(records[2].initial_elevation, 25.0);
    EXPECT_DOUBLE_EQ(records[2].volume, 250.0);
}

TEST_F(LakeFile, WrongHeaderIsRefused) {
    const std::string err = read("KORVA_CHANNEL_LAKE_FILE\nLAKE 1 10 100\n", 1);
    EXPECT_NE(err.find("The overland lake input data file doesn't start with\n"
                       " KORVA_OVERLAND_LAKE_FILE card.\n"
                       "The file format is invalid.  Program terminated.\n"),
              std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(LakeFile, CountOtherThanExpectedIsRefused) {
    const std::string err = read("KORVA_OVERLAND_LAKE_FILE\nLAKE 1 10 100\n", 2);
    EXPECT_NE(err.find("Incorrect number of LAKE cards in the overland lake input data file.\n"
                       "Expected 2 LAKE cards, read 1\nProgram terminated.\n"),
              std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(LakeFile, NoLakeCardIsRefused) {
    const std::string err = read("KORVA_OVERLAND_LAKE_FILE\n# nothing\n", 1);
    EXPECT_NE(err.find("No LAKE cards encountered before end of file.\n"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(LakeFile, LakeNumberOutsideTheRecordsIsRefused) {
    const std::string err = read("KORVA_OVERLAND_LAKE_FILE\nLAKE 3 10 100\n", 1);
    EXPECT_NE(err.find("names lake 3; the lakes are numbered 1 to 1."), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST(LakeCardLookup, RemovesTheFirstWord) {
    std::string line = "  lAkE 4 1.5 2";
    EXPECT_EQ(lake_card_lookup(line), 0);
    EXPECT_EQ(line.find("lAkE"), std::string::npos);
    std::string other = "LAKES 4";
    EXPECT_EQ(lake_card_lookup(other), 1);
    std::string empty;
    EXPECT_EQ(lake_card_lookup(empty), 1);
    EXPECT_TRUE(empty.empty());
}

// ---- low spots ----

class LowspotFile : public SurfaceInputs {
protected:
    std::string read(const std::string &text) {
        std::FILE *f = file("spots.dat", text);
        std::string err = printed_err([&] { read_lowspot_file(f, "spots.dat", spots, count); });
        std::fclose(f);
        return err;
    }
    std::vector<lowspot_record> spots;
    int count = -1;
};

TEST_F(LowspotFile, SpotCardsInFileOrderAndOtherLinesIgnored) {
    read("low\nSPOT 2 3 4 0.5 101.25\nSPOTS 9 9 9 9 9\n# note\nspot 5 6 8 0.25 99.5\n");
    EXPECT_EQ(error_record.fatal, 0);
    ASSERT_EQ(count, 2);
    ASSERT_EQ(spots.size(), 3u);
    EXPECT_EQ(spots[1].row, 2);
    EXPECT_EQ(spots[1].col, 3);
    EXPECT_EQ(spots[1].direction, 4);
    EXPECT_EQ(spots[1].fraction, 0.5);
    EXPECT_EQ(spots[1].elevation, 101.25);
    EXPECT_EQ(spots[2].row, 5);
    EXPECT_EQ(spots[2].direction, 8);
    EXPECT_EQ(spots[2].elevation, 99.5);
    EXPECT_EQ(spots[2].work, 0.0);
}

TEST_F(LowspotFile, RefusedFiles) {
    struct row {
        const char *text, *message;
    };
    const row rows[] = {
        {"LOWSPOTS\nSPOT 1 1 1 0.5 1\n",
         "The lowspot input file: spots.dat does not start with the LOWSPOT card.\n"
         "The file format is invalid.  Program terminated.\n"},
        {"LOWSPOT\n# no spots\n",
         "Premature end-of-file in the lowspot input file.\n"
         "No SPOT cards encountered before end of file.\nProgram terminated.\n"},
        {"LOWSPOT\nSPOT 1 1 right 0.5 1\n",
         "SPOT card 1 of the lowspot input file spots.dat does not hold a row, a column, a "
         "direction, a fraction and an elevation.\nProgram terminated.\n"},
    };
    for (const row &r : rows) {
        reset_process_globals();
        const std::string err = read(r.text);
        EXPECT_NE(err.find(r.message), std::string::npos) << err;
        EXPECT_EQ(error_record.fatal, 1) << r.text;
        EXPECT_EQ(count, 0) << r.text;
    }
}

TEST(LowspotCardLookup, MatchesSpotInAnyCaseAndRemovesTheWord) {
    std::string line = "Spot 1 2";
    EXPECT_EQ(lowspot_card_lookup(line), 0);
    EXPECT_EQ(line.find("Spot"), std::string::npos);
    std::string other = "SPOTS 1";
    EXPECT_EQ(lowspot_card_lookup(other), 1);
}

// ---- groundwater ----

class Groundwater : public SurfaceInputs {
protected:
    void SetUp() override {
        SurfaceInputs::SetUp();
        s.groundwater_on = 1;
        s.gw_boundfile_name = "bound.map";
    }
};

TEST_F(Groundwater, StaticFluxAndConductivityAreConverted) {
    s.gw_boundary_file = file("bound.map", map_text(2, 3, "1 6 0\n1 1 1\n"));
    s.gw_fluxboundtable_name = path("flux.tab");
    dir.write("flux.tab", "1 \n1 2 86400.0 \n");
    s.gw_unif_hycond_on = 1;
    s.gw_unif_hycond = 36.0;  // cm/h
    s.gw_unif_porosity_on = 1;
    s.gw_unif_porosity = 0.3;
    read_groundwater_inputs(s);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.gw_boundary_code[2], 6);
    EXPECT_EQ(s.gw_static_flux_count, 1);
    // 86400 m3/day over a 10 m cell is 0.01 m/s.
    EXPECT_DOUBLE_EQ(s.gw_static_flux[2], 0.01);
    EXPECT_DOUBLE_EQ(s.gw_static_flux[1], 0.0);
    for (int i = 1; i <= 5; ++i) {
        EXPECT_NEAR(s.gw_hycond[i], 1.0e-4, 1e-18);
        EXPECT_DOUBLE_EQ(s.gw_porosity[i], 0.3);
    }
}

TEST_F(Groundwater, DynamicWellsInTheBoundaryMapOnlyWarn) {
    s.gw_boundary_file = file("bound.map", map_text(2, 3, "3 1 0\n1 1 1\n"));
    s.gw_unif_hycond_on = 1;
    s.gw_unif_hycond = 1.0;
    s.gw_unif_porosity_on = 1;
    s.gw_unif_porosity = 0.3;
    const std::string out = printed([&] { read_groundwater_inputs(s); });
    EXPECT_NE(out.find("You can't have a dynamic wells in the groundwater boundary map. You must "
                       "use the\nWELL_TABLE table in the mapping table file\n"),
              std::string::npos);
    EXPECT_EQ(s.gw_dynamic_well_count, 1);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(Groundwater, StaticFluxTableThatCannotBeOpenedStops) {
    s.gw_boundary_file = file("bound.map", map_text(2, 3, "6 1 0\n1 1 1\n"));
    s.gw_fluxboundtable_name = path("missing.tab");
    const std::string out = printed([&] { read_groundwater_inputs(s); });
    EXPECT_NE(out.find("Can't open static flux table file: "), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(Groundwater, StaticFluxOutsideTheMaskIsRefused) {
    s.gw_boundary_file = file("bound.map", map_text(2, 3, "6 1 0\n1 1 1\n"));
    s.gw_fluxboundtable_name = path("flux.tab");
    dir.write("flux.tab", "1\n1 3 5.0\n");  // row 1, column 3 is outside the mask
    const std::string out = printed([&] { read_groundwater_inputs(s); });
    EXPECT_NE(out.find("outside the watershed"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(Groundwater, ConductivityWithNoSourceIsAnError) {
    s.gw_boundary_file = file("bound.map", map_text(2, 3, "1 1 0\n1 1 1\n"));
    const std::string out = printed([&] { read_groundwater_inputs(s); });
    EXPECT_NE(out.find("the groundwater hydraulic conductivity is not given"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(Groundwater, PorosityWithNoSourceIsAnError) {
    s.gw_boundary_file = file("bound.map", map_text(2, 3, "1 1 0\n1 1 1\n"));
    s.gw_unif_hycond_on = 1;
    s.gw_unif_hycond = 1.0;
    const std::string out = printed([&] { read_groundwater_inputs(s); });
    EXPECT_NE(out.find("Error: the groundwater porosity is not given: use GW_POROSITY_MAP, "
                       "GW_UNIF_POROSITY or a GROUNDWATER table"),
              std::string::npos)
        << out;
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(Groundwater, WellTableWithoutUseWellsIsRefused) {
    s.gw_boundary_file = file("bound.map", map_text(2, 3, "1 1 0\n1 1 1\n"));
    s.mapping_table_on = s.table_present[table_slot::well_table] = 1;
    const std::string out = printed([&] { read_groundwater_inputs(s); });
    EXPECT_NE(out.find("holds a WELL_TABLE, but the project file has no\nUSE_WELLS card"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(Groundwater, OutputLocationsAreRead) {
    s.gw_boundary_file = file("bound.map", map_text(2, 3, "1 1 0\n1 1 1\n"));
    s.gw_unif_hycond_on = s.gw_unif_porosity_on = 1;
    s.gw_unif_hycond = 1.0;
    s.gw_unif_porosity = 0.2;
    s.gw_well_level_on = 1;
    s.well_location_file = file("wells.loc", "2\n1 1 \n2 3 \n");
    read_groundwater_inputs(s);
    std::fclose(s.well_location_file);
    s.well_location_file = nullptr;
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.gw_output_location_count, 2);
    EXPECT_EQ(s.gw_output_rows[2], 2);
    EXPECT_EQ(s.gw_output_cols[2], 3);
}

TEST_F(SurfaceInputs, GroundwaterOffReadsNothing) {
    read_groundwater_inputs(s);
    EXPECT_TRUE(s.gw_boundary_code.empty());
    EXPECT_EQ(error_record.fatal, 0);
}

}  // namespace
