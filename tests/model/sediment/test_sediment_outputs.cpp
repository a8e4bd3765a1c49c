// Sediment outputs: the outlet sediment line in its one-total and per-class
// forms, the event-start reset of the erodible beds, and a one-node outlet link
// whose bed slope comes from the link above it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/output/hydrographs.h"
#include "model/sediment/channel_sediment.h"
#include "model/sediment/sediment_outputs.h"
#include "tests/model/channel/routing_network.h"
#include "tests/model/sediment/sediment_test_support.h"

namespace {

std::string file_text(std::FILE *f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, f)) text += buffer;
    return text;
}

struct outlet_line : ::testing::Test {
    model_state s;
    void SetUp() override {
        s.cell_count = 1;
        s.erosion.soil_erosion = 1;
        sediment_test::make_record(s, {0.01, 0.5}, {2.65, 2.65}, {0.5, 0.5}, 0.0625, 0.0);
        s.sediment.outlet_file.file = std::tmpfile();
        s.sediment.outlet_rate[1] = 0.25;
        s.sediment.outlet_rate[2] = 0.125;
    }
};

TEST_F(outlet_line, OneTotalIsTheSumOfTheClassRates) {
    s.sediment.transport_form = 1;
    write_sediment_outlet_line(s, 15.0, 0);
    write_sediment_outlet_line(s, 2459000.5, 1);
    EXPECT_EQ(file_text(s.sediment.outlet_file.file),
              "   15.00   0.375000\n2459000.50000000   0.375000\n");
}

TEST_F(outlet_line, PerClassFormHasOneColumnPerOverlandClass) {
    s.sediment.transport_form = 2;
    write_sediment_outlet_line(s, 15.0, 0);
    EXPECT_EQ(file_text(s.sediment.outlet_file.file), "   15.00   0.250000   0.125000\n");
}

// Two erodible trapezoid links: link 1 of three nodes drains into link 2, the
// outlet, of one node.
struct two_links : ::testing::Test {
    model_state s;
    void SetUp() override {
        clear_error_state();
        routing_test::trapezoid_link(s, 3, 10.0, 2.0, 1.0, 0.03, 0.002, 10.0, 0.5);
        channel_network &net = s.channels;
        net.link_count = 2;
        net.max_upstream = 1;
        make_link_arrays(net);
        make_node_arrays(net, true);
        for (auto *a : {&s.chan.area, &s.chan.new_bel})
            chan_make(*a, 3, 2, "test");
        for (int l = 1; l <= 2; ++l) {
            net.link_type[l] = link_trapezoid_erode;
            net.dx[l] = 10.0;
            net.kconv[l] = 1.0 / 0.03;
        }
        net.node_count[1] = net.comp_node_count[1] = 3;
        net.node_count[2] = net.comp_node_count[2] = 1;
        net.ds_link[1] = 2;
        net.us_count[2] = 1;
        net.uslinks[2][1] = 1;
        const double beds[4] = {0.0, 10.0, 9.98, 9.96};
        for (int n = 1; n <= 3; ++n) {
            net.bel[n][1] = beds[n];
            net.bottom[n][1] = 2.0;
            net.sslope[n][1] = 1.0;
            net.yp[n][1] = beds[n] + 0.5;
            net.qp[n][1] = 1.0;
        }
        net.bel[1][2] = 9.90;  // 6 cm below the last node of link 1
        net.bottom[1][2] = 2.0;
        net.sslope[1][2] = 1.0;
        net.yp[1][2] = 10.4;
        net.qp[1][2] = 1.0;
        s.cell_count = 3;
        s.erosion.soil_erosion = 1;
        sediment_test::make_record(s, {0.01, 0.5}, {2.65, 2.65}, {0.5, 0.5}, 0.0625, 0.0);
        for (array_3d<double> *a : {&s.chan.ch_sand_vol, &s.chan.ch_wash_vol, &s.chan.qlat_sed,
                                    &s.chan.qlat_tot_sed})
            alloc_3d_double(*a, 3, 2, 2);
        for (int l = 1; l <= 2; ++l)
            for (int n = 1; n <= 3; ++n) s.chan.ch_sand_vol[n][l][0] = 1000.0;
    }
};

TEST_F(two_links, TheOneNodeOutletTakesItsBedSlopeFromTheLinkAbove) {
    channel_sediment_transport(s, 60.0, 10.0);
    ASSERT_EQ(error_record.fatal, 0);
    // Slope 0.06 / 10 at the outlet; its section: A = 1.25 m2, P = 2 + sqrt(2).
    const double area = 1.25, radius = area / (2.0 + std::sqrt(2.0)), slope = 0.006;
    const double ustar = std::sqrt(9810.0 * radius * slope / 1000.0);
    const double w = 16.1865 * 0.0625e-3 * 0.0625e-3 / 18e-6;  // Stokes' law below 0.1 mm
    const double qs = yang_sand_concentration(1.0 / area, slope, ustar, w, 0.0625e-3, 1e-6) * 9810.0 /
                      2.59965e10;
    ASSERT_GT(qs, 0.0);
    EXPECT_NEAR(s.sediment.outlet_sand_rate[0], qs, qs * 1e-12);
}

TEST_F(two_links, AnEventStartPutsTheErodibleBedsBackAtTheirBedElevation) {
    s.chan.new_bel[2][1] = 3.0;
    s.chan.new_bel[1][2] = 4.0;
    start_sediment_event(s);
    EXPECT_EQ(s.chan.new_bel[2][1], s.channels.bel[2][1]);
    EXPECT_EQ(s.chan.new_bel[1][2], s.channels.bel[1][2]);
    // Four nodes of 1000 m3 each (the second link holds one).
    EXPECT_NEAR(s.sediment.event_channel_sand, 4000.0, 1e-9);
}

}  // namespace
