// What a measured quantity can physically be: one range per kind of quantity,
// shared by every reader that takes such a value from a file or a card. A value
// outside its range is refused with the file and line (or card) that gives it.
#pragma once

struct value_bounds {
    double low, high;
    const char *text;  // the range as the refusal states it
};

inline bool within_bounds(double v, const value_bounds &b) { return v >= b.low && v <= b.high; }

namespace bounds {
// Ground, water-table, aquifer-bottom and lake-surface elevations: from the
// deepest ocean floor to above the highest summit.
inline constexpr value_bounds elevation{-11000.0, 9000.0, "-11000 to 9000 m"};
// Water standing on a cell, in a channel or in a column's node spacing.
inline constexpr value_bounds depth{0.0, 1000.0, "0 to 1000 m"};
// A soil layer's depth or node spacing, a bubbling head (cm).
inline constexpr value_bounds depth_cm{0.0, 100000.0, "0 to 100000 cm"};
// A saturated hydraulic conductivity (cm/h): above that of clean gravel.
inline constexpr value_bounds conductivity_cm_h{0.0, 100000.0, "0 to 100000 cm/h"};
// Volumetric soil moisture.
inline constexpr value_bounds moisture{0.0, 1.0, "0 to 1"};
// The pore-size distribution index of the soil-water retention curve: measured
// soils lie near 0.1 (clays) to 0.7 (sands); it divides the exponents of the
// conductivity and retention curves, so it cannot be 0.
inline constexpr value_bounds pore_index{0.01, 10.0, "0.01 to 10"};
// A canopy (stomatal) resistance (s/m): 0 for wet leaves, a few thousand with the
// stomata shut.
inline constexpr value_bounds canopy_resistance{0.0, 100000.0, "0 to 100000 s/m"};
// Manning's n of a surface or channel.
inline constexpr value_bounds manning_n{0.0, 100.0, "0 to 100"};
// Storage capacities and rates of the soil-moisture accounting (mm, mm/day).
inline constexpr value_bounds storage_mm{-100000.0, 100000.0, "-100000 to 100000 mm"};
// A well's pumping rate (m3/s; either sign).
inline constexpr value_bounds pumping{-1000.0, 1000.0, "-1000 to 1000 m3/s"};
// A shape parameter of the Havercamp soil curves (A, B, alpha, beta): above 0,
// within what any soil gives.
inline constexpr value_bounds havercamp_parameter{1e-12, 1e12, "1e-12 to 1e12"};
// A channel discharge (m3/s; either sign): above the largest floods measured.
inline constexpr value_bounds channel_discharge{-1.0e6, 1.0e6, "-1000000 to 1000000 m3/s"};
// A rain rate (mm/h): above the largest intensities ever measured.
inline constexpr value_bounds rain_mm_h{0.0, 2000.0, "0 to 2000 mm/h"};
// A dissolved concentration (g/m3): no more than the mass of the water itself.
inline constexpr value_bounds concentration{0.0, 1.0e6, "0 to 1000000 g/m3"};
// A constituent rate coefficient (per day): decay, release and loss. 10000 per
// day is a half-life of six seconds.
inline constexpr value_bounds rate_per_day{0.0, 1.0e4, "0 to 10000 per day"};
// A dispersion coefficient (m2/s): beyond those of the largest rivers.
inline constexpr value_bounds dispersion{0.0, 1000.0, "0 to 1000 m2/s"};
// The contaminant mass a cell's land pool starts with (kg per cell).
inline constexpr value_bounds land_mass{0.0, 1.0e6, "0 to 1000000 kg per cell"};
}  // namespace bounds
