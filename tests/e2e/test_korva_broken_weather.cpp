// Runs the bundled long-term example with its weather and time inputs broken one
// at a time (QAR, SAMSON and Surface Airways files, rain gauges, time step, time
// series): each run ends with status 1 and the message naming the input. With
// every input file in CR LF line ends it gives the outputs of LF byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "broken_case.h"
#include "support/run_program.h"

using testsupport::scratch_dir;

namespace {

namespace fs = std::filesystem;

fs::path longterm_dir() {
    return fs::path(TEST_DATA_DIR).parent_path().parent_path() / "examples" / "longterm";
}

// The example's files into d, each line end replaced by `eol`; their names.
std::set<std::string> copy_example(const scratch_dir &d, const std::string &eol = "\n") {
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(longterm_dir())) {
        std::string text;
        for (char ch : testsupport::read_file(entry.path()))
            text += ch == '\n' ? eol : std::string(1, ch);
        const std::string name = entry.path().filename().string();
        d.write(name, text);
        names.insert(name);
    }
    return names;
}

const std::string samson_header =
    "~      SOME PLACE         XX           40 30   105 15\n~ header\n";
const std::string samson_nan_temperature =
    samson_header + " 21  7 12  1                      120     340     4      nan        60  990"
                    "       3.0\n";

const broken_case cases[] = {
    {"empty QAR file", "", "", "longterm.qar", "",
     "Error: hydro-meteorological file longterm.qar holds no weather record\n"},
    {"QAR year that overflows the packed date", "", "", "longterm.qar",
     "-99999999 7 12 1 29.92 80 3 3 57 0.0 0.0\n", "line 1: year -99999999 is outside 1 to 9999\n"},
    {"QAR day past the month's end", "", "", "longterm.qar", "2021 6 31 1 29.92 80 3 3 57 0 0\n",
     "line 1: day 31 is outside 1 to 30\n"},
    {"QAR hour before the one above it", "", "", "longterm.qar",
     "2021 7 12 2 29.92 80 3 3 57 0 0\n2021 7 12 1 29.92 80 3 3 57 0 0\n",
     "line 2: the hour 2021-07-12 01:00 does not come after the hour of the record before\n"},
    {"QAR hour not whole", "", "", "longterm.qar", "2021 7 12 16.5 29.92 80 3 3 57 0.0 0.0\n",
     "longterm.qar, line 1: field 4, \"16.5\", is not a whole number"},
    {"QAR pressure not a number", "", "", "longterm.qar", "2021 7 12 1 nan 80 3 3 57 0.0 0.0\n",
     "longterm.qar, line 1: the pressure nan is not a finite number\n"},
    {"QAR radiation infinite", "", "", "longterm.qar", "2021 7 12 1 29.92 80 3 3 57 0.0 inf\n",
     "line 1: the global radiation inf is not a finite number\n"},
    {"empty Surface Airways file", "HMET_QAR longterm.qar", "HMET_SURFAWAYS air.txt", "air.txt", "",
     "Error: hydro-meteorological file air.txt holds no weather record\n"},
    {"Surface Airways date that jumps centuries", "HMET_QAR longterm.qar",
     "HMET_SURFAWAYS air.txt", "air.txt",
     "STATION0001TMPD  028405  10  10000    40  \nSTATION0001TMPD  199005  11  10000    40  \n",
     "air.txt, line 2: the day 1990-05-11 does not follow the day 0284-05-10"},
    {"Surface Airways humidity above 100", "HMET_QAR longterm.qar", "HMET_SURFAWAYS air.txt",
     "air.txt", "STATION0001RHUM  199005  10  10000   150  \n",
     "air.txt, line 1: the relative humidity 150 is outside 0 to 100\n"},
    {"SAMSON file without hours", "HMET_QAR longterm.qar", "HMET_SAMSON sam.txt", "sam.txt",
     samson_header.c_str(), "Error: hydro-meteorological file sam.txt holds no weather record\n"},
    {"SAMSON temperature not a number", "HMET_QAR longterm.qar", "HMET_SAMSON sam.txt", "sam.txt",
     samson_nan_temperature.c_str(),
     "sam.txt, line 3: the temperature nan is not a finite number\n"},
    {"rain gauge coordinate not a number", "", "", "longterm.gag",
     "EVENT storm\nNRGAG 1\nNRPDS 1\nCOORD nan 150\nRATES 2021 7 12 14 00 12.0\n",
     "The coordinates of gage 1 of the event entitled:\n   storm\ncannot be read"},
    {"time step that overflows the clock", "TIMESTEP 60", "TIMESTEP 1e308", "", "",
     "Error: card TIMESTEP: the value \"1e308\" lies outside its range (more than 0, at most "
     "86400)\n"},
    {"time-series value not a number", "QUIET", "QUIET\nTIME_SERIES_FILE flow.ts", "flow.ts",
     "KORVA_TS\nflow\nABSOLUTE\n2021 7 12 0 0 nan\nEND_TS\n",
     "Error: unable to read record 1 of time series [flow] in file flow.ts\n"},
    {"time-series month 13", "QUIET", "QUIET\nTIME_SERIES_FILE flow.ts", "flow.ts",
     "KORVA_TS\nflow\nABSOLUTE\n2021 13 1 0 0 1.5\nEND_TS\n",
     "record 1 of time series [flow] in file flow.ts: the month of the date 2021 13 1 0 0 is out "
     "of range\n"},
};

TEST(KorvaBrokenWeather, EachBrokenInputEndsTheRunWithStatusOneAndItsMessage) {
    for (const broken_case &c : cases) {
        scratch_dir d;
        copy_example(d);
        if (*c.file) d.write(c.file, c.text);
        expect_refused(d, "longterm.prj", d.read("longterm.prj"), c);
    }
}

TEST(KorvaBrokenWeather, CrLfLineEndsGiveTheOutputsOfLfLineEnds) {
    scratch_dir lf, crlf;
    const std::set<std::string> inputs = copy_example(lf);
    copy_example(crlf, "\r\n");
    ASSERT_NE(crlf.read("longterm.prj").find("QUIET\r\n"), std::string::npos);
    ASSERT_EQ(lf.run(KORVA_EXE, {"longterm.prj"}).exit_status, 0);
    const auto r = crlf.run(KORVA_EXE, {"longterm.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    int outputs = 0;
    for (const auto &entry : fs::recursive_directory_iterator(lf.path())) {
        const std::string name = fs::relative(entry.path(), lf.path()).string();
        if (!entry.is_regular_file() || inputs.count(name) || name == "out_time.dat") continue;
        ++outputs;
        EXPECT_EQ(crlf.read(name), lf.read(name)) << name;
    }
    EXPECT_GE(outputs, 3);  // the summary, the outlet hydrograph and evap_out at least
}

}  // namespace
