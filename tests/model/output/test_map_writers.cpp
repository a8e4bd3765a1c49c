// Tests of the grid map writers: ASCII grids and DRELM maps read back by separate
// parsers, ASCII and binary data sets decoded byte by byte, the map timing and
// per-time file names of write_maps, the depth and discharge values, and the
// opening of the grid data sets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/model/framework_test_support.h"
#include "model/output/dataset_writer.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "model/input/input_readers.h"
#include "model/output/map_writers.h"
#include "model/core/model_state.h"
#include "model/output/output_writers.h"
#include "tests/model/output_test_support.h"

namespace {

using frameworktest::capture_stdout;
using namespace outputtest;

class MapWriters : public frameworktest::globals_reset {
protected:
    void SetUp() override {
        frameworktest::globals_reset::SetUp();
        make_grid(s);
        s.keep_running = 1;  // turns of a run that goes on
    }
    // Opens the grid outputs, then writes the maps of step 1 at `minutes`.
    void open_and_write_step_one(double minutes) {
        open_constituent_outputs(s);
        ASSERT_EQ(error_record.code, 0);
        s.map_interval_steps = 30;
        s.step_number = 1;
        s.elapsed_minutes = minutes;
        write_maps(s);
        ASSERT_EQ(error_record.fatal, 0);
    }
    frameworktest::in_scratch_dir dir;
    model_state s;
};

// Writes through fn into a file and returns its text.
template <class F>
std::string written(const char *name, const char *mode, F fn) {
    std::FILE *f = std::fopen(name, mode);
    fn(f);
    std::fclose(f);
    return read_text(name);
}

// The values of the cells 1..9, in cell order, of the ASCII data-set step that
// begins with `step_line`; a position outside the watershed must hold 0.
std::vector<double> dataset_step_cells(const std::string &text, const std::string &step_line) {
    const std::size_t at = text.find(step_line);
    if (at == std::string::npos) return {};
    std::istringstream in(text.substr(at + step_line.size()));
    int status = 0;
    for (int k = 0; k < grid_rows * grid_cols; ++k) in >> status;
    std::vector<double> cells;
    for (int i = 0; i < grid_rows; ++i)
        for (int j = 0; j < grid_cols; ++j) {
            double v = -1.0;
            in >> v;
            if (grid_mask[i][j]) cells.push_back(v);
            else EXPECT_EQ(v, 0.0);
        }
    return cells;
}

// ---- ASCII grid, read back by a separate parser ----

TEST_F(MapWriters, AsciiGridHasHeaderNorthRowFirstAndNoDataOutside) {
    array_1d<double> v;
    fill_cells(v, [](int c) { return 1.25 * c; });
    const std::string text = written("grid.asc", "w", [&](std::FILE *f) {
        write_ascii_grid_map(f, s.grid_rows, s.grid_cols, s.cell_number_grid, cell_span(v),
                             s.grid_north, s.grid_south, s.grid_east, s.grid_west, s.cell_size);
    });
    std::istringstream in(text);
    std::string key;
    int ncols = 0, nrows = 0;
    double xll = 0, yll = 0, size = 0, nodata = 0;
    in >> key >> ncols;
    EXPECT_EQ(key, "ncols");
    in >> key >> nrows;
    EXPECT_EQ(key, "nrows");
    in >> key >> xll;
    EXPECT_EQ(key, "xllcenter");
    in >> key >> yll;
    EXPECT_EQ(key, "yllcenter");
    in >> key >> size;
    EXPECT_EQ(key, "cellsize");
    in >> key >> nodata;
    EXPECT_EQ(key, "NODATA_value");
    EXPECT_EQ(ncols, 4);
    EXPECT_EQ(nrows, 3);
    EXPECT_DOUBLE_EQ(xll, 2005.0);  // west edge + half a cell
    EXPECT_DOUBLE_EQ(yll, 5005.0);  // south edge + half a cell
    EXPECT_DOUBLE_EQ(size, 10.0);
    EXPECT_DOUBLE_EQ(nodata, -9999.99);
    // Rows from the north; cells in cell-number order; -9999.99 outside.
    const double expected[3][4] = {{1.25, 2.5, -9999.99, 3.75},
                                   {-9999.99, 5.0, 6.25, 7.5},
                                   {8.75, 10.0, 11.25, -9999.99}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) {
            double x = 0;
            ASSERT_TRUE(in >> x);
            EXPECT_NEAR(x, expected[i][j], 0.005) << "row " << i + 1 << " col " << j + 1;
        }
    double extra = 0;
    EXPECT_FALSE(in >> extra);
    // One line per row after the six header lines; "%6.2lf " per value.
    const std::vector<std::string> lines = testsupport::split_lines(text);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "ncols \t4");
    EXPECT_EQ(lines[2], "xllcenter   2005.00");
    EXPECT_EQ(lines[6], "  1.25   2.50 -9999.99   3.75 ");
}

TEST_F(MapWriters, GridMapForwardsToTheAsciiGrid) {
    array_1d<double> v;
    fill_cells(v, [](int c) { return c * 0.5; });
    const std::string a = written("a.asc", "w", [&](std::FILE *f) {
        write_ascii_grid_map(f, 3, 4, s.cell_number_grid, cell_span(v), 1.0, 2.0, 3.0, 4.0, 5.0);
    });
    const std::string b = written("b.asc", "w", [&](std::FILE *f) {
        write_grid_map(f, 3, 4, 1.0, 2.0, 3.0, 4.0, s.cell_number_grid, cell_span(v), 5.0);
    });
    EXPECT_EQ(a, b);
}

// ---- DRELM map, read back by the model's own grid map reader ----

TEST_F(MapWriters, DrelmMapReadsBackThroughTheGridMapReader) {
    array_1d<double> v;
    fill_cells(v, [](int c) { return 100.0 + c / 8.0; });
    const std::string text = written("wt.map", "w", [&](std::FILE *f) {
        write_drelm_map(f, 3, 4, s.grid_north, s.grid_south, s.grid_east, s.grid_west,
                        s.cell_number_grid, cell_span(v));
    });
    const std::vector<std::string> lines = testsupport::split_lines(text);
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[0], "north:   5030.00");
    EXPECT_EQ(lines[4], "rows:     3");
    EXPECT_EQ(lines[5], "cols:     4");
    EXPECT_EQ(lines[6].substr(0, 22), "100.125000 100.250000 ");
    EXPECT_NE(lines[6].find(" 0.000000 "), std::string::npos);  // outside: 0

    const map_read_back back = read_map_back(s, "wt.map");
    ASSERT_TRUE(back.opened);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(back.north, 5030.0);
    EXPECT_DOUBLE_EQ(back.west, 2000.0);
    for (int c = 1; c <= grid_cells; ++c) EXPECT_NEAR(back.values[c], 100.0 + c / 8.0, 1e-6) << c;
}

// ---- data sets ----

TEST(DatasetBytes, LittleEndianWritersPutTheLowByteFirst) {
    frameworktest::in_scratch_dir dir;
    std::FILE *f = std::fopen("bytes", "wb");
    put_int32_le(f, 0x01020304);
    put_int32_le(f, -2);
    put_int16_le(f, 0x0a0b);
    put_double_le(f, 1.0);
    put_double_le(f, -0.15625);
    std::fclose(f);
    const std::vector<unsigned char> b = read_bytes("bytes");
    const std::vector<unsigned char> expected = {
        0x04, 0x03, 0x02, 0x01, 0xfe, 0xff, 0xff, 0xff, 0x0b, 0x0a,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xf0, 0x3f,   // 1.0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc4, 0xbf};  // -0.15625 = -1.25 x 2^-3
    EXPECT_EQ(b, expected);
}

TEST(DatasetTable, NamesAndObjectIds) {
    EXPECT_STREQ(dataset_output_name(0), "depth");
    EXPECT_STREQ(dataset_output_name(9), "suspended sediment conc.");
    EXPECT_STREQ(dataset_output_name(11), "flood grid");
    EXPECT_STREQ(dataset_output_name(12), "OV_no2_dmdt");
    EXPECT_STREQ(dataset_output_name(41), "OV_do_conc");
    EXPECT_STREQ(dataset_output_name(42), "EL_no2_dmdt");
    EXPECT_STREQ(dataset_output_name(55), "EL_cbod_mass");
    EXPECT_STREQ(dataset_output_name(56), "");
    EXPECT_EQ(dataset_object_id(0), 1010);
    EXPECT_EQ(dataset_object_id(55), 1065);
}

TEST_F(MapWriters, AsciiDataSetHeaderStepsAndEnd) {
    array_1d<double> v;
    fill_cells(v, [](int c) { return 0.5 * c; });
    const std::string text = written("d.dat", "w", [&](std::FILE *f) {
        open_dataset_file(f, 0, dataset_object_id(0), 3, 4, dataset_output_name(0));
        write_dataset_step(f, 3, 4, s.cell_number_grid, cell_span(v), 0, 30.0);
        write_dataset_end(f, 0);
    });
    const std::vector<std::string> l = testsupport::split_lines(text);
    ASSERT_EQ(l.size(), 7u + 1u + 12u + 12u + 1u);
    EXPECT_EQ(l[0], "DATASET");
    EXPECT_EQ(l[1], "OBJTYPE grid2d");
    EXPECT_EQ(l[2], "BEGSCL");
    EXPECT_EQ(l[3], "OBJID 1010");
    EXPECT_EQ(l[4], "ND 12");
    EXPECT_EQ(l[5], "NC 12");
    EXPECT_EQ(l[6], "NAME depth");
    EXPECT_EQ(l[7], "TS 1 30.000000");
    const int status[12] = {1, 1, 0, 1, 0, 1, 1, 1, 1, 1, 1, 0};
    const double value[12] = {0.5, 1.0, 0, 1.5, 0, 2.0, 2.5, 3.0, 3.5, 4.0, 4.5, 0};
    for (int k = 0; k < 12; ++k) {
        EXPECT_EQ(std::stoi(l[8 + static_cast<std::size_t>(k)]), status[k]) << k;
        EXPECT_DOUBLE_EQ(std::stod(l[20 + static_cast<std::size_t>(k)]), value[k]) << k;
    }
    EXPECT_EQ(l.back(), "ENDDS");
}

TEST_F(MapWriters, BinaryDataSetDecodesAndHasTheDescribedSize) {
    array_1d<double> v;
    fill_cells(v, [](int c) { return -0.75 * c; });
    const int steps = 3;
    written("d.bin", "wb", [&](std::FILE *f) {
        open_dataset_file(f, 1, dataset_object_id(6), 3, 4, dataset_output_name(6));
        for (int k = 0; k < steps; ++k)
            write_dataset_step(f, 3, 4, s.cell_number_grid, cell_span(v), 1, 15.0 * k + 0.5);
        write_dataset_end(f, 1);
    });
    const std::vector<unsigned char> b = read_bytes("d.bin");
    const std::size_t n = 12;
    ASSERT_EQ(b.size(), 100 + steps * (14 + 10 * n) + 4);
    const std::int32_t header[15] = {3000, 100, 4, 110, 8, 120, 2, 130, 160, 1016, 170, 12, 180, 12, 190};
    for (std::size_t k = 0; k < 15; ++k) EXPECT_EQ(le_int32(b, 4 * k), header[k]) << k;
    const std::string name(b.begin() + 60, b.begin() + 100);
    EXPECT_EQ(name.substr(0, 16), "groundwater head");
    for (std::size_t k = 16; k < 40; ++k) EXPECT_EQ(name[k], '\0');
    const int status[12] = {1, 1, 0, 1, 0, 1, 1, 1, 1, 1, 1, 0};
    const int cell[12] = {1, 2, 0, 3, 0, 4, 5, 6, 7, 8, 9, 0};
    for (int t = 0; t < steps; ++t) {
        const std::size_t at = 100 + static_cast<std::size_t>(t) * (14 + 10 * n);
        EXPECT_EQ(le_int32(b, at), 200);
        EXPECT_EQ(le_int16(b, at + 4), 1);
        EXPECT_DOUBLE_EQ(le_double(b, at + 6), 15.0 * t + 0.5);
        for (std::size_t k = 0; k < n; ++k) {
            EXPECT_EQ(le_int16(b, at + 14 + 2 * k), status[k]);
            EXPECT_DOUBLE_EQ(le_double(b, at + 14 + 2 * n + 8 * k), -0.75 * cell[k]);
        }
    }
    EXPECT_EQ(le_int32(b, b.size() - 4), 210);
}

TEST_F(MapWriters, DataSetStepTakesZeroForCellsBeyondTheArray) {
    array_1d<double> v;
    v.obtain(2);  // only cells 1 and 2
    v[1] = 7.0;
    v[2] = 8.0;
    const std::string text = written("short.dat", "w", [&](std::FILE *f) {
        write_dataset_step(f, 3, 4, s.cell_number_grid, cell_span(v), 0, 0.0);
    });
    const std::vector<std::string> l = testsupport::split_lines(text);
    ASSERT_EQ(l.size(), 25u);
    EXPECT_DOUBLE_EQ(std::stod(l[13]), 7.0);
    EXPECT_DOUBLE_EQ(std::stod(l[14]), 8.0);
    EXPECT_DOUBLE_EQ(std::stod(l[16]), 0.0);  // cell 3 has no value
}

// ---- values of the depth and discharge maps ----

TEST_F(MapWriters, DepthMapShowsChannelDepthAtChannelCells) {
    fill_cells(s.depth, [](int c) { return 0.01 * c; });
    make_network(s.channels);
    s.chan.cell_link.obtain(grid_cells);
    s.chan.cell_node.obtain(grid_cells);
    s.chan.cell_link[5] = 1;
    s.chan.cell_node[5] = 2;   // depth 0.5 at node 2 of link 1
    s.chan.cell_link[6] = 9;   // a link beyond the network is ignored
    s.chan.cell_node[6] = 1;
    std::vector<double> v = depth_map_with_channels(s);
    EXPECT_DOUBLE_EQ(v[5], 0.05);  // without INCLUDE_CHANNEL_DEPTH
    s.include_channel_depth = 1;
    v = depth_map_with_channels(s);
    EXPECT_NEAR(v[5], 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(v[6], 0.06);
    EXPECT_DOUBLE_EQ(v[4], 0.04);
}

TEST_F(MapWriters, DischargeMapIsTheMagnitudeOfTheFaceDischarges) {
    fill_cells(s.discharge_x, [](int c) { return c == 2 ? 3.0 : 0.0; });
    fill_cells(s.discharge_y, [](int c) { return c == 2 ? -4.0 : 0.0; });
    make_network(s.channels);
    s.chan.cell_link.obtain(grid_cells);
    s.chan.cell_node.obtain(grid_cells);
    s.chan.cell_link[7] = 1;
    s.chan.cell_node[7] = 1;
    std::vector<double> v = discharge_map_values(s);
    EXPECT_DOUBLE_EQ(v[2], 5.0);
    EXPECT_DOUBLE_EQ(v[7], 0.0);
    s.chan_explicit = 1;
    v = discharge_map_values(s);
    EXPECT_DOUBLE_EQ(v[7], 1.625);  // channel discharge at node 1 of link 1
}

TEST(NutrientValues, ConcentrationIsGuardedForDryCells) {
    EXPECT_DOUBLE_EQ(water_concentration(2.0, 0.5, 2.0), 1.0);
    EXPECT_DOUBLE_EQ(water_concentration(2.0, 1e-9, 2.0), 0.0);
    EXPECT_DOUBLE_EQ(water_concentration(2.0, 0.0, 2.0), 0.0);
    EXPECT_DOUBLE_EQ(water_concentration(2.0, 0.5, 0.0), 0.0);
}

TEST(NutrientValues, GatherKindsPickTheDescribedArray) {
    const std::vector<double> a = {0, 1, 2}, b = {0, 10, 20}, c = {0, 8, 0.5}, d = {0, 2, 0.0};
    std::vector<double> out;
    gather_constituent_values(1, a, b, c, d, 2.0, 2, out);
    EXPECT_EQ(out, (std::vector<double>{0, 8, 0.5}));
    gather_constituent_values(2, a, b, c, d, 2.0, 2, out);
    EXPECT_EQ(out, (std::vector<double>{0, 10, 20}));
    gather_constituent_values(3, a, b, c, d, 2.0, 2, out);
    EXPECT_EQ(out, (std::vector<double>{0, 1, 2}));
    gather_constituent_values(4, a, b, c, d, 2.0, 2, out);
    EXPECT_EQ(out, (std::vector<double>{0, 1.0, 0.0}));  // 8 / (2 x 4); cell 2 is dry
}

TEST_F(MapWriters, NutrientDataSetsTakeDmdtMassAndConcentrationOfASpecies) {
    // Species 2 (NH4) on: its slots 18, 19 and 20 get one step each per map step.
    s.datasets_on = 1;
    s.nutrients_on = 1;
    s.project.nutrient_cards = std::make_unique<nutrient_card_record>();
    s.project.nutrient_cards->overland_output[2] = {1, "nh4"};
    fill_cells(s.depth, [](int c) { return c == 4 ? 0.0 : 0.5; });  // cell 4 is dry
    species_set &nh4 = s.nutrient.species[2];
    fill_cells(nh4.conc, [](int c) { return 100.0 + c; });
    fill_cells(nh4.dmdt, [](int c) { return 0.125 * c; });
    fill_cells(nh4.mass, [](int c) { return 25.0 * c; });
    ASSERT_NO_FATAL_FAILURE(open_and_write_step_one(2.0));
    const char *names[3] = {"nh4.dmdt", "nh4.mass", "nh4.conc"};
    for (int e = 0; e < 3; ++e) s.dataset_files[static_cast<std::size_t>(18 + e)].close();
    for (int e = 0; e < 3; ++e) {
        const std::vector<double> cells =
            dataset_step_cells(read_text(names[e]), "TS 1 2.000000\n");
        ASSERT_EQ(cells.size(), 9u) << names[e];
        for (int c = 1; c <= 9; ++c) {
            // concentration: mass / (depth x 100 m2) = 25 c / 50 = 0.5 c; 0 where dry.
            const double expected = e == 0 ? 0.125 * c : e == 1 ? 25.0 * c : c == 4 ? 0.0 : 0.5 * c;
            EXPECT_DOUBLE_EQ(cells[static_cast<std::size_t>(c - 1)], expected) << names[e] << c;
        }
    }
    EXPECT_NE(read_text("nh4.conc").find("NAME OV_nh4_conc\n"), std::string::npos);
    // Another species' slots stay closed.
    EXPECT_EQ(s.dataset_files[12].file, nullptr);
}

// ---- the sediment grid outputs ----

// A run state with soil erosion on and two soil classes; the sediment inputs have
// opened the card's file `name` as a plain stream (with text in it, so that a
// take-over that does not truncate would show).
void sediment_output(model_state &s, name_card &card, owned_file &stream,
                     array_2d<double> &values, const char *name) {
    s.erosion.soil_erosion = 1;
    s.sediment.class_count = 2;
    card = {name, 1};
    stream.file = std::fopen(name, "w");
    std::fputs("plain stream\n", stream.file);
    values.obtain(grid_cells, 2);
}

TEST_F(MapWriters, SedimentDataSetsTakeTheCellTotalsOfFluxAndSuspendedSoil) {
    s.datasets_on = 1;
    sediment_record &r = s.sediment;
    sediment_output(s, s.project.max_sed_flux, r.flux_file, r.ov_qsmax, "flux.dat");
    sediment_output(s, s.project.vol_sed_susp, r.suspended_file, r.ov_qsconc, "susp.dat");
    // As the erosion step leaves them: column 0 is the sum of the class columns.
    // Flux of cell c: 1e-4 c of class 1 and 2.5e-5 of class 2 (m3/s); suspended
    // soil: 0.5 of class 1 and 0.25 c of class 2 (m3).
    for (int c = 1; c <= grid_cells; ++c) {
        r.ov_qsmax[c][1] = 1e-4 * c;
        r.ov_qsmax[c][2] = 2.5e-5;
        r.ov_qsmax[c][0] = 1e-4 * c + 2.5e-5;
        r.ov_qsconc[c][1] = 0.5;
        r.ov_qsconc[c][2] = 0.25 * c;
        r.ov_qsconc[c][0] = 0.5 + 0.25 * c;
    }
    ASSERT_NO_FATAL_FAILURE(open_and_write_step_one(0.5));
    EXPECT_EQ(r.flux_file.file, nullptr);  // the data sets took the files over
    EXPECT_EQ(r.suspended_file.file, nullptr);
    EXPECT_EQ(s.dataset_files[grid_out_sediment_volume].file, nullptr);  // card not given
    s.dataset_files[grid_out_sediment_flux].close();
    s.dataset_files[grid_out_suspended_sediment].close();
    const std::string flux = read_text("flux.dat"), susp = read_text("susp.dat");
    EXPECT_EQ(flux.rfind("DATASET\nOBJTYPE grid2d\nBEGSCL\nOBJID 1017\nND 12\nNC 12\n"
                         "NAME sediment flux\n",
                         0),
              0u);
    EXPECT_EQ(susp.rfind("DATASET\nOBJTYPE grid2d\nBEGSCL\nOBJID 1019\n", 0), 0u);
    EXPECT_NE(susp.find("NAME suspended sediment conc.\n"), std::string::npos);
    const std::vector<double> q = dataset_step_cells(flux, "TS 1 0.500000\n");
    const std::vector<double> v = dataset_step_cells(susp, "TS 1 0.500000\n");
    ASSERT_EQ(q.size(), 9u);
    ASSERT_EQ(v.size(), 9u);
    // Cell 1: 1.25e-4 m3/s and 0.75 m3; cell 9: 9.25e-4 m3/s and 2.75 m3 ("%lf": 6 decimals).
    const double flux_by_cell[9] = {0.000125, 0.000225, 0.000325, 0.000425, 0.000525,
                                    0.000625, 0.000725, 0.000825, 0.000925};
    const double susp_by_cell[9] = {0.75, 1.0, 1.25, 1.5, 1.75, 2.0, 2.25, 2.5, 2.75};
    for (std::size_t c = 0; c < 9; ++c) {
        EXPECT_NEAR(q[c], flux_by_cell[c], 5e-7) << c + 1;
        EXPECT_DOUBLE_EQ(v[c], susp_by_cell[c]) << c + 1;
    }
}

TEST_F(MapWriters, BinarySedimentVolumeDataSetDecodes) {
    s.datasets_on = 1;
    s.binary_datasets = 1;
    sediment_record &r = s.sediment;
    sediment_output(s, s.project.net_sed_volume, r.net_volume_file, r.ov_qsvol, "net.bin");
    for (int c = 1; c <= grid_cells; ++c) r.ov_qsvol[c][0] = 3.0 - 0.125 * c;
    ASSERT_NO_FATAL_FAILURE(open_and_write_step_one(4.0));
    s.dataset_files[grid_out_sediment_volume].close();
    const std::vector<unsigned char> b = read_bytes("net.bin");
    ASSERT_EQ(b.size(), 100u + 14u + 10u * 12u);
    EXPECT_EQ(le_int32(b, 36), 1018);
    EXPECT_EQ(std::string(b.begin() + 60, b.begin() + 75), "sediment volume");
    EXPECT_DOUBLE_EQ(le_double(b, 106), 4.0);
    // Positions 1, 2 and 4 hold cells 1, 2 and 3; position 3 is outside.
    const double expected[4] = {2.875, 2.75, 0.0, 2.625};
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_DOUBLE_EQ(le_double(b, 114 + 24 + 8 * k), expected[k]) << k;
}

TEST_F(MapWriters, PerTimeModeAppendsOneSedimentGridPerMapStepToTheCardsFile) {
    s.grid_map_files_on = 1;
    s.quiet = 1;
    sediment_record &r = s.sediment;
    sediment_output(s, s.project.net_sed_volume, r.net_volume_file, r.ov_qsvol, "net.asc");
    open_constituent_outputs(s);
    ASSERT_EQ(error_record.code, 0);
    ASSERT_NE(r.net_volume_file.file, nullptr);  // no data set in this mode
    s.map_interval_steps = 2;
    for (s.step_number = 1; s.step_number <= 3; ++s.step_number) {
        // Loose soil of cell c: 5.4 m3 less 0.01 c per step taken.
        for (int c = 1; c <= grid_cells; ++c) r.ov_qsvol[c][0] = 5.4 - 0.01 * c * s.step_number;
        write_maps(s);
    }
    ASSERT_EQ(error_record.fatal, 0);
    r.net_volume_file.close();
    const std::vector<std::string> l = testsupport::split_lines(read_text("net.asc"));
    // The stream's earlier text stays; two grids of six header lines and three rows follow.
    ASSERT_EQ(l.size(), 1u + 2u * 9u);
    EXPECT_EQ(l[1], "ncols \t4");
    EXPECT_EQ(l[7], "  5.39   5.38 -9999.99   5.37 ");                  // step 1
    EXPECT_EQ(l[10], "ncols \t4");
    EXPECT_EQ(l[16], "  5.37   5.34 -9999.99   5.31 ");                 // step 3
    EXPECT_EQ(l[18], "  5.19   5.16   5.13 -9999.99 ");                 // cells 7 to 9
}

// ---- write_maps: timing, names and failures ----

TEST_F(MapWriters, PerTimeMapsAtSteps1_31_61WithTwoDigitCounter) {
    std::filesystem::create_directory("depth");
    fill_cells(s.depth, [](int c) { return 0.1 * c; });
    fill_cells(s.step_rain_rate, [](int c) { return 2.0 * c; });
    s.grid_map_files_on = 1;
    s.depth_out = 1;
    s.dis_rain_out = 1;
    s.map_interval_steps = 30;
    const std::string out = capture_stdout([&] {
        for (s.step_number = 1; s.step_number <= 75; ++s.step_number) write_maps(s);
    });
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(s.map_file_counter, 3);
    for (const char *name : {"depth/depth.01", "depth/depth.02", "depth/depth.03", "rain.01",
                             "rain.03"})
        EXPECT_TRUE(std::filesystem::exists(name)) << name;
    EXPECT_FALSE(std::filesystem::exists("depth/depth.04"));
    EXPECT_NE(out.find("opening file depth/depth.01\n"), std::string::npos);
    EXPECT_NE(out.find("opening file rain.02\n"), std::string::npos);
    // The depth file is an ASCII grid of the overland depths.
    const std::vector<std::string> l = testsupport::split_lines(read_text("depth/depth.01"));
    ASSERT_EQ(l.size(), 9u);
    EXPECT_EQ(l[7], "-9999.99   0.40   0.50   0.60 ");
}

TEST_F(MapWriters, CounterPastNinetyNineHasThreeDigits) {
    EXPECT_EQ(per_time_map_name(nullptr, "surf", 7), "surf.07");
    EXPECT_EQ(per_time_map_name(nullptr, "surf", 100), "surf.100");
    EXPECT_EQ(per_time_map_name("depth", "depth", 1), "depth/depth.01");
}

TEST_F(MapWriters, CalibrationPrefixGoesOnTheFileInsideTheDepthDirectory) {
    std::filesystem::create_directory("depth");
    s.grid_map_files_on = 1;
    s.depth_out = 1;
    s.map_interval_steps = 1;
    s.quiet = 1;
    file_prefix_on = 1;
    file_prefix_number = 3;
    s.step_number = 1;
    write_maps(s);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_TRUE(std::filesystem::exists("depth/3_depth.01"));
}

TEST_F(MapWriters, MissingDepthDirectoryStopsTheRunWithItsMessage) {
    s.grid_map_files_on = 1;
    s.depth_out = 1;
    s.map_interval_steps = 10;
    s.step_number = 1;
    const std::string out = capture_stdout([&] { write_maps(s); });
    EXPECT_NE(out.find("Can't open depth map for writing: depth/depth.01\n"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(error_record.code, 0);  // reported
}

TEST_F(MapWriters, NoMapsOffTheMapStepsOrWithoutAMapKind) {
    s.depth_out = 1;
    s.map_interval_steps = 10;
    s.step_number = 5;  // not a map step
    s.grid_map_files_on = 1;
    write_maps(s);
    EXPECT_EQ(s.map_file_counter, 0);
    s.grid_map_files_on = 0;  // MAP_TYPE 3: neither per-time files nor data sets
    s.step_number = 11;
    write_maps(s);
    EXPECT_EQ(s.map_file_counter, 0);
    EXPECT_TRUE(std::filesystem::is_empty("."));
    s.grid_map_files_on = 1;
    parallel_layout.suppress_output = 1;
    write_maps(s);
    EXPECT_EQ(s.map_file_counter, 0);
}

TEST_F(MapWriters, ZeroMapIntervalWritesEveryStep) {
    s.grid_map_files_on = 1;
    s.dis_rain_out = 1;
    s.quiet = 1;
    s.map_interval_steps = 0;
    for (s.step_number = 1; s.step_number <= 3; ++s.step_number) write_maps(s);
    EXPECT_EQ(s.map_file_counter, 3);
}

// ---- data sets opened after the inputs, and their steps ----

TEST_F(MapWriters, DataSetsOpenInOrderAndTakeOneStepPerMapStep) {
    s.datasets_on = 1;
    s.depth_out = 1;
    s.project.depth.name = "\"depth.dat\"";  // quotes are removed
    s.dis_rain_out = 1;
    s.project.dis_rain.name = "rain.dat";
    s.flood_grid_on = 1;
    s.flood_grid_name = "flood.dat";
    s.map_interval_steps = 30;
    fill_cells(s.depth, [](int c) { return 0.25 * c; });
    open_constituent_outputs(s);
    ASSERT_EQ(error_record.code, 0);
    for (s.step_number = 1; s.step_number <= 40; ++s.step_number) {
        s.elapsed_minutes = s.step_number * 0.5;
        write_maps(s);
    }
    s.dataset_files[grid_out_depth].close();
    s.dataset_files[grid_out_rain].close();
    s.dataset_files[grid_out_flood_grid].close();
    const std::string depth = read_text("depth.dat");
    EXPECT_EQ(depth.rfind("DATASET\nOBJTYPE grid2d\nBEGSCL\nOBJID 1010\nND 12\nNC 12\nNAME depth\n", 0), 0u);
    EXPECT_NE(depth.find("TS 1 0.500000\n"), std::string::npos);
    EXPECT_NE(depth.find("TS 1 15.500000\n"), std::string::npos);  // step 31
    EXPECT_EQ(depth.find("TS 1 1.000000\n"), std::string::npos);
    EXPECT_NE(read_text("rain.dat").find("NAME rain\n"), std::string::npos);
    // The flood grid gets no steps during the run.
    EXPECT_EQ(read_text("flood.dat").find("TS 1"), std::string::npos);
    EXPECT_NE(read_text("flood.dat").find("OBJID 1021\n"), std::string::npos);
}

TEST_F(MapWriters, BinaryDataSetIsOpenedInBinaryForm) {
    s.datasets_on = 1;
    s.binary_datasets = 1;
    s.surf_moist_out = 1;
    s.project.surf_moist.name = "surf.bin";
    open_constituent_outputs(s);
    s.dataset_files[grid_out_surface_moisture].close();
    const std::vector<unsigned char> b = read_bytes("surf.bin");
    ASSERT_EQ(b.size(), 100u);
    EXPECT_EQ(le_int32(b, 0), 3000);
    EXPECT_EQ(le_int32(b, 36), 1015);
}

TEST_F(MapWriters, DataSetThatCannotBeOpenedIsCode59WithItsName) {
    s.datasets_on = 1;
    s.discharge_out = 1;
    s.project.discharge.name = "no_such_dir/q.dat";
    open_constituent_outputs(s);
    EXPECT_EQ(error_record.code, 59);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_STREQ(error_record.text2, "no_such_dir/q.dat");
}

TEST_F(MapWriters, PerTimeModeOpensNoDataSetsButTheGroundwaterStream) {
    s.grid_map_files_on = 1;
    s.depth_out = 1;
    s.project.depth.name = "depth.dat";
    s.groundwater_on = 1;
    s.project.gw_output.given = 1;
    s.gw_output_name = "gw.out";
    s.map_interval_steps = 2;
    s.quiet = 1;
    std::filesystem::create_directory("depth");
    fill_cells(s.water_table_elevation, [](int c) { return 90.0 + c; });
    open_constituent_outputs(s);
    ASSERT_EQ(error_record.code, 0);
    EXPECT_FALSE(std::filesystem::exists("depth.dat"));
    for (s.step_number = 1; s.step_number <= 3; ++s.step_number) write_maps(s);
    s.dataset_files[grid_out_groundwater_head].close();
    const std::string gw = read_text("gw.out");
    // Two ASCII grids, one per map step.
    std::size_t count = 0;
    for (std::size_t at = gw.find("ncols"); at != std::string::npos; at = gw.find("ncols", at + 1))
        ++count;
    EXPECT_EQ(count, 2u);
    EXPECT_NE(gw.find(" 91.00  92.00 -9999.99  93.00 \n"), std::string::npos);
}

// ---- the contaminant concentration map and data set ----

// Two contaminants on the test grid: the first holds 1 + 0.25 c in cell c (mass
// per m3 of water), the second 100 + c; the map shows the first.
void contaminant_grids(model_state &s, double shift = 0.0) {
    s.ov_con_trans_mode = 1;
    s.ov_con_map_on = 1;
    if (s.constituent_count == 0) allocate_constituent_arrays(2, s, grid_cells, 0);
    ASSERT_EQ(error_record.fatal, 0);
    double *first = table_value(1, s.transport_tables[transport_table::concentration]);
    double *second = table_value(2, s.transport_tables[transport_table::concentration]);
    for (int c = 1; c <= grid_cells; ++c) {
        first[c] = 1.0 + 0.25 * c + shift;
        second[c] = 100.0 + c;
    }
}

// The values of an ASCII grid by cell number (1..9), read with a separate parser
// after its six header lines; a position outside must hold the no-data value.
std::vector<double> ascii_grid_cells(const std::string &text) {
    std::istringstream in(text);
    std::string line;
    for (int k = 0; k < 6; ++k) std::getline(in, line);
    std::vector<double> cells;
    for (int i = 0; i < grid_rows; ++i)
        for (int j = 0; j < grid_cols; ++j) {
            double v = 0.0;
            if (!(in >> v)) return {};
            if (grid_mask[i][j]) cells.push_back(v);
            else EXPECT_EQ(v, -9999.99);
        }
    return cells;
}

TEST_F(MapWriters, PerTimeConcentrationMapsHoldTheFirstContaminantCellByCell) {
    s.grid_map_files_on = 1;
    s.map_interval_steps = 2;
    ASSERT_NO_FATAL_FAILURE(contaminant_grids(s));
    std::string out;
    for (s.step_number = 1; s.step_number <= 3; ++s.step_number) {
        if (s.step_number == 3) {
            ASSERT_NO_FATAL_FAILURE(contaminant_grids(s, 0.5));
        }
        out += capture_stdout([&] { write_maps(s); });
    }
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_NE(out.find("opening file conc.01\n"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists("conc.03"));
    const std::vector<double> first = ascii_grid_cells(read_text("conc.01"));
    const std::vector<double> second = ascii_grid_cells(read_text("conc.02"));
    ASSERT_EQ(first.size(), 9u);
    ASSERT_EQ(second.size(), 9u);
    for (int c = 1; c <= 9; ++c) {
        EXPECT_DOUBLE_EQ(first[static_cast<std::size_t>(c - 1)], 1.0 + 0.25 * c) << c;
        EXPECT_DOUBLE_EQ(second[static_cast<std::size_t>(c - 1)], 1.5 + 0.25 * c) << c;  // step 3
    }
}

TEST_F(MapWriters, ConcentrationDataSetStepsHoldTheFirstContaminantCellByCell) {
    s.datasets_on = 1;
    s.project.ov_con_map = {"conc.dat", 1};
    ASSERT_NO_FATAL_FAILURE(contaminant_grids(s));
    ASSERT_NO_FATAL_FAILURE(open_and_write_step_one(1.5));
    s.step_number = 31;
    s.elapsed_minutes = 16.5;
    ASSERT_NO_FATAL_FAILURE(contaminant_grids(s, -1.0));
    write_maps(s);
    s.dataset_files[grid_out_contaminant].close();
    ASSERT_EQ(error_record.fatal, 0);
    const std::string text = read_text("conc.dat");
    EXPECT_EQ(text.rfind("DATASET\nOBJTYPE grid2d\nBEGSCL\nOBJID 1020\nND 12\nNC 12\n"
                         "NAME contaminant conc.\n",
                         0),
              0u);
    const std::vector<double> first = dataset_step_cells(text, "TS 1 1.500000\n");
    const std::vector<double> later = dataset_step_cells(text, "TS 1 16.500000\n");
    ASSERT_EQ(first.size(), 9u);
    ASSERT_EQ(later.size(), 9u);
    for (int c = 1; c <= 9; ++c) {
        EXPECT_DOUBLE_EQ(first[static_cast<std::size_t>(c - 1)], 1.0 + 0.25 * c) << c;
        EXPECT_DOUBLE_EQ(later[static_cast<std::size_t>(c - 1)], 0.25 * c) << c;
    }
}

TEST_F(MapWriters, NoConcentrationMapWithoutTheCardOrWithoutContaminants) {
    s.grid_map_files_on = 1;
    s.map_interval_steps = 1;
    s.quiet = 1;
    ASSERT_NO_FATAL_FAILURE(contaminant_grids(s));
    s.ov_con_map_on = 0;
    s.step_number = 1;
    write_maps(s);
    s.ov_con_map_on = 1;
    s.ov_con_trans_mode = 0;
    s.step_number = 2;
    write_maps(s);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_TRUE(std::filesystem::is_empty("."));
}

TEST_F(MapWriters, ConcentrationMapThatCannotBeOpenedStopsTheRunWithItsMessage) {
    s.grid_map_files_on = 1;
    s.map_interval_steps = 1;
    s.step_number = 1;
    ASSERT_NO_FATAL_FAILURE(contaminant_grids(s));
    std::filesystem::create_directory("conc.01");  // a directory cannot be opened for writing
    const std::string out = capture_stdout([&] { write_maps(s); });
    EXPECT_NE(out.find("Can't open conc map for writing: conc.01\n"), std::string::npos) << out;
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(MapWriters, FailedWritesOfTheConcentrationMapAndDataSetAreReported) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    ASSERT_NO_FATAL_FAILURE(contaminant_grids(s));
    s.map_interval_steps = 1;
    s.step_number = 1;
    s.quiet = 1;
    // Per-time map: the grid fails when its file is closed within the map step.
    std::filesystem::create_symlink("/dev/full", "conc.01");
    s.grid_map_files_on = 1;
    std::string out = capture_stdout([&] { write_maps(s); });
    EXPECT_NE(out.find("Error: unable to write the output file conc.01\n"), std::string::npos) << out;
    EXPECT_EQ(error_record.fatal, 1);
    // Data set: the failure shows when the stream is checked or closed.
    reset_process_globals();
    std::filesystem::create_symlink("/dev/full", "conc.dat");
    s.grid_map_files_on = 0;
    s.datasets_on = 1;
    s.project.ov_con_map = {"conc.dat", 1};
    open_constituent_outputs(s);
    ASSERT_EQ(error_record.code, 0);
    write_maps(s);
    out = capture_stdout([&] { s.dataset_files[grid_out_contaminant].close(); });
    EXPECT_NE(out.find("Error: unable to write the output file conc.dat\n"), std::string::npos) << out;
    EXPECT_EQ(error_record.fatal, 1);
}

}  // namespace
