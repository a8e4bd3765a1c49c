// The user guide's examples: the first project of docs/README.md, taken from the
// page as written, runs and rains its hand-computed volume; the worked RATES /
// GAGES example of docs/input_files.md gives the volumes its table states.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/project_text.h"
#include "support/run_program.h"

namespace {

// The first code block (four blanks of indent) of docs/README.md that begins with
// `first`, without its indent.
std::string guide_block(const std::string &first) {
    const auto page = std::filesystem::path(TEST_DATA_DIR).parent_path().parent_path() / "docs/README.md";
    std::string out;
    for (const std::string &line : testsupport::split_lines(testsupport::read_file(page))) {
        if (out.empty() && line != "    " + first) continue;
        if (line.rfind("    ", 0) != 0) break;
        out += line.substr(4) + "\n";
    }
    return out;
}

TEST(GuideExamples, FirstProjectRunsAsWritten) {
    testsupport::scratch_dir d;
    d.write("plane.prj", guide_block("KORVAPROJECT"));
    // The 5 x 5 plane of 20 m the cards describe, falling to the outlet (5, 3).
    d.write("plane.mask", project_text::grid_of(5, 5, 20.0, [](int, int) { return std::string("1"); }));
    d.write("plane.elv", project_text::grid_of(5, 5, 20.0, [](int r, int c) {
                return project_text::number(10.0 - 0.4 * r + 0.2 * std::abs(c - 3));
            }));
    const auto r = d.run(KORVA_EXE, {"plane.prj"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    // 50 mm/h for 30 minutes on 25 cells of 400 m2.
    EXPECT_NEAR(project_text::value_after(d.read("plane.sum"), "volume of total rainfall:"), 250.0, 0.05);
}

TEST(GuideExamples, RatesAndGagesReadTheSameNumbersAsTheTableSays) {
    // One gauge over 10 x 10 cells of 10 m; 10, 5 and 0 at 14:00, 15:00, 16:00.
    const struct {
        const char *card;
        double volume;
    } cases[] = {{"RATES", 150.0}, {"GAGES", 50.0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.card);
        testsupport::scratch_dir d;
        const auto map = [](auto value) { return project_text::grid_of(10, 10, 10.0, value); };
        d.write("mask.asc", map([](int, int) { return std::string("1"); }));
        d.write("elev.asc", map([](int r, int) { return project_text::number(10.0 - 0.05 * r); }));
        const std::string card = c.card;
        d.write("p.gag", "EVENT a\nNRGAG 1\nNRPDS 3\nCOORD 50 50\n" + card + " 2021 7 12 14 00 10\n" + card +
                             " 2021 7 12 15 00 5\n" + card + " 2021 7 12 16 00 0\n");
        d.write("p.prj", "KORVAPROJECT\nWATERSHED_MASK mask.asc\nELEVATION elev.asc\nMANNING_N 0.05\n"
                         "SUMMARY p.sum\nOUTLET_HYDRO p.otl\nROWS 10\nCOLS 10\nGRIDSIZE 10\nTOT_TIME 240\n"
                         "TIMESTEP 10\nHYD_FREQ 5\nMAP_FREQ 60\nOUTROW 10\nOUTCOL 5\nOUTSLOPE 0.01\n"
                         "OVERTYPE explicit\nQUIET\nPRECIP_FILE p.gag\nRAIN_INV_DISTANCE\n");
        const auto r = d.run(KORVA_EXE, {"p.prj"});
        ASSERT_EQ(r.exit_status, 0) << r.out;
        EXPECT_NEAR(project_text::value_after(d.read("p.sum"), "volume of total rainfall:"), c.volume, 0.05);
    }
}

}  // namespace
