// Tests of the contaminant blocks of the event summary on hand-made totals: the
// overland block's lines and balance error worked by hand, the next event
// starting from the masses left on the land, stream cells counted in the
// overland mass, the channel block over the routed nodes only, the lake lines,
// and the blocks' place in the whole event summary.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/output/contaminant_summaries.h"
#include "model/output/event_summary.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/core/mass_ledger.h"
#include "model/core/model_state.h"
#include "tests/model/output_test_support.h"

namespace {

using outputtest::contents;
using nd = ledger_node;
namespace tt = transport_table;

// Three cells of 10 m holding one contaminant (masses in g, totals in kg).
class ContaminantSummary : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.summary_file = std::tmpfile();
        s.cell_count = 3;
        s.cell_size = 10.0;
        s.ov_con_trans_mode = 1;
        allocate_constituent_arrays(1, s, 3, 0);
        ASSERT_EQ(error_record.fatal, 0);
        set_cells(tt::mass, {1000.0, 2500.0, 500.0});      // 4.0 kg in the water
        set_cells(tt::land_pool, {2000.0, 0.0, 3000.0});   // 5.0 kg in the land pool
        s.contaminant_descriptions = {"", "nitrate"};
        // The event: it began with 3 kg in the water and 6 kg in the pool.
        s.event_ov_mass_init[1] = 3.0;
        s.event_ov_land_mass[1] = 6.0;
        post(nd::atmosphere, nd::surface, 2.5);
        post(nd::point_sources, nd::surface, 0.5);
        post(nd::land_pool, nd::surface, 1.0);
        post(nd::surface, nd::outlet, 1.25);
        post(nd::surface, nd::transformation, 0.5);
        post(nd::surface, constituent_soil_node(s), 1.0);
    }
    // kg of constituent 1 moved from one node of its ledger to another
    void post(ledger_node from, ledger_node to, double kg) { mass_ledger(s, 1).move(from, to, kg); }
    void TearDown() override {
        std::fclose(s.summary_file);
        s.summary_file = nullptr;
        reset_process_globals();
    }
    void set_cells(int table, std::initializer_list<double> values) {
        double *row = table_value(1, s.transport_tables[static_cast<std::size_t>(table)]);
        int c = 1;
        for (double v : values) row[c++] = v;
    }
    std::string blocks() {
        write_transport_event_summary(s);
        return contents(s.summary_file);
    }
    model_state s;
};

TEST_F(ContaminantSummary, OverlandBlockByHand) {
    // In: 3 + 2.5 + 0.5 + 1.0 = 7.0 kg; out: 1.25 + 0.5 + 1.0 + 4.0 = 6.75 kg;
    // error (7.0 - 6.75) / 7.0 = 3.571 percent.
    EXPECT_EQ(blocks(),
              "Overland Contaminant Transport Summary for nitrate \n"
              "Amounts are total for simulations in (Kg) \n \n"
              "Initial mass on overland                3.00\n"
              "Final mass on overland                  4.00\n"
              "Mass out of the watershed               1.25\n"
              "Mass into the channels                  0.00\n"
              "Mass decayed                            0.50\n"
              "Mass from point sources                 0.50\n"
              "Mass exfiltrated                        0.00\n"
              "Mass from precipitation                 2.50\n"
              "Mass infiltrated                        1.00\n"
              "Mass taken up                           1.00\n"
              "Initial mass in land pool               6.00\n"
              "Final mass in land pool                 5.00\n"
              "Contam mass balance error               3.57 percent \n");
}

TEST_F(ContaminantSummary, TheNextEventStartsFromTheMassesLeftOnTheLand) {
    blocks();
    EXPECT_DOUBLE_EQ(s.event_ov_mass_init[1], 4.0);
    EXPECT_DOUBLE_EQ(s.event_ov_land_mass[1], 5.0);
    const overland_mass_account a = event_overland_account(s, 1);
    for (double flow : {a.precipitation, a.point, a.taken_up, a.out, a.decayed, a.infiltrated})
        EXPECT_EQ(flow, 0.0);
    // Second event: 1.5 kg of rain-borne mass, of which 0.5 kg leaves at the
    // outlet; the water ends with 5.0 kg, so the balance closes.
    std::fclose(s.summary_file);
    s.summary_file = std::tmpfile();
    post(nd::atmosphere, nd::surface, 1.5);
    post(nd::surface, nd::outlet, 0.5);
    set_cells(tt::mass, {2000.0, 2500.0, 500.0});
    const std::string text = blocks();
    EXPECT_NE(text.find("Initial mass on overland                4.00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Final mass on overland                  5.00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Contam mass balance error               0.00 percent \n"), std::string::npos);
    EXPECT_EQ(mass_ledger(s, 1).moved(nd::surface, nd::outlet), 1.75);  // the run keeps both events
}

TEST_F(ContaminantSummary, StreamCellsCountInTheOverlandMassWithRoutedChannels) {
    // Cell 2 holds a channel node, but its 2.5 kg are still in the overland water:
    // only the exchange moves mass into the channel.
    s.chan_explicit = 1;
    s.chan.cell_link.obtain(3);
    s.chan.cell_link[2] = 1;
    EXPECT_DOUBLE_EQ(overland_water_mass(s, 1), 4.0);
    EXPECT_DOUBLE_EQ(overland_land_mass(s, 1), 5.0);
}

TEST_F(ContaminantSummary, NoContaminantsNoLines) {
    s.ov_con_trans_mode = 0;
    EXPECT_EQ(blocks(), "");
    EXPECT_DOUBLE_EQ(event_overland_account(s, 1).out, 1.25);  // the event goes on
}

TEST_F(ContaminantSummary, ChannelBlockCountsOnlyTheRoutedNodes) {
    s.contaminant_descriptions.clear();  // uniform values: no description
    s.chan_con_trans = 1;
    outputtest::make_network(s.channels);  // link 1 trapezoid, 2 lake, 3 structure
    s.chan.chan_node_mass.obtain(1, 3, 3);
    for (int l = 1; l <= 3; ++l)
        for (int n = 1; n <= 3; ++n) s.chan.chan_node_mass[1][n][l] = 1000.0 * l + 100.0 * n;
    post(nd::channels, nd::outlet, 0.75);
    post(nd::cells_to_channels, nd::channels, 3.5);
    post(nd::aquifer, nd::channels, -0.25);
    post(nd::channels, nd::transformation, 0.125);
    post(nd::point_sources, nd::channels, 0.25);
    post(nd::mass_cleanup, nd::channels, 0.0625);
    s.chan.wq_event_channel_initial = {0.0, 1.5};
    s.chan.wq_event_lake_initial = {0.0, 0.0};
    const std::string text = blocks();
    const std::string head = "Channel Contaminant Transport Summary for Contaminant     1 \n";
    const std::size_t at = text.find(head);
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find("Overland Contaminant Transport Summary for Contaminant     1 \n"), 0u);
    // Link 1, nodes 1 and 2: 1100 + 1200 g; the lake and the structure links are not routed.
    EXPECT_EQ(text.substr(at + head.size()),
              "Amounts are total for event in (Kg) \n \n"
              "Initial mass in channels                1.50\n"
              "Final mass in channels                  2.30\n"
              "Mass from the overland                  3.50\n"
              "Mass from point sources                 0.25\n"
              "Mass from groundwater                  -0.25\n"
              "Mass added by the clean-up              0.06\n"
              "Mass out of the outlet                  0.75\n"
              "Mass decayed                            0.12\n");
    // The channel terms start again for the next event, from the mass now in the
    // routed nodes.
    EXPECT_EQ(event_channel_account(s, 1).terms.exchange, 0.0);
    EXPECT_EQ(event_channel_account(s, 1).terms.outlet, 0.0);
    EXPECT_DOUBLE_EQ(s.chan.wq_event_channel_initial[1], 2.3);
}

TEST_F(ContaminantSummary, LakeBlockGivesEachLakesFinalMassAndConcentration) {
    s.ov_con_trans_mode = 0;
    s.chan_con_trans = 1;
    outputtest::make_network(s.channels);
    s.channels.lake_count = 2;
    s.chan.lake_mass.obtain(1, 2);
    s.chan.lake_conc.obtain(1, 2);
    s.chan.lake_mass[1][1] = 12340.0;
    s.chan.lake_conc[1][1] = 0.75;
    s.chan.lake_mass[1][2] = 500.0;
    s.chan.lake_conc[1][2] = 0.0;
    post(nd::channels, nd::channel_lakes, 4.0);
    post(nd::channel_lakes, nd::channels, 2.5);
    post(nd::cells_to_lakes, nd::channel_lakes, 0.5);
    post(nd::cells_to_channels, nd::channel_lakes, 0.25);
    post(nd::atmosphere, nd::channel_lakes, 1.0);
    post(nd::aquifer, nd::channel_lakes, -0.5);
    post(nd::channel_lakes, nd::transformation, 0.25);
    s.chan.wq_event_channel_initial = {0.0, 0.0};
    s.chan.wq_event_lake_initial = {0.0, 10.34};
    const std::string text = blocks();
    const std::string head = "Lake Contaminant Transport Summary for Constituent     1 \n";
    const std::size_t at = text.find(head);
    ASSERT_NE(at, std::string::npos) << text;
    // 10.34 + 4.0 - 2.5 + 0.75 + 1.0 - 0.5 - 0.25 = 12.84 kg: the two lakes' final mass.
    EXPECT_EQ(text.substr(at + head.size()),
              "Initial mass in lakes                  10.34\n"
              "Final mass in lakes                    12.84\n"
              "Mass from the channels                  4.00\n"
              "Mass to the channels                    2.50\n"
              "Mass from the overland                  0.75\n"
              "Mass from precipitation                 1.00\n"
              "Mass from groundwater                  -0.50\n"
              "Mass decayed                            0.25\n"
              "Mass the lakes could not give           0.00\n"
              "Final Mass in lake 1 =          12.34 \n"
              "Final Conc in lake 1 =           0.75 \n \n"
              "Final Mass in lake 2 =           0.50 \n"
              "Final Conc in lake 2 =           0.00 \n \n");
    EXPECT_DOUBLE_EQ(s.chan.wq_event_lake_initial[1], 12.84);
}

TEST_F(ContaminantSummary, BlocksFollowTheWaterBalanceOfTheWholeSummary) {
    s.uniform_rain_on = 1;
    s.water.move(ledger_node::atmosphere, ledger_node::surface, 500.0);
    s.mass_input_original = s.mass_output_final = 500.0;
    write_event_summary(s);
    const std::string text = contents(s.summary_file);
    const std::size_t error = text.find("mass conservation error:");
    const std::size_t block = text.find("Overland Contaminant Transport Summary for nitrate \n");
    const std::size_t warnings = text.find("\n THE FOLLOWING WARNINGS ARE GIVEN:\n");
    ASSERT_NE(block, std::string::npos) << text;
    EXPECT_LT(error, block);
    EXPECT_LT(block, warnings);
}

TEST_F(ContaminantSummary, LakeMassLostToTheAquiferIsAnOutflowAndANearZeroInputIsPrintedInKg) {
    s.ov_con_trans_mode = 0;
    s.chan_con_trans = 1;
    outputtest::make_network(s.channels);
    s.channels.lake_count = 1;
    s.chan.lake_mass.obtain(1, 1);
    s.chan.lake_conc.obtain(1, 1);
    // 10 kg of rain on the lake, all of it seeped away with the lake's water: 10 in, 10 out.
    post(nd::atmosphere, nd::channel_lakes, 10.0);
    post(nd::aquifer, nd::channel_lakes, -10.0);
    std::FILE *f = std::tmpfile();
    write_channel_balance_error(f, s, 1);
    mass_balance tiny;
    tiny.in(0.004);  // below what the mass lines show: no percentage of it
    write_balance_error(f, "Contam mass balance error     ", 2, tiny, "\n");
    EXPECT_EQ(contents(f), "Channel contam mass balance error       0.000000 percent \n\n"
                           "Contam mass balance error           0.004000 kg \n");
    std::fclose(f);
}

TEST(OverlandMassAccount, ErrorIsZeroWithoutInput) {
    overland_mass_account a;
    a.out = 1.0;  // nothing came in: no percentage of nothing
    EXPECT_EQ(a.error_percent(), 0.0);
    a.initial = 4.0;
    a.final_mass = 2.0;  // 4 in, 3 out: a quarter unaccounted
    EXPECT_DOUBLE_EQ(a.error_percent(), 25.0);
}

}  // namespace
