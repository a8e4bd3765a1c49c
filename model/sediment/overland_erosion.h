// Overland erosion and deposition of one overland step: raindrop splash and flow
// detachment of loose soil, transport of the soil classes to the x and then the
// y neighbour at the capacity of the flow, settling, and the soil that the
// overland outlet carries away. step_overland_flow calls overland_erosion
// (declared in model/channel/channel_services.h) when soil erosion is on; the
// sediment-bound constituent scheme shares the helpers below.
#pragma once

#include "model/core/arrays.h"

struct model_state;
struct sediment_record;

// Unit weight of water (N/m3) and the density of sediment (kg/m3) of the erosion formulas.
inline constexpr double unit_weight_water = 9792.342;
inline constexpr double sediment_density = 2645.23;

// Fall velocity (m/s) of a grain of diameter d (m) in water of kinematic
// viscosity nu (m2/s), with submerged_g = (G - 1) g, by Van Rijn (1984): Stokes'
// law at or below 0.1 mm, 10 nu / d (sqrt(1 + 0.01 D*^3) - 1) up to 1 mm
// (D* = d (submerged_g / nu^2)^(1/3)), 1.1 sqrt(submerged_g d) above.
double grain_fall_velocity(double d, double submerged_g, double nu);

// Raindrop splash coefficients alpha and beta for a rainfall rate (mm/h).
void splash_coefficients(double rain_mm_h, double &alpha, double &beta);

// Damping of splash by the water over the soil: exp(1 - h / D_m) when the depth h
// exceeds the median drop diameter D_m = 0.00124 i^0.182 (m), else 1.
double splash_damping(double rain_mm_h, double h);

// Volume (m3) that the flow of a cell can carry out of it in a step of dt s.
// method 1..6 (others give a rate of 1.0), fraction the cell's row of class
// fractions (1..class_count), S the friction slope, h the depth (m), q the unit
// discharge (m2/s), dx the cell size, a, b, c, E the transport coefficient,
// exponent, critical value and factor of methods 2 to 6. 0 for a dry cell
// (h <= 1e-16), a flow below 1e-6 m2/s or a stream value below c.
double overland_transport_capacity(int method, const sediment_record &record, int cell, double S,
                                   double h, double q, double dt, double dx, double a, double b,
                                   double c, double E);

// Splash of one cell: D = F X alpha i^beta dt dx^2 / 2645.23 (m3) moves from the
// loose soil into suspension by the classes' detachment shares, when it is at
// most the loose soil present; otherwise nothing moves. Returns the volume moved.
double rain_splash_detachment(sediment_record &record, int cell, double rain_mm_h, double h,
                              double splash_coeff, double dt, double dx);

// Flow detachment of one cell: D = A (9792.342 h S)^B dt dx^2 / 2645.23 (m3),
// moved as by splash when it is less than the loose soil present. The critical
// value is taken and not used. Returns the volume moved.
double flow_detachment(sediment_record &record, int cell, double h, double S, double A, double B,
                       double critical, double dt, double dx);
