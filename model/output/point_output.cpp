// The segment-flux output: the segment map and link/node list read at set-up,
// boundary flows accumulated every step, one averaged row per hydrograph
// interval. The input driver creates it, the time-series writer feeds and writes it.
#include "model/output/point_output.h"

#include <cmath>
#include <cstdio>
#include <new>

#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "model/output/hydrographs.h"
#include "model/input/input_readers.h"
#include "model/core/model_state.h"
#include "model/output/output_writers.h"

namespace {

// The link/node-to-segment file: a count, then link, node and segment per line.
bool read_pairs(point_output &o, model_state &s) {
    const std::string &name = s.project.q7_nodes_to_segs.name;
    std::FILE *file = open_run_file(name, "r");
    if (!file) {
        raise_error(4, "Q7 link/node to segment", name);
        return false;
    }
    int count = 0;
    const bool counted = std::fscanf(file, "%d\n", &count) == 1 && count >= 0;
    for (int k = 1; counted && k <= count; ++k) {
        int link = 0, node = 0, segment = 0;
        if (std::fscanf(file, "%d %d %d\n", &link, &node, &segment) != 3) {
            count = -1;
            break;
        }
        // A segment of 0, above the largest or not in the map.
        if (segment <= 0 || segment > o.segment_max ||
            !o.segment_active[static_cast<std::size_t>(segment)]) {
            std::fclose(file);
            raise_error(97);
            return false;
        }
        o.pair_link.push_back(link);
        o.pair_node.push_back(node);
        o.pair_segment.push_back(segment);
    }
    std::fclose(file);
    if (!counted || count < 0) {
        std::printf("Error: the Q7 link/node to segment file %s holds no count or an "
                    "unreadable line.\n",
                    name.c_str());
        raise_printed_error();
        return false;
    }
    return true;
}

}  // namespace

void open_point_output(point_output &o, model_state &s) {
    const int n = s.cell_count;
    if (n < 1) print_size_zero_message();
    if (alloc_1d_int(o.cell_segment, n) != 0) {
        raise_error(4, "Q7 segment map", s.project.q7_segment_map.name);
        return;
    }
    std::FILE *map = open_run_file(s.project.q7_segment_map.name, "r");
    if (!map) {
        raise_error(4, "Q7 segment map", s.project.q7_segment_map.name);
        return;
    }
    array_1d<double> unused_a, unused_b;
    read_grid_map(map, s.project.q7_segment_map.name, grid_map_cells_int, &s.grid_north,
                  &s.grid_south, &s.grid_east, &s.grid_west, &s.header_rows, &s.header_cols,
                  s.cell_number_grid, unused_a, unused_b, o.cell_segment, s.grid_rows,
                  s.grid_cols);
    std::fclose(map);
    if (error_record.fatal) return;

    o.segment_max = 0;
    for (int i = 1; i <= n; ++i) {
        int &segment = o.cell_segment[static_cast<std::size_t>(i)];
        if (segment < 0) segment = 0;  // no negative segment numbers
        if (segment > o.segment_max) o.segment_max = segment;
    }
    o.segment_active.assign(static_cast<std::size_t>(o.segment_max) + 1, 0);
    o.accumulated.assign(static_cast<std::size_t>(o.segment_max) + 1, 0.0);
    for (int i = 1; i <= n; ++i)
        o.segment_active[static_cast<std::size_t>(o.cell_segment[static_cast<std::size_t>(i)])] = 1;
    o.segment_active[0] = 0;

    if (!read_pairs(o, s)) return;
    if (o.segment_max == 0 && o.pair_segment.empty()) {
        error_record.code = 96;
        error_record.fatal = 0;
        report_error();
    }

    s.point_output_file = open_run_file(s.project.q7_segment_fluxes.name, "w");
    if (!s.point_output_file) {
        raise_error(98, {}, s.project.q7_segment_fluxes.name);
        return;
    }
    std::fprintf(s.point_output_file, "   jday   ");
    for (int k = 1; k <= o.segment_max; ++k)
        if (o.segment_active[static_cast<std::size_t>(k)])
            std::fprintf(s.point_output_file, "%-8d  ", k);
    std::fprintf(s.point_output_file, "\n");
    o.active = 1;
    o.first_row = 1;
    o.step_count = 0;
}

void create_point_output(model_state &s) {
    point_output *o = new (std::nothrow) point_output;
    if (!o) {
        print_allocation_failure("point_output");
        raise_printed_error();
        return;
    }
    s.point_out = o;
    open_point_output(*o, s);
}

void free_point_output(point_output *output) { delete output; }

void accumulate_point_output(model_state &s) {
    point_output *o = s.point_out;
    if (!o || !o->active) return;
    const int n = s.cell_count;
    // Overland faces: the right and down face of every cell; a face between a
    // segment cell and a cell of no segment carries flow into or out of it. The
    // face discharges are held in m3/s.
    auto face = [&](std::size_t i, int neighbour, const array_1d<double> &q) {
        if (neighbour <= 0 || q.empty() || i > q.last()) return;
        const int a = o->cell_segment[i];
        const int b = o->cell_segment[static_cast<std::size_t>(neighbour)];
        if ((a == 0) == (b == 0)) return;
        o->accumulated[static_cast<std::size_t>(a != 0 ? a : b)] += std::fabs(q[i]);
    };
    for (int c = 1; c <= n; ++c) {
        const std::size_t i = static_cast<std::size_t>(c);
        if (!s.right.empty()) face(i, s.right[i], s.discharge_x);
        if (!s.down.empty()) face(i, s.down[i], s.discharge_y);
    }
    // Channel flow at the listed link/node pairs enters their segments.
    const array_2d<double> &qp = s.channels.qp;
    if (s.chan_explicit && !qp.empty())
        for (std::size_t k = 0; k < o->pair_segment.size(); ++k) {
            const int link = o->pair_link[k], node = o->pair_node[k];
            if (node < 1 || link < 1 || static_cast<std::size_t>(node) > qp.rows() ||
                static_cast<std::size_t>(link) > qp.cols())
                continue;
            o->accumulated[static_cast<std::size_t>(o->pair_segment[k])] +=
                std::fabs(qp[static_cast<std::size_t>(node)][static_cast<std::size_t>(link)]);
        }
    o->step_count += 1;
}

void write_point_output_row(model_state &s, double day) {
    point_output *o = s.point_out;
    if (!o || !o->active || o->step_count < 1 || !s.point_output_file) return;
    if (o->first_row) {
        o->base_day = day;
        o->first_row = 0;
    }
    std::FILE *f = s.point_output_file;
    std::fprintf(f, "%-8.3lf  ", day - o->base_day + 1.0);
    for (int k = 1; k <= o->segment_max; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        if (!o->segment_active[i]) continue;
        std::fprintf(f, "%-8.2lf  ", o->accumulated[i] / static_cast<double>(o->step_count));
        o->accumulated[i] = 0.0;
    }
    std::fprintf(f, "\n");
    o->step_count = 0;
}
