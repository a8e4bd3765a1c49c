// Water held in the channel network: flow area times node spacing summed over
// the routed nodes. Read by the channel piece (dry-spell and end-of-rain tests)
// and by the event balance at the end of an event.
#include "model/channel/channel_services.h"
#include "model/channel/channel_network.h"
#include "model/core/model_state.h"

double channel_water_volume(const model_state &s) {
    const channel_network &net = s.channels;
    const array_2d<double> &area = s.chan.area;
    if (net.link_count < 1 || area.empty()) return 0.0;
    double volume = 0.0;
    for (int l = 1; l <= net.link_count; ++l) {
        const int t = net.link_type[l];
        if (t == link_weir || t == link_lake || t == link_structure || t == link_taken_by_lake)
            continue;
        // Nodes a lake has taken over lie past the link's current node count.
        const int nodes = net.comp_node_count[l];
        for (int n = 1; n <= nodes && static_cast<std::size_t>(n) <= area.rows(); ++n)
            if (area[n][l] > 0.0) volume += area[n][l] * net.dx[l];
    }
    return volume;
}
