// Tests of the routing limits that the channel set-up checks before the run: the
// Courant limit of explicit routing, structure links the routing cannot carry,
// and the river-bed thickness that the channel-aquifer exchange divides by.
#include <cstdio>
#include <string>

#include "model/input/channel_setup.h"
#include "model/input/input_readers.h"
#include "tests/model/input/channel_test_files.h"

namespace {

using channeltest::channel_files;
using channeltest::two_link_card_file;

// The two-link network with groundwater cards on link 1 only.
std::string network_with_bed(const std::string &thickness) {
    std::string text = two_link_card_file();
    const std::string at = "LINK 1\nDX 10.0\n";
    text.replace(text.find(at), at.size(),
                 at + "GW_BED_CONDUCTIVITY 0.5\nGW_BED_THICKNESS " + thickness + "\n");
    return text;
}

// Link 1 (three points, beds 5, 4 and 3: computational beds 4.5 and 3.5) drains
// through structure link 2 into link 3, or, with outlet_structure, link 2 is the
// outlet.
std::string structure_network(const std::string &elements, bool outlet_structure = false) {
    std::string text = "korva_chan\nALPHA 1\nBETA 1\nTHETA 1\n";
    text += outlet_structure ? "LINKS 2\nMAXNODES 3\nCONNECT 1 2 0\nCONNECT 2 0 1 1\n"
                             : "LINKS 3\nMAXNODES 3\nCONNECT 1 2 0\nCONNECT 2 3 1 1\n"
                               "CONNECT 3 0 1 2\n";
    text += "LINK 1\nDX 10\nNODES 3\nTRAPEZOID\nMANNINGS_N 0.02\nNODE 1\nELEV 5.0\nXSEC\n"
            "BOTTOM_WIDTH 2\nSIDE_SLOPE 1\nNODE 2\nELEV 4.0\nNODE 3\nELEV 3.0\n"
            "LINK 2\nSTRUCTURE\n" +
            elements;
    if (!outlet_structure)
        text += "LINK 3\nDX 10\nNODES 3\nTRAPEZOID\nMANNINGS_N 0.02\nNODE 1\nELEV 3.0\nXSEC\n"
                "BOTTOM_WIDTH 2\nSIDE_SLOPE 1\nNODE 2\nELEV 2.5\nNODE 3\nELEV 2.0\n";
    return text;
}

class ChannelLimits : public channel_files {};

TEST_F(ChannelLimits, CourantLimitMustBeAboveZero) {
    read(two_link_card_file());
    ASSERT_FALSE(failed());
    s.chan_explicit = 1;
    for (double limit : {0.0, -0.5}) {
        clear_error_state();
        s.max_courant_number = limit;
        const std::string out = printed([&] { check_channel_limits(s); });
        EXPECT_TRUE(failed()) << limit;
        EXPECT_NE(out.find("MAX_COURANT_NUMBER of the channel routing must be above 0"),
                  std::string::npos);
    }
    clear_error_state();
    s.max_courant_number = 1e-3;  // small but valid
    check_channel_limits(s);
    EXPECT_FALSE(failed());
    // Without explicit routing the limit is not used.
    s.chan_explicit = 0;
    s.max_courant_number = 0.0;
    check_channel_limits(s);
    EXPECT_FALSE(failed());
}

TEST_F(ChannelLimits, BedThicknessMustBeAboveZeroWithGroundwater) {
    read(network_with_bed("0.0"));
    ASSERT_FALSE(failed());
    s.chan_explicit = 1;
    s.max_courant_number = 0.2;
    // Link 2 has no groundwater cards and takes thickness 0 as well; link 1 is
    // found first.
    s.groundwater_on = 1;
    const std::string out = printed([&] { check_channel_limits(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("river bed thickness at link 1 node 1 is 0 m"), std::string::npos);
    // Without the groundwater model the thickness is never divided by.
    clear_error_state();
    s.groundwater_on = 0;
    check_channel_limits(s);
    EXPECT_FALSE(failed());
}

TEST_F(ChannelLimits, PositiveBedThicknessEverywhereIsAccepted) {
    read(network_with_bed("0.25"));
    ASSERT_FALSE(failed());
    s.chan_explicit = 1;
    s.max_courant_number = 0.2;
    s.groundwater_on = 1;
    // Each link's nodes take that link's own cards; link 2 has none, so its
    // thickness is given by hand.
    for (int n = 1; n <= s.channels.max_node_count; ++n)
        if (s.channels.Mrb[n][2] <= 0.0) s.channels.Mrb[n][2] = 0.5;
    check_channel_limits(s);
    EXPECT_FALSE(failed());
    EXPECT_DOUBLE_EQ(s.channels.Mrb[2][1], 0.25);
}

TEST_F(ChannelLimits, WeirCrestOrCulvertInvertBelowTheBedAboveItIsRefused) {
    // The node above the structure is node 2 of link 1, bed (4 + 3) / 2 = 3.5.
    const std::string culvert = "STRUCTTYPE ROUND_CULVERT\nLENGTH 10\nUPINVERT 3.5\n"
                                "DOWNINVERT 2.9\nDIAMETER 0.5\n";
    read(structure_network("NUMSTRUCTS 2\n" + culvert +
                           "STRUCTTYPE WEIR\nCREST_LENGTH 4\nCREST_LOW_ELEV 3.2\n"));
    ASSERT_FALSE(failed());
    ASSERT_DOUBLE_EQ(s.channels.bel[2][1], 3.5);
    const std::string out = printed([&] { check_channel_limits(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("the weir of structure link 2 (structure 2) has its crest "
                       "(CREST_LOW_ELEV) at 3.2000,\nbelow the bed elevation 3.5000 of the "
                       "last node (node 2) of upstream link 1."),
              std::string::npos)
        << out;
    // A crest or culvert inlet level with the bed, or above it, is accepted; an inlet
    // 0.05 m below it (it would draw the node below empty) is refused.
    for (const char *crest : {"3.5", "3.8", "3.45"}) {
        reset_process_globals();
        model_state fresh;
        fresh.quiet = 1;
        std::string elements = "NUMSTRUCTS 2\n" + culvert + "STRUCTTYPE WEIR\nCREST_LENGTH 4\nCREST_LOW_ELEV 3.5\n";
        const std::string key = std::string(crest) == "3.8" ? "ELEV 3.5" : "INVERT 3.5";
        elements.replace(elements.find(key) + key.size() - 3, 3, crest);
        std::FILE *f = file(std::string("crest") + crest + ".dat", structure_network(elements));
        printed([&] { read_chan_input(f, fresh); });
        ASSERT_FALSE(failed()) << crest;
        const std::string refused = printed([&] { check_channel_limits(fresh); });
        EXPECT_EQ(failed(), std::string(crest) == "3.45") << crest;
        if (failed()) {
            EXPECT_NE(refused.find("the culvert of structure link 2 (structure 1) has its upstream invert (UPINVERT) at "
                                   "3.4500,\nbelow the bed elevation 3.5000 of the last node (node 2) of upstream link 1."),
                      std::string::npos) << refused;
        }
    }
}

TEST_F(ChannelLimits, StructureLinkAsTheOutletIsRefused) {
    read(structure_network("NUMSTRUCTS 1\nSTRUCTTYPE WEIR\nCREST_LENGTH 4\n"
                           "CREST_LOW_ELEV 3.8\n",
                           true));
    ASSERT_FALSE(failed());
    ASSERT_EQ(s.channels.ds_link[2], 0);
    const std::string out = printed([&] { check_channel_limits(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("structure link 2 is the outlet of the channel network"),
              std::string::npos)
        << out;
}

TEST_F(ChannelLimits, SetUpStopsBeforeRoutingOnABadCourantLimit) {
    s.channel_input_file = file("chan.dat", two_link_card_file());
    s.chan_explicit = 1;
    s.max_courant_number = 0.0;
    const std::string out = printed([&] { setup_channels(s); });
    EXPECT_TRUE(failed());
    EXPECT_NE(out.find("MAX_COURANT_NUMBER"), std::string::npos);
    // The set-up ended there: no routing work arrays were made.
    EXPECT_TRUE(s.chan.area.empty());
}

}  // namespace
