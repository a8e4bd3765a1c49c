// Runs korva on the bundled valley with the nutrient module switched on: the
// aquatic environment file, the overland species and the channel species are
// set up from uniform values and one overland map, and the species go through the
// overland constituent pieces for the minute simulated.
#include <gtest/gtest.h>

#include <string>

#include "support/run_program.h"
#include "valley_example.h"

using testsupport::scratch_dir;

namespace {

std::string valley_grid(const std::string &value) {
    std::string text = "north: 2400.0\nsouth: 0.0\neast: 1800.0\nwest: 0.0\nrows: 80\ncols: 60\n";
    for (int r = 1; r <= 80; ++r)
        for (int c = 1; c <= 60; ++c) text += value + (c < 60 ? " " : "\n");
    return text;
}

int occurrences(const std::string &text, const std::string &what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST(KorvaNutrients, ValleyReadsItsNutrientStateAndStartsTheRun) {
    scratch_dir d;
    valley::copy_example(d);
    d.write("env.map", valley_grid("1"));
    d.write("nh4.map", valley_grid("2.5"));
    d.write("env.aq", "AQUATIC_ENV_QVL10\nOV_MAP env.map\nST_MAP none\nNUM_IDS 1\nID 1\nDEFAULT\n");
    std::string cards = "NUTRIENTS\nAQ_ENV env.aq\nNTR_SUM ntr.sum\n";
    const char *overland[] = {"NO2", "NO3", "NH4", "ON", "OP", "DP", "PO4", "ALG", "CBOD", "DO"};
    for (const char *k : overland) {
        cards += std::string("OV_INIT_") + k + (std::string(k) == "NH4" ? " nh4.map\n" : " 0.5\n");
        cards += std::string("ST_INIT_") + k + " 0.25\n";
    }
    cards += "OV_DOC_INIT 1.0\nOV_DOC_FOC 0.1\nOV_DISPERSION 0.01\n";
    std::string prj = d.read("valley.prj");
    const std::size_t total = prj.find("TOT_TIME 360");
    ASSERT_NE(total, std::string::npos);
    prj.replace(total, 12, "TOT_TIME 1");
    d.write("nut.prj", prj + cards);
    const testsupport::program_result r = d.run(KORVA_EXE, {"nut.prj"});
    EXPECT_NE(r.out.find("Running...."), std::string::npos) << r.out;
    // The overland pieces take the nutrient species; nothing stops the turns
    // before the end of the event.
    EXPECT_EQ(r.out.find("overland constituent sources"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("elapsed time     1.00"), std::string::npos) << r.out;
    EXPECT_NE(d.read("ntr.sum").find("Reading the aquatic environment file.\n"), std::string::npos);
    const std::string summary = d.read("valley.sum");
    // 12 uniform overland parameters, then all 13 on the channels.
    EXPECT_EQ(occurrences(summary, "Assigning spatially uniform parameters for the "), 25);
    EXPECT_EQ(occurrences(summary, "Assigning parameters from a continuous map for the "
                                   "constituent Ammonium (NH4+)\n"),
              1);
}
