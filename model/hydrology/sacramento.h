// Helpers of the soil-moisture accounting step (sacramento_step itself is declared
// with the other soil-water services in model/hydrology/soil_water_services.h).
#pragma once

// Number of increments of one step for `water` mm of upper free water and rain
// excess: one per 5 mm, at least 1 (10 mm gives 3); 0 when the count is not a
// number or beyond 1e6.
int sacramento_increments(double water);
