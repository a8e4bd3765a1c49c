// Stand-in for the Richards soil table until it is built: it is reached only by a
// project that needs it, which stops with the message that the feature is not
// available.
#include "model/feature_standin.h"
#include "model/input/soil_input_services.h"
#include "model/model_state.h"

void read_soil_table(std::FILE *, int, int, int, model_state &, richards_table_counts &counts) {
    counts = richards_table_counts{};
    report_feature_not_available("reading the Richards soil table");
}
