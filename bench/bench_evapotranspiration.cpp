// Speed of the hourly evapotranspiration (energy balance and Penman-Monteith) and
// of one root-zone withdrawal step on 10^4 to 10^6 cells, reported as cells per
// second, beside the cost of the exp call that dominates the energy balance.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "model/core/arrays.h"
#include "model/hydrology/soil_water_services.h"
#include "model/core/model_state.h"

namespace {

// Cells of mixed slope under a summer noon; the root zone of the redistribution
// scheme 40 cm deep, half wet.
std::unique_ptr<model_state> weather_grid(int n, int penman) {
    auto state = std::make_unique<model_state>();
    model_state &s = *state;
    s.cell_count = n;
    s.cell_size = 10.0;
    s.long_term = 1;
    s.et_penman = penman;
    s.et_deardorff = !penman;
    s.latitude = 40.0;
    s.longitude = 105.0;
    s.gmt_offset = -7.0;
    s.top_layer_depth_cm = 10.0;
    for (array_1d<double> *a :
         {&s.depth, &s.x_slope, &s.y_slope, &s.albedo, &s.vegetation_height, &s.transmission_coeff,
          &s.canopy_resistance, &s.rain_rate, &s.soil_porosity.full(), &s.soil_residual.full(),
          &s.soil_sixth, &s.wilting_point, &s.soil_ksat.full(), &s.soil_pore_index.full(),
          &s.root_zone_depth, &s.root_zone_water,
          &s.root_upper_water, &s.root_lower_water, &s.step_infiltration_depth})
        alloc_1d_double(*a, n);
    alloc_1d_byte(s.saturated_cell, n);
    for (int i = 1; i <= n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        s.x_slope[k] = 0.01 * (i % 7);
        s.y_slope[k] = -0.01 * (i % 5);
        s.albedo[k] = 0.2;
        s.vegetation_height[k] = 0.3;
        s.transmission_coeff[k] = 0.5;
        s.canopy_resistance[k] = 70.0;
        s.soil_porosity.full()[k] = 0.45;
        s.soil_residual.full()[k] = 0.05;
        s.soil_sixth[k] = 0.3;
        s.wilting_point[k] = 0.1;
        s.soil_ksat.full()[k] = 1.0 / 360000.0;
        s.soil_pore_index.full()[k] = 0.5;
        s.root_zone_depth[k] = 40.0;
        s.root_upper_water[k] = 3.5;
        s.root_lower_water[k] = 10.0;
        s.root_zone_water[k] = 13.5;
    }
    hmet_hour_record &h = s.hmet_hour;
    h.year = 1996;
    h.month = 7;
    h.day = 4;
    h.hour = 13;
    h.air_temperature = 25.0;
    h.relative_humidity = 40.0;
    h.pressure = 1000.0;
    h.wind_speed = 3.0;
    h.sky_cover = 2.0;
    // A measured global radiation, turned onto each cell's slope.
    h.global_radiation = 800.0;
    h.global_given = 1;
    return state;
}

void bm_evapotranspiration(benchmark::State &bench, int penman) {
    const int n = static_cast<int>(bench.range(0));
    auto s = weather_grid(n, penman);
    for (auto _ : bench) {
        compute_evapotranspiration(*s);
        benchmark::DoNotOptimize(s->potential_et[1]);
    }
    bench.SetItemsProcessed(bench.iterations() * n);
}

void bm_energy_balance(benchmark::State &bench) { bm_evapotranspiration(bench, 0); }
void bm_penman_monteith(benchmark::State &bench) { bm_evapotranspiration(bench, 1); }

void bm_root_zone(benchmark::State &bench) {
    const int n = static_cast<int>(bench.range(0));
    auto s = weather_grid(n, 0);
    compute_evapotranspiration(*s);
    for (auto _ : bench) {
        // Keep the root zone where it started so that every step does the same work.
        for (int i = 1; i <= n; ++i) {
            const auto k = static_cast<std::size_t>(i);
            s->root_upper_water[k] = 3.5;
            s->root_lower_water[k] = 10.0;
        }
        benchmark::DoNotOptimize(soil_et_withdrawal(*s, 60.0));
    }
    bench.SetItemsProcessed(bench.iterations() * n);
}

// The exp call of the saturation vapour pressure, for comparison.
void bm_exp(benchmark::State &bench) {
    double x = 0.01, sum = 0.0;
    for (auto _ : bench) {
        sum += std::exp(x);
        x += 1e-9;
        benchmark::DoNotOptimize(sum);
    }
    bench.SetItemsProcessed(bench.iterations());
}

}  // namespace

BENCHMARK(bm_energy_balance)->Arg(10000)->Arg(100000)->Arg(1000000);
BENCHMARK(bm_penman_monteith)->Arg(10000)->Arg(100000)->Arg(1000000);
BENCHMARK(bm_root_zone)->Arg(10000)->Arg(100000)->Arg(1000000);
BENCHMARK(bm_exp);
BENCHMARK_MAIN();
