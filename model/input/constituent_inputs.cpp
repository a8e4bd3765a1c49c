// Overland contaminant inputs (step 18 of read_input_data), the sizing of the
// per-constituent tables and totals (also for the nutrients of step 23), and the
// conversion to the units of the transport steps that run_model makes after the
// initial conditions. The table layout is model_state::transport_tables.
#include <array>
#include <cstdio>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/index_maps.h"
#include "model/input/input_readers.h"
#include "model/input/input_services.h"
#include "model/core/model_state.h"
#include "model/core/run_options.h"

namespace {

// Every per-constituent total of the run state, in the order of construction.
template <class F>
void for_each_total(model_state &s, F &&f) {
    for (checked_array<double> *a :
         {&s.precip_conc,          &s.OV_MASS_INIT,         &s.OV_MASS_FINAL,
          &s.OV_MASS_ERROR,        &s.OV_LAND_MASS,         &s.OV_LAND_MASS_INIT,
          &s.OV_LAND_MASS_FINAL,   &s.event_ov_mass_init,   &s.event_ov_land_mass,
          &s.ov_out_dmt,           &s.ov_point_dmt,         &s.ov_decay_dmt,
          &s.ov_infil_dmt,         &s.ov_qlat_dmt,          &s.ov_uptake_dmt,
          &s.ov_precip_dmt,        &s.ov_exit_mass,         &s.GLOBAL_MASS_CON_ERROR,
          &s.GLOBAL_MASS_INIT,     &s.GLOBAL_MASS_FINAL,    &s.ov_from_lake_dmt})
        f(*a);
}

// Value of constituent k in cell i of a transport table.
double &table_cell(model_state &s, int table, int k, int i) {
    return table_value(k, s.transport_tables[static_cast<std::size_t>(table)])[i];
}

bool allocation_failed(const char *what) {
    print_allocation_failure(what);
    raise_printed_error();
    return false;
}

// CONTAMINANT_TRANSPORT tables: the six columns of constituent k go to the six
// coefficient tables, row k.
bool read_contaminant_table_values(model_state &s) {
    contaminant_tables tables;
    std::array<array_2d<double>, 6> columns;
    for (std::size_t j = 0; j < 6; ++j) tables.targets[j] = &columns[j];
    if (!read_contaminant_tables(s, s.mapping_table_name, tables)) return false;
    allocate_constituent_arrays(tables.count, s, s.cell_count, 0);
    if (error_record.fatal) return false;
    s.contaminant_descriptions = tables.descriptions;
    s.contaminant_output_files = tables.output_files;
    // Every contaminant of the table starts with OV_MASS_LOAD (kg) in the land
    // pool of each cell, which its release rate gives to the water.
    for (int k = 1; k <= tables.count; ++k) {
        s.constituent_type[k] = 1;
        for (int j = 0; j < 6; ++j)
            for (int i = 1; i <= s.cell_count; ++i)
                table_cell(s, transport_table::release_rate + j, k, i) =
                    columns[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)]
                           [static_cast<std::size_t>(i)];
        for (int i = 1; i <= s.cell_count; ++i)
            table_cell(s, transport_table::land_pool, k, i) = s.ov_mass_load;
    }
    // The first contaminant's named output file is the contaminant output file.
    if (tables.count >= 1 && !tables.output_files[1].empty())
        s.constituent_output_name = tables.output_files[1];
    return true;
}

}  // namespace

bool constituent_stream_cell(const model_state &s, int i) {
    const std::size_t c = static_cast<std::size_t>(i);
    if (s.non_ortho_channels)
        return !s.stream_cell_id.empty() && c <= s.stream_cell_id.last() && s.stream_cell_id[c] > 0;
    return !s.chan.cell_link.empty() && c <= s.chan.cell_link.last() && s.chan.cell_link[c] > 0;
}

void allocate_constituent_arrays(int count, model_state &s, int cell_count, int) {
    if (s.previous_depth.empty() && alloc_1d_double(s.previous_depth, cell_count) != 0) {
        allocation_failed("previous_depth");
        return;
    }
    if (count < 0) return;
    bool ok = true;
    for_each_total(s, [&](checked_array<double> &a) {
        const long long more = static_cast<long long>(count) - static_cast<long long>(a.count());
        if (ok && more > 0 && resize_double_array(a, more) != 0) ok = allocation_failed(a.name().c_str());
    });
    if (!ok) return;
    const long long more_types =
        static_cast<long long>(count) - static_cast<long long>(s.constituent_type.count());
    if (more_types > 0 && grow_int_array(s.constituent_type, more_types) != 0) {
        allocation_failed("constituent_type");
        return;
    }
    for (double_table &t : s.transport_tables) {
        const long long more = static_cast<long long>(count) - t.rows();
        if (more > 0 && resize_row_table(t, cell_count, more) != 0) {
            allocation_failed("transport table");
            return;
        }
    }
    if (s.constituent_mass.size() < static_cast<std::size_t>(count) + 1)
        s.constituent_mass.resize(static_cast<std::size_t>(count) + 1);
    if (count > s.constituent_count) s.constituent_count = count;
}

void read_contaminant_inputs(model_state &s) {
    if (!s.ov_con_trans_mode) return;
    if (s.mapping_table_on && s.table_present[10]) {
        s.constituent_sources_on = 1;
        echo_input(s, "reading contaminant transport table and map from master table file\n");
        read_contaminant_table_values(s);
        return;
    }
    echo_input(s, "using uniform contaminant transport values\n");
    // A mapping table without the contaminant table may be an oversight: the run
    // goes on with the project's uniform values, and says which.
    if (s.mapping_table_on) {
        char note[400];
        std::snprintf(note, sizeof note,
                      "Warning: mapping table file %s holds no CONTAMINANT_TRANSPORT table; "
                      "OV_CON_TRANS uses the uniform values OV_DECAY_COEF %g, OV_DISP_COEF %g, "
                      "OV_MASS_LOAD %g, OV_UPTAKE_RATE %g for one contaminant.",
                      s.mapping_table_name.c_str(), s.ov_decay_coef, s.ov_disp_coef,
                      s.ov_mass_load, s.ov_uptake_rate);
        if (parallel_layout.process_rank == 0) std::printf("%s\n", note);
        count_warning(note);
    }
    // Without the table no card gives a release rate: a land pool stays where it lies.
    if (s.ov_mass_load > 0.0) {
        char note[300];
        std::snprintf(note, sizeof note,
                      "Warning: OV_MASS_LOAD %g kg per cell fills the land pool, but without the "
                      "CONTAMINANT_TRANSPORT table no release rate gives it to the water; the pool "
                      "stays on the land.",
                      s.ov_mass_load);
        if (parallel_layout.process_rank == 0) std::printf("%s\n", note);
        count_warning(note);
    }
    // Without a table the project's cards give one contaminant.
    allocate_constituent_arrays(1, s, s.cell_count, 0);
    if (error_record.fatal) return;
    struct uniform_value {
        int table;
        double value;
    };
    const uniform_value values[4] = {{transport_table::decay_coef, s.ov_decay_coef},
                                     {transport_table::dispersion_coef, s.ov_disp_coef},
                                     {transport_table::land_pool, s.ov_mass_load},
                                     {transport_table::uptake_rate, s.ov_uptake_rate}};
    for (int k = 1; k <= s.constituent_count; ++k) {
        s.constituent_type[k] = 1;
        for (const uniform_value &u : values)
            for (int i = 1; i <= s.cell_count; ++i) table_cell(s, u.table, k, i) = u.value;
    }
}

void convert_constituent_units(model_state &s) {
    if (!s.ov_con_trans_mode) return;
    namespace tt = transport_table;
    const double area = s.cell_size * s.cell_size;
    const bool channels = channel_routing_on(s);
    for (int k = 1; k <= s.constituent_count; ++k) {
        s.OV_MASS_INIT[k] = 0.0;
        s.OV_LAND_MASS_INIT[k] = 0.0;
        const bool per_day = s.constituent_type[k] == 1;
        for (int i = 1; i <= s.cell_count; ++i) {
            if (per_day) {
                table_cell(s, tt::release_rate, k, i) /= 86400.0;
                table_cell(s, tt::decay_coef, k, i) /= 86400.0;
            }
            double &land = table_cell(s, tt::land_pool, k, i);
            land *= 1000.0;
            table_cell(s, tt::mass_bound, k, i) = 1.0e6;
            double &conc = table_cell(s, tt::concentration, k, i);
            double &mass = table_cell(s, tt::mass, k, i);
            const double h = s.depth.empty() ? 0.0 : s.depth[static_cast<std::size_t>(i)];
            if (h > 0.0) {
                mass = conc * h * area;
            } else {
                mass = 0.0;
                conc = 0.0;
            }
            if (channels && constituent_stream_cell(s, i)) {
                mass = 0.0;
                conc = 0.0;
            } else {
                s.OV_MASS_INIT[k] += mass / 1000.0;
            }
            s.OV_LAND_MASS_INIT[k] += land / 1000.0;
            s.GLOBAL_MASS_INIT[k] += (mass + land) / 1000.0;
        }
        s.event_ov_mass_init[k] = s.OV_MASS_INIT[k];
        s.event_ov_land_mass[k] = s.OV_LAND_MASS_INIT[k];
    }
}
