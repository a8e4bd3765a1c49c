// Lakes that grow and shrink over the terrain. Overland lakes take and give back
// neighbouring cells in order of their level (olake_extent, called by the
// overland-lake piece); channel-network lakes flood their listed cells in order
// (update_lake_extent, called by the channel step, the end of an event and the
// hourly lake step), and evaporate hour by hour in long-term runs (lake_step).
#include "model/hydrology/lakes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/channel/channel_network.h"
#include "model/channel/channel_services.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/evapotranspiration.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/soil_water_services.h"
#include "model/core/cell_arrays.h"
#include "model/core/mass_ledger.h"
#include "model/core/model_state.h"

namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

bool failed() { return error_record.fatal != 0; }

// ---- sort2 ----

void swap_entries(array_1d<double> &key, array_1d<int> &companion, int a, int b) {
    std::swap(key[at(a)], key[at(b)]);
    std::swap(companion[at(a)], companion[at(b)]);
}

constexpr int insertion_limit = 7;
constexpr int stack_limit = 50;

// ---- overland lakes ----

// Sides of a cell, as the dike codes carry them.
constexpr int side_top = 1, side_right = 2, side_bottom = 4, side_left = 8;
constexpr int sides[4] = {side_top, side_right, side_bottom, side_left};
// Levels closer than this to a group's first level belong to that group (m).
constexpr double group_tolerance = 0.0001;

int neighbour(const model_state &s, int i, int side) {
    switch (side) {
    case side_top: return s.up[at(i)];
    case side_right: return s.right[at(i)];
    case side_bottom: return s.down[at(i)];
    default: return s.left[at(i)];
    }
}

// Groups of the levels level[1..m] (ascending or descending): an entry joins the
// open group while it lies within the tolerance of the group's first level.
// Fills the member counts and their running sums (sum[0] = 0); returns G.
int form_groups(const array_1d<double> &level, int m, array_1d<int> &count, array_1d<int> &sum) {
    int groups = 0;
    double first = 0.0;
    for (int e = 1; e <= m; ++e) {
        if (groups == 0 || !(std::fabs(level[at(e)] - first) < group_tolerance)) {
            ++groups;
            count[at(groups)] = 0;
            first = level[at(e)];
        }
        ++count[at(groups)];
    }
    sum[0] = 0;
    for (int g = 1; g <= groups; ++g) sum[at(g)] = sum[at(g - 1)] + count[at(g)];
    return groups;
}

// Level of the first entry of group g.
double group_level(const array_1d<double> &level, const array_1d<int> &sum, int g) {
    return level[at(sum[at(g - 1)] + 1)];
}

// The cells of lake k in cell order: its listed cells (those it held when the
// update began) merged with the cells it has joined since (ascending), the ones
// that left it skipped. Calls visit(cell) for each.
struct lake_cells {
    const int *listed;
    int listed_count;
    const int *joined;
    int joined_count;
};

template <class visit_fn>
void for_each_lake_cell(const model_state &s, int k, const lake_cells &cells, visit_fn visit) {
    int a = 0, b = 0;
    while (a < cells.listed_count || b < cells.joined_count) {
        const bool from_listed =
            b >= cells.joined_count || (a < cells.listed_count && cells.listed[a] < cells.joined[b]);
        const int i = from_listed ? cells.listed[a++] : cells.joined[b++];
        if (s.overland_lake_id[at(i)] == k) visit(i);
    }
}

// The level at which the lake's cells hold its volume. The group walk places
// candidates of one group at the group's first level, and a wet candidate that
// joins brings all its water even where it stood above the walk's level; the
// level is set from the volume so that no water is made or lost. The ground is
// summed in cell order.
double level_holding_volume(const model_state &s, int k, double area, const lake_cells &members) {
    double ground = 0.0;
    int cells = 0;
    for_each_lake_cell(s, k, members, [&](int i) {
        ground += s.elevation[at(i)];
        ++cells;
    });
    return (s.lakes[at(k)].volume / area + ground) / cells;
}

struct lake_call {
    model_state &s;
    overland_lake_work &w;
    int k;          // lake number
    double area;    // of one cell (m2)
    double dv, h;   // volume change of the step (m3), trial level (m)
    lake_cells members;
};

void join_lake(lake_call &c, int cell, double &taken) {
    model_state &s = c.s;
    s.overland_lake_id[at(cell)] = c.k;
    c.w.joined[at(c.members.joined_count++)] = cell;
    ++s.lakes[at(c.k)].cell_count;
    taken += s.depth[at(cell)] * c.area;
    s.water.move(ledger_node::surface, ledger_node::overland_lakes, s.depth[at(cell)] * c.area);
    s.depth[at(cell)] = 0.0;
}

// Takes back the marks of the m candidates listed.
void clear_marks(overland_lake_work &w, int m) {
    for (int e = 1; e <= m; ++e) w.candidate_mark[at(w.candidate_cell[at(e)])] = 0;
}

// Steps R1 to R6: the lake takes the cells below its new level.
void raise_lake(lake_call &c) {
    model_state &s = c.s;
    overland_lake_work &w = c.w;
    lake_record &lake = s.lakes[at(c.k)];
    const int cells = lake.cell_count, limit = w.list_size;
    const bool dikes = s.dike_on && !s.dike_code.empty();

    // R1 and R2, over the lake's own cells in cell order. Open sides: towards a
    // cell of no lake, unless the cell's own dike closes the side. Candidates:
    // neighbours through open sides whose level lies below h, and, listed once
    // each, those whose ground lies below the lake's surface: the lake stands
    // over them, so their water, however high it stands, is the lake's (it would
    // otherwise wait, level with the lake, for a rise above it that the step's
    // length decides).
    const double surface = lake.elevation;
    int m = 0;
    for (int e = 0; e < c.members.listed_count; ++e) {
        const int i = c.members.listed[e];
        int mask = 0;
        for (int side : sides) {
            const int nb = neighbour(s, i, side);
            if (nb > 0 && s.overland_lake_id[at(nb)] == 0) mask |= side;
        }
        if (dikes && s.dike_code[at(i)] != 0) mask &= ~s.dike_code[at(i)];
        if (mask < 1 || mask > 15) continue;
        for (int side : sides) {
            if (!(mask & side)) continue;
            const int nb = neighbour(s, i, side);
            const double level = s.elevation[at(nb)] + s.depth[at(nb)];
            if (!(level < c.h)) {
                if (!(s.elevation[at(nb)] < surface) || w.candidate_mark[at(nb)]) continue;
                w.candidate_mark[at(nb)] = 1;
            }
            ++m;
            w.candidate_cell[at(m)] = nb;
            w.candidate_level[at(m)] = level;
        }
        if (m > limit - 4) {
            clear_marks(w, m);
            std::printf("The candidate set is HUGE in olake_extent.  Sorry, but your DEM has\n");
            std::printf("too many grids with exactly the same elevation!  You should impose\n");
            std::printf("a little slope on your DEM in the lake region.  Program stopped.\n");
            raise_printed_error();
            return;
        }
    }

    clear_marks(w, m);

    // R3. In level order, a cell met twice in a row counts once.
    if (m > 1) {
        sort2(w.candidate_level, w.candidate_cell, m);
        int kept = 1;
        for (int e = 2; e <= m; ++e) {
            if (w.candidate_cell[at(e)] == w.candidate_cell[at(kept)]) continue;
            ++kept;
            w.candidate_cell[at(kept)] = w.candidate_cell[at(e)];
            w.candidate_level[at(kept)] = w.candidate_level[at(e)];
        }
        m = kept;
    }

    double taken = 0.0;
    if (m == 0) {
        // R4. Nothing to take: the surface rises over the lake's own cells.
        lake.elevation = c.h;
    } else if (m == 1) {
        // R5. The level of n + 1 cells holding the added volume.
        const double e = w.candidate_level[1];
        lake.elevation = (lake.elevation + c.dv / (cells * c.area) + e / cells) / (1.0 / cells + 1.0);
        join_lake(c, w.candidate_cell[1], taken);
    } else {
        // R6. Walk up through the groups of candidate levels to the level that
        // holds the added volume, then take every candidate below it.
        const int groups = form_groups(w.candidate_level, m, w.group_count, w.group_sum);
        const double base = lake.elevation;
        double volume = (group_level(w.candidate_level, w.group_sum, 1) - base) * cells * c.area;
        int j = 1;
        while (j < groups) {
            const double next = volume + (cells + w.group_sum[at(j)]) *
                                             (group_level(w.candidate_level, w.group_sum, j + 1) -
                                              group_level(w.candidate_level, w.group_sum, j)) *
                                             c.area;
            if (c.dv < next) break;
            volume = next;
            ++j;
        }
        const double level = group_level(w.candidate_level, w.group_sum, j) +
                             (c.dv - volume) / ((cells + w.group_sum[at(j)]) * c.area);
        for (int e = m; e >= 1; --e) {
            const int cell = w.candidate_cell[at(e)];
            if (s.elevation[at(cell)] < level && s.overland_lake_id[at(cell)] != c.k)
                join_lake(c, cell, taken);
        }
        lake.elevation = level;
    }
    lake.volume += c.dv + taken;
    s.overland_lake_flow_in += c.dv + taken;
    if (m > 1) {
        std::sort(w.joined.data(), w.joined.data() + c.members.joined_count);
        lake.elevation = level_holding_volume(s, c.k, c.area, c.members);
    }
}

void report_not_enough_volume(int k) {
    std::printf("Not enough volume in lake %d to satisfy drainage demand.\n", k);
    std::printf("Program stopped in olake_extent\n");
    raise_printed_error();
}

// Steps F1 to F7: the lake falls and gives back gained cells that emerge.
void lower_lake(lake_call &c) {
    model_state &s = c.s;
    overland_lake_work &w = c.w;
    lake_record &lake = s.lakes[at(c.k)];
    const int cells = lake.cell_count;
    s.overland_lake_flow_out -= c.dv;

    // F2. A lake may fall only while it holds cells beyond its initial map.
    int gained = 0, emerging = 0;
    for_each_lake_cell(s, c.k, c.members, [&](int i) {
        if (s.overland_lake_id_copy[at(i)] <= 0) ++gained;
        if (s.elevation[at(i)] > c.h) ++emerging;
    });
    if (gained == 0) {
        std::printf("Lake %d is being drained below its' original elevation.  This is not\n", c.k);
        std::printf("allowed.  Re-size your initial lake. Program stopped.\n");
        raise_printed_error();
        return;
    }
    // F3. No cell emerges: the surface falls over the lake's own cells.
    if (emerging == 0) {
        lake.elevation = c.h;
        lake.volume += c.dv;
        return;
    }

    // F4. Gained cells, highest ground first, at most L - 1 of them.
    int count = 0;
    for_each_lake_cell(s, c.k, c.members, [&](int i) {
        if (s.overland_lake_id_copy[at(i)] > 0) return;
        ++count;
        w.side_mask[at(count)] = i;
        w.release_key[at(count)] = c.h - s.elevation[at(i)];
    });
    if (count > 1) sort2(w.release_key, w.side_mask, count);
    const int m = std::min(count, w.list_size - 1);
    if (m < 1) {
        lake.elevation = c.h;
        lake.volume += c.dv;
        return;
    }
    for (int e = 1; e <= m; ++e) w.candidate_level[at(e)] = s.elevation[at(w.side_mask[at(e)])];

    // F5 and F6. Walk down through the groups of ground levels.
    const int groups = form_groups(w.candidate_level, m, w.group_count, w.group_sum);
    double volume =
        (lake.elevation - group_level(w.candidate_level, w.group_sum, 1)) * cells * c.area;
    double last = volume;
    int j = 1;
    while (j < groups) {
        const double next = volume + (cells - w.group_sum[at(j)]) *
                                         (group_level(w.candidate_level, w.group_sum, j) -
                                          group_level(w.candidate_level, w.group_sum, j + 1)) *
                                         c.area;
        last = next;
        if (next + c.dv > 0.0) break;
        volume = next;
        ++j;
    }
    const int remaining = cells - w.group_sum[at(j)];
    if (last < 0.0 || remaining < 1) {
        report_not_enough_volume(c.k);
        return;
    }

    // F7. The new level; gained cells above it leave the lake.
    const double level =
        group_level(w.candidate_level, w.group_sum, j) + (volume + c.dv) / (remaining * c.area);
    for (int e = m; e >= 1; --e) {
        const int cell = w.side_mask[at(e)];
        if (!(s.elevation[at(cell)] > level)) continue;
        s.overland_lake_id[at(cell)] = 0;
        --lake.cell_count;
    }
    lake.volume += c.dv;
    lake.elevation = level;
    if (lake.cell_count > 0) lake.elevation = level_holding_volume(s, c.k, c.area, c.members);
}

bool holds_gained_cells(const model_state &s, int k, const lake_cells &members) {
    bool gained = false;
    for_each_lake_cell(s, k, members, [&](int i) {
        if (s.overland_lake_id_copy[at(i)] <= 0) gained = true;
    });
    return gained;
}

// A lake on its initial cells whose outflow takes it below its initial level: the
// surface falls over those cells by the volume that left, which the outflow took
// from the lake (holding the level would make that water anew). It cannot give
// more than it holds.
void fall_below_initial_level(lake_call &c) {
    lake_record &lake = c.s.lakes[at(c.k)];
    if (lake.volume + c.dv < 0.0) {
        report_not_enough_volume(c.k);
        return;
    }
    c.s.overland_lake_flow_out -= c.dv;
    lake.volume += c.dv;
    lake.elevation = c.h;
}

// Lists every lake's cells in cell order (a counting sort by lake number), so that
// each lake visits its own cells only: lake k's are member_cells[member_start[k]]
// up to member_start[k + 1] - 1. Made at each update; a lake changes only its own
// cells and cells of no lake, so the lists of the lakes still to come stay right.
bool list_lake_cells(model_state &s, overland_lake_work &w) {
    const int n = s.cell_count, lakes = s.overland_lake_count;
    if (w.member_start.empty() || w.member_start.last() != at(lakes + 1)) {
        if (alloc_1d_int(w.member_start, lakes + 1) != 0 || alloc_1d_int(w.member_next, lakes + 1) != 0)
            return false;
    }
    int *start = w.member_start.data(), *next = w.member_next.data();
    std::fill(start, start + lakes + 2, 0);
    const int *id = s.overland_lake_id.data();
    for (int i = 1; i <= n; ++i)
        if (id[i] >= 1 && id[i] <= lakes) ++start[id[i] + 1];
    for (int k = 1; k <= lakes + 1; ++k) start[k] += start[k - 1];
    std::copy(start, start + lakes + 2, next);
    int *cells = w.member_cells.data();
    for (int i = 1; i <= n; ++i)
        if (id[i] >= 1 && id[i] <= lakes) cells[next[id[i]]++] = i;
    return true;
}

// ---- channel-network lakes ----

constexpr double beyond_last_cell = 999.9;  // m: a rise that the listed cells cannot hold

// Grid cell of listed position t of a lake, 0 when it lies outside the watershed.
int listed_cell(const model_state &s, const channel_lake &lake, int t) {
    if (t < 1 || at(t) >= lake.search.size()) return 0;
    const auto rc = lake.search[at(t)];
    const array_2d<int> &grid = s.cell_number_grid;
    if (grid.empty() || rc[0] < 0 || rc[1] < 0 || at(rc[0]) > grid.rows() || at(rc[1]) > grid.cols())
        return 0;
    const int c = grid[at(rc[0])][at(rc[1])];
    return c >= 1 && c <= s.cell_count ? c : 0;
}

void report_listed_cell_outside(const channel_lake &lake, int k, int t) {
    const auto rc = lake.search[at(t)];
    std::printf("Lake %d lists the grid cell [%d][%d], which lies outside the watershed.\n", k,
                rc[0], rc[1]);
    raise_printed_error();
}

bool groundwater_codes(const model_state &s) {
    return s.groundwater_on && !s.gw_boundary_code.empty() &&
           s.gw_boundary_code.last() >= at(s.cell_count);
}

// A flooded cell's constituent mass joins the lake's mass taken over from cells.
void take_cell_mass(model_state &s, int k, int cell) {
    channel_work &w = s.chan;
    const double_table &mass = s.transport_tables[transport_table::mass];
    const double_table &conc = s.transport_tables[transport_table::concentration];
    for (int q = 1; q <= w.constituent_count; ++q) {
        if (w.lake_ov_inflow_mass.empty() || at(q) > w.lake_ov_inflow_mass.rows() ||
            at(k) > w.lake_ov_inflow_mass.cols())
            return;
        double *m = mass.row(q);
        if (m && cell <= mass.columns()) {
            w.lake_ov_inflow_mass[at(q)][at(k)] += m[cell];
            // The mass leaves the overland water for the lake.
            post_mass(s, q, ledger_node::surface, ledger_node::cells_to_lakes, m[cell]);
            m[cell] = 0.0;
        }
        double *cc = conc.row(q);
        if (cc && cell <= conc.columns()) cc[cell] = 0.0;
    }
}

// Lake concentrations after the update: mass over volume, 0 for an empty lake.
void lake_concentrations(model_state &s, int k, double volume) {
    channel_work &w = s.chan;
    for (int q = 1; q <= w.constituent_count; ++q) {
        if (w.lake_conc.empty() || w.lake_mass.empty() || at(q) > w.lake_conc.rows() ||
            at(k) > w.lake_conc.cols() || at(q) > w.lake_mass.rows() || at(k) > w.lake_mass.cols())
            return;
        w.lake_conc[at(q)][at(k)] = volume > 0.0 ? w.lake_mass[at(q)][at(k)] / volume : 0.0;
    }
}

// Step 3: a falling lake gives back listed cells from the last one taken.
bool release_cells(model_state &s, int k, double &dv, double &area, double &wse, int &taken) {
    channel_lake &lake = s.channels.lakes[at(k)];
    const double cell_area = s.cell_size * s.cell_size;
    const bool codes = groundwater_codes(s) && !s.chan.gw_code_copy.empty();
    while (dv < 0.0 && taken >= 1) {
        const int c = listed_cell(s, lake, taken);
        if (c == 0) {
            report_listed_cell_outside(lake, k, taken);
            return false;
        }
        const double d = wse - s.elevation[at(c)];
        if (std::fabs(dv / area) < d) {
            wse -= std::fabs(dv / area);
            break;
        }
        --taken;
        s.cell_channel_lake[at(c)] = 0;
        s.lake_change_flag[at(c)] = -1;
        dv += d * area;
        wse -= d;
        area = taken * cell_area;
        std::printf("Removing cell %d from lake\n", c);
        s.depth[at(c)] = 0.0;
        if (codes && at(c) <= s.chan.gw_code_copy.last())
            s.gw_boundary_code[at(c)] = s.chan.gw_code_copy[at(c)];
    }
    return true;
}

// Step 4: a rising lake takes its listed cells in order, and beyond the last one
// rises freely.
bool take_cells(model_state &s, int k, double &dv, double &area, double &wse, int &taken) {
    channel_lake &lake = s.channels.lakes[at(k)];
    const double cell_area = s.cell_size * s.cell_size;
    const bool codes = groundwater_codes(s);
    const bool mass = s.chan_con_trans && s.chan.constituent_count > 0;
    while (dv > 0.0) {
        const bool beyond = taken >= lake.search_count;
        const int position = beyond ? lake.search_count : taken + 1;
        const int c = listed_cell(s, lake, position);
        if (c == 0) {
            report_listed_cell_outside(lake, k, position);
            return false;
        }
        double d = beyond ? beyond_last_cell : s.elevation[at(c)] - wse;
        if (beyond && !s.lake_extent_warned) {
            const auto rc = lake.search[at(position)];
            std::printf("Warning: Lake #%d has reached your specified maximum areal extent\n", k);
            std::printf("This likely means you should increase the maximum water surface elevation\n");
            std::printf("The last grid cell coordinates defined in your input file are: [%d][%d] \n",
                        rc[0], rc[1]);
            s.lake_extent_warned = 1;
            count_warning();
        }
        // A lake without cells has no surface: it must take its first cell.
        if (area > 0.0 && dv / area < d + 1e-07) {
            wse += dv / area;
            break;
        }
        ++taken;
        dv -= d * area;
        wse += d;
        if (s.cell_channel_lake[at(c)] > 0) {
            std::printf("Your lake has potentially merged with another lake.....\n");
            std::printf("Current KORVA formulation is not up for this. Will be soon.\n");
            std::printf("KORVA Terminating.\n");
            raise_printed_error();
            return false;
        }
        s.cell_channel_lake[at(c)] = k;
        s.lake_change_flag[at(c)] = 1;
        if (codes) s.gw_boundary_code[at(c)] = 7;
        area = taken * cell_area;
        const double depth = s.depth[at(c)];
        if (depth > 0.0) {
            const double water = depth * cell_area;
            s.water.move(ledger_node::surface, ledger_node::channel_lakes, water);
            lake.volume += water;
            lake.volume_in += water;
            dv += water;
            lake.taken_over += water;
            if (mass) take_cell_mass(s, k, c);
        }
        std::printf("Lake %d is taking cell %d with depth %lf\n", k, c, depth);
        s.depth[at(c)] = 0.0;
    }
    return true;
}

}  // namespace

void sort2(array_1d<double> &key, array_1d<int> &companion, int n) {
    int stack[stack_limit + 1] = {};
    int depth = 0, l = 1, ir = n;
    for (;;) {
        if (ir - l < insertion_limit) {
            for (int j = l + 1; j <= ir; ++j) {
                const double a = key[at(j)];
                const int b = companion[at(j)];
                int i = j - 1;
                for (; i >= l && key[at(i)] > a; --i) {
                    key[at(i + 1)] = key[at(i)];
                    companion[at(i + 1)] = companion[at(i)];
                }
                key[at(i + 1)] = a;
                companion[at(i + 1)] = b;
            }
            if (depth == 0) return;
            ir = stack[depth];
            l = stack[depth - 1];
            depth -= 2;
            continue;
        }
        const int k = (l + ir) / 2;
        swap_entries(key, companion, k, l + 1);
        if (key[at(l + 1)] > key[at(ir)]) swap_entries(key, companion, l + 1, ir);
        if (key[at(l)] > key[at(ir)]) swap_entries(key, companion, l, ir);
        if (key[at(l + 1)] > key[at(l)]) swap_entries(key, companion, l + 1, l);
        int i = l + 1, j = ir;
        const double a = key[at(l)];
        const int b = companion[at(l)];
        for (;;) {
            do ++i;
            while (key[at(i)] < a);
            do --j;
            while (key[at(j)] > a);
            if (j < i) break;
            swap_entries(key, companion, i, j);
        }
        key[at(l)] = key[at(j)];
        companion[at(l)] = companion[at(j)];
        key[at(j)] = a;
        companion[at(j)] = b;
        depth += 2;
        if (depth > stack_limit) {
            std::printf("NSTACK too small in sort2, called by olake_extent.  This is likely caused\n");
            std::printf("by the lake growth/shrinkage algorithm being stifled by too many grid cells\n");
            std::printf("with exactly the same elevation.  A likely fix is to make sure that your lake\n");
            std::printf("does not have flat topography. Program stopped.\n");
            raise_printed_error();
            return;
        }
        if (ir - i + 1 >= j - l) {
            stack[depth] = ir;
            stack[depth - 1] = i;
            ir = j - 1;
        } else {
            stack[depth] = j - 1;
            stack[depth - 1] = l;
            l = i;
        }
    }
}

double overland_lake_volume_change(const model_state &s, int k) {
    const lake_record &lake = s.lakes[at(k)];
    return lake.rain_volume + lake.inflow_volume;
}

double overland_lake_volume(const model_state &s) {
    double volume = 0.0;
    for (int k = 1; k <= s.overland_lake_count && static_cast<std::size_t>(k) < s.lakes.size(); ++k)
        volume += s.lakes[static_cast<std::size_t>(k)].volume;
    return volume;
}

double channel_lake_volume(const model_state &s) {
    double volume = 0.0;
    for (int k = 1; k <= s.channels.lake_count && static_cast<std::size_t>(k) < s.channels.lakes.size(); ++k)
        volume += s.channels.lakes[static_cast<std::size_t>(k)].volume;
    return volume;
}

void olake_extent(model_state &s) {
    if (s.overland_lake_count < 1 || s.cell_count < 1) return;
    if (s.overland_lake_id.empty() || s.overland_lake_id_copy.empty() ||
        s.lakes.size() <= at(s.overland_lake_count))
        return;
    if (make_overland_lake_work(s) != 0) return;
    overland_lake_work &w = s.olake_work;
    if (!list_lake_cells(s, w)) return;
    const double area = s.cell_size * s.cell_size;
    for (int k = 1; k <= s.overland_lake_count; ++k) {
        lake_record &lake = s.lakes[at(k)];
        const double dv = overland_lake_volume_change(s, k);
        // A lake number that the map does not hold has no surface to move.
        if (lake.cell_count < 1) continue;
        const double dh = dv / (lake.cell_count * area);
        const double h = lake.elevation + dh;
        if (std::fabs(dh) < 1e-10) {
            s.overland_lake_dropped_volume += dv;
            continue;
        }
        const int first = w.member_start[at(k)];
        const lake_cells members{w.member_cells.data() + first, w.member_start[at(k + 1)] - first,
                                 w.joined.data(), 0};
        lake_call call{s, w, k, area, dv, h, members};
        if (dh > 0.0)
            raise_lake(call);
        else if (h < lake.initial_elevation && !holds_gained_cells(s, k, members))
            fall_below_initial_level(call);
        else
            lower_lake(call);
        if (failed()) return;
    }
}

void update_lake_extent(model_state &s) {
    channel_network &net = s.channels;
    const int n = s.cell_count;
    if (net.lake_count < 1 || n < 1 || net.lakes.size() <= at(net.lake_count)) return;
    if (s.cell_channel_lake.empty() || s.cell_channel_lake.last() < at(n) || s.depth.empty() ||
        s.elevation.empty())
        return;
    if ((s.lake_change_flag.empty() || s.lake_change_flag.last() != at(n)) &&
        alloc_1d_int(s.lake_change_flag, n) != 0)
        return;
    for (int i = 1; i <= n; ++i) s.lake_change_flag[at(i)] = 0;
    const double cell_area = s.cell_size * s.cell_size;
    for (int k = 1; k <= net.lake_count; ++k) {
        channel_lake &lake = net.lakes[at(k)];
        lake.taken_over = 0.0;
        // A lake without listed cells has nowhere to go: it is left as it is.
        if (lake.search_count < 1) continue;
        double dv = lake.volume - lake.volume_old;
        double area = lake.area, wse = lake.wse;
        int taken = lake.flooded_cells;
        const bool ok = dv < 0.0 ? release_cells(s, k, dv, area, wse, taken)
                                 : take_cells(s, k, dv, area, wse, taken);
        if (!ok) return;
        lake.volume_old = lake.volume;
        lake.area = taken * cell_area;
        lake.wse = wse;
        lake.flooded_cells = taken;
        if (s.chan_con_trans) lake_concentrations(s, k, lake.volume);
    }
}

void lake_step(model_state &s) {
    channel_network &net = s.channels;
    const hmet_hour_record &r = s.hmet_hour;
    const double t = r.air_temperature;
    const double es = 10.0 * saturation_vapour_pressure(t);  // mb
    const double wind = r.wind_speed * 0.001 * 86400.0;  // km per day
    for (int k = 1; k <= net.lake_count && at(k) < net.lakes.size(); ++k) {
        channel_lake &lake = net.lakes[at(k)];
        const double a = lake.area;
        double x = a / 1000000.0;  // km2
        if (x < 0.0005) x = 0.0005;
        const double e = std::pow(x, -0.05) * 0.000169 * wind * (1.0 - r.relative_humidity / 100.0) *
                         es / 24.0 * a / 100.0;
        const double taken = e < lake.volume ? e : lake.volume;
        s.water.move(ledger_node::channel_lakes, ledger_node::atmosphere, taken);
        if (e < lake.volume) {
            lake.volume -= e;
            lake.evaporated += e;
        } else {
            lake.evaporated += lake.volume;
            lake.volume = 0.0;
        }
    }
    update_lake_extent(s);
}

int channel_lake_below_second_level(const model_state &s) {
    const channel_network &net = s.channels;
    for (int k = 1; k <= net.lake_count && at(k) < net.lakes.size(); ++k)
        if (net.lakes[at(k)].wse < net.lakes[at(k)].init_wse) return 1;
    return 0;
}
