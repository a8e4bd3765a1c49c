// One groundwater step over the grid: the vertical exchanges of each cell gathered
// into a net sink, sub-steps chosen from the soil columns, Picard iteration around
// the line relaxation, the floor of the saturated thickness and the river-cell
// exchange. Called by the groundwater piece (step_groundwater) once per step.
#include "model/hydrology/groundwater.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <utility>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/hydrology/hydrology_services.h"
#include "model/hydrology/layered_soil.h"
#include "model/hydrology/process_clocks.h"
#include "model/hydrology/richards.h"
#include "model/core/cell_arrays.h"
#include "model/core/model_state.h"
#include "model/core/series.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

bool fixed_head(int code) { return code == 2 || code == 5; }

bool failed() { return error_record.code != 0 || error_record.fatal != 0; }

template <class A>
bool covers(const A &a, int cells) {
    return !a.empty() && a.last() >= at(cells);
}

// Node spacing (cm) of layer 1 of the cell's soil row.
double layer1_spacing(const model_state &s, int i) {
    return s.soil_layers[at(s.soil_index[at(i)])].values[richards_spacing_field];
}

// The crossing count of a coupled cell for the sub-step length dts, with its
// storage coefficient; dts may shrink (a column of at most two nodes).
int crossing_count(model_state &s, int i, double r, double &dts) {
    const int k = s.richards_cell_nodes[at(i)];
    const auto dz = s.richards_dz[at(i)];
    const auto theta = s.richards_theta[at(i)];
    const auto theta_s = s.richards_theta_s[at(i)];
    const int last_node = static_cast<int>(s.richards_dz.cols());
    double &S = s.gw_storage_coefficient[at(i)];
    if (s.elevation[at(i)] <= s.water_table_elevation[at(i)]) {
        S = theta_s[1];
        return 0;
    }
    const int above = std::max(k - 1, 0);
    if (k <= 2) {
        S = theta_s[at(above)];
        const double d = theta_s[at(above)] - theta[at(above)];
        const double thick = dz[at(above)];
        if (r != 0.0 && d > 0.0 && thick > 0.0 && -100.0 * r * dts / (thick * d) > thick)
            dts = std::max(-d * thick / (100.0 * r), 1.0);
        return 0;
    }
    if (r > 0.0) {
        S = theta_s[at(above)];
        if (k > last_node || !(dz[at(k)] > 0.0) || !(S > 0.0)) return 0;
        const double count = 100.0 * r * dts / S / dz[at(k)];
        return count < 1e9 ? static_cast<int>(count) : 1000000000;
    }
    // Rising table: the nodes the water of the sub-step fills, from the table up.
    double w = -100.0 * r * dts;  // cm of water
    double t_sum = 0.0, q_sum = 0.0;
    int walked = 0, j = k - 1;
    const double spacing = layer1_spacing(s, i);
    while (w > 0.0) {
        double t = j >= 1 ? dz[at(j)] : spacing;
        const double c = j >= 1 ? theta_s[at(j)] : 1.0;
        if (!(t > 0.0) || !(c > 0.0)) break;
        w -= t * c;
        if (w < 0.0) t = (t * c + w) / c;
        t_sum += t;
        q_sum += t * c;
        ++walked;
        --j;
        if (walked >= 1000000) break;
    }
    if (t_sum > 0.0 && (j < 1 || t_sum > dz[at(j)]))
        S = q_sum / t_sum;
    else
        S = theta_s[at(above)];
    return walked;
}

// Sub-step pass: keeps every head as the sub-step start, sets the coupled cells'
// storage coefficients and returns the largest crossing count; false after a
// head that is not a number.
bool substep_pass(model_state &s, bool coupled, double &dts, int &largest) {
    largest = 0;
    const double *r = s.gw_net_sink.data();
    for (int i = 1; i <= s.cell_count; ++i) {
        const double h = s.water_table_elevation[at(i)];
        s.gw_substep_head[at(i)] = h;
        if (std::isnan(h)) {
            std::printf("elevgw NaN in main()- point 7, grid cell %d\n", i);
            raise_printed_error();
            return false;
        }
        if (!coupled || fixed_head(s.gw_boundary_code[at(i)])) continue;
        largest = std::max(largest, crossing_count(s, i, r[i], dts));
    }
    return true;
}

// Storage coefficient of cell i in the sub-step: held per cell where the soil
// columns (or a caller) set it, formed from the start heads in a redistribution run.
double storage_at(const model_state &s, int i) {
    if (!s.gw_storage_coefficient.empty()) return s.gw_storage_coefficient[at(i)];
    bool problem = false;
    return redistribution_storage(s, i, s.gw_substep_head[at(i)], problem);
}

// Harmonic-mean coefficient between cell i and neighbour j along one direction.
inline double face(double ti, double tj, double di, double dj) {
    const double den = dj * ti + di * tj;
    return den > 0.0 ? 2.0 * ti * tj / den / di : 0.0;
}

// Face coefficients of one Picard iteration from the transmissivities of the
// iterate (the same in both directions: conductivity times the saturated
// thickness). Each face's coefficient is formed once, at the cell left of or
// above it: the harmonic mean is symmetric, so this is the value either cell
// would form. Entry 0 of the face arrays is 0: the face toward no neighbour.
void build_coefficients(model_state &s) {
    const int n = s.cell_count;
    const double *it = s.gw_iterate.data();
    const cell_map &b = s.aquifer_bottom;
    const cell_map &k = s.gw_hycond;
    const auto t = [it, &b, &k](int j) {
        return k[at(j)] * std::max(it[j] - b[at(j)], gw_min_thickness);
    };
    const double d = s.cell_size;
    const int *right = s.right.data(), *down = s.down.data();
    double *cr = s.gw_coef_right.data(), *cw = s.gw_coef_down.data();
    for (int i = 1; i <= n; ++i) {
        const int jd = down[i], jr = right[i];
        const double ti = t(i);
        cw[i] = jd ? face(ti, t(jd), d, d) : 0.0;
        cr[i] = jr ? face(ti, t(jr), d, d) : 0.0;
    }
}

// River exchange of the code-2 cells over one sub-step (m3 into each total); the
// totals are made when the first river cell is met. False when they cannot be.
bool river_exchange(model_state &s, double dts) {
    const double *h = s.water_table_elevation.data();
    const cell_map &b = s.aquifer_bottom;
    const int *code = s.gw_boundary_code.data();
    for (int i = 1; i <= s.cell_count; ++i) {
        if (code[i] != 2) continue;
        if (s.river_exchange.empty() && !ensure_cell_array(s.river_exchange, s.cell_count)) {
            print_allocation_failure("groundwater river exchange");
            raise_printed_error();
            return false;
        }
        const double thick = h[i] - b[i];
        const double dx = s.cell_size, dy = s.cell_size, k = s.gw_hycond[at(i)];
        double f = 0.0;
        for (int j : {s.up[at(i)], s.down[at(i)]})
            if (j > 0 && code[j] != 0 && code[j] != 2) f += thick * ((h[i] - h[j]) / dy) * dx * k * dts;
        for (int j : {s.left[at(i)], s.right[at(i)]})
            if (j > 0 && code[j] != 0 && code[j] != 2) f += thick * ((h[i] - h[j]) / dx) * dy * k * dts;
        s.river_exchange[at(i)] += f;
    }
    return true;
}

// A well whose cell the aquifer floor has reached pumps less than its rate: said
// once a run on the console, and in the event summaries' warnings.
void note_dry_well(model_state &s, int i) {
    if (s.gw_dry_well_cell != 0) return;
    s.gw_dry_well_cell = i;
    std::printf("Warning: the well of grid cell %d has drawn the aquifer down to its floor, "
                "0.001 m above the aquifer bottom (%.3f m%s); it pumps less than its rate.\n",
                i, s.aquifer_bottom[at(i)],
                s.inf_richards ? ", 0.1 m below the initial water table under INF_RICHARDS" : "");
}

// What a cap keeps back of a cell's positive sink (m/s) comes off its well first,
// then its leakage: neither takes water the aquifer does not hold. The rest of it
// is the part of the exchange sinks (soil, channels, lakes) the aquifer could not
// give; returned, to be booked as water the floor added.
double hold_back(double reduction, double &well, double &leak) {
    if (well > 0.0) {
        const double w = std::min(well, reduction);
        well -= w;
        reduction -= w;
    }
    if (leak > 0.0) {
        const double l = std::min(leak, reduction);
        leak -= l;
        reduction -= l;
    }
    return reduction;
}

// A cell's exchange with the soil (positive into the aquifer) into the total of its direction.
inline void add_soil_exchange(double volume, double &soil_in, double &soil_out) {
    if (volume >= 0.0)
        soil_in += volume;
    else
        soil_out -= volume;
}

// The net sink of every active cell for the step (rules of the preparation); the
// net volume the terms add over dt (m3). soil_in gains the water the surface and
// unsaturated terms move into the aquifer, soil_out what they move out of it, cell
// by cell (m3, as given before the caps). The
// well and leakage rates of the cells are left as the step takes them, after
// the caps; what the caps hold back of the exchange sinks goes into the
// withheld total.
double gather_sinks(model_state &s, double dt, bool coupled, double &soil_in, double &soil_out) {
    const bool wells = s.gw_wells_from_table != 0;
    const bool lake_term = channel_routing_on(s) && s.lake_loss_flag == 1 && !s.lake_loss_volume.empty();
    const bool seepage_term = s.chan_explicit && !s.channel_seepage_volume.empty();
    const bool percolation = covers(s.deep_percolation, s.cell_count);
    const bool surface = covers(s.surface_exchange_depth, s.cell_count);
    const bool unsat = covers(s.unsat_exchange_depth, s.cell_count);
    const bool flux = covers(s.gw_static_flux, s.cell_count);
    const double leakage_rate = s.gw_leakage_rate / 100.0 / 3600.0;  // cm/h to m/s
    double *leak_cell = s.gw_leakage_rate_cell.empty() ? nullptr : s.gw_leakage_rate_cell.data();
    double *well_cell = s.gw_well_rate.empty() ? nullptr : s.gw_well_rate.data();
    const double area = s.cell_size * s.cell_size;
    double v = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) {
        s.gw_net_sink[at(i)] = 0.0;
        if (fixed_head(s.gw_boundary_code[at(i)])) continue;
        double c = 0.0, sp = 0.0, e = 0.0, u = 0.0;
        if (lake_term) {
            c = s.lake_loss_volume[at(i)] / dt / area;
            s.lake_loss_volume[at(i)] = 0.0;
        }
        if (seepage_term) {
            sp = s.channel_seepage_volume[at(i)] / dt / area;
            s.channel_seepage_volume[at(i)] = 0.0;
        }
        if (surface) {
            e = s.surface_exchange_depth[at(i)] / 100.0 / dt;  // cm of water
            store_if_changed(s.surface_exchange_depth[at(i)], 0.0);
        }
        if (unsat) {
            u = s.unsat_exchange_depth[at(i)] / -100.0 / dt;
            if (!coupled) s.unsat_exchange_depth[at(i)] = 0.0;
        }
        const double b0 = s.water_table_elevation[at(i)] - s.aquifer_bottom[at(i)];
        double leak = b0 < gw_min_thickness ? 0.0 : leakage_rate;
        // Without wells or static fluxes the rate is 0 and no array holds it.
        double well = wells ? well_cell[i] : (flux ? s.gw_static_flux[at(i)] : 0.0);
        if (b0 < gw_min_thickness && well > 0.0) {
            well = 0.0;
            if (wells) note_dry_well(s, i);
        }
        const double perc = percolation ? s.deep_percolation[at(i)] / 100.0 / dt : 0.0;
        add_soil_exchange(-(u + e) * dt * area, soil_in, soil_out);
        const double nominal = well - perc + leak + u + e + sp + c;
        double r = nominal;
        if (b0 < gw_min_thickness && r > 0.0) r = 0.0;
        if (b0 - r * dt < gw_min_thickness && r > 0.0) r = (b0 - gw_min_thickness) / dt;
        if (r < nominal) {
            const double pumped = well;
            s.gw_withheld_volume += hold_back(nominal - r, well, leak) * dt * area;
            if (wells && well < pumped) note_dry_well(s, i);
        }
        if (leak_cell) leak_cell[i] = leak;
        if (well_cell) well_cell[i] = well;
        s.gw_net_sink[at(i)] = r;
        v -= r * dt * area;
    }
    return v;
}

// Picard iteration of one sub-step; false after a failure.
bool picard_iteration(model_state &s, double dts, bool coupled) {
    const int n = s.cell_count;
    double *h = s.water_table_elevation.data();
    double *iterate = s.gw_iterate.data();
    const double *h0 = s.gw_substep_head.data();
    int counter = 1;
    double change = 0.0;
    do {
        ++counter;
        if (counter >= 50) std::printf("GW IS NOT CONVERGING \n");
        if (counter > 1000) {
            std::printf("Error: Non-convergence in the groundwater after 1000 tries.\n");
            raise_printed_error();
            return false;
        }
        for (int i = 1; i <= n; ++i) {
            iterate[i] = h[i];
            h[i] = h0[i];
        }
        build_coefficients(s);
        ++s.gw_picard_count;
        const int sweeps = groundwater_solve_2d(s, s.gw_sweep_direction, dts);
        if (sweeps < 0) return false;
        change = 0.0;
        for (int i = 1; i <= n; ++i) {
            change = std::max(change, std::fabs(h[i] - iterate[i]));
            iterate[i] = h[i];
        }
        if (coupled && change > gw_picard_threshold)
            for (int i = 1; i <= n; ++i)
                if (!fixed_head(s.gw_boundary_code[at(i)])) layer_value_at_water_table(s, i);
    } while (change > gw_picard_threshold);
    return true;
}

// The storage curve of cell i, top down: above the ground, within the
// soil-moisture depth and below it, each with its coefficient. A fixed head and
// a cell of a run with Richards columns store with the aquifer porosity alone.
struct storage_band {
    double low, high, coefficient;
};
std::array<storage_band, 3> storage_bands(const model_state &s, int i) {
    const double b = s.aquifer_bottom[at(i)], n = s.gw_porosity[at(i)];
    constexpr double top = 1e300;
    const bool fixed = !s.gw_boundary_code.empty() && at(i) <= s.gw_boundary_code.last() &&
                       fixed_head(s.gw_boundary_code[at(i)]);
    if (s.inf_richards || fixed)
        return {{{b, top, n}, {b, b, n}, {b, b, n}}};
    const double ground = s.elevation[at(i)], soil = ground - s.soil_moist_depth_cm / 100.0;
    bool problem = false;
    const double in_soil = redistribution_storage(s, i, 0.5 * (soil + ground), problem);
    const double below = redistribution_storage(s, i, soil - 1.0, problem);
    const double above = redistribution_storage(s, i, ground + 1.0, problem);
    return {{{std::max(b, ground), top, above},
             {std::max(b, soil), std::max(b, ground), in_soil},
             {b, std::max(b, soil), below}}};
}

// The band of the curve a table at h stands in (0 above the ground).
int band_of(const std::array<storage_band, 3> &bands, double h) {
    for (int k = 0; k < 2; ++k)
        if (h >= bands[at(k)].low && bands[at(k)].high > bands[at(k)].low) return k;
    return 2;
}

bool crosses_band(const model_state &s, int i, double h0, double h) {
    const std::array<storage_band, 3> bands = storage_bands(s, i);
    return band_of(bands, h0) != band_of(bands, h);
}

// The table of cell i at which its aquifer holds `water` m3 on its storage curve.
double table_holding(const model_state &s, int i, double water) {
    const std::array<storage_band, 3> bands = storage_bands(s, i);
    const double area = s.cell_size * s.cell_size;
    double below = 0.0;  // the water under the band's floor
    for (int k = 2; k >= 0; --k) {
        const storage_band &b = bands[at(k)];
        const double full = b.coefficient * (b.high - b.low) * area;
        if (k == 0 || water <= below + full) return b.low + (water - below) / (b.coefficient * area);
        below += full;
    }
    return bands[2].low;
}

// Water the fixed-head cells passed to their solved neighbours over the sub-step
// (m3): the solve's face coefficients times the head differences it ended with.
double boundary_flux(const model_state &s, double dts) {
    const double *h = s.water_table_elevation.data();
    const int *code = s.gw_boundary_code.data();
    const double area = s.cell_size * s.cell_size;
    double f = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) {
        if (fixed_head(code[i])) continue;
        const int ju = s.up[at(i)], jl = s.left[at(i)];
        const std::pair<int, double> faces[] = {{ju, s.gw_coef_down[at(ju)]},
                                                {s.down[at(i)], s.gw_coef_down[at(i)]},
                                                {jl, s.gw_coef_right[at(jl)]},
                                                {s.right[at(i)], s.gw_coef_right[at(i)]}};
        for (const auto &[j, c] : faces)
            if (j > 0 && fixed_head(code[j])) f += c * (h[j] - h[i]) * dts * area;
    }
    return f;
}

// Storage coefficient of a cell's head change: the solve's, and the aquifer
// porosity for the fixed-head cells that only the floor moves.
double storage_of(const model_state &s, int i) {
    return fixed_head(s.gw_boundary_code[at(i)]) ? s.gw_porosity[at(i)] : storage_at(s, i);
}

// The sub-step's head changes into the aquifer's stored volume (m3). The solve
// stores a cell's change with the coefficient of its start head; a table that
// crossed into another band of the storage curve (at the soil-moisture depth or
// the ground) is placed where that water stands on the curve.
void store_head_changes(model_state &s) {
    const double area = s.cell_size * s.cell_size;
    double v = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) {
        double &h = s.water_table_elevation[at(i)];
        const double h0 = s.gw_substep_head[at(i)], stored = storage_of(s, i) * (h - h0) * area;
        if (!s.inf_richards && !fixed_head(s.gw_boundary_code[at(i)]) && crosses_band(s, i, h0, h))
            h = table_holding(s, i, aquifer_water_below(s, i, h0) + stored);
        v += stored;
    }
    s.gw_stored_volume += v;
}

// The well and leakage volumes (m3) of the sub-step, at the rates the step
// takes (positive out of the aquifer; a negative well rate injects).
void book_extractions(model_state &s, double dts) {
    const double area = s.cell_size * s.cell_size;
    const double *well = s.gw_well_rate.empty() ? nullptr : s.gw_well_rate.data();
    const double *leak = s.gw_leakage_rate_cell.empty() ? nullptr : s.gw_leakage_rate_cell.data();
    if (!well && !leak) return;
    for (int i = 1; i <= s.cell_count; ++i) {
        if (fixed_head(s.gw_boundary_code[at(i)])) continue;
        if (well) s.gw_well_volume += well[i] * dts * area;
        if (leak) s.gw_leakage_volume += leak[i] * dts * area;
    }
}

// Heads below bottom + 0.001 m are lifted to it. The water that adds is first
// what the cell's positive sink could not take in the sub-step of dts seconds:
// the well and the leakage gave that much less (their volumes are booked less);
// the rest of the lift is water the floor added. A positive sink then stops for
// the remaining time: the well and the leakage pump no more, an inflow among the
// other terms goes on, and what the exchange sinks would still have taken is
// held back (its volume given back to the net volume v).
void apply_floor(model_state &s, double dts, double remaining, double &v) {
    const double area = s.cell_size * s.cell_size;
    for (int i = 1; i <= s.cell_count; ++i) {
        const double floor = s.aquifer_bottom[at(i)] + gw_min_thickness;
        double &h = s.water_table_elevation[at(i)];
        if (!(h - floor < 0.0)) continue;
        double lift = storage_of(s, i) * (floor - h) * area;
        h = floor;
        double &r = s.gw_net_sink[at(i)];
        if (!(r > 0.0)) {
            s.gw_floor_volume += lift;
            continue;
        }
        double unused = 0.0;
        double &well = s.gw_well_rate.empty() ? unused : s.gw_well_rate[at(i)];
        double &leak = s.gw_leakage_rate_cell.empty() ? unused : s.gw_leakage_rate_cell[at(i)];
        const double rest = r - std::max(well, 0.0) - std::max(leak, 0.0);
        if (well > 0.0) {
            const double short_well = std::min(lift, well * dts * area);
            s.gw_well_volume -= short_well;
            v += short_well;
            lift -= short_well;
            if (s.gw_wells_from_table) note_dry_well(s, i);
        }
        if (leak > 0.0) {
            const double short_leak = std::min(lift, leak * dts * area);
            s.gw_leakage_volume -= short_leak;
            v += short_leak;
            lift -= short_leak;
        }
        s.gw_floor_volume += lift;
        if (well > 0.0) well = 0.0;
        if (leak > 0.0) leak = 0.0;
        const double kept = std::min(rest, 0.0);
        if (rest > 0.0) s.gw_withheld_volume += rest * remaining * area;
        v += (r - kept) * remaining * area;
        r = kept;
    }
}

}  // namespace

double redistribution_storage(const model_state &s, int i, double table, bool &problem) {
    const double d = s.elevation[at(i)] - table;
    double sc = 1.0;
    if (d > 0.0) {
        const bool saturated_known = covers(s.soil_porosity, s.cell_count);
        sc = d > s.soil_moist_depth_cm / 100.0
                 ? s.gw_porosity[at(i)]
                 : (saturated_known ? s.soil_porosity[at(i)] : s.gw_porosity[at(i)]);
    }
    problem = sc <= 0.0;
    return problem ? s.gw_porosity[at(i)] : sc;
}


double aquifer_water_below(const model_state &s, int i, double table) {
    double v = 0.0;
    for (const storage_band &band : storage_bands(s, i))
        v += band.coefficient * std::max(std::min(table, band.high) - band.low, 0.0);
    return v * s.cell_size * s.cell_size;
}

double table_after_taking(const model_state &s, int i, double table, double volume) {
    const double area = s.cell_size * s.cell_size;
    for (const storage_band &band : storage_bands(s, i)) {
        if (!(table > band.low)) continue;
        const double top = std::min(table, band.high);
        const double held = band.coefficient * (top - band.low) * area;
        if (volume <= held) return top - volume / (band.coefficient * area);
        volume -= held;
        table = band.low;
    }
    return s.aquifer_bottom[at(i)];
}

double aquifer_water_from_table(const model_state &s) {
    double v = 0.0;
    for (int i = 1; i <= s.cell_count; ++i) v += aquifer_water_below(s, i, s.water_table_elevation[at(i)]);
    return v;
}

int groundwater_solve_2d(model_state &s, int direction, double dts) {
    const array_2d<int> &grid = s.cell_number_grid;
    const int rows = static_cast<int>(grid.rows()) - 1, cols = static_cast<int>(grid.cols()) - 1;
    double *h = s.water_table_elevation.data();
    const double *h0 = s.gw_substep_head.data();
    const double *sink = s.gw_net_sink.data();
    const int *up = s.up.data(), *left = s.left.data();
    const double *fr = s.gw_coef_right.data(), *fd = s.gw_coef_down.data();
    const int *code = s.gw_boundary_code.data();
    double *sub = s.gw_line_sub.data(), *diag = s.gw_line_diag.data();
    double *super = s.gw_line_super.data(), *line_rhs = s.gw_line_rhs.data();
    int *cells = s.gw_line_cells.data();
    const bool by_rows = s.gw_lsor_dir == 1;
    const int lines = by_rows ? rows : cols, length = by_rows ? cols : rows;
    const double omega = s.gw_relax_coeff, tolerance = s.gw_lsor_con;
    int sweeps = 0;
    double largest = 0.0;
    do {
        if (++sweeps > gw_sweep_cap) {
            std::printf("Error: the groundwater line relaxation did not converge in %d sweeps "
                        "(largest change %g m, tolerance %g m).\n",
                        gw_sweep_cap, largest, tolerance);
            raise_printed_error();
            return -1;
        }
        ++s.gw_sweep_count;
        largest = 1e-20;
        for (int step = 1; step <= lines; ++step) {
            const int line = direction == 1 ? step : lines + 1 - step;
            int m = 0;
            for (int p = 1; p <= length; ++p) {
                const int r = by_rows ? line : p, c = by_rows ? p : line;
                const int i = grid(at(r), at(c));
                if (i == 0) continue;
                ++m;
                cells[m] = i;
                // The cell's diagonal and right side, formed here for its line: a
                // fixed head holds its start value, a solved cell adds its storage
                // over the sub-step to its faces.
                const bool fixed = fixed_head(code[i]);
                double rhs_i = h0[i];
                diag[m] = 1.0;
                if (!fixed) {
                    const double store = storage_at(s, i) / dts;
                    diag[m] = -(fd[up[i]] + fr[left[i]] + fr[i] + fd[i] + store);
                    rhs_i = sink[i] - store * h0[i];
                }
                // The four faces of the cell; a fixed-head cell takes none.
                const int iu = grid(at(r - 1), at(c)), id = grid(at(r + 1), at(c));
                const int il = grid(at(r), at(c - 1)), ir = grid(at(r), at(c + 1));
                const double cu = fixed ? 0.0 : fd[iu], cw = fixed ? 0.0 : fd[i];
                const double cl = fixed ? 0.0 : fr[il], cr = fixed ? 0.0 : fr[i];
                if (by_rows) {
                    sub[m] = cl;
                    super[m] = cr;
                    line_rhs[m] = rhs_i - h[iu] * cu - h[id] * cw;
                } else {
                    sub[m] = cu;
                    super[m] = cw;
                    line_rhs[m] = rhs_i - h[il] * cl - h[ir] * cr;
                }
            }
            if (m < 1) continue;
            const int bad = solve_tridiagonal(m, sub, diag, super, line_rhs);
            if (bad != 0) {
                std::printf("Error: the groundwater line relaxation met a singular line at grid "
                            "cell %d.\n",
                            cells[bad]);
                raise_printed_error();
                return -1;
            }
            for (int p = 1; p <= m; ++p) {
                const int i = cells[p];
                const double previous = h[i];
                const double d = line_rhs[p] - previous;
                if (std::isnan(d)) {
                    std::printf("Error: the groundwater head change of grid cell %d is not a "
                                "number.\n",
                                i);
                    raise_printed_error();
                    return -1;
                }
                h[i] = previous + omega * d;
                largest = std::max(largest, std::fabs(d));
            }
        }
    } while (!(largest < tolerance));
    return sweeps;
}

void layer_value_at_water_table(model_state &s, int i) {
    const soil_layer_record &row = s.soil_layers[at(s.soil_index[at(i)])];
    const auto &v = row.values;
    const double ground = s.elevation[at(i)], h = s.water_table_elevation[at(i)];
    const double t1 = v[layer_depth_field], t2 = v[layer_depth_field + 1], t3 = v[layer_depth_field + 2];
    double spacing = s.aquifer_delta_z * 100.0;
    if (ground - t1 / 100.0 < h)
        spacing = v[richards_spacing_field];
    else if (ground - (t1 + t2) / 100.0 < h)
        spacing = v[richards_spacing_field + 1];
    else if (ground - (t1 + t2 + t3) / 100.0 < h)
        spacing = v[richards_spacing_field + 2];
    const int n = s.richards_cell_nodes[at(i)];
    const int last_node = static_cast<int>(s.richards_dz.cols());
    const auto dz = s.richards_dz[at(i)];
    const auto theta_s = s.richards_theta_s[at(i)];
    const int above = std::max(n - 1, 0);
    double &S = s.gw_storage_coefficient[at(i)];
    const double dh = 100.0 * (h - s.gw_substep_head[at(i)]);
    if (ground < h) {
        S = theta_s[1];
        return;
    }
    S = theta_s[at(above)];
    if (dh == 0.0) return;
    double t_sum = 0.0, q_sum = 0.0;
    if (dh > 0.0) {
        // Rising: the nodes above the table that the rise fills; above the column
        // each step takes the top node's thickness, or layer 1's spacing when that
        // is not positive, so that the walk always ends.
        double rest = dh;
        bool reached_top = false;
        for (int j = n - 1; rest > 0.0; --j) {
            double t = j >= 1 ? dz[at(j)] : dz[0];
            const double c = j >= 1 ? theta_s[at(j)] : 1.0;
            if (j < 1 && !(t > 0.0)) t = v[richards_spacing_field];
            if (!(t > 0.0)) break;
            if (j <= 1) reached_top = true;
            rest -= t;
            if (rest < 0.0) t += rest;
            t_sum += t;
            q_sum += c * t;
            if (j < -1000000) break;
        }
        if (t_sum > 0.0 && (reached_top || dz[at(above)] < t_sum)) S = q_sum / t_sum;
        return;
    }
    // Falling: the column ends at the table, so the walk stops at its last node;
    // entries past it hold no node of the column.
    double rest = dh;
    for (int j = std::max(n, 0); rest < 0.0 && j <= std::min(n, last_node); ++j) {
        double t = dz[at(j)];
        rest += t;
        if (rest > 0.0) t -= rest;
        t_sum += t;
        q_sum += theta_s[at(j)] * t;
    }
    if (t_sum > 0.0 && 1.5 * spacing < dz[at(above)] + t_sum) S = q_sum / t_sum;
}

double groundwater_step(model_state &s, double dt, double &soil_in) {
    double soil_out = 0.0;
    const double v = groundwater_step(s, dt, soil_in, soil_out);
    soil_in -= soil_out;
    return v;
}

double groundwater_step(model_state &s, double dt, double &soil_in, double &soil_out) {
    soil_in = soil_out = 0.0;
    if (!allocate_groundwater_work(s)) {
        raise_printed_error();
        return 0.0;
    }
    const int n = s.cell_count;
    if (!covers(s.gw_hycond, n) || !covers(s.right, n) || !covers(s.left, n) || !covers(s.up, n) || !covers(s.down, n) ||
        !covers(s.water_table_elevation, n) || !covers(s.aquifer_bottom, n) ||
        !covers(s.gw_boundary_code, n) || !covers(s.gw_porosity, n) || s.cell_number_grid.empty()) {
        std::printf("Error: the groundwater step needs the conductivity, cell sizes, neighbours, "
                    "heads, bottoms, porosity and boundary codes of every cell.\n");
        raise_printed_error();
        return 0.0;
    }
    const bool coupled = s.inf_richards != 0 && !s.richards_dz.empty() &&
                         covers(s.richards_cell_nodes, s.cell_count);
    if (s.gw_wells_from_table) apply_well_rates(s, s.now_days, s.cell_size);
    double v = gather_sinks(s, dt, coupled, soil_in, soil_out);

    double remaining = dt, dts = dt;
    while (remaining > 0.0) {
        int largest = 0;
        if (!substep_pass(s, coupled, dts, largest)) return 0.0;
        while (largest >= 3) {
            dts *= 0.5;
            if (!(dts > 1.0)) break;
            if (!substep_pass(s, coupled, dts, largest)) return 0.0;
        }
        if (remaining - dts < 0.0) dts = remaining;
        remaining -= dts;
        if (!picard_iteration(s, dts, coupled)) return 0.0;
        s.gw_boundary_flux_volume += boundary_flux(s, dts);
        book_extractions(s, dts);
        apply_floor(s, dts, remaining, v);
        store_head_changes(s);
        if (coupled) {
            for (int i = 1; i <= s.cell_count; ++i) {
                if (fixed_head(s.gw_boundary_code[at(i)])) continue;
                unsat_profile_cell(s, i);
                if (failed()) return 0.0;
                // The last sub-step's exchange waits for the next step's sink.
                double &depth = s.unsat_exchange_depth[at(i)];
                if (remaining > 0.0) {
                    const double q = depth / -100.0 / remaining;
                    const double moved = -q * remaining * s.cell_size * s.cell_size;
                    s.gw_net_sink[at(i)] += q;
                    v += moved;
                    add_soil_exchange(moved, soil_in, soil_out);
                    depth = 0.0;
                }
            }
        }
        if (!river_exchange(s, dts)) return 0.0;
    }
    return v;
}

void apply_well_rates(model_state &s, double now, double dx) {
    const double area = dx * dx;
    for (const well_record &w : s.placed_wells) {
        const double q = w.kind == 0 ? w.rate : time_series_value_by_id(w.series_id, now);
        s.gw_well_rate[static_cast<std::size_t>(w.id)] = q / area;
    }
}
