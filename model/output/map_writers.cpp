// Grid maps of the run: the ASCII grid and DRELM writers, the per-time map files
// and data-set steps written by write_maps at every map interval of the time loop,
// and the grid data sets opened after the inputs are read.
#include "model/output/map_writers.h"

#include <cmath>
#include <cstdio>

#include "model/output/dataset_writer.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"
#include "model/output/output_writers.h"

namespace {

// Channel link and node held by cell c, or false when it holds none.
bool channel_node_of_cell(const model_state &s, int c, int &link, int &node) {
    const channel_work &w = s.chan;
    const std::size_t i = static_cast<std::size_t>(c);
    if (w.cell_link.empty() || w.cell_node.empty() || i > w.cell_link.last() ||
        i > w.cell_node.last())
        return false;
    link = w.cell_link[i];
    node = w.cell_node[i];
    return link > 0 && node > 0 && link <= s.channels.link_count;
}

std::vector<double> copy_cells(const model_state &s, const array_1d<double> &a) {
    std::vector<double> v(static_cast<std::size_t>(s.cell_count > 0 ? s.cell_count : 0) + 1, 0.0);
    const std::span<const double> src = cell_span(a);
    for (int c = 1; c <= s.cell_count; ++c) v[static_cast<std::size_t>(c)] = cell_value(src, c);
    return v;
}

bool map_step_due(const model_state &s) {
    if (parallel_layout.suppress_output) return false;
    // An interval below one step (a map interval shorter than the time step)
    // writes at every step. The last turn of a run writes the state of its end
    // when the interval does not fall there.
    const int interval = s.map_interval_steps > 0 ? s.map_interval_steps : 1;
    return s.step_number >= 1 && ((s.step_number - 1) % interval == 0 || !s.keep_running);
}

// One per-time map file; false after a failure to open (reported, code 4000).
bool write_per_time_map(model_state &s, const char *directory, const char *stem,
                        const char *what, std::span<const double> values) {
    const std::string name = per_time_map_name(directory, stem, s.map_file_counter);
    if (!s.quiet) std::printf("opening file %s\n", name.c_str());
    // A name inside a directory carries the run prefix already; the others take it
    // from the file opener.
    std::FILE *f = directory ? open_output_file(name, "w") : open_run_file(name, "w");
    if (!f) {
        std::printf("Can't open %s map for writing: %s\n", what, name.c_str());
        raise_printed_error();
        return false;
    }
    write_ascii_grid_map(f, s.grid_rows, s.grid_cols, s.cell_number_grid, values, s.grid_north,
                         s.grid_south, s.grid_east, s.grid_west, s.cell_size);
    return close_run_file(f);
}

bool groundwater_output_on(const model_state &s) {
    return s.project.gw_output.given && s.groundwater_on;
}

bool contaminants_on(const model_state &s) { return s.ov_con_trans_mode != 0; }

bool contaminant_map_on(const model_state &s) { return s.ov_con_map_on && contaminants_on(s); }

// The contaminant concentration map: the first contaminant's concentration in each
// cell's water (mass per m3 of water) as the overland transport holds it; 0 where
// the table holds no such row or cell.
std::vector<double> contaminant_map_values(const model_state &s) {
    std::vector<double> v(static_cast<std::size_t>(s.cell_count > 0 ? s.cell_count : 0) + 1, 0.0);
    const double_table &table = s.transport_tables[transport_table::concentration];
    const double *conc = table_value(1, table);
    if (!conc) return v;
    const int cells = s.cell_count < table.columns() ? s.cell_count : table.columns();
    for (int c = 1; c <= cells; ++c) v[static_cast<std::size_t>(c)] = conc[c];
    return v;
}

// The sediment grid outputs: data-set slot, card, the sediment record's stream of
// the card (opened with the sediment inputs) and the per-cell array whose column 0
// holds the cell's total over the classes.
struct sediment_grid {
    int slot;
    name_card project_params::*card;
    owned_file sediment_record::*stream;
    array_2d<double> sediment_record::*values;
};
constexpr sediment_grid sediment_grids[] = {
    {grid_out_sediment_flux, &project_params::max_sed_flux, &sediment_record::flux_file,
     &sediment_record::ov_qsmax},
    {grid_out_sediment_volume, &project_params::net_sed_volume, &sediment_record::net_volume_file,
     &sediment_record::ov_qsvol},
    {grid_out_suspended_sediment, &project_params::vol_sed_susp, &sediment_record::suspended_file,
     &sediment_record::ov_qsconc},
};

const sediment_grid *sediment_grid_of_slot(int k) {
    for (const sediment_grid &g : sediment_grids)
        if (g.slot == k) return &g;
    return nullptr;
}

bool sediment_grid_on(const model_state &s, const sediment_grid &g) {
    return s.erosion.soil_erosion != 0 && (s.project.*g.card).given != 0;
}

// Column 0 of a [cell][class] sediment array for every cell; 0 where it has no row.
std::vector<double> sediment_cell_totals(const model_state &s, const array_2d<double> &a) {
    std::vector<double> v(static_cast<std::size_t>(s.cell_count > 0 ? s.cell_count : 0) + 1, 0.0);
    if (a.empty()) return v;
    for (int c = 1; c <= s.cell_count && static_cast<std::size_t>(c) <= a.rows(); ++c)
        v[static_cast<std::size_t>(c)] = a[static_cast<std::size_t>(c)][0];
    return v;
}

// One ASCII grid appended to an output stream that stays open for the run.
void append_grid(const model_state &s, std::FILE *f, std::span<const double> values) {
    write_ascii_grid_map(f, s.grid_rows, s.grid_cols, s.cell_number_grid, values, s.grid_north,
                         s.grid_south, s.grid_east, s.grid_west, s.cell_size);
    std::fflush(f);
}

void write_per_time_maps(model_state &s) {
    ++s.map_file_counter;
    if (s.depth_out) {
        const std::vector<double> v = depth_map_with_channels(s);
        if (!write_per_time_map(s, "depth", "depth", "depth", v)) return;
    }
    if (s.discharge_out) {
        const std::vector<double> v = discharge_map_values(s);
        if (!write_per_time_map(s, nullptr, "discharge", "discharge", v)) return;
    }
    if (s.dis_rain_out &&
        !write_per_time_map(s, nullptr, "rain", "rainfall", cell_span(s.step_rain_rate)))
        return;
    if (s.inf_depth_out && !write_per_time_map(s, nullptr, "infdep", "Cum. infilt. depth",
                                               cell_span(s.cumulative_infiltration)))
        return;
    if (s.rate_of_infil_on && !write_per_time_map(s, nullptr, "infrate", "infiltration rate",
                                                  cell_span(s.infiltration_rate)))
        return;
    if (s.surf_moist_out && !write_per_time_map(s, nullptr, "surf", "surface moisture content",
                                                cell_span(s.surface_moisture)))
        return;
    std::FILE *gw = s.dataset_files[grid_out_groundwater_head].file;
    if (groundwater_output_on(s) && gw) append_grid(s, gw, cell_span(s.water_table_elevation));
    // The sediment outputs are streams of grids under their cards' names, one grid
    // per map step, as the groundwater output.
    for (const sediment_grid &g : sediment_grids) {
        std::FILE *f = (s.sediment.*g.stream).file;
        if (sediment_grid_on(s, g) && f)
            append_grid(s, f, sediment_cell_totals(s, s.sediment.*g.values));
    }
    if (contaminant_map_on(s)) write_per_time_map(s, nullptr, "conc", "conc", contaminant_map_values(s));
}

void dataset_step(model_state &s, int slot, std::span<const double> values) {
    std::FILE *f = s.dataset_files[static_cast<std::size_t>(slot)].file;
    if (!f) return;
    write_dataset_step(f, s.grid_rows, s.grid_cols, s.cell_number_grid, values, s.binary_datasets,
                       s.elapsed_minutes);
}

void write_dataset_steps(model_state &s) {
    if (s.depth_out) dataset_step(s, grid_out_depth, depth_map_with_channels(s));
    if (s.discharge_out) dataset_step(s, grid_out_discharge, discharge_map_values(s));
    if (groundwater_output_on(s))
        dataset_step(s, grid_out_groundwater_head, cell_span(s.water_table_elevation));
    if (s.dis_rain_out) dataset_step(s, grid_out_rain, cell_span(s.step_rain_rate));
    if (s.inf_depth_out)
        dataset_step(s, grid_out_infiltrated_depth, cell_span(s.cumulative_infiltration));
    if (s.rate_of_infil_on)
        dataset_step(s, grid_out_infiltration_rate, cell_span(s.infiltration_rate));
    if (s.surf_moist_out) dataset_step(s, grid_out_surface_moisture, cell_span(s.surface_moisture));
    for (const sediment_grid &g : sediment_grids)
        if (sediment_grid_on(s, g))
            dataset_step(s, g.slot, sediment_cell_totals(s, s.sediment.*g.values));
    if (contaminant_map_on(s)) dataset_step(s, grid_out_contaminant, contaminant_map_values(s));
}

// Card name of grid output k, and whether the output is switched on.
bool grid_output_card(const model_state &s, int k, std::string &name) {
    const project_params &p = s.project;
    switch (k) {
    case grid_out_depth: name = p.depth.name; return s.depth_out != 0;
    case grid_out_discharge: name = p.discharge.name; return s.discharge_out != 0;
    case grid_out_rain: name = p.dis_rain.name; return s.dis_rain_out != 0;
    case grid_out_infiltrated_depth: name = p.inf_depth.name; return s.inf_depth_out != 0;
    case grid_out_infiltration_rate: name = p.rate_of_infil.name; return s.rate_of_infil_on != 0;
    case grid_out_surface_moisture: name = p.surf_moist.name; return s.surf_moist_out != 0;
    case grid_out_groundwater_head: name = s.gw_output_name; return groundwater_output_on(s);
    case grid_out_contaminant: name = p.ov_con_map.name; return contaminant_map_on(s);
    case grid_out_flood_grid: name = s.flood_grid_name; return s.flood_grid_on != 0;
    default: break;
    }
    if (const sediment_grid *g = sediment_grid_of_slot(k)) {
        name = (p.*g->card).name;
        return sediment_grid_on(s, *g);
    }
    name.clear();
    return false;
}

}  // namespace

void write_ascii_grid_map(std::FILE *f, int rows, int cols, const array_2d<int> &cells,
                          std::span<const double> values, double north, double south,
                          double east, double west, double cell_size) {
    const double half = 0.5 * cell_size;
    std::fprintf(f, "ncols \t%d\n", cols);
    std::fprintf(f, "nrows \t%d\n", rows);
    std::fprintf(f, "xllcenter %9.2lf\n", std::fmin(east, west) + half);
    std::fprintf(f, "yllcenter %9.2lf\n", std::fmin(north, south) + half);
    std::fprintf(f, "cellsize %9.2lf\n", cell_size);
    std::fprintf(f, "NODATA_value -9999.99\n");
    for (int i = 1; i <= rows; ++i) {
        for (int j = 1; j <= cols; ++j) {
            const int c = cell_at(cells, i, j);
            std::fprintf(f, "%6.2lf ", c > 0 ? cell_value(values, c) : -9999.99);
        }
        std::fprintf(f, "\n");
    }
}

void write_grid_map(std::FILE *f, int rows, int cols, double north, double south, double east,
                    double west, const array_2d<int> &cells, std::span<const double> values,
                    double cell_size) {
    write_ascii_grid_map(f, rows, cols, cells, values, north, south, east, west, cell_size);
}

void write_drelm_header(std::FILE *f, int rows, int cols, double north, double south,
                        double east, double west) {
    std::fprintf(f, "north: %9.2lf\n", north);
    std::fprintf(f, "south: %9.2lf\n", south);
    std::fprintf(f, "east: %9.2lf\n", east);
    std::fprintf(f, "west: %9.2lf\n", west);
    std::fprintf(f, "rows: %5d\n", rows);
    std::fprintf(f, "cols: %5d\n", cols);
}

void write_drelm_map(std::FILE *f, int rows, int cols, double north, double south, double east,
                     double west, const array_2d<int> &cells, std::span<const double> values,
                     bool exact_values) {
    write_drelm_header(f, rows, cols, north, south, east, west);
    for (int i = 1; i <= rows; ++i) {
        for (int j = 1; j <= cols; ++j) {
            const int c = cell_at(cells, i, j);
            const double v = c > 0 ? cell_value(values, c) : 0.0;
            if (exact_values)
                std::fprintf(f, "%.17g ", v);
            else
                std::fprintf(f, "%lf ", v);
        }
        std::fprintf(f, "\n");
    }
}

std::vector<double> depth_map_with_channels(const model_state &s) {
    std::vector<double> v = copy_cells(s, s.depth);
    if (!s.include_channel_depth) return v;
    for (int c = 1; c <= s.cell_count; ++c) {
        int link = 0, node = 0;
        double yp = 0.0, bel = 0.0;
        if (channel_node_of_cell(s, c, link, node) && node_value(s.channels.yp, node, link, yp) &&
            node_value(s.channels.bel, node, link, bel))
            v[static_cast<std::size_t>(c)] = yp - bel;
    }
    return v;
}

std::vector<double> discharge_map_values(const model_state &s) {
    std::vector<double> v(static_cast<std::size_t>(s.cell_count > 0 ? s.cell_count : 0) + 1, 0.0);
    const std::span<const double> qx = cell_span(s.discharge_x), qy = cell_span(s.discharge_y);
    for (int c = 1; c <= s.cell_count; ++c) {
        // The face discharges are held in m3/s, so the magnitude is in m3/s too.
        const double x = cell_value(qx, c), y = cell_value(qy, c);
        v[static_cast<std::size_t>(c)] = std::sqrt(x * x + y * y);
    }
    if (!s.chan_explicit) return v;
    for (int c = 1; c <= s.cell_count; ++c) {
        int link = 0, node = 0;
        double q = 0.0;
        if (channel_node_of_cell(s, c, link, node) && node_value(s.channels.qp, node, link, q))
            v[static_cast<std::size_t>(c)] = q;
    }
    return v;
}

double water_concentration(double mass, double depth, double cell_size) {
    if (!(depth > 1e-9) || !(cell_size > 0.0)) return 0.0;
    return mass / (depth * cell_size * cell_size);
}

void gather_constituent_values(int kind, std::span<const double> first,
                               std::span<const double> second, std::span<const double> third,
                               std::span<const double> depth, double cell_size, int cell_count,
                               std::vector<double> &out) {
    out.assign(static_cast<std::size_t>(cell_count > 0 ? cell_count : 0) + 1, 0.0);
    for (int c = 1; c <= cell_count; ++c) {
        double v = 0.0;
        switch (kind) {
        case 1: v = cell_value(third, c); break;
        case 2: v = cell_value(second, c); break;
        case 3: v = cell_value(first, c); break;
        case 4: v = water_concentration(cell_value(third, c), cell_value(depth, c), cell_size); break;
        default: break;
        }
        out[static_cast<std::size_t>(c)] = v;
    }
}

void write_concentration_datasets(model_state &s) {
    if (!s.nutrients_on) return;
    const nutrient_card_record *cards = s.project.nutrient_cards.get();
    if (!cards) return;
    // The three data sets of a species, in slot order, and the kind of each.
    constexpr int slot_kinds[3] = {2, 1, 4};  // dmdt, mass, concentration
    std::vector<double> values;
    for (int k = 0; k < nutrient_species_count; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        if (!cards->overland_output[i].on) continue;
        const species_set &set = s.nutrient.species[i];
        for (int e = 0; e < 3; ++e) {
            gather_constituent_values(slot_kinds[e], cell_span(set.conc), cell_span(set.dmdt),
                                      cell_span(set.mass), cell_span(s.depth), s.cell_size,
                                      s.cell_count, values);
            dataset_step(s, overland_nutrient_dataset_base + 3 * k + e, values);
        }
    }
}

std::string per_time_map_name(const char *directory, const char *stem, int counter) {
    char number[16];
    std::snprintf(number, sizeof number, "%2.2d", counter);
    const std::string file = std::string(stem) + "." + number;
    if (!directory) return file;
    return std::string(directory) + "/" + run_file_name(file, "w");
}

void open_dataset_slot(model_state &s, int slot, const std::string &card_name) {
    if (slot < 0 || slot >= dataset_output_count) return;
    std::string name = card_name;
    owned_file &f = s.dataset_files[static_cast<std::size_t>(slot)];
    f.close();
    f.file = open_run_file(name, s.binary_datasets ? "wb" : "w");
    if (!f.file) {
        raise_error(59, {}, name);
        return;
    }
    open_dataset_file(f.file, s.binary_datasets, dataset_object_id(slot), s.grid_rows,
                      s.grid_cols, dataset_output_name(slot));
}

void open_grid_output_file(model_state &s, int k) {
    std::string name;
    if (!grid_output_card(s, k, name)) return;
    if (k == grid_out_groundwater_head && !s.datasets_on) {
        // Per-time map mode: the groundwater output stream takes one ASCII grid at
        // every map step.
        owned_file &f = s.dataset_files[grid_out_groundwater_head];
        f.close();
        f.file = open_run_file(name, "w");
        if (!f.file) raise_error(59, {}, name);
        return;
    }
    // The sediment inputs opened the card's file as a plain stream; the data set
    // takes the file over.
    if (const sediment_grid *g = sediment_grid_of_slot(k)) (s.sediment.*g->stream).close();
    open_dataset_slot(s, k, name);
}

void write_maps(model_state &s) {
    if (!map_step_due(s)) return;
    if (s.grid_map_files_on) {
        write_per_time_maps(s);
        return;
    }
    if (!s.datasets_on) return;
    write_dataset_steps(s);
    if (error_record.fatal) return;
    write_concentration_datasets(s);
}
