// Tests of the named series: reading hand-written KORVA_TS and KORVA_ES blocks,
// lookup by name and id, linear interpolation against hand-computed values (inside,
// at knots, outside the ends, after an earlier lookup, at a repeated abscissa),
// relative times, pumps, and the emptying of the lists between runs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/core/calendar.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"
#include "model/core/series.h"
#include "support/run_program.h"

namespace {

class SeriesTest : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }

    // Writes a file and reads it as a time-series file; returns the console text.
    std::string read_ts(const std::string &text, const std::string &name = "ts.dat") {
        dir.write(name, text);
        testing::internal::CaptureStdout();
        read_time_series_file(path(name));
        return testing::internal::GetCapturedStdout();
    }
    std::string read_es(const std::string &text, const std::string &name = "es.dat") {
        dir.write(name, text);
        testing::internal::CaptureStdout();
        read_elevation_series_file(path(name));
        return testing::internal::GetCapturedStdout();
    }
    std::string path(const std::string &name) const { return (dir.path() / name).string(); }

    testsupport::scratch_dir dir;
};

// Records at 0, 1 and 2 days holding 10, 20 and 40.
const char *relative_block =
    "KORVA_TS\n"
    "\"inflow\"\n"
    "RELATIVE\n"
    "0 0 0 0 0 10\n"
    "0 0 1 0 0 20\n"
    "0 0 2 0 0 40\n"
    "END_TS\n";

TEST_F(SeriesTest, ReadsBlocksAndCountsThem) {
    const std::string out = read_ts(std::string("header text\nEND_TS\n") + relative_block +
                                    "between blocks\n"
                                    "KORVA_TS\nabsolute_one\nABSOLUTE\n"
                                    "2000 1 1 12 0 5.5\n"
                                    "2000 1 2 18 30 6.5\n"
                                    "END_TS\n");
    EXPECT_EQ(out, "2 time series read from file " + path("ts.dat") + "\n");
    ASSERT_EQ(time_series_list.size(), 2u);
    const time_series &rel = *time_series_list[0];
    EXPECT_EQ(rel.name, "inflow");
    EXPECT_EQ(rel.relative, 1);
    ASSERT_EQ(rel.count, 3);
    EXPECT_NEAR(rel.times[0], 0.0, 1e-9);
    EXPECT_NEAR(rel.times[1], 1.0, 1e-9);
    EXPECT_NEAR(rel.times[2], 2.0, 1e-9);

    const time_series &abs = *time_series_list[1];
    EXPECT_EQ(abs.relative, 0);
    ASSERT_EQ(abs.count, 2);
    EXPECT_DOUBLE_EQ(abs.times[0], 2451545.0);  // 1 January 2000 at noon
    EXPECT_NEAR(abs.times[1], 2451546.0 + 6.5 / 24.0, 1e-9);
    EXPECT_DOUBLE_EQ(abs.values[1], 6.5);
}

TEST_F(SeriesTest, RelativeRecordGivesDaysHoursAndMinutes) {
    read_ts("KORVA_TS\nr\nRELATIVE\n0 0 3 6 30 1\nEND_TS\n");
    ASSERT_EQ(time_series_list.size(), 1u);
    EXPECT_NEAR(time_series_list[0]->times[0], 3.0 + 6.0 / 24.0 + 30.0 / 1440.0, 1e-9);
}

TEST_F(SeriesTest, InterpolatesInsideAndHoldsTheEnds) {
    read_ts(relative_block);
    time_series *s = find_time_series("inflow");
    ASSERT_NE(s, nullptr);
    EXPECT_NEAR(time_series_value(s, 0.5), 15.0, 1e-12);
    EXPECT_NEAR(time_series_value(s, 1.5), 30.0, 1e-12);
    EXPECT_NEAR(time_series_value(s, 1.0), 20.0, 1e-12);  // at a knot
    EXPECT_NEAR(time_series_value(s, 1.75), 35.0, 1e-12);
    EXPECT_DOUBLE_EQ(time_series_value(s, -3.0), 10.0);
    EXPECT_DOUBLE_EQ(time_series_value(s, 0.0), 10.0);
    EXPECT_DOUBLE_EQ(time_series_value(s, 2.0), 40.0);
    EXPECT_DOUBLE_EQ(time_series_value(s, 9.0), 40.0);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(SeriesTest, EarlierLookupAfterALaterOneWrapsToTheStart) {
    read_ts(relative_block);
    time_series *s = find_time_series("inflow");
    ASSERT_NE(s, nullptr);
    EXPECT_NEAR(time_series_value(s, 1.5), 30.0, 1e-12);
    EXPECT_EQ(s->last_index, 1);
    EXPECT_NEAR(time_series_value(s, 0.25), 12.5, 1e-12);
    EXPECT_EQ(s->last_index, 0);
}

TEST_F(SeriesTest, RepeatedTimeGivesTheLaterValueWithoutDividingByZero) {
    read_ts("KORVA_TS\nstep\nRELATIVE\n"
            "0 0 0 0 0 10\n0 0 1 0 0 20\n0 0 1 0 0 30\n0 0 2 0 0 40\nEND_TS\n");
    time_series *s = find_time_series("step");
    ASSERT_NE(s, nullptr);
    EXPECT_NEAR(time_series_value(s, 0.5), 15.0, 1e-12);
    EXPECT_DOUBLE_EQ(time_series_value(s, 1.0), 30.0);
    EXPECT_NEAR(time_series_value(s, 1.5), 35.0, 1e-12);
    // From the remembered interval, which is the zero-width one now.
    EXPECT_DOUBLE_EQ(time_series_value(s, 1.0), 30.0);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(SeriesTest, SingleValueSeriesIsConstant) {
    read_ts("KORVA_TS\none\nABSOLUTE\n2001 5 5 0 0 7.25\nEND_TS\n");
    EXPECT_DOUBLE_EQ(time_series_value(find_time_series("one"), 0.0), 7.25);
    EXPECT_DOUBLE_EQ(time_series_value(find_time_series("one"), 3e6), 7.25);
}

TEST_F(SeriesTest, ShiftMakesRelativeSeriesAbsoluteOnce) {
    read_ts(std::string(relative_block) + "KORVA_TS\nabs\nABSOLUTE\n2000 1 1 0 0 1\nEND_TS\n");
    const double start = julian_day(2000, 1, 1, 0, 0, 0.0);
    shift_time_series(start);
    shift_time_series(start);  // a second call does not move them again
    time_series *rel = find_time_series("inflow");
    EXPECT_NEAR(rel->times[0], start, 1e-9);
    EXPECT_NEAR(time_series_value(rel, start + 0.5), 15.0, 1e-9);
    EXPECT_DOUBLE_EQ(find_time_series("abs")->times[0], start);
}

TEST_F(SeriesTest, BlankLinesInsideABlockAreSkipped) {
    read_ts("KORVA_TS\nb\nRELATIVE\n\n0 0 0 0 0 1\n   \n0 0 1 0 0 3\n\nEND_TS\n");
    ASSERT_EQ(time_series_list.size(), 1u);
    EXPECT_EQ(time_series_list[0]->count, 2);
    EXPECT_NEAR(time_series_value(time_series_list[0].get(), 0.5), 2.0, 1e-12);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(SeriesTest, UnreadableRecordIsAnErrorNamingTheFile) {
    const std::string out =
        read_ts("KORVA_TS\nbad\nABSOLUTE\n2000 1 1 0 0 1\n2000 1 x 0 0 2\nEND_TS\n");
    EXPECT_EQ(out, "Error: unable to read record 2 of time series [bad] in file " + path("ts.dat") +
                       "\n\n0 time series read from file " + path("ts.dat") + "\n");
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_TRUE(time_series_list.empty());
}

TEST_F(SeriesTest, DecreasingTimesAreAnError) {
    const std::string out =
        read_ts("KORVA_TS\nback\nRELATIVE\n0 0 2 0 0 1\n0 0 1 0 0 2\nEND_TS\n");
    EXPECT_NE(out.find("Error: the times of time series [back] decrease at record 2 in file " +
                       path("ts.dat")),
              std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_TRUE(time_series_list.empty());
}

TEST_F(SeriesTest, BlockWithoutEndIsAnError) {
    const std::string out = read_ts("KORVA_TS\nopen\nRELATIVE\n0 0 0 0 0 1\n");
    EXPECT_NE(out.find("Error: time series [open] in file " + path("ts.dat") +
                       " has no END_TS line"),
              std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_TRUE(time_series_list.empty());
}

TEST_F(SeriesTest, MissingFileLeavesTheListsAndTheRunAlone) {
    read_ts(relative_block);
    testing::internal::CaptureStdout();
    read_time_series_file(path("nothing.dat"));
    read_elevation_series_file(path("nothing.dat"));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Error: Time series file not found [" + path("nothing.dat") +
                       "]\nError: Elevation series file not found [" + path("nothing.dat") +
                       "]\n");
    EXPECT_EQ(time_series_list.size(), 1u);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(SeriesTest, LookupByNamePrefersAnExactMatch) {
    read_ts("KORVA_TS\nflow_in\nRELATIVE\n0 0 0 0 0 1\nEND_TS\n"
            "KORVA_TS\nflow\nRELATIVE\n0 0 0 0 0 2\nEND_TS\n");
    EXPECT_EQ(find_time_series("flow")->name, "flow");
    EXPECT_EQ(find_time_series("flo")->name, "flow_in");  // first by prefix
    EXPECT_EQ(find_time_series("flow_in_2"), nullptr);
    EXPECT_EQ(find_time_series(""), nullptr);
    EXPECT_EQ(find_time_series("other"), nullptr);
}

TEST_F(SeriesTest, PrefixRuleFindsTheFirstLongerName) {
    read_ts("KORVA_TS\nflow_in\nRELATIVE\n0 0 0 0 0 1\nEND_TS\n"
            "KORVA_TS\nflow_out\nRELATIVE\n0 0 0 0 0 2\nEND_TS\n");
    EXPECT_EQ(find_time_series("flow")->name, "flow_in");
}

TEST_F(SeriesTest, LookupFailuresStopTheRun) {
    testing::internal::CaptureStdout();
    EXPECT_DOUBLE_EQ(time_series_value(nullptr, 1.0), 0.0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "Error: attempting to extract a value from a time series that does not exist.\n\n");
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(error_record.code, 0);

    reset_process_globals();
    read_ts("KORVA_TS\nempty\nABSOLUTE\nEND_TS\n");
    testing::internal::CaptureStdout();
    EXPECT_DOUBLE_EQ(time_series_value(find_time_series("empty"), 1.0), 0.0);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "Error: attempting to extract a value from a time series [empty] with no "
              "entries.\n\n");
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(SeriesTest, NotANumberTimeFindsNoIntervalAndStopsTheRun) {
    read_ts(relative_block);
    testing::internal::CaptureStdout();
    EXPECT_DOUBLE_EQ(time_series_value(find_time_series("inflow"), std::nan("")), 0.0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Error: something is really messed up with your time series [inflow].\n\n");
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(SeriesTest, ValueById) {
    read_ts(relative_block);
    add_time_series_id(4, find_time_series("inflow"));
    EXPECT_NEAR(time_series_value_by_id(4, 0.5), 15.0, 1e-12);
    EXPECT_EQ(error_record.fatal, 0);
    testing::internal::CaptureStdout();
    EXPECT_DOUBLE_EQ(time_series_value_by_id(5, 0.5), 0.0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "Error: attempting to extract a value from an unknown time series in the time "
              "series table.    Check the mapping table file (.cmt).\n\n");
    EXPECT_EQ(error_record.fatal, 1);
}

const char *elevation_block =
    "KORVA_ES\n"
    "\"rating 1\"\n"
    "0 0\n"
    "10 100\n"
    "20 150\n"
    "END_ES\n";

TEST_F(SeriesTest, ElevationSeriesInterpolation) {
    const std::string out = read_es(std::string("comment\n") + elevation_block);
    EXPECT_EQ(out, "1 elevation series read from file " + path("es.dat") + "\n");
    const elevation_series *e = find_elevation_series("rating 1");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->count, 3);
    EXPECT_NEAR(elevation_series_value(e, 5.0), 50.0, 1e-12);
    EXPECT_NEAR(elevation_series_value(e, 15.0), 125.0, 1e-12);
    EXPECT_DOUBLE_EQ(elevation_series_value(e, 10.0), 100.0);
    EXPECT_DOUBLE_EQ(elevation_series_value(e, -1.0), 0.0);
    EXPECT_DOUBLE_EQ(elevation_series_value(e, 25.0), 150.0);
}

TEST_F(SeriesTest, ElevationStepValueTakesTheLowerEnd) {
    read_es(elevation_block);
    const elevation_series *e = find_elevation_series("rating");
    ASSERT_NE(e, nullptr);
    EXPECT_DOUBLE_EQ(elevation_series_step_value(e, 5.0), 0.0);
    EXPECT_DOUBLE_EQ(elevation_series_step_value(e, 10.0), 0.0);  // inner x[i+1]: y[i]
    EXPECT_DOUBLE_EQ(elevation_series_step_value(e, 15.0), 100.0);
    EXPECT_DOUBLE_EQ(elevation_series_step_value(e, -5.0), 0.0);
    EXPECT_DOUBLE_EQ(elevation_series_step_value(e, 30.0), 150.0);
}

TEST_F(SeriesTest, ElevationRepeatedAbscissaGivesTheLaterValue) {
    read_es("KORVA_ES\nweir\n0 0\n2 1\n2 5\n4 9\nEND_ES\n");
    const elevation_series *e = find_elevation_series("weir");
    ASSERT_NE(e, nullptr);
    EXPECT_DOUBLE_EQ(elevation_series_value(e, 2.0), 5.0);
    EXPECT_NEAR(elevation_series_value(e, 1.0), 0.5, 1e-12);
    EXPECT_NEAR(elevation_series_value(e, 3.0), 7.0, 1e-12);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(SeriesTest, ElevationLookupFailures) {
    testing::internal::CaptureStdout();
    EXPECT_DOUBLE_EQ(elevation_series_value(nullptr, 1.0), 0.0);
    EXPECT_DOUBLE_EQ(elevation_series_step_value(nullptr, 1.0), 0.0);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string line =
        "Error: attempting to extract a value from an elevation series that does not exist.\n\n";
    EXPECT_EQ(out, line + line);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(SeriesTest, UnreadableElevationRecordIsAnError) {
    const std::string out = read_es("KORVA_ES\ne\n1 2\nthree 4\nEND_ES\n");
    EXPECT_NE(out.find("Error: unable to read record 2 of elevation series [e] in file " +
                       path("es.dat")),
              std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_TRUE(elevation_series_list.empty());
}

TEST_F(SeriesTest, PumpsTakeTheirSeriesByFlowType) {
    read_es(elevation_block);
    read_ts(relative_block);
    std::string line = " 3 5 ELEV \"rating 1\"";
    pump *p = read_pump(line, 7, 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->state, 0);
    EXPECT_EQ(p->to_link, 3);
    EXPECT_EQ(p->to_node, 5);
    EXPECT_EQ(p->flow_type, pump_flow_elevation);
    EXPECT_EQ(p->elevation, find_elevation_series("rating 1"));
    EXPECT_EQ(p->series, nullptr);

    line = "2 9 TS inflow";
    pump *q = read_pump(line, 8, 4);  // a lake link: the node becomes 1
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->to_link, 2);
    EXPECT_EQ(q->to_node, 1);
    EXPECT_EQ(q->flow_type, pump_flow_time_series);
    EXPECT_EQ(q->series, find_time_series("inflow"));
    ASSERT_EQ(pump_list.size(), 2u);
    EXPECT_EQ(pump_list.front().get(), q);  // newest in front
}

TEST_F(SeriesTest, PumpWithAnUnknownFlowTypeIsRefused) {
    std::string line = "1 1 FLOW curve";
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_pump(line, 12, 1), nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "\n\nError in the channel input file: Flow type for pump is incorrectly\n"
              "defined for link 12. Must be ELEV or TS.\n\n");
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_TRUE(pump_list.empty());
}

TEST_F(SeriesTest, RunCleanUpEmptiesEverySeriesList) {
    read_ts(relative_block);
    read_es(elevation_block);
    add_time_series_id(1, find_time_series("inflow"));
    std::string line = "1 1 TS inflow";
    ASSERT_NE(read_pump(line, 1, 1), nullptr);
    clear_run_lists();
    EXPECT_TRUE(time_series_list.empty());
    EXPECT_TRUE(elevation_series_list.empty());
    EXPECT_TRUE(time_series_id_list.empty());
    EXPECT_TRUE(pump_list.empty());
    EXPECT_EQ(find_time_series("inflow"), nullptr);
}

TEST_F(SeriesTest, TagsAreSubstitutedInSeriesLines) {
    replace_param p;
    p.tag = "[Q]";
    p.tag_length = 3;
    p.format = "%4.1lf";
    p.type = 1;
    p.double_value = 12.5;
    replace_param_list.push_back(p);
    replace_params_on = 1;
    read_ts("KORVA_TS\nq\nRELATIVE\n0 0 0 0 0 [Q]\nEND_TS\n");
    ASSERT_EQ(time_series_list.size(), 1u);
    EXPECT_DOUBLE_EQ(time_series_list[0]->values[0], 12.5);
}

}  // namespace
