// Tests of the card form of the channel input file on hand-written files: the
// form marker, header pass, sizing statistics and checks, connectivity, the
// section of a trapezoidal link, computational nodes, structures, lakes and every
// refused input.
#include <cmath>
#include <string>

#include "model/core/series.h"
#include "tests/model/input/channel_test_files.h"

namespace {

using channeltest::channel_files;
using channeltest::two_link_card_file;

// The two-link network with a line replaced: `from` by `to`.
std::string edited(const std::string &from, const std::string &to) {
    std::string t = two_link_card_file();
    const auto at = t.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) t.replace(at, from.size(), to);
    return t;
}

class CardForm : public channel_files {};

TEST_F(CardForm, ReadsTheTwoLinkNetwork) {
    read(two_link_card_file());
    ASSERT_FALSE(failed());
    const channel_network &n = s.channels;
    EXPECT_EQ(n.link_count, 2);
    EXPECT_EQ(n.max_node_count, 4);
    EXPECT_DOUBLE_EQ(n.alpha, 1.0);
    EXPECT_EQ(n.link_type[1], link_trapezoid);
    EXPECT_EQ(n.node_count[1], 4);
    EXPECT_EQ(n.comp_node_count[1], 3);
    EXPECT_EQ(n.comp_node_count[2], 2);
    EXPECT_EQ(n.ds_link[1], 2);
    EXPECT_EQ(n.ds_link[2], 0);
    EXPECT_EQ(n.us_count[2], 1);
    EXPECT_EQ(n.uslinks[2][1], 1);
    EXPECT_DOUBLE_EQ(n.kconv[1], 100.0);
    EXPECT_DOUBLE_EQ(n.dx[2], 10.0);
    // The XSEC node's section on every node of its link.
    for (int k = 1; k <= 4; ++k) {
        EXPECT_DOUBLE_EQ(n.bottom[k][1], 3.0);
        EXPECT_DOUBLE_EQ(n.sslope[k][1], 1.0);
        EXPECT_DOUBLE_EQ(n.bankfull_dep[k][1], 1.5);
    }
    // Computational nodes sit between the ELEV points: means of neighbours.
    EXPECT_NEAR(n.bel[1][1], 9.9, 1e-12);
    EXPECT_NEAR(n.bel[2][1], 9.7, 1e-12);
    EXPECT_NEAR(n.bel[3][1], 9.5, 1e-12);
    EXPECT_NEAR(n.bel[2][2], 9.1, 1e-12);
    EXPECT_DOUBLE_EQ(n.yp[3][1], n.bel[3][1]);
    // The copy as read.
    EXPECT_EQ(n.og_link_count, 2);
    EXPECT_EQ(n.og_node_count[1], 3);
    EXPECT_EQ(n.og_uslinks[2][1], 1);
}

TEST_F(CardForm, MarkerInCapitalsOrLongerSelectsTheCardForm) {
    read("korva_chan_v2\n" + two_link_card_file().substr(11));
    EXPECT_FALSE(failed());
    EXPECT_EQ(s.channels.link_count, 2);
}

TEST_F(CardForm, StatisticsArePrintedUnlessQuiet) {
    s.quiet = 0;
    const std::string out = read(two_link_card_file());
    EXPECT_NE(out.find("number of trapezoidal links:           2\n"), std::string::npos);
    EXPECT_NE(out.find("max. number of u.s. dependencies:      1\n"), std::string::npos);
    s.quiet = 1;
    model_state again;
    again.quiet = 1;
    std::FILE *f = file("again.dat", two_link_card_file());
    const std::string quiet = printed([&] { read_chan_input(f, again); });
    EXPECT_EQ(quiet.find("number of trapezoidal links"), std::string::npos);
}

TEST_F(CardForm, ErodibleLinksCountOncePerLink) {
    // MAX_EROSION on three nodes of link 1 and one node of link 2: two links.
    std::string text = two_link_card_file();
    text.replace(text.find("SIDE_SLOPE 1.0\n"), 15, "SIDE_SLOPE 1.0\nMAX_EROSION 0.2\n");
    text.replace(text.find("ELEV 9.6\n"), 9, "ELEV 9.6\nMAX_EROSION 0.3\n");
    text.replace(text.find("ELEV 9.4\nLINK 2"), 9, "ELEV 9.4\nMAX_EROSION 0.4\n");
    text.replace(text.find("SIDE_SLOPE 0.5\n"), 15, "SIDE_SLOPE 0.5\nMAX_EROSION 0.1\n");
    s.quiet = 0;
    const std::string out = read(text);
    ASSERT_FALSE(failed()) << out;
    EXPECT_NE(out.find("number of erodible links:              2\n"), std::string::npos) << out;
    // Each card still lands at its own node.
    EXPECT_DOUBLE_EQ(s.channels.max_eros[2][1], 0.2);
    EXPECT_DOUBLE_EQ(s.channels.max_eros[3][1], 0.3);
    EXPECT_DOUBLE_EQ(s.channels.max_eros[4][1], 0.4);
    EXPECT_DOUBLE_EQ(s.channels.max_eros[1][2], 0.1);
}

TEST_F(CardForm, HeaderCardRepeatedCountsAgain) {
    const std::string out = read("korva_chan\nALPHA 1\nALPHA 1\nALPHA 1\nALPHA 1\nALPHA 1\n");
    EXPECT_TRUE(failed());
    EXPECT_EQ(error_record.code, 0);  // reported
    EXPECT_NE(out.find("LINKS must be at least 1"), std::string::npos);
}

TEST_F(CardForm, PrematureEndOfHeader) {
    const std::string out = read("korva_chan\nALPHA 1\nBETA 1\n");
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("Premature end-of-file in the channel input file.\n"), std::string::npos);
    EXPECT_NE(out.find("Program terminated in read_chan_input.\n"), std::string::npos);
}

TEST_F(CardForm, DxInTheHeaderIsPassedOver) {
    read(edited("ALPHA 1.0\n", "DX 99.0\nALPHA 1.0\n"));
    ASSERT_FALSE(failed());
    EXPECT_DOUBLE_EQ(s.channels.dx[1], 10.0);
}

TEST_F(CardForm, LaterXsecNodeWins) {
    read(edited("NODE 4\nELEV 9.4\n", "NODE 4\nELEV 9.4\nXSEC\nBOTTOM_WIDTH 5.0\n"));
    ASSERT_FALSE(failed());
    EXPECT_DOUBLE_EQ(s.channels.bottom[1][1], 5.0);
    EXPECT_DOUBLE_EQ(s.channels.sslope[1][1], 0.0);  // node 4 gave no side slope
}

TEST_F(CardForm, MissingSectionIsRefused) {
    const std::string out = read(edited("XSEC\nBOTTOM_WIDTH 2.0", "BOTTOM_WIDTH 2.0"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("Error: Cross section parameters not found for link 2.\n"),
              std::string::npos);
}

TEST_F(CardForm, DecayHasItsOwnField) {
    read(edited("LINK 1\nDX 10.0\n", "LINK 1\nDX 10.0\nDISPERSION_COEFF 2.5\nDECAY_COEFF 0.3\n"));
    ASSERT_FALSE(failed());
    EXPECT_DOUBLE_EQ(s.channels.dispersion[1], 2.5);
    EXPECT_DOUBLE_EQ(s.channels.decay[1], 0.3);
}

TEST_F(CardForm, ZeroManningsNStops) {
    const std::string out = read(edited("MANNINGS_N 0.01\nNODE 1\nELEV 9.4", "MANNINGS_N 0.0\nNODE 1\nELEV 9.4"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("Error encountered when reading the channel input file, link 2:\n"
                       "    Manning's Roughness is 0.000\n"),
              std::string::npos);
}

TEST_F(CardForm, RoutedLinkWithoutManningsNIsRefused) {
    const std::string out = read(edited("TRAPEZOID\nMANNINGS_N 0.01\nNODE 1\nELEV 9.4", "TRAPEZOID\nNODE 1\nELEV 9.4"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("no MANNINGS_N card was given"), std::string::npos);
}

TEST_F(CardForm, ConnectCountMustEqualLinks) {
    const std::string out = read(edited("CONNECT 2 0 1 1\n", ""));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("Your channel input file contains 2 links, and 1 CONNECT cards\n"),
              std::string::npos);
}

// A network of 22 links of which the last has `upstream` links above it.
std::string fan_in(int upstream) {
    const int links = upstream + 1;
    std::string t = "korva_chan\nALPHA 1\nBETA 1\nTHETA 1\nLINKS " + std::to_string(links) +
                    "\nMAXNODES 2\n";
    for (int l = 1; l < links; ++l)
        t += "CONNECT " + std::to_string(l) + " " + std::to_string(links) + " 0\n";
    t += "CONNECT " + std::to_string(links) + " 0 " + std::to_string(upstream);
    for (int l = 1; l < links; ++l) t += " " + std::to_string(l);
    t += "\n";
    for (int l = 1; l <= links; ++l)
        t += "LINK " + std::to_string(l) +
             "\nNODES 2\nDX 5\nTRAPEZOID\nMANNINGS_N 0.03\nNODE 1\nXSEC\nBOTTOM_WIDTH 1\nNODE 2\n";
    return t;
}

TEST_F(CardForm, TwentyUpstreamLinksAreAllowedTwentyOneAreNot) {
    read(fan_in(20));
    EXPECT_FALSE(failed());
    EXPECT_EQ(s.channels.us_count[21], 20);
    EXPECT_EQ(s.channels.uslinks[21][20], 20);
    reset_process_globals();
    model_state other;
    other.quiet = 1;
    std::FILE *f = file("fan.dat", fan_in(21));
    const std::string out = printed([&] { read_chan_input(f, other); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("in the read_chan_input subroutine was equal to 21, which is, frankly, a\n"),
              std::string::npos);
}

TEST_F(CardForm, RefusedNumbersNameTheCardAndValue) {
    struct refusal {
        const char *from, *to, *message;
    } cases[] = {
        {"LINKS 2\n", "LINKS 0\n", "LINKS must be at least 1 (it is 0)"},
        {"MAXNODES 4\n", "MAXNODES 0\n", "MAXNODES must be at least 1 (it is 0)"},
        {"LINK 2\n", "LINK 3\n", "LINK 3 is outside the range 1 to 2"},
        {"NODE 4\n", "NODE 5\n", "NODE 5 is outside the range 1 to 4"},
        {"NODES 3\n", "NODES 9\n", "NODES 9 is outside the range 1 to 4"},
        {"CONNECT 2 0 1 1\n", "CONNECT 3 0 1 1\n", "CONNECT 3 is outside the range 1 to 2"},
        {"CONNECT 2 0 1 1\n", "CONNECT 2 0 1 7\n", "CONNECT 2 names upstream link 7"},
        {"CONNECT 1 2 0\n", "CONNECT 1 5 0\n", "names downstream link 5"},
        {"NODES 3\n", "NODES 1\n", "link 2 needs a NODES card of at least 2"},
        {"NODES 3\nTRAPEZOID\n", "STRUCTURE\nNODES 3\n",
         "link 2 is a STRUCTURE link and has 2 nodes, but its NODES card gives 3.\n"},
    };
    for (const refusal &c : cases) {
        reset_process_globals();
        model_state fresh;
        fresh.quiet = 1;
        std::FILE *f = file("case.dat", edited(c.from, c.to));
        const std::string out = printed([&] { read_chan_input(f, fresh); });
        EXPECT_TRUE(failed()) << c.to;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.to << "\n" << out;
    }
}

TEST_F(CardForm, BrokenValuesNameLinkNodeAndCard) {
    struct refusal {
        const char *from, *to, *message;
    } cases[] = {
        {"ALPHA 1.0\n", "ALPHA x\n", "the ALPHA card: \"x\" is not a finite number."},
        {"BETA 1.0\n", "BETA nan\n", "the BETA card: \"nan\" is not a finite number."},
        {"THETA 1.0\n", "THETA\n", "the THETA card has no value."},
        {"LINKS 2\n", "LINKS 2x\n", "the LINKS card: \"2x\" is not an integer."},
        {"CONNECT 1 2 0\n", "CONNECT 1 2\n", "the CONNECT card has no value."},
        {"ELEV 9.8\n", "ELEV abc\n", "the ELEV card of link 1, node 2: \"abc\" is not a finite number."},
        {"ELEV 9.2\n", "ELEV 1e999\n",
         "the ELEV card of link 2, node 2: \"1e999\" is not a finite number."},
        {"BANKFULL_DEPTH 1.5\n", "BANKFULL_DEPTH\n",
         "the BANKFULL_DEPTH card of link 1, node 2 has no value."},
        {"BOTTOM_WIDTH 2.0\n", "BOTTOM_WIDTH inf\n",
         "the BOTTOM_WIDTH card of link 2, node 1: \"inf\" is not a finite number."},
        {"LINK 2\nDX 10.0\nNODES 3\nTRAPEZOID\nMANNINGS_N 0.01\n",
         "LINK 2\nDX 10.0\nNODES 3\nTRAPEZOID\nMANNINGS_N -inf\n",
         "the MANNINGS_N card of link 2: \"-inf\" is not a finite number."},
        {"NODE 3\nELEV 9.6\n", "NODE three\nELEV 9.6\n",
         "the NODE card of link 1, node 2: \"three\" is not an integer."},
        {"LINKS 2\n", "LINKS 2000000000\n", "LINKS 2000000000 is more than a file of"},
        {"MAXNODES 4\n", "MAXNODES 12345678\n", "MAXNODES 12345678 is more than a file of"},
    };
    for (const refusal &c : cases) {
        reset_process_globals();
        model_state fresh;
        fresh.quiet = 1;
        std::FILE *f = file("case.dat", edited(c.from, c.to));
        const std::string out = printed([&] { read_chan_input(f, fresh); });
        EXPECT_TRUE(failed()) << c.to;
        EXPECT_NE(out.find("Error in the channel input file: " + std::string(c.message)),
                  std::string::npos)
            << c.to << "\n" << out;
    }
}

TEST_F(CardForm, FileEndingInsideALinkIsRefused) {
    // Link 2 declares three nodes; the file ends after the cards of node 2.
    std::string t = two_link_card_file();
    t.erase(t.find("NODE 3\nELEV 9.0\n"));
    const std::string out = read(t);
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("Error in the channel input file: link 2 has 3 nodes (NODES card), but the "
                       "file gives NODE cards only up to node 2."),
              std::string::npos)
        << out;
}

TEST_F(CardForm, CarriageReturnsReadAsLineFeedsAndDirectoriesGetAClearMessage) {
    std::string t = two_link_card_file();
    for (std::size_t at = t.find('\n'); at != std::string::npos; at = t.find('\n', at + 2))
        t.insert(at, "\r");
    s.channel_input_name = "dos.chn";
    std::string out = read(t);
    EXPECT_FALSE(failed()) << out;
    EXPECT_EQ(s.channels.link_count, 2);

    reset_process_globals();
    model_state other;
    other.quiet = 1;
    other.channel_input_name = "folder.chn";
    std::filesystem::create_directory(dir.path() / "folder.chn");
    std::FILE *f = std::fopen(path("folder.chn").c_str(), "r");
    ASSERT_NE(f, nullptr);
    opened.push_back(f);
    out = printed([&] { read_chan_input(f, other); });
    EXPECT_TRUE(failed());
    EXPECT_EQ(out, "Error: cannot read the channel input file folder.chn\n\n");
}

TEST_F(CardForm, LinkWithoutTypeIsRefused) {
    const std::string out = read(edited("NODES 3\nTRAPEZOID\n", "NODES 3\n"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("link 2 has no link type card"), std::string::npos);
}

// ---- structures ----

std::string structure_file(const std::string &structure_cards) {
    return "korva_chan\nALPHA 1\nBETA 1\nTHETA 1\nLINKS 2\nMAXNODES 3\n"
           "CONNECT 1 2 0\nCONNECT 2 0 1 1\n"
           "LINK 1\nDX 10\nNODES 3\nTRAPEZOID\nMANNINGS_N 0.02\n"
           "NODE 1\nELEV 5.0\nXSEC\nBOTTOM_WIDTH 2\nSIDE_SLOPE 1\nNODE 2\nELEV 4.0\nNODE 3\nELEV 3.0\n"
           "LINK 2\nSTRUCTURE\nNODE 1\nELEV 3.0\nNODE 2\nELEV 1.0\n" +
           structure_cards;
}

TEST_F(CardForm, StructureRecordsAndTheirBed) {
    read(structure_file("NUMSTRUCTS 2\nSTRUCTTYPE WEIRDO\nCREST_LENGTH 4.5\nCREST_LOW_ELEV 3.2\n"
                        "DISCHARGE_COEFF_FORWARD 1.7\nSTRUCTTYPE round_culvert\nDIAMETER 0.9\n"
                        "UPINVERT 2.9\nDOWNINVERT 2.7\nLENGTH 12\nSLOPE 0.01\nROUGH_COEFF 0.013\n"
                        "INLET_DISCH_COEFF 0.6\nREV_FLOW_DISCH_COEFF 0.5\n"));
    ASSERT_FALSE(failed());
    const channel_network &n = s.channels;
    EXPECT_EQ(n.link_type[2], link_structure);
    EXPECT_EQ(n.node_count[2], 2);
    EXPECT_EQ(n.comp_node_count[2], 2);
    ASSERT_EQ(n.structure_count, 2);
    EXPECT_EQ(n.num_structs[2], 2);
    EXPECT_EQ(n.first_struct[2], 1);
    EXPECT_EQ(n.last_struct[2], 2);
    EXPECT_EQ(n.first_struct[1], 10000);
    EXPECT_EQ(n.structures[1].type, 1);  // a word beginning with "weir"
    EXPECT_DOUBLE_EQ(n.structures[1].length, 4.5);
    EXPECT_DOUBLE_EQ(n.structures[1].upstream_invert, 3.2);
    EXPECT_DOUBLE_EQ(n.structures[1].forward_coeff, 1.7);
    EXPECT_EQ(n.structures[2].type, 3);
    EXPECT_DOUBLE_EQ(n.structures[2].shape1, 0.9);
    EXPECT_DOUBLE_EQ(n.structures[2].downstream_invert, 2.7);
    EXPECT_DOUBLE_EQ(n.structures[2].slope, 0.01);
    EXPECT_DOUBLE_EQ(n.structures[2].roughness, 0.013);
    EXPECT_DOUBLE_EQ(n.structures[2].forward_coeff, 0.6);
    EXPECT_DOUBLE_EQ(n.structures[2].reverse_coeff, 0.5);
    // Node 1 of the structure lies between its two points; node 2 has no point
    // beyond it and keeps its own bed.
    EXPECT_DOUBLE_EQ(n.bel[1][2], 2.0);
    EXPECT_DOUBLE_EQ(n.bel[2][2], 1.0);
}

TEST_F(CardForm, StructureCountsMustAgree) {
    const std::string out = read(structure_file("NUMSTRUCTS 2\nSTRUCTTYPE WEIR\n"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("\nThe sum of NUMSTRUCTS arguments is 2, while the total number\n"),
              std::string::npos);
    EXPECT_NE(out.find("etc.) is 1.  This inconstency is intolerable."), std::string::npos);
}

TEST_F(CardForm, UnknownStructureWordIsRefused) {
    const std::string out = read(structure_file("NUMSTRUCTS 1\nSTRUCTTYPE SLUICE\n"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("STRUCTTYPE SLUICE in link 2 is not a known structure type"),
              std::string::npos);
}

TEST_F(CardForm, StructureSeriesCodes) {
    read(structure_file("NUMSTRUCTS 1\nSTRUCTTYPE RATING_CURVE\n"));
    EXPECT_EQ(error_record.code, 85);
    reset_process_globals();
    model_state b;
    b.quiet = 1;
    std::FILE *f = file("b.dat", structure_file("NUMSTRUCTS 1\nSTRUCTTYPE SCHEDULED_RELEASE \"gate\"\n"));
    printed([&] { read_chan_input(f, b); });
    EXPECT_EQ(error_record.code, 88);
    reset_process_globals();
    model_state c;
    c.quiet = 1;
    f = file("c.dat", structure_file("NUMSTRUCTS 1\nSTRUCTTYPE RULE_CURVE\n"));
    printed([&] { read_chan_input(f, c); });
    EXPECT_EQ(error_record.code, 89);
}

TEST_F(CardForm, ScheduledReleaseFindsItsSeries) {
    dir.write("ts.dat", "KORVA_TS\n\"gate\"\nRELATIVE\n0 0 0 0 0 1\n0 0 1 0 0 3\nEND_TS\n");
    printed([&] { read_time_series_file(path("ts.dat")); });
    ASSERT_FALSE(failed());
    read(structure_file("NUMSTRUCTS 1\nSTRUCTTYPE SCHEDULED_RELEASE gate\n"));
    ASSERT_FALSE(failed());
    ASSERT_NE(s.channels.structures[1].series, nullptr);
    EXPECT_EQ(s.channels.structures[1].series->name, "gate");
}

// ---- lakes ----

std::string lake_file(const std::string &lake_cards) {
    return "korva_chan\nALPHA 1\nBETA 1\nTHETA 1\nLINKS 2\nMAXNODES 3\n"
           "CONNECT 1 2 0\nCONNECT 2 0 1 1\n"
           "LINK 1\nDX 10\nNODES 3\nTRAPEZOID\nMANNINGS_N 0.02\n"
           "NODE 1\nELEV 5.0\nXSEC\nBOTTOM_WIDTH 2\nSIDE_SLOPE 1\nNODE 2\nELEV 4.0\nNODE 3\nELEV 3.0\n"
           "LINK 2\nLAKE\nNODES 1\nNODE 1\nELEV 7.5\n" +
           lake_cards;
}

TEST_F(CardForm, LakeSearchCellsFloodBelowTheInitialLevel) {
    // Cells 1..12 lie at 101..112 m; an initial level of 105.0 floods cells whose
    // ground + 0.001 is below it.
    std::string cards = "MINWSE 100.0\nINITWSE 105.0\nMAXWSE 110.0\nMLAKE 0.5\nNUMPTS 25\n";
    std::string pairs;
    int k = 0;
    for (int line = 0; line < 3; ++line) {
        for (int p = 0; p < 10 && k < 25; ++p, ++k) {
            const int cell = k % 12;  // cells in row order, repeating
            pairs += std::to_string(cell / 4 + 1) + " " + std::to_string(cell % 4 + 1) + " ";
        }
        pairs += "\n";
    }
    int loss = 0;
    const std::string out = read(lake_file(cards + pairs), &loss);
    ASSERT_FALSE(failed()) << out;
    EXPECT_EQ(loss, 1);
    const channel_network &n = s.channels;
    ASSERT_EQ(n.lake_count, 1);
    EXPECT_EQ(s.channel_lake_count, 1);
    const channel_lake &lake = n.lakes[1];
    EXPECT_EQ(n.link_lake[2], 1);
    EXPECT_EQ(lake.link, 2);
    EXPECT_EQ(lake.search_count, 25);
    EXPECT_EQ(lake.search[25][0], 1);  // the 25th pair: cell 1 again
    EXPECT_EQ(lake.search[25][1], 1);
    // Flooded: cells 1..4 (101..104 m); cell 1 appears three times and cells 2
    // to 4 twice in the 25 search cells, and each visit counts.
    EXPECT_EQ(lake.flooded_cells, 3 + 2 + 2 + 2);
    const double per = 100.0;  // cell area
    const double expect = per * (3 * 4.0 + 2 * 3.0 + 2 * 2.0 + 2 * 1.0);
    EXPECT_NEAR(lake.initial_volume, expect, 1e-9);
    EXPECT_DOUBLE_EQ(lake.volume, lake.initial_volume);
    EXPECT_DOUBLE_EQ(lake.wse, 105.0);
    EXPECT_NEAR(lake.area, lake.flooded_cells * per, 1e-9);
    EXPECT_EQ(s.cell_channel_lake[1], 1);
    EXPECT_EQ(s.cell_channel_lake[5], 0);
    // The lake lines are printed in quiet mode too.
    EXPECT_NE(out.find("Initial Water Surface Elevation Lake #1: 105.00\n"), std::string::npos);
    EXPECT_NE(out.find("number of coords for lake #1's search order: 25\n"), std::string::npos);
    EXPECT_NE(out.find("Simulating Lake Losses for Lake #1, Bed Thickness: 0.5 m\n"),
              std::string::npos);
    // The lake node has no point beyond it: its bed stays as read.
    EXPECT_DOUBLE_EQ(n.bel[1][2], 7.5);
}

TEST_F(CardForm, LakeSearchCellOutsideTheGridIsRefused) {
    const std::string out =
        read(lake_file("INITWSE 105.0\nNUMPTS 2\n1 1 4 9\n"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("search cell (4, 9) of lake 1 is not a cell of the watershed"),
              std::string::npos);
}

TEST_F(CardForm, LakeSearchCountBeyondTheFileIsRefused) {
    const std::string out = read(lake_file("INITWSE 105.0\nNUMPTS 1000000000\n1 1 1 2\n"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("NUMPTS 1000000000 of lake link 2 is more search cells than the rest"),
              std::string::npos)
        << out;
}

TEST_F(CardForm, PointSourceNeedsItsSeries) {
    const std::string out = read(edited("NODE 3\nELEV 9.0\n", "NODE 3\nELEV 9.0\nPOINTSOURCE inflow\n"));
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("POINTSOURCE time series \"inflow\" of link 2 is not defined"),
              std::string::npos);
}

TEST_F(CardForm, CardCodesIgnoreCase) {
    std::string line = "  Mannings_N 0.03";
    EXPECT_EQ(chan_card_code(line), chan_card::mannings_n);
    EXPECT_EQ(line, " 0.03");
    line = "k_river 3";
    EXPECT_EQ(chan_card_code(line), chan_card::gw_bed_conductivity);
    line = "NODEX 3";
    EXPECT_EQ(chan_card_code(line), chan_card::unknown);
    line = "";
    EXPECT_EQ(chan_card_code(line), chan_card::unknown);
}

}  // namespace
