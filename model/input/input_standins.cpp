// Stand-ins for the input readers' set-up steps that run_model calls, until the
// readers are built: a step a run needs stops it with a clear message.
#include "model/feature_standin.h"
#include "model/input/input_services.h"
#include "model/model_state.h"

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
