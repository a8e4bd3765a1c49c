// Potential evapotranspiration of every cell for one hour of the weather record:
// solar geometry on the cell's slope, net shortwave and longwave radiation, a
// surface energy balance for the surface temperature, and the bulk-transfer or
// Penman-Monteith rate. Called by the long-term meteorology piece once an hour.
#include "model/hydrology/evapotranspiration.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "model/core/errors.h"
#include "model/hydrology/process_clocks.h"
#include "model/hydrology/soil_water_services.h"
#include "model/core/cell_arrays.h"
#include "model/core/model_state.h"

namespace {

constexpr double pi = 3.141592654;
constexpr double solar_constant = 1376.0;       // W/m2
constexpr double cloud_k = 0.18 + 0.0853 * 1.5;  // beam transmission under full cloud
constexpr double cp = 1.013;                     // kJ/(kg K)
constexpr double sigma = 5.67e-8;                // W/(m2 K4)
constexpr double lambda = 2.50036;               // MJ/kg
constexpr double rv = 461.0;                     // J/(kg K)
constexpr double ce = 0.0025;                    // bulk transfer coefficient
constexpr double kelvin = 273.15;
constexpr int newton_cap = 50;
constexpr double bracket_k = 50.0;

// Canopy resistance factor by record hour 0..23.
constexpr std::array<double, 24> hourly_rs_factor = {
    4.023803564, 3.837220945, 3.588557905, 3.210454452, 2.430375714, 1.617231413,
    1.196049428, 1.066950368, 1.014336754, 0.995198325, 0.976059896, 0.976059896,
    1.0,         1.052613613, 1.167444189, 1.354095078, 1.636506383, 2.043283344,
    2.660309947, 3.215256127, 3.507134242, 3.688915186, 3.818082516, 3.923343877};

// Seasonal factor of the canopy resistance by month, below and at or above 37 degrees.
double seasonal_factor(int month, double latitude) {
    static constexpr std::array<double, 13> south = {1.0, 4.0, 4.0, 4.0, 2.5, 1.0, 1.0,
                                                     1.0, 1.0, 1.0, 2.5, 4.0, 4.0};
    static constexpr std::array<double, 13> north = {1.0, 4.0, 4.0, 4.0, 4.0, 3.0, 2.0,
                                                     1.0, 1.0, 1.0, 2.5, 4.0, 4.0};
    const std::size_t m = static_cast<std::size_t>(month);
    return latitude >= 37.0 ? north[m] : south[m];
}

double specific_humidity(double e, double p) { return 0.622 * e / (p - 0.378 * e); }

// Shortwave reaching a cell with slopes sx, sy (W/m2, before the albedo). A record
// that gives the global radiation g on the horizontal is used as measured (its
// clouds are in it): on a slope it is turned by cos(theta) / sin(altitude) and
// held below the beam at normal incidence; before sunrise by the model's clock it
// counts as sky light, cos^2(beta / 2) g. Without it the model's clear-sky beam
// `beam_factor` (already cut by the clouds) falls on the slope.
double incoming_shortwave(const solar_hour &sun, double sx, double sy, double beam_factor,
                          bool given, double g, double normal_limit) {
    const bool flat = sx == 0.0 && sy == 0.0;
    if (given && flat) return g;
    const double beta = std::atan(std::sqrt(sx * sx + sy * sy));
    if (!(sun.altitude_deg > 0.0)) {
        const double c = std::cos(beta / 2.0);
        return given ? g * c * c : 0.0;
    }
    const double gamma = sx == 0.0 ? 0.0 : pi / 2.0 - std::atan(-sy / sx);
    double cos_theta = std::cos(beta) * sun.sin_altitude +
                       std::sin(beta) * sun.cos_altitude * std::cos(sun.azimuth - gamma);
    if (cos_theta < 0.0) cos_theta = 0.0;
    if (!given) return beam_factor * cos_theta;
    const double s = g * cos_theta / sun.sin_altitude;
    return s < normal_limit ? s : normal_limit;
}

}  // namespace

bool lake_or_channel_cell(const model_state &s, int i) {
    if (s.overland_lake_on && !s.overland_lake_id.empty() && s.overland_lake_id[i] > 0) return true;
    return channel_routing_on(s) && !s.cell_channel_lake.empty() && s.cell_channel_lake[i] > 0;
}

double saturation_vapour_pressure(double t) { return 0.6108 * std::exp(17.27 * t / (t + 237.3)); }

double vapour_pressure_slope(double t) {
    const double d = t + 237.3;
    return 4098.0 * saturation_vapour_pressure(t) / (d * d);
}

double psychrometric_constant(double p, double lam) { return 0.0016286 * p / lam; }

double air_density(double p, double t) { return 3.486 * p / (t + 275.0); }

double aerodynamic_resistance(double h, double u) {
    const double z = h + 2.0 - 0.67 * h;
    return std::log(z / (0.123 * h)) * std::log(z / (0.0123 * h)) / (0.41 * 0.41 * u);
}

int et_day_of_year(int year, int month, int day) {
    std::array<int, 13> days = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return day_of_year(year, month, day, days);
}

double relative_air_mass(double altitude_deg) {
    const double sin_a = std::sin(altitude_deg * pi / 180.0);
    return 1.0 / (sin_a + 0.15 * std::pow(altitude_deg + 3.885, -1.253));
}

double earth_sun_factor(int doy) {
    const double g = 2.0 * pi * (doy - 1) / 365.0;
    return 1.00011 + 0.034221 * std::cos(g) + 0.00128 * std::sin(g) + 0.000719 * std::cos(2.0 * g) +
           0.000077 * std::sin(2.0 * g);
}

solar_hour solar_position(int doy, int hour, double latitude, double longitude, double gmt) {
    solar_hour sun;
    const double phi = latitude * pi / 180.0;
    sun.declination = (23.45 * pi / 180.0) * std::cos((172.0 - doy) * 2.0 * pi / 365.0);
    const double sign = gmt < 0.0 ? -1.0 : 1.0;
    const double correction = (15.0 * std::fabs(gmt) - longitude) * sign / 15.0;
    const int t = hour - 1;
    const int t2 = t > 12 ? t - 12 : t + 12;
    sun.hour_angle = (t2 - correction) * 15.0 * pi / 180.0;
    const double cd = std::cos(sun.declination);
    double sin_a = std::sin(phi) * std::sin(sun.declination) + std::cos(phi) * cd * std::cos(sun.hour_angle);
    if (sin_a > 1.0) sin_a = 1.0;
    if (sin_a < -1.0) sin_a = -1.0;
    const double alpha = std::asin(sin_a);
    sun.sin_altitude = sin_a;
    sun.cos_altitude = std::cos(alpha);
    sun.altitude_deg = alpha * 180.0 / pi;
    // The azimuth is taken from its sine; at the zenith it is undefined and set to 0.
    double sin_az = sun.cos_altitude > 0.0 ? std::sin(sun.hour_angle) * cd / sun.cos_altitude : 0.0;
    if (sin_az > 1.0) sin_az = 1.0;
    if (sin_az < -1.0) sin_az = -1.0;
    sun.azimuth = std::asin(sin_az);
    if (sun.altitude_deg > 0.0) {
        sun.air_mass = relative_air_mass(sun.altitude_deg);
        sun.extinction = 0.128 - 0.054 * std::log10(sun.air_mass);
    }
    sun.distance_factor = earth_sun_factor(doy);
    return sun;
}

energy_balance_terms energy_balance_at(const energy_balance_air &a, double rns, double ts) {
    energy_balance_terms r;
    const double es = saturation_vapour_pressure(ts - kelvin);
    r.es = es;
    const double qs = specific_humidity(es, a.p);
    r.evaporation = qs > a.qa ? ce * a.rho * a.u * (qs - a.qa) : 0.0;
    r.le = r.evaporation * lambda * 1000.0;
    r.h = (4.0 / 3.0) * a.rho * cp * ce * a.u * (ts - a.ta_k);
    r.q = -(rns + a.longwave_in - sigma * ts * ts * ts * ts) / 1000.0;
    r.f = r.le + r.h + r.q;
    r.df = 4.0 * sigma * ts * ts * ts / 1000.0 + (4.0 / 3.0) * a.rho * cp * ce * a.u +
           lambda * lambda * 1e9 * ce * a.rho * a.u * qs * a.p / (a.p - 0.388 * es) / (rv * ts * ts);
    return r;
}

bool solve_surface_temperature(const energy_balance_air &a, double rns, double &ts,
                               energy_balance_terms &terms) {
    ts = a.ta_k;
    for (int k = 0; k < newton_cap; ++k) {
        terms = energy_balance_at(a, rns, ts);
        const double d = terms.f / terms.df;
        if (!std::isfinite(d)) break;
        if (std::fabs(d) <= 0.001) return true;
        ts -= d;
    }
    // Fallback: f rises with Ts, so a sign change brackets the one root.
    double lo = a.ta_k - bracket_k, hi = a.ta_k + bracket_k;
    const double f_lo = energy_balance_at(a, rns, lo).f, f_hi = energy_balance_at(a, rns, hi).f;
    if (!(f_lo <= 0.0 && f_hi >= 0.0)) return false;
    for (int k = 0; k < 60 && hi - lo > 1e-7; ++k) {
        const double mid = 0.5 * (lo + hi);
        (energy_balance_at(a, rns, mid).f < 0.0 ? lo : hi) = mid;
    }
    ts = 0.5 * (lo + hi);
    terms = energy_balance_at(a, rns, ts);
    return true;
}

void compute_evapotranspiration(model_state &s) {
    const hmet_hour_record &r = s.hmet_hour;
    const int n = s.cell_count;
    if (!ensure_cell_array(s.potential_et, n) || !ensure_cell_array(s.potential_et2, n) ||
        !ensure_cell_array(s.surface_temperature, n) || !ensure_cell_array(s.ground_heat_flux, n)) {
        print_allocation_failure("potential_et");
        raise_printed_error();
        return;
    }
    if (r.month < 1 || r.month > 12 || r.hour < 0 || r.hour > 23) {
        std::printf("Error: weather record %d/%d/%d %d:00 has no valid month or hour\n", r.year,
                    r.month, r.day, r.hour);
        raise_printed_error();
        return;
    }
    const int doy = et_day_of_year(r.year, r.month, r.day);
    const double fs = s.seasonal_rs ? seasonal_factor(r.month, s.latitude) : 1.0;
    const double ta = r.air_temperature;
    const double rh = r.relative_humidity / 100.0;
    double c = r.sky_cover / 10.0;
    if (c > 1.0) {
        std::printf("WARNING: Cloud cover > 1.0 in evapo_trans - possible problem with hmet file \n");
        c = 1.0;
    }
    const solar_hour sun = solar_position(doy, r.hour, s.latitude, s.longitude, s.gmt_offset);
    const double kc = 1.0 + 0.17 * c * c;
    const double extraterrestrial = solar_constant * sun.distance_factor;
    const double beam_factor = extraterrestrial * std::exp(-2.0 * sun.extinction * sun.air_mass) *
                               (1.0 - (1.0 - cloud_k) * c);
    const bool given = r.global_given != 0;

    // The record holds millibars; the air-density, humidity and psychrometric
    // formulas are written for kPa.
    energy_balance_air air;
    air.ta_k = ta + kelvin;
    air.p = r.pressure / 10.0;
    air.u = r.wind_speed < 1.0 ? 1.0 : r.wind_speed;
    const double es_air = saturation_vapour_pressure(ta);
    air.ea = es_air * rh;
    const double ta4 = air.ta_k * air.ta_k * air.ta_k * air.ta_k;
    air.longwave_in = (0.74 + 0.0049 * 10.0 * air.ea) * kc * sigma * ta4;
    air.rho = air_density(air.p, ta);
    air.qa = specific_humidity(air.ea, air.p);
    const double delta = vapour_pressure_slope(ta);
    const double gamma = psychrometric_constant(air.p, lambda);
    const double rs_factor = hourly_rs_factor[static_cast<std::size_t>(r.hour)] * fs;
    // Net longwave at the air temperature (kW/m2), and the drying power of the
    // air, for the combination equation.
    const double longwave_net = (air.longwave_in - sigma * ta4) / 1000.0;
    const double aerodynamic = cp * air.rho * (es_air - air.ea);
    const bool penman = s.et_penman != 0;
    const bool reduce = s.project.area_reduction.given && !s.area_reduction.empty();
    const bool snow = s.snow_flag && !s.snow_store.empty();

    for (int i = 1; i <= n; ++i) {
        s.surface_temperature[i] = air.ta_k;
        const double x = penman ? s.vegetation_height[i] : 0.001;
        double albedo = 0.08;
        if (x > s.depth[i])
            albedo = s.albedo[i];
        else if (snow && s.snow_store[i] >= x)
            albedo = 0.5;
        double shortwave = incoming_shortwave(sun, s.x_slope[i], s.y_slope[i], beam_factor, given,
                                              r.global_radiation, extraterrestrial);
        if (penman && s.transmission_coeff[i] != 0.0) shortwave *= s.transmission_coeff[i];
        const double rns = shortwave * (1.0 - albedo);

        double ts = air.ta_k;
        energy_balance_terms t;
        if (!solve_surface_temperature(air, rns, ts, t)) {
            std::printf("Error: the surface energy balance of grid cell %d has no root within 50 K "
                        "of the air temperature\n",
                        i);
            raise_printed_error();
            return;
        }
        s.surface_temperature[i] = ts;
        s.ground_heat_flux[i] = -t.le - t.h - t.q;

        double pet = t.evaporation;
        if (penman) {
            double &h = s.vegetation_height[i];
            if (h <= 0.0) h = 0.001;
            const double ra = aerodynamic_resistance(h, air.u);
            if (ra < 0.0) std::printf("%d %lf %lf\n", i, ra, air.u);
            if (std::isnan(ra)) std::printf("Ra is not a number in evapo-trans \n");
            const double rs = rs_factor * s.canopy_resistance[i];
            // Available energy: net radiation less the heat that goes into the
            // ground, a tenth of it by day and half of it by night.
            const double rn = rns / 1000.0 + longwave_net;
            const double available = rn - (rn > 0.0 ? 0.1 : 0.5) * rn;
            pet = (delta * available + aerodynamic / ra) / (1000.0 * lambda) /
                  (delta + gamma * (1.0 + rs / ra));
        }
        double out = pet / 10.0;
        if (reduce) out *= s.area_reduction[i];
        if (out < 0.0) out = 0.0;
        s.potential_et[i] = s.potential_et2[i] = out;
    }
}
