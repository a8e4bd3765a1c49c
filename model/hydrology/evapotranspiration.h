// Potential evapotranspiration of the hour over the grid: solar geometry on a
// sloping cell, a surface energy balance solved for the surface temperature and,
// by choice, a Penman-Monteith form. compute_evapotranspiration itself is
// declared in soil_water_services.h; the pieces below are its building blocks.
#pragma once

struct model_state;

// Cells whose water belongs to an overland lake (lakes on) or a channel lake
// (channel routing on); the root-zone, snow and frozen-ground processes skip them.
bool lake_or_channel_cell(const model_state &state, int cell);

// Share of the demand that soil water w can give, w between wilting point wp and
// field capacity fc (default), or w over fc above the residual res (Deardorff);
// at most 1. Depths or moistures, all alike.
double et_stress_factor(bool deardorff, double w, double fc, double wp, double res);

// The root-zone withdrawal of the Richards columns for the coming step: each
// cell's ET flag and rate (cm/s) from the potential ET in a long-term run, when
// the cell has no rain, no snow and is no lake or channel cell; flag 0 otherwise.
void set_richards_et_demand(model_state &state);

// Saturation vapour pressure (kPa) at t degrees Celsius.
double saturation_vapour_pressure(double t);
// Slope of the saturation vapour pressure curve (kPa/degree C) at t degrees Celsius.
double vapour_pressure_slope(double t);
// Psychrometric constant (kPa/degree C) at pressure p (kPa), latent heat lambda (MJ/kg).
double psychrometric_constant(double p, double lambda);
// Air density (kg/m3) at pressure p (kPa) and t degrees Celsius.
double air_density(double p, double t);
// Aerodynamic resistance (s/m) of vegetation of height h (m) at wind speed u (m/s).
double aerodynamic_resistance(double h, double u);

// Solar position and the factors of the hour that every cell shares.
struct solar_hour {
    double declination = 0.0;   // rad
    double hour_angle = 0.0;    // rad
    double sin_altitude = 0.0, altitude_deg = 0.0, cos_altitude = 0.0;
    double azimuth = 0.0;       // rad
    double air_mass = 0.0, extinction = 0.0;
    double distance_factor = 0.0;  // E0
};
// Day of year 1..366 (Gregorian leap rule).
int et_day_of_year(int year, int month, int day);
// Sun of record hour `hour` (0..23) of day `doy` at latitude and longitude
// (degrees) in time zone `gmt` (hours; 0 takes the sign +1).
solar_hour solar_position(int doy, int hour, double latitude, double longitude, double gmt);
// Relative air mass at a solar altitude (degrees above 0).
double relative_air_mass(double altitude_deg);
// Earth-sun distance factor of day of year j.
double earth_sun_factor(int doy);

// The values of one hour that the cell energy balance needs.
struct energy_balance_air {
    double ta_k = 0.0;       // air temperature (K)
    double ea = 0.0;         // vapour pressure of the air (kPa)
    double p = 0.0;          // pressure (kPa)
    double u = 1.0;          // wind speed (m/s), at least 1
    double rho = 0.0;        // air density (kg/m3)
    double qa = 0.0;         // specific humidity of the air
    double longwave_in = 0.0;  // W/m2
};
// Terms of the energy balance at one surface temperature.
struct energy_balance_terms {
    double f = 0.0, df = 0.0;      // residual LE + H + Q (kW/m2) and its derivative
    double evaporation = 0.0;      // kg m-2 s-1
    double le = 0.0, h = 0.0, q = 0.0;
    double es = 0.0;               // saturation vapour pressure at the surface (kPa)
};
energy_balance_terms energy_balance_at(const energy_balance_air &air, double rns, double ts);
// Surface temperature (K) that closes the balance under net shortwave rns
// (W/m2): Newton from the air temperature, at most 50 iterations, with
// bisection over air temperature +-50 K as fallback. False when no root lies
// there (the caller reports the cell).
bool solve_surface_temperature(const energy_balance_air &air, double rns, double &ts,
                               energy_balance_terms &terms);
