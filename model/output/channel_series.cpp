// One output time of the channel link/node series: node depths into CHAN_DEPTH,
// node discharges into CHAN_DISCHARGE and velocities into CHAN_VELOCITY.
// Called by write_time_series at every hydrograph output step of a channel run.
#include <cstddef>
#include <vector>

#include "model/output/hydrographs.h"
#include "model/output/link_node_series.h"
#include "model/core/model_state.h"

namespace {

// Water-surface elevation of each lake (1..lake count), the value that a lake
// link shows in the depth series.
std::vector<double> lake_surfaces(const channel_network &net) {
    std::vector<double> v(static_cast<std::size_t>(net.lake_count > 0 ? net.lake_count : 0) + 1, 0.0);
    for (int k = 1; k <= net.lake_count && static_cast<std::size_t>(k) < net.lakes.size(); ++k)
        v[static_cast<std::size_t>(k)] = net.lakes[static_cast<std::size_t>(k)].wse;
    return v;
}

}  // namespace

void write_channel_series_step(model_state &s) {
    if (!s.chan_depth_out_file && !s.chan_discharge_out_file && !s.chan_velocity_out_file) return;
    const channel_network &net = s.channels;
    if (net.link_count < 1) return;
    const int block = s.channel_series_blocks;
    const array_2d<double> none;
    if (s.chan_depth_out_file) {
        const std::vector<double> lakes = lake_surfaces(net);
        write_linknode_step(s.chan_depth_out_file, block, net, net.yp, net.bel,
                            linknode_value_difference, lakes);
        std::fflush(s.chan_depth_out_file);
    }
    if (s.chan_discharge_out_file) {
        write_linknode_step(s.chan_discharge_out_file, block, net, net.qp, none,
                            linknode_value_plain, {});
        std::fflush(s.chan_discharge_out_file);
    }
    if (s.chan_velocity_out_file) {
        write_linknode_step(s.chan_velocity_out_file, block, net, net.qp, s.chan.area,
                            linknode_value_ratio, {});
        std::fflush(s.chan_velocity_out_file);
    }
    s.channel_series_blocks = block + 1;
}
