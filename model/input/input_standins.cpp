// Stand-ins for the input readers' set-up steps that run_model calls, until the
// readers are built: a step a run needs stops it with a clear message.
#include "model/feature_standin.h"
#include "model/input/input_services.h"
#include "model/model_state.h"

void convert_constituent_units(model_state &s) {
    if (s.project.ov_con_trans || s.project.chan_con_trans)
        report_feature_not_available("constituent transport");
}

void scan_stream_index_map_tables(const std::string &, std::array<int, 6> &) {
    report_feature_not_available("the stream mapping-table file");
}

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
