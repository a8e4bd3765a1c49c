// The arrays freed after set-up: uniform rain kept as one rate for all cells
// must rain exactly what the per-cell rates rain, turn by turn, with a break
// after the rain; runs that need per-cell rates (canopy, lakes, rain maps) keep
// them; the bed slopes stay for the explicit scheme only.
#include <gtest/gtest.h>

#include <cstddef>

#include "model/core/calendar.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/process_clocks.h"
#include "model/hydrology/rainfall.h"
#include "model/input/input_services.h"
#include "model/core/model_state.h"

namespace {

void uniform_rain_grid(model_state &s, int overland_scheme) {
    s.grid_rows = 3;
    s.grid_cols = 4;
    s.cell_size = 20.0;
    s.cell_count = 12;
    alloc_1d_double(s.depth, 12);
    alloc_1d_double(s.rain_rate, 12);
    alloc_1d_double(s.x_slope, 12);
    alloc_1d_double(s.y_slope, 12);
    alloc_1d_double(s.elevation_work, 12);
    for (int k = 1; k <= 12; ++k) s.depth[static_cast<std::size_t>(k)] = 0.001 * k;
    s.overland_scheme = overland_scheme;
    s.uniform_rain_on = 1;
    s.rain_intensity = 25.0;  // mm/h
    s.rain_duration = 7.0;    // minutes
    s.time_step = 60.0;
    s.grid.start_year = 2012;
    s.grid.start_time_given = 1;
    s.start_days = julian_day(2012, 5, 3, 6, 0, 0.0);
    setup_precipitation(s);
    setup_start_time(s);
}

void rain_turn(model_state &s) {
    advance_clock(s);
    read_precip_event(s);
    read_radar_precip(s);
    apply_rainfall(s);
    if (clock_due(s, s.rain_clock)) take_clock_step(s, s.rain_clock);
}

TEST(SetupRelease, SharedUniformRainRainsWhatThePerCellRatesRain) {
    reset_process_globals();
    model_state cells, shared;
    uniform_rain_grid(cells, 2);
    uniform_rain_grid(shared, 2);
    release_setup_arrays(shared);
    ASSERT_EQ(error_record.fatal, 0);
    EXPECT_EQ(shared.rain_rate_shared, 1);
    EXPECT_TRUE(shared.rain_rate.empty());
    EXPECT_TRUE(shared.x_slope.empty());
    EXPECT_TRUE(shared.elevation_work.empty());
    // Seven minutes of rain, then three dry turns.
    for (int turn = 0; turn < 10; ++turn) {
        rain_turn(cells);
        rain_turn(shared);
        for (int k = 1; k <= 12; ++k)
            ASSERT_EQ(shared.depth[static_cast<std::size_t>(k)], cells.depth[static_cast<std::size_t>(k)])
                << "turn " << turn << " cell " << k;
        ASSERT_EQ(shared.event_rain_volume, cells.event_rain_volume) << "turn " << turn;
        ASSERT_EQ(shared.step_rate_sum, cells.step_rate_sum) << "turn " << turn;
        ASSERT_EQ(shared.precip_state, cells.precip_state) << "turn " << turn;
    }
    // 25 mm/h for 7 minutes on 12 cells of 400 m2, beside the starting depths.
    EXPECT_NEAR(shared.event_rain_volume, 0.025 * 7.0 / 60.0 * 12 * 400.0, 1e-6);
    EXPECT_NEAR(shared.depth[1], 0.001 + 0.025 * 7.0 / 60.0, 1e-9);
    EXPECT_EQ(shared.precip_state, 3);
    EXPECT_TRUE(shared.step_rain_rate.empty());
}

TEST(SetupRelease, PerCellRatesStayWhereACellCanDiffer) {
    struct option_case {
        const char *name;
        void (*set)(model_state &);
    };
    const option_case cases[] = {
        {"canopy", [](model_state &s) { s.interception_on = 1; }},
        {"overland lakes", [](model_state &s) { s.overland_lake_on = 1; }},
        {"rain maps", [](model_state &s) { s.dis_rain_out = 1; }},
        {"gauges", [](model_state &s) { s.gauge_file_on = 1; }},
    };
    for (const option_case &c : cases) {
        SCOPED_TRACE(c.name);
        reset_process_globals();
        model_state s;
        uniform_rain_grid(s, 1);
        c.set(s);
        release_setup_arrays(s);
        EXPECT_EQ(s.rain_rate_shared, 0);
        EXPECT_FALSE(s.rain_rate.empty());
        // The explicit scheme keeps its bed slopes.
        EXPECT_FALSE(s.x_slope.empty());
        EXPECT_FALSE(s.y_slope.empty());
    }
}

}  // namespace
