// Display names of the nutrient species, used by the nutrient readers and the
// nutrient output files.
#include "model/input/input_services.h"

const char *qvl_species_name(int k) {
    static const char *const names[13] = {"Nitrite (NO2-)",
                                          "Nitrate (NO3-)",
                                          "Ammonium (NH4+)",
                                          "Organic Nitrogen (Organic N)",
                                          "Organic Phosphorous (Organic P)",
                                          "Dissolved Phosphorous (Dissolved P)",
                                          "Phosphate (PO4)",
                                          "Algae",
                                          "Carbonaceous Biochemical Oxygen Demand",
                                          "Dissolved Oxygen (O2)",
                                          "Dissolved Org. Carbon",
                                          "Dissolved Org. Carbon, Fraction Org. C.",
                                          "Dispersion coefficient"};
    return k >= 0 && k < 13 ? names[k] : "";
}
