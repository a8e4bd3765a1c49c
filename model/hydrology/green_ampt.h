// Green and Ampt infiltration kernels: the explicit form on ponded water and the
// form with redistribution between wetting periods. The infiltration piece
// (soil_water_pieces) calls one of them per infiltration step.
#pragma once

struct model_state;

// Every infiltration kernel takes the run state and the step length in seconds,
// takes water from the ponded depth of the cells and adds it to their cumulative
// infiltration; the rate of the step is kept in cm/h.
using infiltration_kernel = void (*)(model_state &state, double dt);

// Green and Ampt capacity of one step (m/s) from the explicit solution of the
// equation over dt: A = K dt - 2 F, f = (A + sqrt(A^2 + 8 K dt (drive))) / (2 dt),
// drive = P * D + F for the plain form. A drive below 0 counts as 0.
double green_ampt_capacity(double k, double drive, double f_cum, double dt);

// Plain Green and Ampt over every cell: ponded water infiltrates at the capacity
// of the step (times the area-reduction factor when that is on), never more than
// the water present.
void infiltrate_green_ampt(model_state &state, double dt);

// Green and Ampt with redistribution: wetting by rain or ponding, redistribution
// of the surface moisture during hiatus, and a second wetting front under a
// redistributing profile. The caller raises redist_call_count before each call.
void infiltrate_green_ampt_redist(model_state &state, double dt);

// Relative conductivity of the redistribution scheme, Se^(3 + 2/lambda), and the
// capillary drive G between the initial and the surface moisture:
// psi (Se0^(3 + 1/lambda) - Sei^(3 + 1/lambda)) / (1 - Sei^(3 + 1/lambda)).
double redistribution_conductivity(double ks, double theta, double theta_r, double phi,
                                   double lambda);
double redistribution_drive(double psi, double theta0, double theta_i, double theta_r,
                            double phi, double lambda);

// One step of the redistribution equation for the surface moisture theta0 over
// dt seconds with the water supply rate r (m/s) and the cumulative infiltration
// F (m): dtheta0 = dt / Z (r - K(theta0) - K(theta_i) - Ks G / Z),
// Z = F / (theta0 - theta_i); the result stays within [theta_i, phi]. A profile
// without water above the initial moisture (F <= 0 or theta0 <= theta_i) is left.
double redistribute_surface_moisture(double theta0, double theta_i, double theta_r,
                                     double phi, double lambda, double ks, double psi,
                                     double f_cum, double r, double dt);
