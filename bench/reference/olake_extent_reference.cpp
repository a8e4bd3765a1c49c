// Reference copy of the overland-lake update as it stood before each lake visited
// only its own cells (every cell was scanned three times per lake); it follows the
// update's rules of which cells a lake takes, so that the equality test and the
// benchmark can compare the two. Not linked into the programs.
#include "bench/reference/olake_extent_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/lakes.h"
#include "model/input/input_readers.h"
#include "model/core/model_state.h"

namespace reference {

namespace {

std::size_t at(int i) { return static_cast<std::size_t>(i); }

bool failed() { return error_record.fatal != 0; }

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

// The level at which the lake's cells hold its volume. The group walk places
// candidates of one group at the group's first level, and a wet candidate that
// joins brings all its water even where it stood above the walk's level; the
// level is set from the volume so that no water is made or lost.
double level_holding_volume(const model_state &s, int k, double area) {
    double ground = 0.0;
    int cells = 0;
    for (int i = 1; i <= s.cell_count; ++i) {
        if (s.overland_lake_id[at(i)] != k) continue;
        ground += s.elevation[at(i)];
        ++cells;
    }
    return (s.lakes[at(k)].volume / area + ground) / cells;
}

struct lake_call {
    model_state &s;
    overland_lake_work &w;
    int k;          // lake number
    double area;    // of one cell (m2)
    double dv, h;   // volume change of the step (m3), trial level (m)
};

void join_lake(lake_call &c, int cell, double &taken) {
    model_state &s = c.s;
    s.overland_lake_id[at(cell)] = c.k;
    ++s.lakes[at(c.k)].cell_count;
    taken += s.depth[at(cell)] * c.area;
    s.depth[at(cell)] = 0.0;
}

// Steps R1 to R6: the lake takes the cells below its new level.
void raise_lake(lake_call &c) {
    model_state &s = c.s;
    overland_lake_work &w = c.w;
    lake_record &lake = s.lakes[at(c.k)];
    const int n = s.cell_count, cells = lake.cell_count, limit = w.list_size;
    const bool dikes = s.dike_on && !s.dike_code.empty();

    // R1. Open sides of the lake's cells: towards a cell of no lake, unless the
    // cell's own dike closes the side.
    for (int i = 1; i <= n; ++i) {
        int mask = 0;
        if (s.overland_lake_id[at(i)] == c.k) {
            for (int side : sides) {
                const int nb = neighbour(s, i, side);
                if (nb > 0 && s.overland_lake_id[at(nb)] == 0) mask |= side;
            }
            if (dikes && s.dike_code[at(i)] != 0) mask &= ~s.dike_code[at(i)];
        }
        w.side_mask[at(i)] = mask;
    }

    // R2. Candidates: neighbours through open sides whose level lies below h or,
    // listed once each, whose ground lies below the lake's surface.
    const double surface = lake.elevation;
    int m = 0;
    for (int i = 1; i <= n; ++i) {
        const int mask = w.side_mask[at(i)];
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
            for (int e = 1; e <= m; ++e) w.candidate_mark[at(w.candidate_cell[at(e)])] = 0;
            std::printf("The candidate set is HUGE in olake_extent.  Sorry, but your DEM has\n");
            std::printf("too many grids with exactly the same elevation!  You should impose\n");
            std::printf("a little slope on your DEM in the lake region.  Program stopped.\n");
            raise_printed_error();
            return;
        }
    }

    for (int e = 1; e <= m; ++e) w.candidate_mark[at(w.candidate_cell[at(e)])] = 0;

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
    if (m > 1) lake.elevation = level_holding_volume(s, c.k, c.area);
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
    const int n = s.cell_count, cells = lake.cell_count;
    s.overland_lake_flow_out -= c.dv;

    // F2. A lake may fall only while it holds cells beyond its initial map.
    int gained = 0, emerging = 0;
    for (int i = 1; i <= n; ++i) {
        if (s.overland_lake_id[at(i)] != c.k) continue;
        if (s.overland_lake_id_copy[at(i)] <= 0) ++gained;
        if (s.elevation[at(i)] > c.h) ++emerging;
    }
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
    for (int i = 1; i <= n; ++i) {
        if (s.overland_lake_id[at(i)] != c.k || s.overland_lake_id_copy[at(i)] > 0) continue;
        ++count;
        w.side_mask[at(count)] = i;
        w.release_key[at(count)] = c.h - s.elevation[at(i)];
    }
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
    if (lake.cell_count > 0) lake.elevation = level_holding_volume(s, c.k, c.area);
}

}  // namespace

void olake_extent(model_state &s) {
    if (s.overland_lake_count < 1 || s.cell_count < 1) return;
    if (s.overland_lake_id.empty() || s.overland_lake_id_copy.empty() ||
        s.lakes.size() <= at(s.overland_lake_count))
        return;
    if (make_overland_lake_work(s) != 0) return;
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
        lake_call call{s, s.olake_work, k, area, dv, h};
        bool gained = false;
        for (int i = 1; i <= s.cell_count; ++i)
            if (s.overland_lake_id[at(i)] == k && s.overland_lake_id_copy[at(i)] <= 0) gained = true;
        if (dh > 0.0) {
            raise_lake(call);
        } else if (h < lake.initial_elevation && !gained) {
            // Below the initial level on its initial cells: the surface falls.
            if (lake.volume + dv < 0.0) {
                report_not_enough_volume(k);
                return;
            }
            s.overland_lake_flow_out -= dv;
            lake.volume += dv;
            lake.elevation = h;
        } else {
            lower_lake(call);
        }
        if (failed()) return;
    }
}

}  // namespace reference
