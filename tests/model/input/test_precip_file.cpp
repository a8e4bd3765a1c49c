// Tests of the precipitation file, the radar grids and the precipitation set-up on
// hand-written files: card words in any case, several events, the date-order and
// accumulation checks, radar files in inches, the event scan and the clocks.
#include <gtest/gtest.h>

#include <filesystem>

#include <cmath>
#include <cstdio>
#include <string>

#include "model/core/calendar.h"
#include "model/core/errors.h"
#include "model/framework_test_support.h"
#include "model/core/globals.h"
#include "model/input/input_services.h"
#include "model/input/precip_file.h"
#include "model/input/precip_setup.h"
#include "model/input/radar_precip.h"
#include "model/core/model_state.h"

namespace {

using frameworktest::capture_stdout;
using frameworktest::in_scratch_dir;

class PrecipFileTest : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override {
        if (file_) std::fclose(file_);
        reset_process_globals();
    }
    std::FILE *open(const std::string &text) {
        dir_.dir().write("rain.gag", text);
        if (file_) std::fclose(file_);
        file_ = std::fopen("rain.gag", "r");
        return file_;
    }
    // One read; its printed text goes to out.
    int read(precip_event &e, std::string *out = nullptr) {
        int result = 0;
        const std::string text = capture_stdout([&] { result = read_precip_file(file_, e, found_, radar_); });
        if (out) *out = text;
        return result;
    }
    in_scratch_dir dir_;
    std::FILE *file_ = nullptr;
    int found_ = 0;
    radar_grid radar_;
};

const char *two_events =
    "event First storm, \"north basin\"\n"
    "NRPDS 3\nnrgag 2\n"
    "COORD 1000.0 2000.0  gage A\n"
    "coord 1500.5 2500.0\n"
    "Gages 98 7 4 10 00 1.0 2.0\n"
    "GAGES 98 7 4 10 30 3.0 4.0\n"
    "gages 98 7 4 11 00 5.0 6.0\n"
    "\n"
    "EVENTS second\n"
    "NRGAG 1 NRPDS 2\nCOORD 0 0\n"
    "ACCUM 2001 1 31 23 00 0.0\n"
    "accum 2001 2 1 01 00 4.5\n";

}  // namespace

TEST_F(PrecipFileTest, CardsInAnyCaseAndSeveralEvents) {
    ASSERT_NE(open(two_events), nullptr);
    precip_event e;
    ASSERT_EQ(read(e), precip_event_read);
    EXPECT_EQ(found_, 1);
    EXPECT_EQ(e.title, "First storm, \"north basin\"");
    EXPECT_EQ(e.gauges, 2);
    EXPECT_EQ(e.records, 3);
    EXPECT_EQ(e.gages, 1);
    EXPECT_EQ(e.rates + e.accum + e.radar, 0);
    EXPECT_DOUBLE_EQ(e.gauge_x[2], 1500.5);
    EXPECT_DOUBLE_EQ(e.gauge_y[1], 2000.0);
    EXPECT_EQ(e.dates[1].year, 1998);  // year 98 means 1998
    EXPECT_EQ(e.dates[2].minute, 30);
    // The values table holds every gauge of every record at k * gauges + g.
    EXPECT_EQ(e.values.size(), 4u * 2u + 1u);
    EXPECT_DOUBLE_EQ(e.value(1, 1), 1.0);
    EXPECT_DOUBLE_EQ(e.value(3, 2), 6.0);

    ASSERT_EQ(read(e), precip_event_read);  // "EVENTS" opens an event too
    EXPECT_EQ(found_, 2);
    EXPECT_EQ(e.title, "S second");  // the word is read in pieces of five
    EXPECT_EQ(e.accum, 1);
    EXPECT_EQ(e.gages, 0);
    EXPECT_EQ(e.dates[1].year, 2001);
    EXPECT_DOUBLE_EQ(e.value(2, 1), 4.5);

    EXPECT_EQ(read(e), precip_no_event);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(PrecipFileTest, EqualDatesAcceptedEarlierRefused) {
    open("EVENT same\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
         "RATES 2000 5 1 12 00 1.0\nRATES 2000 5 1 12 00 2.0\n");
    precip_event e;
    EXPECT_EQ(read(e), precip_event_read);

    open("EVENT back\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
         "RATES 2000 5 1 12 00 1.0\nRATES 2000 5 1 11 59 2.0\n");
    std::string out;
    EXPECT_EQ(read(e, &out), precip_format_error);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("On line no. 2, the given time of the recorded data is:    2000/5/1 11:59"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Which is earlier than the date/time on the previous line:  2000/5/1 12:00"),
              std::string::npos);
}

TEST_F(PrecipFileTest, DecreasingAccumulationRefused) {
    open("EVENT acc\nNRGAG 2\nNRPDS 2\nCOORD 0 0\nCOORD 1 1\n"
         "ACCUM 2000 5 1 12 00 3.0 1.0\nACCUM 2000 5 1 13 00 3.0 0.5\n");
    precip_event e;
    std::string out;
    EXPECT_EQ(read(e, &out), precip_format_error);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("the accumulated precip. for gage number 2 is:  0.50000 mm"), std::string::npos)
        << out;
}

TEST_F(PrecipFileTest, OneCardKindPerEvent) {
    open("EVENT mixed\nNRGAG 1\nNRPDS 2\nCOORD 0 0\n"
         "GAGES 2000 5 1 12 00 1.0\nRATES 2000 5 1 13 00 2.0\n");
    precip_event e;
    std::string out;
    EXPECT_EQ(read(e, &out), precip_format_error);
    EXPECT_NE(out.find("More than one precipitation data card type has been specified."),
              std::string::npos);

    open("EVENT unknown\nNRGAG 1\nNRPDS 1\nCOORD 0 0\nDEPTH 2000 5 1 12 00 1.0\n");
    EXPECT_EQ(read(e, &out), precip_format_error);
    EXPECT_NE(out.find("At least one precipitation data card type must be specified."),
              std::string::npos);
}

TEST_F(PrecipFileTest, CountsAreChecked) {
    precip_event e;
    std::string out;
    open("EVENT neg\nNRGAG -2\nNRPDS 2\n");
    EXPECT_EQ(read(e, &out), precip_format_error);
    EXPECT_NE(out.find("NRGAG value \"-2\""), std::string::npos) << out;

    open("EVENT neg\nNRGAG 1\nNRPDS -1\n");
    EXPECT_EQ(read(e), precip_format_error);

    open("EVENT word\nNRGAG many\nNRPDS 1\n");
    EXPECT_EQ(read(e), precip_format_error);

    open("EVENT nocoord\nNRGAG 1\nNRPDS 1\nGAGES 2000 1 1 0 0 1.0\n");
    EXPECT_EQ(read(e, &out), precip_format_error);
    EXPECT_NE(out.find("Cannot find gage coordinate card"), std::string::npos);
}

TEST_F(PrecipFileTest, TwelveGaugesAreReadWhole) {
    // NRGAG 12 is twelve gauges (not one), and the last gauge of the last record
    // has its place in the values table.
    std::string text = "EVENT many\nNRGAG 12\nNRPDS 2\n";
    for (int g = 1; g <= 12; ++g) text += "COORD " + std::to_string(100 * g) + " 0\n";
    std::string first = "GAGES 2021 7 12 14 00", second = "GAGES 2021 7 12 14 30";
    for (int g = 1; g <= 12; ++g) {
        first += " 0";
        second += " " + std::to_string(g);
    }
    open(text + first + "\n" + second + "\n");
    precip_event e;
    std::string out;
    ASSERT_EQ(read(e, &out), precip_event_read) << out;
    EXPECT_EQ(e.gauges, 12);
    EXPECT_EQ(e.records, 2);
    EXPECT_EQ(e.values.size(), 3u * 12u + 1u);
    EXPECT_DOUBLE_EQ(e.gauge_x[12], 1200.0);
    EXPECT_DOUBLE_EQ(e.value(2, 12), 12.0);
    EXPECT_DOUBLE_EQ(e.value(2, 1), 1.0);
}

TEST_F(PrecipFileTest, CountsBeyondTheFileEndAtTheMissingData) {
    // Counts that no file of this size could hold end at the first missing card or
    // record, without reserving room for them first.
    precip_event e;
    std::string out;
    open("EVENT huge\nNRGAG 2000000000\nNRPDS 4\nCOORD 0 0\nCOORD 1 1\n"
         "RATES 2021 7 12 14 0 1.0 2.0\n");
    EXPECT_EQ(read(e, &out), precip_format_error);
    EXPECT_NE(out.find("Cannot find gage coordinate card"), std::string::npos) << out;

    open("EVENT long\nNRGAG 2\nNRPDS 2000000000\nCOORD 0 0\nCOORD 1 1\n"
         "RATES 2021 7 12 14 0 1.0 2.0\nRATES 2021 7 12 14 15 3.0 4.0\n");
    EXPECT_EQ(read(e, &out), precip_early_end);
    EXPECT_NE(out.find("last year 2021 last month 7 last day 12 last hour 14 last minute 15"),
              std::string::npos)
        << out;

    // A complete event still ends with the full tables: value of gauge g in record
    // k at k x gauges + g, dates 1..records.
    open("EVENT full\nNRGAG 2\nNRPDS 2\nCOORD 0 0\nCOORD 1 1\n"
         "RATES 2021 7 12 14 0 1.0 2.0\nRATES 2021 7 12 14 15 3.0 4.0\n");
    ASSERT_EQ(read(e), precip_event_read);
    EXPECT_EQ(e.values.size(), 7u);
    EXPECT_EQ(e.dates.size(), 3u);
    EXPECT_EQ(e.gauge_x.size(), 3u);
    EXPECT_DOUBLE_EQ(e.value(2, 1), 3.0);
    EXPECT_DOUBLE_EQ(e.value(2, 2), 4.0);
    EXPECT_EQ(e.dates[2].minute, 15);
}

TEST_F(PrecipFileTest, NegativeAndNonNumericAmountsRefused) {
    precip_event e;
    std::string out;
    for (const char *bad : {"-30.0", "-999", "nan", "inf"}) {
        open(std::string("EVENT bad amount\nNRGAG 2\nNRPDS 2\nCOORD 0 0\nCOORD 1 1\n"
                         "RATES 2021 7 12 14 0 10.0 20.0\nRATES 2021 7 12 14 15 ") +
             bad + " 20.0\n");
        EXPECT_EQ(read(e, &out), precip_format_error) << bad;
        EXPECT_NE(out.find("Gage 1 of precip record 2 of the EVENT titled:\n bad amount"), std::string::npos)
            << out;
        EXPECT_NE(out.find("which is not a precipitation amount"), std::string::npos) << out;
    }
    // Zero is a valid amount.
    open("EVENT dry\nNRGAG 1\nNRPDS 1\nCOORD 0 0\nGAGES 2021 7 12 14 0 0.0\n");
    EXPECT_EQ(read(e), precip_event_read);
}

TEST_F(PrecipFileTest, EarlyEndsAndUnreadableValues) {
    precip_event e;
    std::string out;
    open("EVENT short\nNRGAG 1\nNRPDS 3\nCOORD 0 0\nGAGES 2000 1 1 0 0 1.0\n");
    EXPECT_EQ(read(e, &out), precip_early_end);
    EXPECT_NE(out.find("last year 2000 last month 1 last day 1 last hour 0 last minute 0"),
              std::string::npos);

    open("EVENT bad\nNRGAG 2\nNRPDS 1\nCOORD 0 0\nCOORD 1 1\nGAGES 2000 1 1 0 0 1.0 x\n");
    EXPECT_EQ(read(e, &out), precip_early_end);
    EXPECT_NE(out.find("look at gage 2"), std::string::npos);

    open("EVENT counts never given\n");
    EXPECT_EQ(read(e), precip_early_end);

    open("nothing here but words\n");
    EXPECT_EQ(read(e), precip_no_event);
}

TEST_F(PrecipFileTest, RadarFileEvent) {
    dir_.dir().write("r1.asc", "ncols 3\nnrows 2\nxllcorner 0.0\nyllcorner 0.0\ncellsize 100\n"
                               "NODATA_value -9999\n1.0 0 -9999\n0.5 2 0.25\n");
    dir_.dir().write("r2.asc", "ncols 3\nnrows 2\nxllcorner 0.0\nyllcorner 0.0\ncellsize 100\n"
                               "NODATA_value -9999\n0 0 0\n0 0 1\n");
    open("EVENT radar\nNRGAG radar_files\nNRPDS 2\n"
         "RADAR 2000 6 1 12 00 r1.asc\nradar 2000 6 1 13 00 \"r2.asc\"\n");
    precip_event e;
    ASSERT_EQ(read(e), precip_event_read);
    EXPECT_EQ(e.radar, 2);
    EXPECT_EQ(e.gauges, 1);
    ASSERT_EQ(e.radar_files.size(), 3u);
    EXPECT_EQ(e.radar_files[0], "r1.asc");
    EXPECT_EQ(e.radar_files[1], "r2.asc");
    EXPECT_EQ(e.radar_files[2], "r2.asc");
    EXPECT_EQ(radar_.cols, 3);
    EXPECT_EQ(radar_.rows, 2);
    EXPECT_DOUBLE_EQ(radar_.west, 0.0);
    EXPECT_DOUBLE_EQ(radar_.north, 200.0);

    std::string out = capture_stdout([&] { EXPECT_EQ(read_radar_values(radar_, "r1.asc"), 0); });
    EXPECT_DOUBLE_EQ(radar_.values[0], 25.4);   // inches to mm
    EXPECT_DOUBLE_EQ(radar_.values[1], 0.0);    // exactly 0
    EXPECT_DOUBLE_EQ(radar_.values[2], 0.0);    // no data
    EXPECT_DOUBLE_EQ(radar_.values[4], 50.8);
    EXPECT_NE(out.find("Peak rainfall rate read: 50.800000 mm/hr"), std::string::npos);
}

TEST_F(PrecipFileTest, RadarFilesThatCannotServeStopTheRun) {
    dir_.dir().write("zero.asc", "ncols 0\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata 0\n");
    std::string out = capture_stdout([&] { EXPECT_EQ(read_radar_grid(radar_, "zero.asc"), -1); });
    EXPECT_NE(out.find("all must be above 0"), std::string::npos);
    EXPECT_EQ(read_radar_grid(radar_, "missing.asc"), -1);

    open("EVENT radar\nNRGAG files\nNRPDS 1\nRADAR 2000 6 1 12 00 missing.asc\n");
    precip_event e;
    EXPECT_EQ(read(e, &out), precip_format_error);
    EXPECT_NE(out.find("Error: unable to read radar header in file missing.asc"), std::string::npos);

    // A file of another size leaves the values unchanged.
    dir_.dir().write("a.asc", "ncols 2\nnrows 1\nx 0\ny 0\ncellsize 10\nnodata -1\n1 2\n");
    dir_.dir().write("b.asc", "ncols 3\nnrows 1\nx 0\ny 0\ncellsize 10\nnodata -1\n1 2 3\n");
    ASSERT_EQ(read_radar_grid(radar_, "a.asc"), 0);
    capture_stdout([&] { EXPECT_EQ(read_radar_values(radar_, "a.asc"), 0); });
    capture_stdout([&] { EXPECT_EQ(read_radar_values(radar_, "b.asc"), -1); });
    EXPECT_DOUBLE_EQ(radar_.values[1], 50.8);
}

TEST_F(PrecipFileTest, RadarMappingOfCells) {
    model_state s;
    s.grid_rows = 2;
    s.grid_cols = 2;
    s.cell_size = 100.0;
    s.mask_west = 0.0;
    s.mask_north = 200.0;
    alloc_2d_int(s.cell_number_grid, 3, 3);
    s.cell_number_grid[1][2] = 1;
    s.cell_number_grid[2][1] = 2;
    s.cell_number_grid[2][2] = 3;
    s.cell_count = 3;
    // A radar grid of 4 x 4 cells of 50 m from (0, 0): model cell (r, c) centre
    // (100c - 50, 250 - 100r) falls in radar row (200 - y) / 50, column x / 50.
    dir_.dir().write("g.asc", "ncols 4\nnrows 4\nx 0\ny 0\ncellsize 50\nnodata -1\n"
                              "0 0 0 1\n0 0 0 0\n0 2 0 0\n0 0 0 3\n");
    ASSERT_EQ(read_radar_grid(radar_, "g.asc"), 0);
    init_radar_grid(radar_, s);
    ASSERT_EQ(map_radar_to_cells(radar_, s.cell_number_grid), 0);
    EXPECT_EQ(radar_.cell_map[1], 1 * 4 + 3);  // centre (150, 150): row 1, column 3
    EXPECT_EQ(radar_.cell_map[2], 3 * 4 + 1);  // centre (50, 50): row 3, column 1
    EXPECT_EQ(radar_.cell_map[3], 3 * 4 + 3);
    capture_stdout([&] { ASSERT_EQ(read_radar_values(radar_, "g.asc"), 0); });
    array_1d<double> rate;
    alloc_1d_double(rate, 3);
    capture_stdout([&] { EXPECT_EQ(apply_radar_to_cells(radar_, rate), 0); });
    EXPECT_DOUBLE_EQ(rate[1], 0.0);
    EXPECT_DOUBLE_EQ(rate[3], 3 * 25.4);

    // A watershed that reaches past the radar grid (west here) is refused.
    s.mask_west = -100.0;
    init_radar_grid(radar_, s);
    std::string out = capture_stdout([&] { EXPECT_EQ(map_radar_to_cells(radar_, s.cell_number_grid), -1); });
    EXPECT_EQ(error_record.code, 102);
    EXPECT_NE(out.find("Error!! p_I=3, p_J=-1"), std::string::npos) << out;
}

TEST_F(PrecipFileTest, RadarMappingUsesTheMaskHeaderWhateverMapWasReadLast) {
    model_state s;
    dir_.dir().write("mask.map", "north: 250.0\nsouth: 50.0\neast: 400.0\nwest: 100.0\n"
                                 "rows: 2\ncols: 3\n1 1 1\n1 1 1\n");
    s.mask_name = "mask.map";
    // The header fields as the last map read (a soil map of another extent) left them.
    s.grid_north = 9000.0;
    s.grid_south = 8000.0;
    s.grid_east = 7000.0;
    s.grid_west = 6000.0;
    remember_mask_header(s);
    EXPECT_EQ(s.mask_header_read, 1);
    EXPECT_DOUBLE_EQ(s.mask_north, 250.0);
    EXPECT_DOUBLE_EQ(s.mask_south, 50.0);
    EXPECT_DOUBLE_EQ(s.mask_east, 400.0);
    EXPECT_DOUBLE_EQ(s.mask_west, 100.0);
    s.grid_rows = 2;
    s.grid_cols = 3;
    s.cell_size = 100.0;
    s.cell_count = 6;
    init_radar_grid(radar_, s);
    EXPECT_DOUBLE_EQ(radar_.model_north, 250.0);
    EXPECT_DOUBLE_EQ(radar_.model_west, 100.0);

    // Without a readable mask file the current header is kept.
    model_state t;
    t.mask_name = "no_such.map";
    t.grid_north = 10.0;
    t.grid_west = -5.0;
    remember_mask_header(t);
    EXPECT_DOUBLE_EQ(t.mask_north, 10.0);
    EXPECT_DOUBLE_EQ(t.mask_west, -5.0);
}

// ---------------------------------------------------------------------------
// Set-up and start time

namespace {

// A run state with a precipitation file of three gauge events.
void gauge_run(model_state &s, const testsupport::scratch_dir &dir) {
    dir.write("storm.gag",
              "EVENT one\nNRGAG 1\nNRPDS 2\nCOORD 0 0\nRATES 2004 2 28 23 00 1\nRATES 2004 2 29 1 0 0\n"
              "EVENT two\nNRGAG 1\nNRPDS 1\nCOORD 0 0\nRATES 2004 3 2 6 30 1\n"
              "EVENT three\nNRGAG 1\nNRPDS 1\nCOORD 0 0\nRATES 2004 3 5 0 0 1\n");
    s.gauge_file_on = 1;
    s.precip_name = "storm.gag";
    s.precip_file = std::fopen("storm.gag", "r");
    s.time_step = 30.0;
}

}  // namespace

TEST_F(PrecipFileTest, SetupCountsEventsAndSimulatesTheFirst) {
    model_state s;
    gauge_run(s, dir_.dir());
    s.total_time = 90;
    const std::string out = capture_stdout([&] { setup_precipitation(s); });
    EXPECT_EQ(error_record.fatal, 0) << out;
    EXPECT_NE(out.find("Precip. file contains 3 events, simulating first event only\n"
                       "because LONG_TERM project file card not set in project file.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(s.event_count, 1);
    ASSERT_EQ(s.event_start_times.size(), 3u);
    EXPECT_DOUBLE_EQ(s.event_start_times[1], julian_day(2004, 3, 2, 6, 30, 0.0));
    EXPECT_EQ(s.event_start_dates[2].day, 5);
    EXPECT_EQ(std::ftell(s.precip_file), 0L);  // rewound

    capture_stdout([&] { setup_start_time(s); });
    EXPECT_EQ(error_record.fatal, 0);
    const double F = julian_day(2004, 2, 28, 23, 0, 0.0);
    EXPECT_DOUBLE_EQ(s.start_days, F);
    EXPECT_DOUBLE_EQ(s.now_days, F);
    EXPECT_DOUBLE_EQ(s.simulation_end_time, F + 90.0 / 1440.0);
    EXPECT_DOUBLE_EQ(s.time_tolerance_days * 86400.0, 0.01);
    EXPECT_DOUBLE_EQ(s.time_step_days, 30.0 / 86400.0);
    // The first rain step is the one that ends a step after the start.
    EXPECT_DOUBLE_EQ(s.rain_clock.next, F + 30.0 / 86400.0);
    EXPECT_DOUBLE_EQ(s.rain_clock.last, F);
    EXPECT_DOUBLE_EQ(s.rain_clock.interval, 30.0 / 86400.0);
    EXPECT_DOUBLE_EQ(s.infiltration_clock.next, F + 30.0 / 86400.0);
    EXPECT_DOUBLE_EQ(s.rain_record_clock.next, F);
    EXPECT_EQ(s.precip_state, 0);
    EXPECT_EQ(s.keep_running, 1);
    std::fclose(s.precip_file);
    s.precip_file = nullptr;
}

TEST_F(PrecipFileTest, HxtRequestBeyondTheEvents) {
    model_state s;
    gauge_run(s, dir_.dir());
    s.hxt_on = 1;
    s.hxt_event_on = 1;
    s.hxt_event_num = 5;
    const std::string out = capture_stdout([&] { setup_precipitation(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("\n\nHXT has requested that KORVA run event 5.\n"
                       "The precip file specified in the project file: storm.gag\n"
                       "contains only 3 events.  PROGRAM TERMINATED.\n\n"),
              std::string::npos)
        << out;
    std::fclose(s.precip_file);
    s.precip_file = nullptr;
}

TEST_F(PrecipFileTest, SetupRefusesAFileWithoutEvents) {
    model_state s;
    dir_.dir().write("empty.gag", "\n");
    s.gauge_file_on = 1;
    s.precip_name = "empty.gag";
    s.precip_file = std::fopen("empty.gag", "r");
    const std::string out = capture_stdout([&] { setup_precipitation(s); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("holds no event"), std::string::npos);
    std::fclose(s.precip_file);
    s.precip_file = nullptr;
}

TEST_F(PrecipFileTest, EmptyGarbageOrUnreadableFileIsNamedInTheFirstMessage) {
    struct bad_file {
        const char *name;
        const char *text;  // null: a directory
        const char *first_line;
    };
    const bad_file cases[] = {
        {"empty.gag", "", "Error: the precipitation file empty.gag holds no event that can be read."},
        {"junk.gag", "hello world\n\x01\x02 3 4\n",
         "Error: the precipitation file junk.gag holds no event that can be read."},
        {"folder.gag", nullptr, "Error: cannot read the precipitation file folder.gag"},
    };
    for (const bad_file &c : cases) {
        reset_process_globals();
        model_state s;
        if (c.text)
            dir_.dir().write(c.name, c.text);
        else
            std::filesystem::create_directory(c.name);
        s.gauge_file_on = 1;
        s.precip_name = c.name;
        s.precip_file = std::fopen(c.name, "r");
        ASSERT_NE(s.precip_file, nullptr) << c.name;
        const std::string out = capture_stdout([&] { setup_precipitation(s); });
        EXPECT_EQ(error_record.fatal, 1) << c.name;
        // Nothing blames another card before the message that names the file.
        EXPECT_EQ(out, std::string("using precipitation data from file: ") + c.name + "\n" +
                           c.first_line + "\n\n");
        std::fclose(s.precip_file);
        s.precip_file = nullptr;
    }
}

TEST_F(PrecipFileTest, UniformRainClocks) {
    model_state s;
    s.uniform_rain_on = 1;
    s.rain_intensity = 20.0;
    s.rain_duration = 30.0;  // minutes
    s.time_step = 60.0;
    s.grid.start_year = 2010;
    s.grid.start_time_given = 1;
    s.start_days = julian_day(2010, 6, 1, 8, 0, 0.0);
    setup_precipitation(s);
    setup_start_time(s);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_DOUBLE_EQ(s.now_days, s.start_days);
    EXPECT_EQ(s.precip_state, 1);
    EXPECT_EQ(s.event_number, 1);
    EXPECT_EQ(s.uniform_rain_steps, 30);

    model_state t;
    t.uniform_rain_on = 1;
    t.time_step = 60.0;
    std::string out = capture_stdout([&] { setup_start_time(t); });
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("You did not specify the starting date and time in the\n"), std::string::npos);
}

TEST(PrecipSetupHelpers, HourTwentyFourRollsOver) {
    std::array<int, 4> d{1999, 12, 31, 24};
    roll_hour_24(d);
    EXPECT_EQ(d, (std::array<int, 4>{2000, 1, 1, 0}));
    std::array<int, 4> leap{2004, 2, 28, 24};
    roll_hour_24(leap);
    EXPECT_EQ(leap, (std::array<int, 4>{2004, 2, 29, 0}));
    std::array<int, 4> plain{2004, 2, 28, 23};
    roll_hour_24(plain);
    EXPECT_EQ(plain, (std::array<int, 4>{2004, 2, 28, 23}));
}

TEST(PrecipSetupHelpers, UniformRainSteps) {
    EXPECT_EQ(uniform_rain_step_count(30.0, 60.0), 30);
    EXPECT_EQ(uniform_rain_step_count(30.0, 45.0), 40);
    EXPECT_EQ(uniform_rain_step_count(1.0, 600.0), 1);  // never below one step
    EXPECT_EQ(uniform_rain_step_count(10.0, 0.0), 1);
}
