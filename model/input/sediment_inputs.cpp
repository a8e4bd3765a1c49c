// Overland sediment inputs (step 17 of read_input_data): the sediment record from
// the cards, the viscosity of water, the sediment output files, the class list of
// the SEDIMENTS table and the per-cell erosion parameters of SOIL_EROSION_PROPS.
#include "model/input/sediment_inputs.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "model/core/errors.h"
#include "model/core/line_reader.h"
#include "model/core/globals.h"
#include "model/core/file_opener.h"
#include "model/input/index_maps.h"
#include "model/input/input_readers.h"

namespace {

// Coefficients of the viscosity polynomial, constant term first.
constexpr double viscosity_coefficients[10] = {
    1.79767207e-06, -7.56150236e-08, 5.00205268e-09,  -3.24536727e-10, 9.2908104e-12,
    7.77253077e-14, -8.75866982e-15, 6.33534259e-17, 2.96083196e-18,  -4.19615673e-20};

// The sediment arrays are sized for at least four classes.
constexpr int min_class_columns = 4;

// Opens one sediment file into its slot; code 4 with its kind (or the card that
// should name it) when it fails.
bool open_sediment_file(owned_file &slot, const std::string &name, const char *mode,
                        const char *kind, const char *card) {
    slot.close();
    slot.file = open_run_file(name, mode);
    if (slot.file) return true;
    std::string bare = name;
    strip_quotes(bare);
    raise_open_error(kind, bare, card);
    return false;
}

bool make_cells(array_1d<double> &a, int n) { return alloc_1d_double(a, n) == 0; }

bool make_grid(array_2d<double> &a, int n, int columns, const char *label) {
    return alloc_2d_double(a, n, columns, label) == 0;
}

// Every array of the record, sized for N cells and `columns` classes.
bool allocate_sediment_arrays(model_state &s, int columns) {
    sediment_record &r = s.sediment;
    const project_params &p = s.project;
    const int n = s.cell_count;
    if (p.max_sed_flux.given && !make_grid(r.ov_qsmax, n, columns, "ov_qsmax")) return false;
    if (p.net_sed_volume.given && !make_grid(r.ov_qsvol, n, columns, "ov_qsvol")) return false;
    if (p.vol_sed_susp.given && !make_grid(r.ov_qsconc, n, columns, "ov_qsconc")) return false;
    for (array_1d<double> *a : {&r.splash_coeff, &r.detachment_coeff, &r.critical_shear,
                                &r.shear_exponent, &r.transport_coeff, &r.transport_exponent,
                                &r.critical_stream_power, &r.transport_factor})
        if (!make_cells(*a, n)) return false;
    if (!make_grid(r.mass, n, columns, "mass_sed") ||
        !make_grid(r.fraction, n, columns, "sed_fract") ||
        !make_grid(r.eroded, n, columns, "eroded") ||
        !make_grid(r.suspended, n, columns, "suspended") ||
        !make_grid(r.deposited, n, columns, "deposited") ||
        !make_grid(r.detachment_share, n, columns, "detachment_share"))
        return false;
    for (array_1d<double> *a : {&r.outlet_rate, &r.outlet_volume, &r.detached_volume,
                                &r.event_start_soil, &r.event_detached_mark})
        if (alloc_1d_double(*a, columns) != 0) return false;
    if (alloc_1d_double(r.outlet_sand_rate, columns) != 0 ||
        alloc_1d_double(r.outlet_wash_rate, columns) != 0)
        return false;
    return alloc_1d_double(r.total, columns) == 0 && alloc_1d_double(r.global_mass, columns) == 0 &&
           alloc_1d_double(r.global_volume, columns) == 0;
}

// Every cell starts with a layer of loose soil, split by the cell's class
// fractions, that splash and flow can lift.
void init_loose_soil(model_state &s) {
    sediment_record &r = s.sediment;
    const double layer = (1.0 - r.porosity) * sediment_record::initial_loose_depth * s.cell_size *
                         s.cell_size;
    for (int i = 1; i <= s.cell_count; ++i)
        for (int k = 1; k <= r.class_count; ++k) {
            const std::size_t c = static_cast<std::size_t>(i), j = static_cast<std::size_t>(k);
            r.deposited[c][j] = std::max(r.fraction[c][j], 0.0) * layer;
        }
}

// SOIL_EROSION_PROPS: eight per-cell columns, then one fraction per class, read in
// table order and placed in class-list order.
bool read_erosion_properties(model_state &s, int columns) {
    sediment_record &r = s.sediment;
    const std::array<array_1d<double> *, 8> targets = {
        &r.splash_coeff,    &r.detachment_coeff,   &r.critical_shear,        &r.shear_exponent,
        &r.transport_coeff, &r.transport_exponent, &r.critical_stream_power, &r.transport_factor};
    array_2d<double> by_table_row;
    if (!make_grid(by_table_row, s.cell_count, columns, "sed_fract")) return false;
    if (!read_soil_erosion_table(s, s.mapping_table_name, r.class_count, targets, &by_table_row)) {
        // A missing table has the sediment reader's own message; other failures
        // keep the message that names the file or the row.
        if (error_record.code == 66) raise_error(93);
        return false;
    }
    for (int k = 1; k <= r.class_count; ++k) {
        const std::size_t row = static_cast<std::size_t>(r.classes[static_cast<std::size_t>(k)].table_row);
        for (int i = 1; i <= s.cell_count; ++i)
            r.fraction[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] =
                by_table_row[static_cast<std::size_t>(i)][row];
    }
    return true;
}

}  // namespace

double water_viscosity_polynomial(double t) {
    double v = 0.0;
    for (int i = 9; i >= 0; --i) v = v * t + viscosity_coefficients[i];
    return v;
}

double usable_water_temperature(double celsius, const model_state &s) {
    if (celsius < viscosity_fit_low) return viscosity_fit_low;
    if (celsius > viscosity_fit_high) {
        echo_console(s,
                     "Warning: water temperature %.2lf C is above %.0lf C, the range of the "
                     "viscosity of water; %.0lf C is used.\n",
                     celsius, viscosity_fit_high, viscosity_fit_high);
        count_warning();
        return viscosity_fit_high;
    }
    return celsius;
}

void build_sediment_classes(const array_1d<double> &diameters,
                            const array_1d<double> &specific_gravities,
                            const std::vector<std::string> &output_names, int count,
                            double sand_size, sediment_record &r,
                            const std::vector<std::string> *class_names) {
    r.classes.assign(static_cast<std::size_t>(count) + 1, sediment_class{});
    r.class_count = count;
    r.wash_count = 0;
    r.sand_count = 0;
    std::size_t next = 1;
    // Two passes keep the table order within each group.
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 1; k <= count; ++k) {
            const std::size_t kk = static_cast<std::size_t>(k);
            const bool wash = diameters[kk] < sand_size;
            if (wash != (pass == 0)) continue;
            sediment_class &c = r.classes[next++];
            c.diameter = diameters[kk];
            c.specific_gravity = specific_gravities[kk];
            c.table_row = k;
            c.output_name = kk < output_names.size() ? output_names[kk] : std::string();
            c.name = class_names && kk < class_names->size() ? (*class_names)[kk] : std::string();
            ++(wash ? r.wash_count : r.sand_count);
        }
    }
}

void open_sediment_outputs(model_state &s) {
    if (!s.erosion.soil_erosion) return;
    const project_params &p = s.project;
    sediment_record &r = s.sediment;
    if (p.vol_sed_susp.given &&
        !open_sediment_file(r.suspended_file, p.vol_sed_susp.name, "w", "output suspended sediment", "VOL_SED_SUSP"))
        return;
    if (p.max_sed_flux.given &&
        !open_sediment_file(r.flux_file, p.max_sed_flux.name, "w", "output sediment flux", "MAX_SED_FLUX"))
        return;
    if (p.net_sed_volume.given &&
        !open_sediment_file(r.net_volume_file, p.net_sed_volume.name, "w", "net sediment volume", "NET_SED_VOLUME"))
        return;
    if (!open_sediment_file(r.outlet_file, p.outlet_sed_flux.name, "w",
                            "outlet sediment hydrograph", "OUTLET_SED_FLUX"))
        return;
    if (!s.chan_sediment_on || !p.in_sed_loc.given) return;
    if (!open_sediment_file(r.location_in_file, p.in_sed_loc.name, "r",
                            "input sed. hydrograph locations", "IN_SED_LOC") ||
        !open_sediment_file(r.location_out_file, p.out_sed_loc.name, "w",
                            "output sed. hydrograph locations", "OUT_SED_LOC"))
        return;
    // The channel set-up reads the list and echoes it; the record keeps the files.
    s.chan.sed_location_file = r.location_in_file.file;
    s.chan.sed_location_out_file = r.location_out_file.file;
}

void read_sediment_inputs(model_state &s) {
    if (!s.erosion.soil_erosion) return;
    const project_params &p = s.project;
    sediment_record &r = s.sediment;

    const int option = p.soil_erosion_value;
    r.transport_form = option >= 10 ? 2 : 1;
    r.transport_option = option >= 10 ? option - 10 : option;

    erosion_record &e = s.erosion;
    e.settings[0] = p.vol_sed_susp.given;
    e.settings[1] = p.max_sed_flux.given;
    e.settings[2] = p.net_sed_volume.given;
    const name_card *const files[6] = {&p.vol_sed_susp,    &p.max_sed_flux, &p.net_sed_volume,
                                       &p.outlet_sed_flux, &p.in_sed_loc,   &p.out_sed_loc};
    for (std::size_t k = 0; k < 6; ++k) e.files[k] = files[k]->name;
    r.sand_size = p.sand_size;
    r.silt_size = p.silt_size;
    r.clay_size = p.clay_size;
    r.porosity = p.sed_porosity;
    r.water_temp = usable_water_temperature(p.water_temp, s);
    r.viscosity = water_viscosity_polynomial(r.water_temp);

    open_sediment_outputs(s);
    if (error_record.fatal) return;

    echo_input(s, "Reading sediments table from mapping table file\n");
    if (!s.mapping_table_on || !s.table_present[8]) {
        raise_error(92, {}, s.mapping_table_on ? s.mapping_table_name : std::string());
        report_error();
        return;
    }
    array_1d<double> diameters, gravities;
    std::vector<std::string> names, class_names;
    int count = 0;
    if (!read_sediment_tables(s.mapping_table_name, diameters, gravities, count, names, &class_names)) return;
    build_sediment_classes(diameters, gravities, names, count, r.sand_size, r, &class_names);
    // The classes as read, in table order.
    for (int k = 1; k <= count; ++k)
        for (int c = 1; c <= r.class_count; ++c) {
            const sediment_class &sc = r.classes[static_cast<std::size_t>(c)];
            if (sc.table_row != k) continue;
            echo_input(s, "  sediment class %d: %s, diameter %g mm, specific gravity %g, %s\n", k,
                       sc.name.c_str(), sc.diameter, sc.specific_gravity,
                       c <= r.wash_count ? "wash load (below SAND_SIZE)" : "sand");
        }
    e.size_class_count = count;
    const int columns = std::max(count, min_class_columns);
    e.settings[4] = columns;
    if (!allocate_sediment_arrays(s, columns)) {
        raise_printed_error();
        return;
    }

    echo_input(s, "Reading soil erosion properties table from mapping table file\n");
    if (read_erosion_properties(s, columns)) init_loose_soil(s);
}

void allocate_channel_cell_arrays(model_state &s) {
    if (!s.erosion.soil_erosion || !s.chan_sediment_on) return;
    // The per-cell slots of the erodible trapezoid nodes, written by the channel step.
    if (alloc_1d_double(s.sediment.channel_bed_change, s.cell_count) != 0 ||
        alloc_1d_double(s.sediment.channel_wash_load, s.cell_count) != 0)
        raise_printed_error();
}
