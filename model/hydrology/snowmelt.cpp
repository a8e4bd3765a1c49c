// Snowmelt of every cell's snow store by an energy balance of the hour's weather,
// and the hourly continuous frozen-ground index. Called by the rainfall piece and
// the long-term meteorology piece.
#include <cmath>

#include "model/constituents/constituent_transport.h"
#include "model/hydrology/evapotranspiration.h"
#include "model/hydrology/soil_water_services.h"
#include "model/core/model_state.h"

int snowmelt_energy_balance(model_state &s, double dt, int rain_heat) {
    if (s.snow_store.empty()) return 0;
    const hmet_hour_record &r = s.hmet_hour;
    const double t = r.air_temperature;
    // Heat terms in cal/cm2/h: condensation, sensible heat (pressure in millibars)
    // and the net longwave gain of a melting surface.
    const double u = r.wind_speed * 0.0002 / 1000.0 * 3600.0;
    const double ea = (r.relative_humidity / 100.0) * 2.749e8 * std::exp(-4278.6 / (t + 242.8));
    const double qe = 600.0 * u * (ea - 6.11);
    const double qh = 600.0 * 0.00061 * r.pressure * u * t;
    const double tk = t + 273.15;
    const double ql = 4.956e-9 * tk * tk * tk * tk - s.snow_longwave_out;
    const bool net = s.interception_on && !s.net_rain_rate.empty();
    const double melt_factor = dt / 360000.0 / s.snow_fusion_heat;

    int snow_left = 0;
    double melted = 0.0;  // m summed over the cells
    for (int i = 1; i <= s.cell_count; ++i) {
        double &snow = s.snow_store[i];
        if (!(snow > 0.0) || lake_or_channel_cell(s, i)) continue;
        const double rate = net ? s.net_rain_rate[i] : s.rain_rate[i];
        const double qr = rain_heat ? rate / 10.0 * t : 0.0;
        double melt = (ql + qe + qh + qr) * melt_factor;
        if (melt < 0.0) melt = 0.0;
        if (melt > snow) melt = snow;
        snow -= melt;
        s.depth[i] += melt;
        if (melt > 0.0) release_snow_constituents(s, i, melt, melt / (snow + melt));
        melted += melt;
        if (snow > 0.0) snow_left = 1;
    }
    s.water.move(ledger_node::snow, ledger_node::surface, melted * s.cell_size * s.cell_size);
    return snow_left;
}

void decay_cell_store(model_state &s) {
    if (s.frozen_ground_index.empty()) return;
    const double t = s.hmet_hour.air_temperature;
    const double kf = t >= 0.0 ? 0.5 : 0.08;
    const bool snow = !s.snow_store.empty();
    for (int i = 1; i <= s.cell_count; ++i) {
        if (lake_or_channel_cell(s, i)) continue;
        double &index = s.frozen_ground_index[i];
        const double cover = snow ? s.snow_store[i] : 0.0;
        index = 0.99875 * index - (t / 24.0) * std::exp(-0.4 * kf * 100.0 * cover);
        if (index < 0.0) index = 0.0;
    }
}
