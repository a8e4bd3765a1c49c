// Stand-ins for the output writers that run_model calls, until they are built: a
// writer whose output the project does not ask for does nothing; one a run needs
// stops it with a clear message.
#include "model/feature_standin.h"
#include "model/model_state.h"
#include "model/output_writers.h"


#include "model/sediment/sediment_outputs.h"

void check_sediment_grid_outputs(model_state &s) {
    const project_params &p = s.project;
    if (s.erosion.soil_erosion &&
        (p.max_sed_flux.given || p.net_sed_volume.given || p.vol_sed_susp.given))
        report_feature_not_available("the sediment grid outputs");
}
