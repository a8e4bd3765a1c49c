// Stand-ins for the output writers that run_model calls, until they are built: a
// writer whose output the project does not ask for does nothing; one a run needs
// stops it with a clear message.
#include "model/feature_standin.h"
#include "model/model_state.h"
#include "model/output_writers.h"

void open_constituent_outputs(model_state &s) {
    const project_params &p = s.project;
    if (p.depth.given || p.discharge.given || p.dis_rain.given || p.inf_depth.given ||
        p.rate_of_infil.given || p.surf_moist.given || p.gw_output.given || p.ov_con_map.given ||
        p.flood_grid.given || p.nutrients)
        report_feature_not_available("grid and constituent output files");
}

void write_linknode_headers(model_state &s) {
    const project_params &p = s.project;
    if (p.chan_depth.given || p.chan_discharge.given || p.flood_stream.given ||
        (p.storm_sewer.given && (p.pipe_flow.given || p.pipe_head.given || p.pipe_tile.given)))
        report_feature_not_available("link and node series files");
}

void write_maps(model_state &) { report_feature_not_available("the map output"); }

void write_run_summary(model_state &) {
    report_feature_not_available("the end-of-run report");
}

void free_point_output(point_output *) {}
