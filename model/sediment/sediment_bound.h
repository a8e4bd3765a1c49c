// Sediment-bound constituent mass: the particle-bound species (one per soil
// class) are lifted from and returned to the soil surface of each cell by the
// processes that move the soil. The overland constituent transport calls
// ov_sediment_bound_mass once per constituent step after adding the step's inputs.
#pragma once

#include <vector>

struct sediment_record;

// Converts a particle-bound concentration to mass (with the species factor).
inline constexpr double bound_mass_factor = 998200.0;

// One particle-bound species and its per-cell rows (entries 1..cells), which
// belong to the caller.
struct bound_species {
    int soil_class = 0;             // class of the sediment record, 1..class_count
    double diameter = 0.0;          // mm
    double specific_gravity = 0.0;
    double factor = 0.0;            // X_j: a volume is mass / (X_j * 998200)
    double *water_mass = nullptr;   // mass carried in the water
    double *capacity = nullptr;     // carrying capacity of the step (written)
    double *eroded_mass = nullptr;  // mass eroded in the step (written)
    double *settling_rate = nullptr;  // 1/s (written)
    double *second_value = nullptr;   // cleared with the settling rate of a dry cell
};

// The flow of the constituent step, per cell (entries 1..cells).
struct bound_flow {
    int cells = 0;
    const double *depth_start = nullptr, *depth_end = nullptr;  // m
    const double *qx = nullptr, *qy = nullptr;                  // m3/s to the x and y neighbour
    const double *sx = nullptr, *sy = nullptr;                  // ground slopes
    const double *rain = nullptr;                               // mm/h
    const int *right = nullptr, *down = nullptr;                // x and y neighbour, 0 for none
};

// 0.05 fraction V^2 (|S| h)^1.5 / ((G - 1)^2 (d_mm / 1000) sqrt(9.81)): the
// Engelund-Hansen carrying capacity per unit width (m2/s) of one class.
double engelund_hansen_capacity(double V, double fraction, double S, double d_mm, double G,
                                double h);

// Carrying capacity of a cell's flow as a mass rate per unit area: method 1 by
// engelund_hansen_capacity of the species (class fraction given), methods 2 to
// 6 by their stream-power forms, any other method F E F. q the unit discharge
// (m2/s), h the depth, S the slope, c the critical value, a and b the
// coefficient and exponent, E the transport factor. 0 for a flow below 1e-6
// m2/s, a dry cell or a stream value below c.
double ov_transport_capacity(int method, double q, double h, double S, double c, double a,
                             double b, double E, double dx, const bound_species *species,
                             double fraction);

// Fall velocity of the species' grains over the depth h: its settling rate
// (1/s) in the cell; 0 for a depth of 0 or less.
void settling_velocity(bound_species &species, int cell, double h, double nu);

// Detachment, carrying capacity and eroded mass of the particle-bound species
// of one cell, at the cell's mean depth over the step (the record's mean_depth,
// filled by ov_sediment_bound_mass).
void ov_erode_deposit(sediment_record &record, const bound_flow &flow,
                      std::vector<bound_species> &species, int cell, int method, double dx,
                      double dt, double positive_store_sum);

// The sediment-bound step for every cell: mean depths, erosion of wet or
// rained-on cells (when erosion_on), settling rates capped at 1 / dt; a dry
// cell without rain settles nothing and keeps its mass.
void ov_sediment_bound_mass(sediment_record &record, const bound_flow &flow,
                            std::vector<bound_species> &species, int method, int erosion_on,
                            double dx, double dt, double nu, double positive_store_sum);
