// Tests of the break-point cross-sections of the channel input file: a surveyed
// trapezoid reproduces the closed formulas at every level, two sections give
// interpolated tables in between with the pair and level warnings, erodible
// links get a resampled section per node, and refused sections and level counts.
#include <cmath>
#include <string>

#include "model/channel/cross_sections.h"
#include "tests/model/input/channel_test_files.h"

namespace {

using channeltest::channel_files;

// One break-point link of `nodes` nodes with the given section cards.
std::string bp_file(const std::string &type, int nodes, const std::string &sections) {
    return "korva_chan\nALPHA 1\nBETA 1\nTHETA 1\nLINKS 1\nMAXNODES " + std::to_string(nodes) +
           "\nCONNECT 1 0 0\nLINK 1\nDX 20\nNODES " + std::to_string(nodes) + "\n" + type +
           "\nMANNINGS_N 0.025\nNODE 1\nELEV 50.0\nNODE " + std::to_string(nodes) +
           "\nELEV 49.0\n" + sections;
}

// The trapezoid b = 3, z = 1, 2 m deep, as four break points.
const char *trapezoid_points = "X1 0 2\nX1 2 0\nX1 5 0\nX1 7 2\n";

class Breakpoint : public channel_files {};

TEST_F(Breakpoint, SurveyedTrapezoidMatchesTheFormulasAtEveryLevel) {
    const std::string out = read(bp_file("BREAKPOINT", 3,
                                         std::string("NODE 1\nNPAIRS 4\nNUM_INTERP 4\n") +
                                             trapezoid_points));
    ASSERT_FALSE(failed()) << out;
    const channel_network &n = s.channels;
    ASSERT_EQ(n.table_count, 1);
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(n.table_num[k][1], 1);
    EXPECT_DOUBLE_EQ(n.table_dy[1], 0.5);
    EXPECT_EQ(n.table_interp[1], 4);
    for (int lv = 1; lv <= 4; ++lv) {
        const double y = 0.5 * lv;
        const section_props t = trapezoid_from_depth(3.0, 1.0, y, 40.0);
        EXPECT_NEAR(n.xarea[1][lv], t.area, 1e-12) << lv;
        EXPECT_NEAR(n.xtw[1][lv], t.top_width, 1e-12) << lv;
        EXPECT_NEAR(n.xp[1][lv], t.perimeter, 1e-12) << lv;
        EXPECT_NEAR(n.xk[1][lv], t.conveyance, 1e-9) << lv;
    }
    // Depth 1: A = 4, T = 5, P = 3 + 2 sqrt 2 (hand values).
    EXPECT_NEAR(n.xarea[1][2], 4.0, 1e-12);
    EXPECT_NEAR(n.xtw[1][2], 5.0, 1e-12);
    EXPECT_NEAR(n.xp[1][2], 3.0 + 2.0 * std::sqrt(2.0), 1e-12);
    // The dots of the pass are printed in quiet mode too.
    EXPECT_NE(out.find(".\n"), std::string::npos);
}

TEST_F(Breakpoint, TwoSectionsInterpolateTheNodesBetween) {
    const std::string wide = "X1 0 2\nX1 2 0\nX1 9 0\nX1 11 2\n";  // b = 7, z = 1
    const std::string out =
        read(bp_file("BREAKPOINT", 5,
                     std::string("NODE 1\nNPAIRS 4\nNUM_INTERP 2\n") + trapezoid_points +
                         "NODE 3\nNPAIRS 4\nNUM_INTERP 2\n" + wide));
    ASSERT_FALSE(failed()) << out;
    const channel_network &n = s.channels;
    ASSERT_EQ(n.table_count, 3);
    EXPECT_EQ(n.table_num[1][1], 1);
    EXPECT_EQ(n.table_num[2][1], 2);
    EXPECT_EQ(n.table_num[3][1], 3);
    EXPECT_EQ(n.table_num[5][1], 3);
    for (int lv = 1; lv <= 2; ++lv) {
        const double a1 = trapezoid_from_depth(3.0, 1.0, lv, 40.0).area;
        const double a3 = trapezoid_from_depth(7.0, 1.0, lv, 40.0).area;
        EXPECT_NEAR(n.xarea[3][lv], a3, 1e-12);
        EXPECT_NEAR(n.xarea[2][lv], 0.5 * (a1 + a3), 1e-12);
    }
}

TEST_F(Breakpoint, UnequalPairAndLevelCountsWarn) {
    const std::string first = "X1 0 2\nX1 1 1\nX1 2 0\nX1 5 0\nX1 7 2\n";
    const std::string out =
        read(bp_file("BREAKPOINT", 3,
                     "NODE 1\nNPAIRS 5\nNUM_INTERP 2\n" + first +
                         "NODE 3\nNPAIRS 4\nNUM_INTERP 4\n" + trapezoid_points));
    ASSERT_FALSE(failed()) << out;
    EXPECT_NE(out.find("must be equal, which they are not for link 1.\n\n"), std::string::npos);
    EXPECT_NE(out.find("  ---> Disregarding the last 1 pairs of the first cross-section. <---\n"),
              std::string::npos);
    EXPECT_NE(out.find("\nUsing the greater of the two number of interpolation points \nfor both "
                       "cross-section in link 1.\n"),
              std::string::npos);
    EXPECT_EQ(s.channels.table_pairs[1], 4);
    EXPECT_EQ(s.channels.table_interp[1], 4);
    EXPECT_EQ(s.channels.table_interp[3], 4);
}

TEST_F(Breakpoint, ErodibleLinkResamplesEveryNode) {
    const std::string out = read(bp_file("BREAK_ERODE", 3,
                                         std::string("NODE 1\nNPAIRS 4\nNUM_INTERP 2\n") +
                                             trapezoid_points));
    ASSERT_FALSE(failed()) << out;
    const channel_network &n = s.channels;
    ASSERT_EQ(n.table_count, 3);
    ASSERT_EQ(n.erodible_bp_count, 1);
    // Stations 0, 7/3, 14/3, 7 with the elevations of the section as read: a
    // trapezoid of bottom 7/3 and side slope 7/6.
    EXPECT_NEAR(n.xbp_lnn[1][2][2], 7.0 / 3.0, 1e-12);
    EXPECT_NEAR(n.ybp_lnn[1][2][2], 0.0, 1e-12);
    EXPECT_NEAR(n.ybp_lnn[1][3][4], 2.0, 1e-12);
    for (int node = 1; node <= 3; ++node) {
        const int t = n.table_num[node][1];
        EXPECT_EQ(t, node);
        const section_props p = trapezoid_from_depth(7.0 / 3.0, 7.0 / 6.0, 1.0, 40.0);
        EXPECT_NEAR(n.xarea[t][1], p.area, 1e-12);
        EXPECT_NEAR(n.xp[t][1], p.perimeter, 1e-12);
    }
}

TEST_F(Breakpoint, LevelCountAndStepLimits) {
    struct limit {
        const char *interp;
        bool ok;
        const char *message;
    } cases[] = {
        {"NUM_INTERP 0\n", false, "The number of interpolation points [0] for table 1 in link 1"},
        {"NUM_INTERP 30001\n", false, "[30001]"},
        {"NUM_INTERP 20000\n", true, ""},
        {"NUM_INTERP 1\n", false, "The interpolation distance [2.00000] produced by"},
        {"NUM_INTERP 2\n", true, ""},
    };
    for (const limit &c : cases) {
        reset_process_globals();
        model_state fresh;
        fresh.quiet = 1;
        std::FILE *f = file("case.dat", bp_file("BREAKPOINT", 2,
                                                std::string("NUM_INTERP 1\nNODE 1\nNPAIRS 4\n") +
                                                    c.interp + trapezoid_points));
        const std::string out = printed([&] { read_chan_input(f, fresh); });
        EXPECT_EQ(failed(), !c.ok) << c.interp << out;
        if (!c.ok) {
            EXPECT_NE(out.find(c.message), std::string::npos) << out;
        }
    }
}

TEST_F(Breakpoint, RefusedSections) {
    struct refusal {
        std::string sections;
        const char *message;
    } cases[] = {
        {"NODE 1\nNPAIRS 4\nNUM_INTERP 2\nX1 0 2\nX1 2 0\nX1 5 0\n",
         "There are fewer X1 cards than the NPAIRS card specifies"},
        {std::string("NODE 1\nNPAIRS 4\nNUM_INTERP 2\n") + trapezoid_points + "X1 9 9\n",
         "There are more X1 cards than the NPAIRS card specifies"},
        {"NODE 1\nNPAIRS 1\nNUM_INTERP 2\nX1 0 0\n", "a cross-section needs at least 2 pairs"},
        {"", "break-point link 1 has no NPAIRS card"},
        {std::string("NODE 1\nNPAIRS 4\n") + trapezoid_points,
         "the number of interpolation points has not been specifiedfor any table"},
    };
    for (const refusal &c : cases) {
        reset_process_globals();
        model_state fresh;
        fresh.quiet = 1;
        std::FILE *f = file("case.dat", bp_file("BREAKPOINT", 2, c.sections));
        const std::string out = printed([&] { read_chan_input(f, fresh); });
        EXPECT_TRUE(failed()) << c.sections;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.sections << "\n" << out;
    }
}

TEST_F(Breakpoint, FortyNineStretchesPassFiftyStop) {
    // A comb: `teeth` notches down to 0 between peaks at 2, all wet at level 1.
    auto comb = [](int teeth) {
        std::string t;
        int pairs = 0;
        double x = 0.0;
        for (int i = 0; i < teeth; ++i) {
            t += "X1 " + std::to_string(x) + " 2\n";
            t += "X1 " + std::to_string(x + 1.0) + " 0\n";
            x += 2.0;
            pairs += 2;
        }
        t += "X1 " + std::to_string(x) + " 2\n";
        ++pairs;
        return "NODE 1\nNPAIRS " + std::to_string(pairs) + "\nNUM_INTERP 2\n" + t;
    };
    read(bp_file("BREAKPOINT", 2, comb(49)));
    EXPECT_FALSE(failed());
    reset_process_globals();
    model_state fresh;
    fresh.quiet = 1;
    std::FILE *f = file("comb.dat", bp_file("BREAKPOINT", 2, comb(50)));
    const std::string out = printed([&] { read_chan_input(f, fresh); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("\n\nThere is a serious problem with a channel cross-section in\nlink 1."),
              std::string::npos);
}

}  // namespace
