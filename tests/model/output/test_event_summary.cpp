// Tests of the event summary on a tiny hand-made run: the whole text of an event
// with uniform rain, the no-rain case, the thresholds of the mass-conservation and
// surface-water warnings, and the process and output lists.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/core/calendar.h"
#include "model/output/event_summary.h"
#include "model/core/globals.h"
#include "model/core/model_state.h"
#include "tests/model/output_test_support.h"

namespace {

using outputtest::contents;

// An event of 20 mm/h for 30 minutes over 25 cells of 10 m that ended with
// 400 m3 discharged and 100 m3 still on the surface, from 500 m3 of rain.
class EventSummary : public ::testing::Test {
protected:
    void SetUp() override {
        reset_process_globals();
        s.summary_file = std::tmpfile();
        s.uniform_rain_on = 1;
        s.rain_intensity = 20.0;
        s.rain_duration = 30.0;
        s.time_step = 10.0;
        s.event_start_time = julian_day(1999, 6, 15, 8, 30, 0.0);
        s.rain_steps_with_rain = 180;
        s.rain_began_minutes = 0.0;
        s.peak_calendar = {1999, 6, 15, 9, 5, 0};
        s.peak_outlet_discharge = 0.1234;
        s.water.move(ledger_node::atmosphere, ledger_node::surface, 500.0);
        s.water.move(ledger_node::surface, ledger_node::outlet, 400.0);
        s.final_overland_volume = 100.0;
        s.mass_input_original = 500.0;
        s.mass_output_final = 500.0;
        s.mass_conservation_error = 0.0;
        s.map_interval_steps = 720;
        s.hydrograph_interval_steps = 6;
        s.grid_map_files_on = 1;
    }
    void TearDown() override {
        std::fclose(s.summary_file);
        s.summary_file = nullptr;
        reset_process_globals();
    }
    std::string summary() {
        write_event_summary(s);
        return contents(s.summary_file);
    }
    model_state s;
};

TEST_F(EventSummary, WholeTextOfAUniformRainEvent) {
    const std::string expected =
        "\n\n"
        "------------------------------------------------------------------------------\n"
        "         KORVA EVENT RUNOFF SIMULATION SUMMARY\n"
        "            Event began on 06/15/1999 at 08:30\n"
        "   With uniform rainfall of   20.0 mm/h for   30.0 minutes.\n\n"
        "elevation and gridsize are in meters\n"
        "timestep                                    10.0 seconds\n"
        "number of timesteps with rain:             180\n"
        "elapsed time when rain began:               0.00\n \n"
        "date/time of peak discharge:              6/15/1999  9:05:00\n"
        "Event peak discharge (cubic meters per second):     0.1234\n\n"
        "Note: all volumes in cubic meters.\n"
        "initial volume of overland flow:           0.0\n"
        "inital liquid-equiv. volume of snow:       0.0\n \n"
        "volume of total rainfall:                500.0\n"
        "volume of interception:                    0.0\n"
        "volume of direct evaporation:              0.0\n"
        "volume of infiltrated water:               0.0\n"
        "volume of water exfiltrated:               0.0\n"
        "volume of discharge:                     400.0\n"
        "volume from overland point sources:        0.0\n"
        "volume remaining on surface:             100.0\n"
        "final volume of snow (cu. m):              0.0\n \n"
        "mass conservation error:              0.000000 percent\n"
        "Note: positive mass conservation error indicates mass was created.\n"
        "Mass input + original mass:           500.000000 m3\n"
        "Mass output + final mass:             500.000000 m3\n"
        "mass cleanup error from overland:      0.000000 m3\n"
        "\n THE FOLLOWING WARNINGS ARE GIVEN:\n"
        "-The volume of water remaining on the watershed surface at the end of the\n"
        " simulation is more than 5 percent of the rainfall volume.  Runoff may not\n"
        " be complete, or water is held in pits of the DEM.  Consider extending\n"
        " the simulation time, or repair the DEM, as necesary.\n"
        "\n THE FOLLOWING INPUTS WERE READ:\n"
        "Floating point DRELM maps were read.\n"
        "\n THE FOLLOWING PROCESSES WERE SIMULATED:\n"
        "Uniform overland roughness.\n"
        "\n THE FOLLOWING OUTPUT MAPS WERE WRITTEN EVERY 720 TIMESTEP(S):\n"
        "\n THE FOLLOWING ASCII OUTPUT FILES WERE WRITTEN TO EVERY 6 TIMESTEP(S):\n"
        "     hydrograph at the catchment outlet.\n";
    EXPECT_EQ(summary(), expected);
}

TEST_F(EventSummary, EventWithoutRainPrintsMinusOneHundredPercent) {
    s.event_rain_volume = 0.0;
    s.final_overland_volume = 0.0;
    s.mass_conservation_error = -1.0;
    const std::string text = summary();
    EXPECT_NE(text.find("mass conservation error:             -100.000000 percent\n"
                        "Note: positive mass conservation error indicates mass was created.\n"),
              std::string::npos);
    EXPECT_NE(text.find("mass cleanup error from overland:      0.000000 m3\n"
                        "Note: no rainfall was input.\n"),
              std::string::npos);
}

TEST_F(EventSummary, ExfiltrationIsTheEventsShareOfTheRunTotal) {
    // 30 m3 had gone to the surface when the event began, 75 m3 by its end.
    s.groundwater_on = 1;
    s.water.move(ledger_node::aquifer, ledger_node::water_table, 30.0);
    s.event_marks.water = s.water.mark();
    s.water.move(ledger_node::aquifer, ledger_node::water_table, 45.0);
    const std::string text = summary();
    EXPECT_NE(text.find("volume of water exfiltrated:              45.0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("exfiltration at start of event:           30.0\n"
                        "exfiltration over the run:                75.0\n"),
              std::string::npos)
        << text;
}

TEST_F(EventSummary, FlowsAreTheLedgersSinceTheEventBeganAndARoundingErrorHasNoSign) {
    // Before the event: the 400 m3 of the set-up left, 60 evaporated, 90 infiltrated.
    using n = ledger_node;
    s.water.move(n::surface, n::atmosphere, 60.0);
    s.water.move(n::surface, n::front_soil, 90.0);
    s.event_marks.water = s.water.mark();
    // In it: 500 of rain, 7 evaporate, 40 infiltrate, 353 leave.
    const struct { n from, to; double volume; } flows[] = {{n::atmosphere, n::surface, 500.0},
                                                           {n::surface, n::atmosphere, 7.0},
                                                           {n::surface, n::front_soil, 40.0},
                                                           {n::surface, n::outlet, 353.0}};
    for (const auto &f : flows) s.water.move(f.from, f.to, f.volume);
    s.mass_conservation_error = -1e-12;
    const std::string text = summary();
    EXPECT_NE(text.find("volume of direct evaporation:              7.0\n"
                        "volume of infiltrated water:              40.0\n"
                        "volume of water exfiltrated:               0.0\n"
                        "volume of discharge:                     353.0\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("mass conservation error:              0.000000 percent\n"
                        "Note: positive mass conservation error indicates mass was created.\n"),
              std::string::npos)
        << text;
}

TEST_F(EventSummary, NegativeErrorHasItsOwnNote) {
    s.mass_conservation_error = -0.001;
    const std::string text = summary();
    EXPECT_NE(text.find("mass conservation error:             -0.100000 percent\n"
                        "Note: negative mass conservation error indicates mass was gained.\n"),
              std::string::npos);
    EXPECT_EQ(text.find("no rainfall"), std::string::npos);
}

TEST_F(EventSummary, TwoPercentIsNoWarningAndJustAboveIs) {
    s.final_overland_volume = 0.0;
    s.mass_conservation_error = 0.02;
    std::string text = summary();
    EXPECT_EQ(text.find("-Mass conservation error (absolute)"), std::string::npos);
    EXPECT_NE(text.find("No Warnings.\n"), std::string::npos);

    std::fclose(s.summary_file);
    s.summary_file = std::tmpfile();
    s.mass_conservation_error = -0.02000001;
    text = summary();
    EXPECT_NE(text.find("-Mass conservation error (absolute) is larger than typical values (<2 "
                        "percent).\n"),
              std::string::npos);
    EXPECT_NE(text.find(" in the development of KORVA.  You should first check for errors in the\n"),
              std::string::npos);
    EXPECT_NE(text.find(" time step may also help alleviate this problem.\n\n"), std::string::npos);
    EXPECT_EQ(text.find("No Warnings."), std::string::npos);
}

TEST_F(EventSummary, SurfaceWaterOfExactlyFivePercentIsNoWarning) {
    s.final_overland_volume = 25.0;  // 5 percent of 500 m3
    EXPECT_EQ(summary().find("-The volume of water remaining"), std::string::npos);
}

TEST_F(EventSummary, RainfallIncludesTheInterceptedRain) {
    s.event_marks.water = s.water.mark();
    s.water.move(ledger_node::atmosphere, ledger_node::surface, 450.0);  // reached the ground
    s.water.move(ledger_node::atmosphere, ledger_node::canopy, 50.0);    // held on the canopy
    s.interception_on = 1;
    const std::string text = summary();
    EXPECT_NE(text.find("volume of total rainfall:                500.0\n"
                        "volume of interception:                   50.0\n"),
              std::string::npos);
    EXPECT_NE(text.find("Interception losses.\n"), std::string::npos);
}

TEST_F(EventSummary, ProcessesAndOutputsInTheirOrder) {
    s.interception_on = 1;
    s.roughness_map_on = 1;
    s.retention_on = 1;
    s.inf_green_ampt = 1;
    s.initial_moisture_on = 1;
    s.in_hyd_location_on = 1;
    s.datasets_on = 1;
    s.binary_datasets = 1;
    s.depth_out = 1;
    s.dis_rain_out = 1;
    const std::string text = summary();
    EXPECT_NE(text.find("\n THE FOLLOWING PROCESSES WERE SIMULATED:\n"
                        "Interception losses.\n"
                        "Distributed overland roughness.\n"
                        "Distributed initial soil moisture.\n"
                        "Uniform retention depth.\n"
                        "Green & Ampt infiltration.\n"),
              std::string::npos);
    EXPECT_NE(text.find("Locations where discharge hydrographs are to be written.\n"),
              std::string::npos);
    EXPECT_NE(text.find("BINARY ZEP maps of:\n"
                        "     overland flow depth.\n"
                        "     distributed rainfall rate.\n"),
              std::string::npos);
    EXPECT_NE(text.find("     hydrograph at the catchment outlet.\n"
                        "     hydrographs at selected locations.\n"),
              std::string::npos);
}

// Slotted sections of the numeric channel file (types 10 and 11) have their own
// process lines; the point-source totals are printed with the channel block.
TEST_F(EventSummary, ChannelSectionKindsAndPointInputs) {
    s.chan_explicit = 1;
    s.channels.link_count = 2;
    ASSERT_EQ(alloc_1d_int(s.channels.link_type, 2), 0);
    s.channels.link_type[1] = 10;
    s.channels.link_type[2] = 1;
    s.water.move(ledger_node::point_sources, ledger_node::channels, 3600.0);
    s.water.move(ledger_node::channels, ledger_node::point_sources, 12.5);
    std::string text = summary();
    EXPECT_NE(text.find("Explicit diffusive-wave channel routing.\n"
                        "Trapezoidal cross-sections with Preissmann slots were simulated.\n"),
              std::string::npos);
    EXPECT_EQ(text.find("Look-up table cross-sections with Preissmann slots"), std::string::npos);
    EXPECT_NE(text.find("volume from stream point sources:       3600.0\n"
                        "volume to stream point sinks:             12.5\n"),
              std::string::npos);
    s.channels.link_type[2] = 11;
    text = summary();
    EXPECT_NE(text.find("Trapezoidal cross-sections with Preissmann slots were simulated.\n"
                        "Look-up table cross-sections with Preissmann slots were simulated.\n"),
              std::string::npos);
}

TEST_F(EventSummary, GaugeRainWithInverseDistance) {
    s.uniform_rain_on = 0;
    s.gauge_file_on = 1;
    s.inverse_distance_on = 1;
    EXPECT_NE(summary().find("With raingage data using inverse-distance squared "
                             "interpolation.\n\n"),
              std::string::npos);
}

TEST_F(EventSummary, SummarySwitchOffWritesNothing) {
    s.event_summary_switch = 0;
    EXPECT_EQ(summary(), "");
}

}  // namespace
