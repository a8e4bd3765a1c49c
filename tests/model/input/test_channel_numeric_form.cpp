// Tests of the numeric form of the channel input file: the long and the short
// header read to the same network as the card form describes, node lines of the
// slot and table types, lines longer than 78 characters, and refused inputs.
#include <string>

#include "tests/model/input/channel_test_files.h"

namespace {

using channeltest::channel_files;
using channeltest::two_link_card_file;

// The network of two_link_card_file in the numeric form, long kind: one header
// value a line, so that the fifth line holds no two integers.
std::string long_numeric_file() {
    return "1.0\n1.0\n1.0\n10.0\n1.0\n0.01\n0.0\n"
           "2 4\n"
           "1 1 0\n1 2 0 0 0 0\n"
           "2 1 1\n2 0 1 1 0 0\n"
           "1 4\n"
           "0.0 3.0 1.5 1.0 10.0\n"
           "10.0 3.0 1.5 1.0 9.8\n"
           "20.0 3.0 1.5 1.0 9.6\n"
           "30.0 3.0 1.5 1.0 9.4\n"
           "2 3\n"
           "0.0 2.0 1.0 0.5 9.4\n"
           "10.0 2.0 1.0 0.5 9.2\n"
           "20.0 2.0 1.0 0.5 9.0\n";
}

// Short kind: the fifth line begins with two integers; weights 1 and n = 0.01.
std::string short_numeric_file() {
    return "10.0\n0.0\n2 4\n"
           "1 1 0\n1 2 0 0 0 0\n"
           "2 1 1\n2 0 1 1 0 0\n"
           "1 4\n"
           "0.0 3.0 1.5 1.0 10.0\n10.0 3.0 1.5 1.0 9.8\n20.0 3.0 1.5 1.0 9.6\n30.0 3.0 1.5 1.0 9.4\n"
           "2 3\n"
           "0.0 2.0 1.0 0.5 9.4\n10.0 2.0 1.0 0.5 9.2\n20.0 2.0 1.0 0.5 9.0\n";
}

class NumericForm : public channel_files {
protected:
    // Reads the card form into a second run state for comparison.
    void read_card(model_state &card) {
        card.quiet = 1;
        std::FILE *f = file("card.dat", two_link_card_file());
        printed([&] { read_chan_input(f, card); });
        ASSERT_FALSE(failed());
    }
    void expect_same(const channel_network &a, const channel_network &b) {
        EXPECT_EQ(a.link_count, b.link_count);
        EXPECT_EQ(a.max_node_count, b.max_node_count);
        EXPECT_DOUBLE_EQ(a.alpha, b.alpha);
        EXPECT_DOUBLE_EQ(a.beta, b.beta);
        EXPECT_DOUBLE_EQ(a.theta, b.theta);
        for (int l = 1; l <= a.link_count; ++l) {
            SCOPED_TRACE(l);
            EXPECT_EQ(a.link_type[l], b.link_type[l]);
            EXPECT_EQ(a.node_count[l], b.node_count[l]);
            EXPECT_EQ(a.comp_node_count[l], b.comp_node_count[l]);
            EXPECT_DOUBLE_EQ(a.dx[l], b.dx[l]);
            EXPECT_DOUBLE_EQ(a.kconv[l], b.kconv[l]);
            EXPECT_EQ(a.ds_link[l], b.ds_link[l]);
            ASSERT_EQ(a.us_count[l], b.us_count[l]);
            for (int u = 1; u <= a.us_count[l]; ++u) EXPECT_EQ(a.uslinks[l][u], b.uslinks[l][u]);
            for (int n = 1; n <= a.node_count[l]; ++n) {
                EXPECT_DOUBLE_EQ(a.bel[n][l], b.bel[n][l]);
                EXPECT_DOUBLE_EQ(a.bottom[n][l], b.bottom[n][l]);
                EXPECT_DOUBLE_EQ(a.bankfull_dep[n][l], b.bankfull_dep[n][l]);
                EXPECT_DOUBLE_EQ(a.sslope[n][l], b.sslope[n][l]);
                EXPECT_DOUBLE_EQ(a.yp[n][l], b.yp[n][l]);
            }
        }
    }
};

TEST_F(NumericForm, LongKindReadsTheSameNetworkAsTheCardForm) {
    read(long_numeric_file());
    ASSERT_FALSE(failed());
    model_state card;
    read_card(card);
    expect_same(s.channels, card.channels);
}

TEST_F(NumericForm, ShortKindReadsTheSameNetworkAsTheCardForm) {
    read(short_numeric_file());
    ASSERT_FALSE(failed());
    EXPECT_DOUBLE_EQ(s.channels.kconv[1], 100.0);  // n = 0.01
    model_state card;
    read_card(card);
    expect_same(s.channels, card.channels);
}

TEST_F(NumericForm, LongLinesAreReadWhole) {
    std::string t = long_numeric_file();
    const std::string from = "30.0 3.0 1.5 1.0 9.4\n";
    const std::string pad(90, ' ');
    t.replace(t.find(from), from.size(), "30.0" + pad + "3.0 1.5 1.0" + pad + "9.4\n");
    read(t);
    ASSERT_FALSE(failed());
    EXPECT_NEAR(s.channels.bel[3][1], 9.5, 1e-12);
}

TEST_F(NumericForm, SlotAndTableTypes) {
    const std::string t = "1.0\n1.0\n1.0\n5.0\n1.0\n0.02\n0.0\n"
                          "2 2\n"
                          "1 10 0\n1 2 0 0 0 0\n"
                          "2 11 1\n2 0 1 1 0 0\n"
                          "1 2\n"
                          "0 2.0 1.0 1.0 0.2 0.5 10.0\n"
                          "5 2.0 1.0 1.0 0.2 0.5 9.0\n"
                          "2 2\n"
                          "3 0.1 0.4 8.0\n"
                          "4 0.1 0.4 7.0\n";
    read(t);
    ASSERT_FALSE(failed());
    const channel_network &n = s.channels;
    EXPECT_EQ(n.link_type[1], 10);
    EXPECT_DOUBLE_EQ(n.slot_wid[1][1], 0.2);
    EXPECT_DOUBLE_EQ(n.slot_dep[2][1], 0.5);
    // Beds lowered by the slot depth; type 10 keeps NODES computational nodes.
    EXPECT_EQ(n.comp_node_count[1], 2);
    EXPECT_DOUBLE_EQ(n.bel[1][1], 0.5 * ((10.0 - 0.5) + (9.0 - 0.5)));
    EXPECT_DOUBLE_EQ(n.bel[2][1], 9.0 - 0.5);
    EXPECT_EQ(n.table_num[1][2], 3);
    EXPECT_EQ(n.table_num[2][2], 4);
    EXPECT_DOUBLE_EQ(n.bel[2][2], 7.0 - 0.4);
}

TEST_F(NumericForm, ThreeUpstreamLinksUseTheLongerConnectivityLine) {
    const std::string t = "1.0\n1.0\n1.0\n5.0\n1.0\n0.02\n0.0\n"
                          "4 2\n"
                          "1 1 0\n1 4 0 0 0 0\n"
                          "2 1 0\n2 4 0 0 0 0\n"
                          "3 1 0\n3 4 0 0 0 0\n"
                          "4 1 3\n4 0 3 1 2 3 0\n"
                          "1 2\n0 1 1 1 5\n5 1 1 1 4\n"
                          "2 2\n0 1 1 1 5\n5 1 1 1 4\n"
                          "3 2\n0 1 1 1 5\n5 1 1 1 4\n"
                          "4 2\n0 1 1 1 4\n5 1 1 1 3\n";
    read(t);
    ASSERT_FALSE(failed());
    EXPECT_EQ(s.channels.us_count[4], 3);
    EXPECT_EQ(s.channels.uslinks[4][3], 3);
    EXPECT_EQ(s.channels.ds_link[2], 4);
}

TEST_F(NumericForm, RefusedInputs) {
    struct refusal {
        const char *from, *to, *message;
    } cases[] = {
        {"2 4\n", "0 4\n", "LINKS must be at least 1"},
        {"2 4\n", "2 0\n", "MAXNODES must be at least 1"},
        {"2 4\n", "333333334 4\n", "the link count 333333334 is more than the"},
        {"2 1 1\n2 0 1 1 0 0\n", "2 1 1\n2 0 1 7 0 0\n", "upstream link 7 is outside 1 to 2"},
        {"1 4\n", "1 6\n", "node count 6 is outside 1 to 4"},
        {"1 1 0\n", "1 5 0\n", "link 1 has type 5"},
        {"20.0 2.0 1.0 0.5 9.0\n", "20.0 2.0 1.0 0.5\n", "the file ends before a node value"},
        {"10.0 3.0 1.5 1.0 9.8\n", "10.0 3.0 abc 1.0 9.8\n", "\"abc\" is not a number"},
        {"10.0 3.0 1.5 1.0 9.8\n", "10.0 3.0 1.5 nan 9.8\n",
         "\"nan\" is not a number (a node value of node 2 of link 1)"},
        {"10.0 3.0 1.5 1.0 9.8\n", "10.0 3.0 1.5 1.0 inf\n",
         "\"inf\" is not a number (a node value of node 2 of link 1)"},
        {"20.0 2.0 1.0 0.5 9.0\n", "20.0 2.0 1e999 0.5 9.0\n",
         "\"1e999\" is not a number (a node value of node 3 of link 2)"},
        {"2 4\n", "2000000000 4\n", "the link count 2000000000 is more than the"},
        {"2 4\n", "2 400\n", "the maximum node count 400 is more than the"},
    };
    for (const refusal &c : cases) {
        reset_process_globals();
        model_state fresh;
        fresh.quiet = 1;
        std::string t = long_numeric_file();
        t.replace(t.find(c.from), std::string(c.from).size(), c.to);
        std::FILE *f = file("case.dat", t);
        const std::string out = printed([&] { read_chan_input(f, fresh); });
        EXPECT_TRUE(failed()) << c.to;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.to << "\n" << out;
    }
}

TEST_F(NumericForm, ShortFileWithHugeCountsIsRefusedAtOnce) {
    // 84 bytes of numbers whose counts would ask for gigabytes.
    std::string t = "1 1 1 10 1 0.03 0\n2000000000 2000000000\n1 1 0 1 2 0 0 0 0\n";
    t += std::string(84 - t.size() - 1, '7') + "\n";
    ASSERT_EQ(t.size(), 84u);
    const std::string out = read(t);
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("Error in the numeric channel input file: the link count 2000000000 is "
                       "more than the 10 numbers after it can hold."),
              std::string::npos)
        << out;
}

}  // namespace
