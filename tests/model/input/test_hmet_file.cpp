// The hydro-meteorological reader on hand-written QAR, SAMSON and Surface Airways
// files: unit conversions, missing values and their repair, the hour-24 roll-over,
// the scan's counts and dates, and every refused input with its message.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "model/framework_test_support.h"
#include "model/core/globals.h"
#include "model/input/soil_input_services.h"
#include "model/core/model_state.h"

namespace {

using frameworktest::capture_stdout;
using frameworktest::in_scratch_dir;

enum format { qar, samson, ncdc };

class HmetFileTest : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override {
        if (s_.hydromet_file) std::fclose(s_.hydromet_file);
        s_.hydromet_file = nullptr;
        reset_process_globals();
    }
    void open(format f, const std::string &text) {
        dir_.dir().write("weather.hmt", text);
        s_.hydromet_file = std::fopen("weather.hmt", "r");
        s_.hydromet_name = "weather.hmt";
        s_.hmet_qar = f == qar;
        s_.hmet_samson = f == samson;
        s_.hmet_surfaways = f == ncdc;
        s_.quiet = 1;
    }
    int call(int scan, std::string *out = nullptr) {
        int result = 0;
        const std::string text = capture_stdout([&] { result = scan_hmet_file(s_, scan); });
        if (out) *out = text;
        return result;
    }
    in_scratch_dir dir_;
    model_state s_;
};

// ---------------------------------------------------------------------- QAR

TEST_F(HmetFileTest, QarConvertsToSiUnits) {
    open(qar, "1996 7 4 12 29.92 50 5 10 32 100.0 200.0\n"
              "1996 7 4 13 30.00 60 10 20 212 9999.9 0.0\n");
    ASSERT_EQ(call(1), 0);
    EXPECT_EQ(s_.hmet_line_count, 2);
    ASSERT_EQ(call(0), 11);
    const hmet_hour_record &h = s_.hmet_hour;
    EXPECT_EQ(h.hour, 12);
    EXPECT_NEAR(h.pressure, 1013.25, 1e-9);
    EXPECT_NEAR(h.air_temperature, 0.0, 1e-12);
    EXPECT_NEAR(h.wind_speed, 5.14444, 1e-12);
    EXPECT_EQ(h.sky_cover, 5.0);  // tenths in every layout
    EXPECT_EQ(h.relative_humidity, 50.0);
    EXPECT_EQ(h.direct_radiation, 100.0);
    EXPECT_EQ(h.global_radiation, 200.0);
    ASSERT_EQ(call(0), 11);
    EXPECT_NEAR(h.air_temperature, 100.0, 1e-9);
    EXPECT_NEAR(h.pressure, 30.0 * 1013.25 / 29.92, 1e-9);
    EXPECT_EQ(h.direct_radiation, 9999.9);  // exactly 9999.9 is valid
    EXPECT_EQ(h.missing_count, 0);
    EXPECT_EQ(call(0), -1);  // end of the data
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(HmetFileTest, QarMissingValuesTakeTheLastValidOnes) {
    // Record 3 is hour 12 of the next day, so its radiations fall back on hour 12
    // of day 1; record 2's humidity, pressure and wind on record 1's.
    open(qar, "2001 3 1 12 29.00 40 3 8 50 300.0 400.0\n"
              "2001 3 1 13 999 999 3 999 50 10.0 20.0\n"
              "2001 3 2 12 29.50 55 999 8 999 9999.91 1e5\n");
    ASSERT_EQ(call(1), 0);
    ASSERT_EQ(call(0), 11);
    ASSERT_EQ(call(0), 11);
    const hmet_hour_record &h = s_.hmet_hour;
    EXPECT_EQ(h.missing_count, 3);
    EXPECT_NEAR(h.pressure, 29.0 * 1013.25 / 29.92, 1e-9);
    EXPECT_EQ(h.relative_humidity, 40.0);
    EXPECT_NEAR(h.wind_speed, 8 * 0.514444, 1e-12);
    ASSERT_EQ(call(0), 11);
    EXPECT_EQ(h.missing_count, 4);
    EXPECT_EQ(h.sky_cover, 3.0);
    EXPECT_NEAR(h.air_temperature, 10.0, 1e-9);
    EXPECT_EQ(h.direct_radiation, 300.0);
    EXPECT_EQ(h.global_radiation, 400.0);
    EXPECT_EQ(h.global_given, 1);  // a valid value of that hour was read before
    EXPECT_EQ(s_.hmet_repair_count, 7);
}

TEST_F(HmetFileTest, EachRunReadsItsWeatherAfresh) {
    // The last valid values belong to the run: a second run (a new run state, as
    // in a calibration series) whose first humidity is missing does not take the
    // first run's value.
    open(qar, "2001 3 1 12 29.00 40 3 8 50 300.0 400.0\n");
    ASSERT_EQ(call(1), 0);
    ASSERT_EQ(call(0), 11);
    dir_.dir().write("second.hmt", "2001 3 1 12 29.00 999 3 8 50 999999 400.0\n");
    model_state second;
    second.hydromet_file = std::fopen("second.hmt", "r");
    second.hmet_qar = 1;
    second.quiet = 1;
    ASSERT_EQ(scan_hmet_file(second, 1), 0);
    ASSERT_EQ(scan_hmet_file(second, 0), 11);
    EXPECT_EQ(second.hmet_hour.relative_humidity, 0.0);
    EXPECT_EQ(second.hmet_hour.direct_radiation, 0.0);
    EXPECT_EQ(second.hmet_repair_count, 2);
    std::fclose(second.hydromet_file);
    second.hydromet_file = nullptr;
}

TEST_F(HmetFileTest, QarScanCountsRecordsAndRefusesAShortOne) {
    const std::string good = "1999 12 31 22 29.9 50 5 5 40 0 0\n"
                             "1999 12 31 23 29.9 50 5 5 40 0 0\n"
                             "1999 12 31 24 29.9 50 5 5 40 0 0\n";
    open(qar, good);
    s_.quiet = 0;
    std::string out;
    ASSERT_EQ(call(1, &out), 0);
    EXPECT_EQ(out, "End of hmet_QAR file encountered after 3 lines\n");
    EXPECT_EQ(s_.hmet_first, (std::array<int, 4>{1999, 12, 31, 22}));
    EXPECT_EQ(s_.hmet_last, (std::array<int, 4>{1999, 12, 31, 24}));  // rolled by the set-up
    // Record mode rolls hour 24 into hour 0 of the next day.
    for (int k = 0; k < 3; ++k) ASSERT_EQ(call(0), 11);
    EXPECT_EQ(s_.hmet_hour.year, 2000);
    EXPECT_EQ(s_.hmet_hour.month, 1);
    EXPECT_EQ(s_.hmet_hour.day, 1);
    EXPECT_EQ(s_.hmet_hour.hour, 0);

    std::fclose(s_.hydromet_file);
    open(qar, good + "2000 1 1 1 29.9 50 5\n");
    ASSERT_EQ(call(1, &out), -1);
    EXPECT_NE(out.find("Error: Problem encountered in hmet_QAR file, line 4, near parameter 8\n"),
              std::string::npos);
    EXPECT_NE(out.find("Yr  Mo  Day Hr  Press."), std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(HmetFileTest, QarRefusesAMonthOrHourOutOfRange) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"2000 13 1 1 29.9 50 5 5 40 0 0\n", "month 13 is outside 1 to 12"},
        {"2000 0 1 1 29.9 50 5 5 40 0 0\n", "month 0 is outside 1 to 12"},
        {"2000 1 1 25 29.9 50 5 5 40 0 0\n", "hour 25 is outside 0 to 23"},
        {"2000 1 1 -1 29.9 50 5 5 40 0 0\n", "hour -1 is outside 0 to 23"},
    };
    for (const auto &[text, message] : cases) {
        reset_process_globals();
        if (s_.hydromet_file) std::fclose(s_.hydromet_file);
        open(qar, text);
        std::string out;
        EXPECT_EQ(call(1, &out), -1) << text;
        EXPECT_NE(out.find("weather.hmt, line 1: " + message), std::string::npos) << out;
        EXPECT_EQ(error_record.fatal, 1);
    }
}

// ------------------------------------------------------------------- SAMSON

// A line of blanks with each text placed from its column (counted from 1).
std::string columns(std::vector<std::pair<int, std::string>> fields) {
    std::string line;
    for (const auto &[col, text] : fields) {
        const std::size_t at = static_cast<std::size_t>(col - 1);
        if (line.size() < at + text.size()) line.resize(at + text.size(), ' ');
        line.replace(at, text.size(), text);
    }
    return line + "\n";
}

std::string samson_header() {
    return columns({{1, "~"}, {8, "SOME PLACE         XX "}, {40, "40"}, {43, "30"},
                    {48, "105"}, {52, "15"}}) +
           "~ second header line\n";
}

// One SAMSON hour: date, radiations, sky, temperature, humidity, pressure, wind.
std::string samson_hour(const char *yy, const char *mo, const char *dd, const char *hh,
                        const char *dr, const char *gr, const char *sky, const char *t,
                        const char *rh, const char *p, const char *wind) {
    return columns({{2, yy}, {5, mo}, {8, dd}, {11, hh}, {34, dr}, {42, gr}, {50, sky}, {56, t},
                    {68, rh}, {72, p}, {80, wind}});
}

TEST_F(HmetFileTest, SamsonScanRollsHour24WithTheGregorianLeapRule) {
    struct roll_case {
        const char *year;
        std::array<int, 4> last;
    };
    for (const roll_case &c : {roll_case{"96", {1996, 2, 29, 0}}, roll_case{"95", {1995, 3, 1, 0}}}) {
        if (s_.hydromet_file) std::fclose(s_.hydromet_file);
        open(samson, samson_header() +
                         samson_hour(c.year, " 2", "28", "23", "   0", "   0", " 5", "  1.0", " 50",
                                     "1000", "   3.0") +
                         samson_hour(c.year, " 2", "28", "24", "   0", "   0", " 5", "  1.0", " 50",
                                     "1000", "   3.0"));
        ASSERT_EQ(call(1), 0);
        EXPECT_EQ(s_.hmet_station, "SOME PLACE         XX ");
        EXPECT_DOUBLE_EQ(s_.hmet_latitude, 40.5);
        EXPECT_DOUBLE_EQ(s_.hmet_longitude, 105.25);
        EXPECT_EQ(s_.hmet_first[0], c.last[0]);
        EXPECT_EQ(s_.hmet_first[3], 23);
        EXPECT_EQ(s_.hmet_last, c.last) << c.year;
        EXPECT_EQ(s_.hmet_line_count, 3);  // the read that meets the end counts
    }
}

TEST_F(HmetFileTest, SamsonRecordsRepairTemperatureAndWind) {
    open(samson, samson_header() +
                     samson_hour("95", " 6", " 1", " 1", " 120", " 340", " 4", " 12.5", " 60",
                                 " 990", "  98.9") +
                     samson_hour("95", " 6", " 1", " 2", "9999", "9999", "99", "999.9", "999",
                                 "9999", "  99.5") +
                     samson_hour("95", " 6", " 2", " 1", "9999", " 200", " 2", "999.9", "999",
                                 " 995", "9999.0"));
    ASSERT_EQ(call(1), 0);
    ASSERT_EQ(call(0), 0);
    const hmet_hour_record &h = s_.hmet_hour;
    EXPECT_EQ(h.year, 1995);
    EXPECT_EQ(h.air_temperature, 12.5);
    EXPECT_EQ(h.wind_speed, 98.9);
    EXPECT_EQ(h.pressure, 990.0);
    EXPECT_EQ(h.sky_cover, 4.0);  // tenths, as read
    // Hour 2 has no earlier hour 2: per-hour fields fall back on 0; the others
    // on the last valid value.
    ASSERT_EQ(call(0), 0);
    EXPECT_EQ(h.missing_count, 7);
    EXPECT_EQ(h.direct_radiation, 0.0);
    EXPECT_EQ(h.air_temperature, 0.0);
    EXPECT_EQ(h.sky_cover, 4.0);
    EXPECT_EQ(h.pressure, 990.0);
    EXPECT_NEAR(h.wind_speed, 98.9, 1e-12);  // kept in hundredths
    // Hour 1 of day 2 takes hour 1 of day 1.
    ASSERT_EQ(call(0), 0);
    EXPECT_EQ(h.missing_count, 4);
    EXPECT_EQ(h.direct_radiation, 120.0);
    EXPECT_EQ(h.global_radiation, 200.0);
    EXPECT_EQ(h.air_temperature, 12.5);
    EXPECT_EQ(h.relative_humidity, 60.0);
    EXPECT_EQ(call(0), -1);
    EXPECT_EQ(s_.hmet_repair_count, 11);
}

TEST_F(HmetFileTest, SamsonFieldPastTheEndOfItsLineIsRefused) {
    std::string short_line = samson_hour("95", " 6", " 1", " 1", " 120", " 340", " 4", " 12.5",
                                         " 60", " 990", "  98.9");
    short_line = short_line.substr(0, 76) + "\n";
    open(samson, samson_header() +
                     samson_hour("95", " 6", " 1", " 1", " 120", " 340", " 4", " 12.5", " 60",
                                 " 990", "  98.9") +
                     short_line);
    std::string out;
    EXPECT_EQ(call(1, &out), -1);  // the scan refuses it before the run starts
    EXPECT_NE(out.find("weather.hmt, line 4: columns 80-85 lie beyond the end of the line"),
              std::string::npos)
        << out;
    EXPECT_EQ(error_record.fatal, 1);
}

// ----------------------------------------------------------- Surface Airways

// One element line of a day with its hourly values (hour k - 1 is value k).
std::string ncdc_line(const char *element, int year, int month, int day,
                      const std::vector<int> &values) {
    char head[64];
    std::snprintf(head, sizeof head, "%4d%2.2d", year, month);
    char dd[8], n[8];
    std::snprintf(dd, sizeof dd, "%2.2d", day);
    std::snprintf(n, sizeof n, "%3d", static_cast<int>(values.size()));
    std::vector<std::pair<int, std::string>> f = {
        {1, "STATION0001"}, {12, element}, {18, head}, {26, dd}, {28, n}};
    for (std::size_t k = 0; k < values.size(); ++k) {
        char v[48];
        std::snprintf(v, sizeof v, "%2.2d00 %5d  ", static_cast<int>(k), values[k]);
        f.push_back({31 + 12 * static_cast<int>(k), v});
    }
    return columns(f);
}

std::string ncdc_day(int day, bool with_dr, int ts1, int wi1) {
    std::string t;
    if (with_dr) t += ncdc_line("DRAD", 1990, 5, day, {50, 99999, 70});
    t += ncdc_line("GRAD", 1990, 5, day, {10, 20, 30});
    t += ncdc_line("PRES", 1990, 5, day, {29920, 99999, 30000});
    t += ncdc_line("RHUM", 1990, 5, day, {40, 50, 60});
    t += ncdc_line("TMPD", 1990, 5, day, {32, 212, 99999});
    t += ncdc_line("TSKC", 1990, 5, day, {ts1, 99999, 1007});
    t += ncdc_line("WIND", 1990, 5, day, {wi1, 27999, 18010});
    return t;
}

TEST_F(HmetFileTest, SurfaceAirwaysDaysOfElementsAndRepairs) {
    open(ncdc, ncdc_day(10, true, 1005, 27015) + ncdc_day(11, false, 1003, 9005));
    s_.quiet = 0;
    std::string out;
    ASSERT_EQ(call(1, &out), 0);
    EXPECT_NE(out.find("DRAD GRAD PRES RHUM TMPD TSKC WIND\n 1  2  2  2  2  2  2\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(s_.hmet_line_count, 48);
    EXPECT_EQ(s_.hmet_first, (std::array<int, 4>{1990, 5, 10, 0}));
    s_.quiet = 1;

    const hmet_hour_record &h = s_.hmet_hour;
    ASSERT_EQ(call(0), 0);  // hour 0 of day 10 loads the day
    EXPECT_EQ(h.day, 10);
    EXPECT_EQ(h.hour, 0);
    EXPECT_EQ(h.missing_count, 5);
    EXPECT_DOUBLE_EQ(h.direct_radiation, 5.0);
    EXPECT_DOUBLE_EQ(h.global_radiation, 1.0);
    EXPECT_NEAR(h.pressure, 29920 * 33.86530748663101 / 1000.0, 1e-9);
    EXPECT_NEAR(h.air_temperature, 0.0, 1e-12);
    EXPECT_EQ(h.sky_cover, 5.0);
    EXPECT_NEAR(h.wind_speed, 7.71666, 1e-12);
    EXPECT_EQ(s_.hmet_reader.wind_direction[1], 27);
    ASSERT_EQ(call(0), 0);  // hour 1: the missing values repaired
    EXPECT_EQ(h.hour, 1);
    EXPECT_DOUBLE_EQ(h.direct_radiation, 0.0);  // no earlier hour 1
    EXPECT_NEAR(h.pressure, 29920 * 33.86530748663101 / 1000.0, 1e-9);
    EXPECT_NEAR(h.air_temperature, 100.0, 1e-9);
    EXPECT_EQ(h.sky_cover, 0.0);  // the hour keeps its value
    EXPECT_EQ(s_.hmet_reader.sky_hundreds[2], 10);
    EXPECT_NEAR(h.wind_speed, 15 * 0.514444, 1e-12);
    EXPECT_EQ(s_.hmet_reader.wind_direction[2], 27);
    ASSERT_EQ(call(0), 0);  // hour 2
    // Hour 2 had no valid temperature yet: the last value is 0 degrees F.
    EXPECT_NEAR(h.air_temperature, -32.0 * 5.0 / 9.0, 1e-9);
    EXPECT_EQ(h.sky_cover, 7.0);
    for (int k = 3; k < 24; ++k) ASSERT_EQ(call(0), 0);
    ASSERT_EQ(call(0), 0);  // day 11 has no DR line
    EXPECT_EQ(h.day, 11);
    EXPECT_EQ(h.direct_radiation, 0.0);
    EXPECT_EQ(h.sky_cover, 3.0);
    EXPECT_NEAR(h.wind_speed, 5 * 0.514444, 1e-12);
    for (int k = 1; k < 24; ++k) ASSERT_EQ(call(0), 0);
    EXPECT_EQ(call(0), -1);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(HmetFileTest, SurfaceAirwaysDaysOfEachElementMustMatchTemperature) {
    std::string text;
    for (int d = 1; d <= 31; ++d) {
        text += ncdc_line("TMPD", 1990, 1, d, {40});
        if (d <= 30) text += ncdc_line("RHUM", 1990, 1, d, {50});
        text += ncdc_line("TSKC", 1990, 1, d, {5});
        text += ncdc_line("WIND", 1990, 1, d, {5});
    }
    open(ncdc, text);
    std::string out;
    EXPECT_EQ(call(1, &out), -1);
    EXPECT_NE(out.find("days of rel. humidity data than temperature data.  Rel. hum.\n"),
              std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(HmetFileTest, SurfaceAirwaysRefusesLongLinesAndTooManyValues) {
    std::vector<int> many(25, 1);
    open(ncdc, ncdc_line("TMPD", 1990, 1, 1, many));
    std::string out;
    EXPECT_EQ(call(1, &out), -1);
    EXPECT_NE(out.find("line 1: 25 hourly values, at most 24"), std::string::npos) << out;

    reset_process_globals();
    std::fclose(s_.hydromet_file);
    open(ncdc, ncdc_line("TMPD", 1990, 1, 1, {1}).substr(0, 40) + std::string(760, ' ') + "\n");
    EXPECT_EQ(call(1, &out), -1);
    EXPECT_EQ(out.rfind("Line too long in hmet_NCDC input file.  Program exiting\n", 0), 0u) << out;
    EXPECT_EQ(error_record.fatal, 1);
}

}  // namespace
