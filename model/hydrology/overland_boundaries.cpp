// The overland grid view over the run state, the overland boundary cells
// (fixed heads, heads from a time series, free outflow) and the embankment weirs.
// step_overland_flow applies the boundaries before routing; both overland
// schemes pass water over the weirs after routing.
#include "model/hydrology/overland_boundaries.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>

#include "model/core/errors.h"
#include "model/hydrology/overland_pieces.h"
#include "model/core/model_state.h"
#include "model/core/series.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

template <class T>
row_ref<T> cells_of(array_1d<T> &a) {
    return row_ref<T>(a.data(), a.last());
}
template <class T>
row_ref<const T> const_cells_of(const array_1d<T> &a) {
    return row_ref<const T>(a.data(), a.last());
}

// A work array of the schemes, (re)allocated to N+1 entries when it does not fit.
bool ensure_cells(array_1d<double> &a, int cells) {
    if (!a.empty() && a.last() == at(cells)) return true;
    return alloc_1d_double(a, cells) == 0;
}

template <class T>
bool covers(const array_1d<T> &a, int cells) {
    return !a.empty() && a.last() >= at(cells);
}

// Level of a weir end: its lake's water surface, else ground plus depth.
double weir_level(const overland_grid &g, int cell) {
    if (is_lake_cell(g, cell)) return lake_level(g, cell);
    return g.z[at(cell)] + g.h[at(cell)];
}

}  // namespace

wetland_face_values wetland_values(const overland_grid &g, int wetland) {
    wetland_face_values w;
    assert(wetland >= 0 && static_cast<std::size_t>(wetland) <= g.wetland_last);
    if (!g.wetlands || wetland < 0 || static_cast<std::size_t>(wetland) > g.wetland_last) return w;
    const auto &v = g.wetlands[wetland].values;
    w.layer_depth = v[1];
    w.seepage = v[2];
    w.transition_depth = v[3];
    w.vegetation = v[4];
    w.roughness = v[6];
    return w;
}

double lake_level(const overland_grid &g, int cell) {
    const int lake = g.lake_id[at(cell)];
    assert(lake >= 1 && lake <= g.lake_count);
    return g.lakes[lake].elevation;
}

void add_lake_inflow(overland_grid &g, int cell, double volume) {
    const int lake = g.lake_id[at(cell)];
    assert(lake >= 1 && lake <= g.lake_count);
    g.lakes[lake].inflow_volume += volume;
}

bool overland_grid_of(model_state &s, overland_grid &g) {
    const int n = s.cell_count;
    g = overland_grid{};
    g.cells = n;
    g.dx = s.cell_size;

    // Inputs that every overland call needs, read or built before the time loop.
    struct required {
        const char *what;
        bool present;
    };
    const required inputs[] = {
        {"depths", covers(s.depth, n)},
        {"elevations", covers(s.elevation, n)},
        {"roughness values", !s.roughness.empty() && s.roughness.last() >= at(n)},
        {"retention depths", s.retention_uniform || covers(s.retention_depth, n)},
        {"neighbour tables",
         covers(s.right, n) && covers(s.down, n) && covers(s.left, n) && covers(s.up, n)},
    };
    for (const required &r : inputs) {
        if (r.present) continue;
        std::printf("Overland flow routing needs the %s of every grid cell, which are missing.\n",
                    r.what);
        raise_printed_error();
        return false;
    }
    // The depth changes per cell are made by the explicit scheme's variants that
    // need them (route_overland_explicit).
    const bool changes = !s.depth_change.empty();
    if ((changes && !ensure_cells(s.depth_change, n)) || !ensure_cells(s.discharge_x, n) ||
        !ensure_cells(s.discharge_y, n)) {
        std::printf("Error allocating memory for variable %s\n", "overland discharges");
        raise_printed_error();
        return false;
    }
    // A uniform roughness goes to the kernels as its value; a map of several
    // values as the array they read.
    const double *one_roughness = s.roughness.uniform_value();
    if (one_roughness)
        g.n_uniform = *one_roughness;
    else if (s.roughness.full().empty()) {
        std::printf("Error allocating memory for variable %s\n", "roughness values");
        raise_printed_error();
        return false;
    } else
        g.n = const_cells_of(s.roughness.full());

    g.h = cells_of(s.depth);
    g.dh = cells_of(s.depth_change);
    g.z = const_cells_of(s.elevation);
    if (s.retention_uniform)
        g.r_uniform = s.retention_uniform_depth;
    else
        g.r = const_cells_of(s.retention_depth);
    // Bed slopes kept for other processes (the overland kernels take them from
    // the elevations).
    if (covers(s.x_slope, n) && covers(s.y_slope, n)) {
        g.sx = const_cells_of(s.x_slope);
        g.sy = const_cells_of(s.y_slope);
    }
    g.qx = cells_of(s.discharge_x);
    g.qy = cells_of(s.discharge_y);
    g.right = const_cells_of(s.right);
    g.down = const_cells_of(s.down);
    g.left = const_cells_of(s.left);
    g.up = const_cells_of(s.up);
    g.cell_grid = &s.cell_number_grid;

    g.outlet = s.outlet_cell;
    g.outlet_slope = s.outlet_slope;
    g.channel_explicit = s.chan_explicit;

    g.dikes_on = s.dike_on && covers(s.dike_code, n);
    if (g.dikes_on) g.dike = const_cells_of(s.dike_code);

    g.weirs_on = s.lowspot_on && s.lowspot_count > 0 &&
                 s.lowspots.size() > static_cast<std::size_t>(s.lowspot_count) &&
                 !s.cell_number_grid.empty();
    if (g.weirs_on) {
        g.weir_count = s.lowspot_count;
        g.weirs = s.lowspots.data();
    }

    g.lakes_on = s.overland_lake_on && covers(s.overland_lake_id, n) &&
                 s.lakes.size() > static_cast<std::size_t>(s.overland_lake_count);
    if (g.lakes_on) {
        g.lake_id = const_cells_of(s.overland_lake_id);
        g.lakes = s.lakes.data();
        g.lake_count = s.overland_lake_count;
    }

    const int sc = s.stream_cell_count;
    g.stream_on = s.chan_explicit && s.non_ortho_channels && sc > 0 &&
                  covers(s.stream_cell_id, n) && covers(s.stream_cell_level, sc) &&
                  covers(s.stream_net_exchange, sc) && covers(s.stream_inflow_sum, sc) &&
                  covers(s.stream_outflow_sum, sc);
    if (g.stream_on) {
        g.stream_count = sc;
        g.stream_id = const_cells_of(s.stream_cell_id);
        g.stream_level = const_cells_of(s.stream_cell_level);
        g.stream_net = cells_of(s.stream_net_exchange);
        g.stream_in = cells_of(s.stream_inflow_sum);
        g.stream_out = cells_of(s.stream_outflow_sum);
    }

    g.wetlands_on = s.wetlands_on && covers(s.wetland_id, n) && !s.wetlands.empty();
    if (g.wetlands_on) {
        g.wetland_id = const_cells_of(s.wetland_id);
        g.wetlands = s.wetlands.data();
        g.wetland_last = s.wetlands.size() - 1;
    }

    g.quiet = s.quiet_card;
    g.negative_depth_volume = &s.negative_depth_volume;
    g.steps = &s.overland_steps;
    return true;
}

void weir_flux(overland_grid &g, double dt) {
    if (!g.cell_grid || g.cell_grid->empty() || !(dt > 0.0)) return;
    const array_2d<int> &grid = *g.cell_grid;
    const long rows = static_cast<long>(grid.rows()), cols = static_cast<long>(grid.cols());
    const double area = g.dx * g.dx;
    for (int w = 1; w <= g.weir_count; ++w) {
        lowspot_record &rec = g.weirs[w];
        rec.work = 0.0;
        long rb = rec.row, cb = rec.col;
        switch (rec.direction) {
        case 1: --rb; break;
        case 2: ++cb; break;
        case 4: ++rb; break;
        case 8: --cb; break;
        default: continue;  // refused at reading
        }
        const auto inside = [&](long r, long c) { return r >= 0 && r <= rows && c >= 0 && c <= cols; };
        if (!inside(rec.row, rec.col) || !inside(rb, cb)) continue;
        const int a = grid(static_cast<std::size_t>(rec.row), static_cast<std::size_t>(rec.col));
        const int b = grid(static_cast<std::size_t>(rb), static_cast<std::size_t>(cb));
        if (a <= 0 || b <= 0 || a > g.cells || b > g.cells) continue;  // both must be watershed cells

        const double la = weir_level(g, a), lb = weir_level(g, b);
        const double crest = rec.elevation;
        if (!(std::fabs(la - lb) > 0.001) || !(crest < la || crest < lb)) continue;
        const bool a_higher = la > lb;
        const int donor = a_higher ? a : b, receiver = a_higher ? b : a;
        const double high = a_higher ? la : lb;
        const double head = high - crest;
        const double q = rec.fraction * std::pow(head, 1.5) * 1.48 * g.dx;
        double transfer = dt * q / area;  // depth over one cell
        // Never more than the donor's water above the crest, nor more than half the
        // level difference (which would reverse the levels).
        double above_crest = head;
        if (!is_lake_cell(g, donor)) above_crest = std::min(head, g.h[at(donor)]);
        transfer = std::min({transfer, above_crest, 0.5 * std::fabs(la - lb)});
        if (!(transfer > 0.0)) continue;
        rec.work = transfer * area / dt;
        if (is_lake_cell(g, donor)) add_lake_inflow(g, donor, -transfer * area);
        else g.h[at(donor)] -= transfer;
        if (is_lake_cell(g, donor) && !is_lake_cell(g, receiver)) {
            rec.lake_release += transfer * area;
            rec.release_lake_cell = donor;
            rec.release_cell = receiver;
        }
        if (is_lake_cell(g, receiver)) add_lake_inflow(g, receiver, transfer * area);
        else g.h[at(receiver)] += transfer;
    }
}

void update_boundary_heads(int cells, row_ref<const int> type, row_ref<double> value, double now) {
    for (int i = 1; i <= cells; ++i)
        if (type[at(i)] == 3) value[at(i)] = time_series_value_by_id(1, now);
}

void overland_boundary_flux(const overland_grid &g, row_ref<const int> type,
                            row_ref<const double> value, double dt, boundary_totals &totals) {
    const double area = g.dx * g.dx;
    boundary_totals step;
    for (int i = 1; i <= g.cells; ++i) {
        const int t = type[at(i)];
        double &h = g.h[at(i)];
        if (t == 2 || t == 3) {
            const double head = std::max(value[at(i)] - g.z[at(i)], 0.0);
            const double dv = (head - h) * area;
            h = head;
            if (dv >= 0.0) step.fixed_head_inflow += dv;
            else step.fixed_head_outflow += -dv;
        } else if (t == 1) {
            int open_sides = 0;
            for (auto table : {g.right, g.up, g.left, g.down})
                if (table[at(i)] == 0) ++open_sides;
            if (open_sides == 0 || !(h > 0.0) || !(value[at(i)] > 0.0)) continue;
            // Each open side loses one Manning outflow over the step.
            const double per_side =
                (std::sqrt(value[at(i)]) * std::pow(h, 1.666667) * g.dx / roughness_at(g, i)) * dt / area;
            const double loss = open_sides * per_side;
            if (loss > h) {
                step.free_outflow += h * area;
                h = 0.0;
            } else {
                step.free_outflow += loss * area;
                h -= loss;
            }
        }
    }
    totals.free_outflow += step.free_outflow;
    totals.fixed_head_inflow += step.fixed_head_inflow;
    totals.fixed_head_outflow += step.fixed_head_outflow;
}

void record_overland_call(overland_grid &g, double step, double shortest) {
    if (!g.steps) return;
    overland_step_record &r = *g.steps;
    ++r.steps;
    if (shortest < step * (1.0 - 1e-9)) ++r.cut_steps;
    if (r.shortest == 0.0 || shortest < r.shortest) r.shortest = shortest;
}
