// The exchange with the vegetation model at the end of an HXT event, in a scratch
// directory: maps written and read back unchanged restore every exchanged array
// bit for bit; the control file's two numbers and its last-event line; the files
// that cannot be opened; the run that goes on or ends.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/core/calendar.h"
#include "model/hydrology/hydrology_services.h"
#include "model/framework_test_support.h"
#include "test_overland_grid.h"

namespace {

using namespace overlandtest;

class PluxExchange : public overland_test {
protected:
    void SetUp() override {
        overland_test::SetUp();
        guard.reset();
        guard = std::make_unique<frameworktest::in_scratch_dir>();
        guard->dir().write("exchange/.keep", "");
        // 4 x 3 cells of 10 m; values that print with many digits.
        make_grid(s, 4, 3, 10.0, [](int r, int c) { return 100.0 + r + 0.1 * c; }, 0.05);
        s.grid_north = 40.0;
        s.grid_south = 0.0;
        s.grid_east = 30.0;
        s.grid_west = 0.0;
        for (auto *a :
             {&s.soil_ksat.full(), &s.soil_porosity.full(), &s.moisture_state.full(), &s.initial_moisture.full()})
            alloc_1d_double(*a, s.cell_count);
        for (int i = 1; i <= s.cell_count; ++i) {
            s.roughness.full()[at(i)] = 0.03 + i / 7.0 * 1e-3;
            s.soil_ksat.full()[at(i)] = 2.5e-6 / 3.0 * i;
            s.soil_porosity.full()[at(i)] = 0.4 + 0.1 / 3.0;
            s.initial_moisture.full()[at(i)] = 0.1 + 0.2 / i;
            s.moisture_state.full()[at(i)] = 0.15 + 1.0 / (3.0 * i);
        }
        s.hxt_on = s.hxt_event_on = s.plux_on = 1;
        s.plux_exchange_name = "exchange/plux.ctl";
        const char *names[4] = {"moist.map", "ksat.map", "rough.map", "poros.map"};
        for (int k = 0; k < 4; ++k) {
            s.plux_map_switches[at(k)] = 1;
            s.plux_map_names[at(k)] = std::string("exchange/") + names[k];
        }
        // The maps come back as they went: no vegetation model in between.
        s.plux_map_switches[7] = s.plux_map_switches[8] = s.plux_map_switches[9] = 1;
        s.plux_map_names[7] = s.plux_map_names[0];
        s.plux_map_names[8] = s.plux_map_names[1];
        s.plux_map_names[9] = s.plux_map_names[2];
        s.start_days = julian_day(2020, 3, 1, 0, 0, 0.0);
        s.now_days = s.start_days + 10.5;  // 11 March 2020, noon: day 71
        s.event_number = 1;
        s.event_count = 2;
        s.end_of_run = 1;
        s.keep_running = 1;
    }
    void TearDown() override {
        guard.reset();
        overland_test::TearDown();
    }
    std::string control() const { return guard->dir().read("exchange/plux.ctl"); }
    std::unique_ptr<frameworktest::in_scratch_dir> guard;
};

// Copies of the per-cell values, for exact comparison after the exchange.
template <class A>
std::vector<double> values_of(const model_state &s, const A &a) {
    std::vector<double> v;
    for (int i = 1; i <= s.cell_count; ++i) v.push_back(a[at(i)]);
    return v;
}

TEST_F(PluxExchange, RoundTripWithoutTheVegetationModelChangesNothing) {
    for (int green_ampt : {0, 1}) {
        SetUp();
        s.inf_green_ampt = green_ampt;
        if (green_ampt)
            for (int i = 1; i <= s.cell_count; ++i)
                s.moisture_state.full()[at(i)] = s.soil_porosity.full()[at(i)] - s.initial_moisture[at(i)];
        const auto rough = values_of(s, s.roughness), ksat = values_of(s, s.soil_ksat);
        const auto theta = values_of(s, s.moisture_state), initial = values_of(s, s.initial_moisture);
        const std::string out = printed([&] { exchange_plux_maps(s); });
        EXPECT_EQ(error_record.code, 0) << out;
        EXPECT_EQ(values_of(s, s.roughness), rough);
        EXPECT_EQ(values_of(s, s.soil_ksat), ksat);
        EXPECT_EQ(values_of(s, s.moisture_state), theta) << green_ampt;
        if (green_ampt) {
            EXPECT_EQ(values_of(s, s.initial_moisture), initial);
        }
        EXPECT_TRUE(guard->dir().exists("exchange/poros.map"));
        EXPECT_NE(out.find("reading PLUX exchange maps\nEnd of HXT event 1\n"), std::string::npos);
        EXPECT_EQ(control(), " 71  10\n");
        EXPECT_EQ(s.keep_running, 0);
        EXPECT_EQ(s.end_of_run, 0);
        EXPECT_EQ(s.end_of_event, 1);
        TearDown();
    }
}

TEST_F(PluxExchange, LastEventWritesTheEndMarker) {
    s.event_number = 2;
    printed([&] { exchange_plux_maps(s); });
    EXPECT_EQ(control(), "999 999\n");
}

TEST_F(PluxExchange, ControlFileThatCannotBeOpenedLeavesTheRunGoing) {
    s.plux_exchange_name = "no_such_dir/plux.ctl";
    const std::string out = printed([&] { exchange_plux_maps(s); });
    EXPECT_NE(out.find("unable to open plux exchange file for writing\n"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_NE(out.find("End of HXT event 1\n"), std::string::npos);
}

TEST_F(PluxExchange, MapsThatCannotBeOpenedStopTheRun) {
    s.plux_map_names[0] = "no_such_dir/moist.map";
    std::string out = printed([&] { exchange_plux_maps(s); });
    EXPECT_NE(out.find("Can't open soil moisture exchange file no_such_dir/moist.map for writing\n"),
              std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_FALSE(guard->dir().exists("exchange/plux.ctl"));

    reset_process_globals();
    s.plux_map_names[0] = "exchange/moist.map";
    s.plux_map_switches[2] = 0;  // the roughness map is expected back but not written
    s.plux_map_names[9] = "exchange/rough_back.map";
    out = printed([&] { exchange_plux_maps(s); });
    EXPECT_NE(out.find("2 Can't open roughness exchange file exchange/rough_back.map for reading\n"),
              std::string::npos);
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(PluxExchange, OutsideHxtEventModeNothingIsExchanged) {
    s.hxt_event_on = 0;
    const std::string out = printed([&] { exchange_plux_maps(s); });
    EXPECT_EQ(out, "");
    EXPECT_FALSE(guard->dir().exists("exchange/moist.map"));
    EXPECT_FALSE(guard->dir().exists("exchange/plux.ctl"));
    EXPECT_EQ(s.keep_running, 1);
    EXPECT_EQ(s.end_of_run, 0);
    EXPECT_EQ(s.end_of_event, 1);
}

TEST_F(PluxExchange, ProcessesWithStateKeepTheRunGoingOnTheRainClock) {
    s.inf_richards = 1;
    s.rain_clock.last = s.now_days;
    s.rain_clock.next = s.now_days + 0.01;
    s.channel_clock.next = s.now_days + 0.5;
    printed([&] { exchange_plux_maps(s); });
    EXPECT_EQ(s.keep_running, 1);
    EXPECT_EQ(s.channel_clock.next, s.rain_clock.next);
    EXPECT_EQ(s.constituent_clock.next, s.rain_clock.next);
}

TEST_F(PluxExchange, CardsOfMapsThatNoProcessFillsAreNamed) {
    s.plux_map_switches[4] = 1;
    s.plux_map_switches[12] = 1;
    const std::string out = printed([&] { exchange_plux_maps(s); });
    EXPECT_NE(out.find("Warning: the EROSIVITY_TO_PLUX card is read, but no map of that kind is "
                       "exchanged.\n"),
              std::string::npos);
    EXPECT_NE(out.find("ET_DEMAND_FROM_PLUX"), std::string::npos);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(PluxExchange, OutgoingMoistureIsTheRootZoneAfterRain) {
    // 40 cm root zones at the initial moisture, rain put 2 cm into cell 1: W / D returns.
    s.inf_redist = 1;
    for (auto *a : {&s.root_zone_depth, &s.root_zone_water}) alloc_1d_double(*a, s.cell_count);
    std::vector<double> expected = values_of(s, s.initial_moisture);
    expected[0] += 0.05;
    for (int i = 1; i <= s.cell_count; ++i) {
        s.root_zone_depth[at(i)] = 40.0;
        s.root_zone_water[at(i)] = 40.0 * expected[static_cast<std::size_t>(i - 1)];
    }
    printed([&] { exchange_plux_maps(s); });
    for (int i = 1; i <= s.cell_count; ++i)
        EXPECT_NEAR(s.moisture_state[at(i)], expected[static_cast<std::size_t>(i - 1)], 1e-15) << i;
}

}  // namespace
