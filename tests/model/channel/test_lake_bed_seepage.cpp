// Seepage through the beds of channel lakes: the rate of each lake cell from the
// head difference across the bed, the code-7 filter of coded exchange, the rate
// that a dry bed over a low aquifer keeps, and the volumes that move between a
// lake and the aquifer over many steps.
#include <gtest/gtest.h>

#include <cmath>

#include "model/channel/channel_seepage.h"
#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/channel_file.h"
#include "model/core/model_state.h"

namespace {

constexpr double cell = 10.0;                    // m
constexpr double k_bed = 3.6;                    // cm/h: 1e-5 m/s
constexpr double k_si = k_bed / 100.0 / 3600.0;  // m/s
constexpr double bed = 2.0;                      // MLAKE (m)

// A 2 x 2 grid of 10 m cells (1 2 / 3 4) with ground 100 m, one lake link whose
// lake lists cells 1, 2, 3, 4 in that order and covers the first two, at level
// wse. With the groundwater model (gw) every cell has code 7 and a lake loss
// volume; the head is H everywhere.
void lake_over_cells(model_state &s, double wse, double H, int gw = 1) {
    s.cell_count = 4;
    s.cell_size = cell;
    s.groundwater_on = gw;
    s.lake_loss_flag = 1;
    s.channel_lake_count = 1;
    chan_make(s.cell_number_grid, 3, 3, "grid");
    s.cell_number_grid[1][1] = 1;
    s.cell_number_grid[1][2] = 2;
    s.cell_number_grid[2][1] = 3;
    s.cell_number_grid[2][2] = 4;
    for (auto *a : {&s.elevation, &s.water_table_elevation, &s.chan.cell_lake_exchange,
                    &s.chan.lake_gw_volume})
        chan_make(*a, 4, "cells");
    if (gw) chan_make(s.lake_loss_volume, 4, "loss volumes");
    chan_make(s.gw_boundary_code, 4, "codes");
    chan_make(s.cell_channel_lake, 4, "lake map");
    for (int c = 1; c <= 4; ++c) {
        s.elevation[c] = 100.0;
        s.water_table_elevation[c] = H;
        s.gw_boundary_code[c] = 7;
    }
    s.cell_channel_lake[1] = s.cell_channel_lake[2] = 1;

    channel_network &net = s.channels;
    net.link_count = 1;
    net.max_node_count = 1;
    net.max_upstream = 1;
    make_link_arrays(net);
    make_node_arrays(net, true);
    net.link_type[1] = link_lake;
    net.Krb[1][1] = k_bed;
    net.lake_count = 1;
    net.lakes.resize(2);
    channel_lake &lake = net.lakes[1];
    lake.link = 1;
    lake.loss = 1;
    lake.bed_thickness = bed;
    lake.search_count = 4;
    lake.search = {{0, 0}, {1, 1}, {1, 2}, {2, 1}, {2, 2}};
    lake.flooded_cells = 2;
    lake.wse = wse;
    lake.volume = lake.initial_volume = (wse - 100.0) * 2.0 * cell * cell;
}

TEST(LakeBedSeepage, RateFollowsTheHeadAcrossTheBed) {
    clear_error_state();
    model_state s;
    lake_over_cells(s, 101.0, 99.5);
    s.water_table_elevation[2] = 102.5;        // the aquifer stands above the lake here
    s.chan.cell_lake_exchange[3] = 7.0;        // listed but not flooded: a left-over rate
    EXPECT_EQ(stream_aquifer_exchange(s), 0);  // no channel node: lakes set no result
    ASSERT_EQ(error_record.fatal, 0);
    // (H - wse) K / t x cell size: 1.5 m of head over a 2 m bed of 1e-5 m/s.
    EXPECT_NEAR(s.chan.cell_lake_exchange[1], -1.5 * 1e-5 / 2.0 * 10.0, 1e-18);
    EXPECT_NEAR(s.chan.cell_lake_exchange[2], 1.5 * 1e-5 / 2.0 * 10.0, 1e-18);
    EXPECT_EQ(s.chan.cell_lake_exchange[3], 0.0);
    EXPECT_EQ(s.chan.cell_lake_exchange[4], 0.0);

    // One step of 600 s over 10 m cells: cell 1 gives 0.45 m3 to the aquifer,
    // cell 2 takes as much from it; the lake's in and out and the constituents'
    // volumes follow.
    book_lake_bed_volumes(s, 600.0);
    const channel_lake &lake = s.channels.lakes[1];
    EXPECT_NEAR(s.lake_loss_volume[1], -0.45, 1e-14);
    EXPECT_NEAR(s.lake_loss_volume[2], 0.45, 1e-14);
    EXPECT_NEAR(lake.volume_out, 0.45, 1e-14);
    EXPECT_NEAR(lake.volume_in, 0.45, 1e-14);
    EXPECT_NEAR(lake.volume, 200.0, 1e-12);
    EXPECT_NEAR(s.chan.lake_gw_volume[1], -0.45, 1e-14);
    // With the groundwater model the aquifer step posts the exchange, not this.
    EXPECT_EQ(s.water.net_into(ledger_node::channel_lakes), 0.0);
}

TEST(LakeBedSeepage, CodedExchangeOnlyThroughLakeCellsAndDryBedsKeepTheirRate) {
    clear_error_state();
    model_state s;
    lake_over_cells(s, 101.0, 100.5);
    s.gw_boundary_code[2] = 4;  // a stream cell under the lake: no lake exchange
    stream_aquifer_exchange(s);
    EXPECT_NEAR(s.chan.cell_lake_exchange[1], -0.5 * k_si / bed * cell, 1e-18);
    EXPECT_EQ(s.chan.cell_lake_exchange[2], 0.0);

    // The lake falls to the bed of its cells. The stream cell stays shut; once
    // a lake cell, an aquifer above the bed drains into the dry lake by its
    // height above the bed; with the head at the bed the rate of the last step
    // stays.
    s.channels.lakes[1].wse = 100.0;
    s.water_table_elevation[2] = 100.8;
    s.water_table_elevation[1] = 100.0;
    stream_aquifer_exchange(s);
    EXPECT_EQ(s.chan.cell_lake_exchange[2], 0.0);
    s.gw_boundary_code[2] = 7;
    stream_aquifer_exchange(s);
    EXPECT_NEAR(s.chan.cell_lake_exchange[1], -0.5 * k_si / bed * cell, 1e-18);
    EXPECT_NEAR(s.chan.cell_lake_exchange[2], 0.8 * k_si / bed * cell, 1e-18);

    // Without the groundwater model the codes do not filter, and the lake drains
    // toward the water table as read from its own level.
    s.groundwater_on = 0;
    s.gw_boundary_code[2] = 4;
    s.channels.lakes[1].wse = 101.0;
    s.water_table_elevation[1] = 100.4;
    stream_aquifer_exchange(s);
    EXPECT_NEAR(s.chan.cell_lake_exchange[1], -0.6 * k_si / bed * cell, 1e-18);
    EXPECT_NEAR(s.chan.cell_lake_exchange[2], -0.2 * k_si / bed * cell, 1e-18);
}

TEST(LakeBedSeepage, RefusesABedWithoutThickness) {
    clear_error_state();
    model_state s;
    lake_over_cells(s, 101.0, 99.0);
    s.channels.lakes[1].bed_thickness = 0.0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(stream_aquifer_exchange(s), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_NE(out.find("The bed thickness (MLAKE) of lake 1 must be above 0 (0 m)."),
              std::string::npos)
        << out;
    clear_error_state();
}

// Many steps of a lake that drains to the aquifer through one cell while the
// other takes water from it, until the lake runs dry: what the lake loses is
// what the aquifer's loss volumes (with the groundwater model) or the run's lake
// totals (without it) gain, and the lake never holds less than nothing.
TEST(LakeBedSeepage, LakeAndAquiferExchangeTheSameWaterUntilTheLakeIsDry) {
    struct setting {
        int gw;
        double low_head, high_head, thickness, gain_per_hour;
    };
    // Gains per hour: 0.1 m x 1e-5 m/s / 2 m x 100 m2 x 3600 s = 0.18 m3, and
    // 0.01 m x 1e-5 m/s / 0.01 m x 100 m2 x 3600 s = 3.6 m3. Without the
    // groundwater model a table below the bed moves nothing, so the draining
    // cell's table lies between the bed and the lake.
    for (const setting &x :
         {setting{1, 95.0, 100.15, 2.0, 0.18}, setting{0, 100.01, 100.06, 0.01, 3.6}}) {
        clear_error_state();
        model_state s;
        lake_over_cells(s, 100.05, x.low_head, x.gw);  // 10 m3 over two cells
        s.water_table_elevation[2] = x.high_head;
        channel_lake &lake = s.channels.lakes[1];
        lake.bed_thickness = x.thickness;
        const double start = lake.volume;
        double aquifer = 0.0;  // water the aquifer took from the lake (m3)
        int dry_steps = 0;
        for (int step = 1; step <= 200; ++step) {
            stream_aquifer_exchange(s);
            book_lake_bed_volumes(s, 3600.0);
            ASSERT_EQ(error_record.fatal, 0);
            EXPECT_GE(lake.volume, -1e-12 * start) << "step " << step;
            if (lake.volume < 1e-9 * start) ++dry_steps;
            if (x.gw) {
                // The groundwater step takes the loss volumes and clears them.
                for (int c = 1; c <= 4; ++c) {
                    aquifer -= s.lake_loss_volume[c];
                    s.lake_loss_volume[c] = 0.0;
                }
            }
        }
        if (!x.gw) aquifer = s.water.net(ledger_node::channel_lakes, ledger_node::deep_aquifer);
        EXPECT_GT(dry_steps, 190) << "gw " << x.gw;  // the cap on the loss acted
        const double lost = start - lake.volume;
        EXPECT_NEAR(aquifer, lost, 1e-9 * start);
        EXPECT_NEAR(lake.volume_out - lake.volume_in, lost, 1e-9 * start);
        double tracer = 0.0;
        for (int c = 1; c <= 4; ++c) tracer -= s.chan.lake_gw_volume[c];
        EXPECT_NEAR(tracer, lost, 1e-9 * start);
        // Once dry, the lake passes on exactly what the gaining cell brings in.
        EXPECT_NEAR(lake.volume_in, x.gain_per_hour * 200.0, 1e-9 * x.gain_per_hour * 200.0);
        EXPECT_NEAR(lake.volume, 0.0, 1e-9 * start);
    }
}

}  // namespace
