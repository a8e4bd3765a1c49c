// Nutrient constituent parameters on the overland cells (step 23 of
// read_input_data) and on the channel nodes (the channel set-up): the nutrient
// tables first, then every parameter by its input mode, uniform value, table or
// continuous map.
#include "model/input/constituent_params.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "model/input/input_readers.h"
#include "model/input/input_services.h"
#include "model/input/mapping_tables.h"
#include "model/input/stream_tables.h"
#include "model/core/model_state.h"

namespace {

// One nutrient table: its kind and presence slot in each mapping-table file and
// the parameter slots it fills, first .. first + count - 1. In reading order.
struct nutrient_table {
    int grid_card, grid_slot;
    int stream_kind, stream_slot;
    int first, count;
};
constexpr nutrient_table nutrient_tables[5] = {
    {card_qvl_n, 16, stream_card_qvl_n, 1, 0, 4},
    {card_qvl_p, 17, stream_card_qvl_p, 2, 4, 3},
    {card_qvl_c, 19, stream_card_qvl_c, 4, 10, 2},
    {card_qvl_oth, 18, stream_card_qvl_oth, 3, 7, 3},
    {card_dispersion, 20, stream_card_sixth, 5, 12, 1},
};

const nutrient_table *table_of_slot(int p) {
    for (const nutrient_table &t : nutrient_tables)
        if (p >= t.first && p < t.first + t.count) return &t;
    return nullptr;
}

bool grid_table_present(const model_state &s, const nutrient_table &t) {
    return s.mapping_table_on && s.table_present[static_cast<std::size_t>(t.grid_slot)] != 0;
}

bool stream_table_present(const model_state &s, const nutrient_table &t) {
    return s.st_mapping_table_on &&
           s.stream_table_present[static_cast<std::size_t>(t.stream_slot)] != 0;
}

bool failed() { return error_record.fatal != 0 || error_record.code != 0; }

void refuse_mode(const char *name, int mode) {
    std::printf("Error: the %s constituent has no input mode (%d): its initial-value card "
                "must give a value, a map file, or nothing for the mapping table\n",
                name, mode);
    raise_printed_error();
}

// The continuous map of a parameter, opened for reading with its summary lines;
// null after code 80. `where` is "grid" or "stream".
std::FILE *open_constituent_map(const model_state &s, const std::string &file, const char *where,
                                const char *name) {
    echo_file(s.summary_file, "Opening file: %s\n", file.c_str());
    std::FILE *map = open_run_file(file, "r");
    if (!map) {
        echo_file(s.summary_file,
                  "Error opening initial condition continuous map file \nfor the %s %s "
                  "constituent. \nGiven filename: %s\n",
                  where, name, file.c_str());
        raise_error(80, {}, file);
        return nullptr;
    }
    echo_file(s.summary_file, "Assigning parameters from a continuous map for the constituent %s\n",
              name);
    return map;
}

// Overland per-cell array of parameter slot p.
array_1d<double> &grid_target(nutrient_record &r, int p) {
    if (p < nutrient_species_count) return r.species[static_cast<std::size_t>(p)].conc;
    if (p == nutrient_doc_slot) return r.doc;
    if (p == nutrient_foc_slot) return r.doc_foc;
    return r.dispersion;
}

// One overland parameter by its mode.
void assign_grid_param(model_state &s, int p, const nutrient_source &src) {
    const char *name = qvl_species_name(p);
    array_1d<double> &target = grid_target(s.nutrient, p);
    switch (src.kind) {
    case constituent_uniform:
        echo_file(s.summary_file, "Assigning spatially uniform parameters for the %s constituent\n",
                  name);
        for (int c = 1; c <= s.cell_count; ++c) target[static_cast<std::size_t>(c)] = src.value;
        return;
    case constituent_from_table: {
        const nutrient_table *t = table_of_slot(p);
        if (t && grid_table_present(s, *t)) {
            echo_console(s, "Assigning parameters for the %s constituent from the mapping table.\n",
                         name);
            return;
        }
        raise_error(119, name);
        return;
    }
    case constituent_from_map: {
        std::FILE *map = open_constituent_map(s, src.file, "grid", name);
        if (!map) return;
        array_1d<double> unused_d;
        array_1d<int> unused_i;
        read_grid_map(map, src.file, grid_map_cells_double, &s.grid_north, &s.grid_south,
                      &s.grid_east, &s.grid_west, &s.header_rows, &s.header_cols,
                      s.cell_number_grid, target, unused_d, unused_i, s.grid_rows, s.grid_cols);
        std::fclose(map);
        return;
    }
    default:
        refuse_mode(name, src.kind);
    }
}

// Channel parameter slot p of the run: its card and its [link][node] target.
array_2d<double> &stream_target(nutrient_record &r,
                                std::array<array_2d<double>, nutrient_species_count> &initial,
                                int p) {
    if (p < nutrient_species_count) return initial[static_cast<std::size_t>(p)];
    if (p == nutrient_doc_slot) return r.stream.doc;
    if (p == nutrient_foc_slot) return r.stream.doc_foc;
    return r.stream.dispersion;
}

}  // namespace

void assign_grid_constituent_params(model_state &s) {
    const nutrient_card_record *cards = s.project.nutrient_cards.get();
    if (!cards) return;
    nutrient_record &r = s.nutrient;
    for (const nutrient_table &t : nutrient_tables) {
        if (!grid_table_present(s, t)) continue;
        std::array<array_1d<double> *, 6> targets{};
        for (int j = 0; j < t.count; ++j)
            targets[static_cast<std::size_t>(j)] = &grid_target(r, t.first + j);
        if (read_index_map_table(s, s.mapping_table_name, t.grid_card, targets) != 1 || failed())
            return;
    }
    for (int p = 0; p < overland_nutrient_slots; ++p) {
        assign_grid_param(s, p, cards->overland_init[static_cast<std::size_t>(p)]);
        if (failed()) return;
    }
}

void assign_stream_constituent_params(const model_state &s, int mode, const char *name,
                                      double uniform_value, const std::string &map_file,
                                      int link_count, const array_1d<int> &node_count,
                                      array_2d<double> &target, int table_present) {
    switch (mode) {
    case constituent_uniform:
        echo_file(s.summary_file, "Assigning spatially uniform parameters for the %s constituent\n",
                  name);
        for (int l = 1; l <= link_count; ++l) {
            const int nodes = std::min(int_at(node_count, l), static_cast<int>(target.cols()));
            for (int n = 1; n <= nodes; ++n)
                target[static_cast<std::size_t>(l)][static_cast<std::size_t>(n)] = uniform_value;
        }
        return;
    case constituent_from_table:
        if (table_present) {
            echo_console(s, "Assigning parameters for the %s constituent from the mapping table.\n",
                         name);
            return;
        }
        raise_error(120, name);
        return;
    case constituent_from_map: {
        std::FILE *map = open_constituent_map(s, map_file, "stream", name);
        if (!map) return;
        const int result = read_stream_map(map, link_count, static_cast<int>(target.cols()),
                                           node_count, {nullptr, &target});
        std::fclose(map);
        if (result != stream_map_ok) stream_map_error(result, map_file);
        return;
    }
    default:
        refuse_mode(name, mode);
    }
}

void setup_stream_constituents(model_state &s) {
    const nutrient_card_record *cards = s.project.nutrient_cards.get();
    if (!cards) return;
    nutrient_record &r = s.nutrient;
    channel_network &net = s.channels;
    const int links = net.link_count, max_nodes = net.max_node_count;
    std::array<array_2d<double>, nutrient_species_count> initial;
    for (array_2d<double> &a : initial)
        if (alloc_2d_double(a, links, max_nodes, "stream initial values") != 0) {
            raise_printed_error();
            return;
        }
    for (const nutrient_table &t : nutrient_tables) {
        if (!stream_table_present(s, t)) continue;
        std::array<array_2d<double> *, 4> targets{};
        for (int j = 0; j < t.count; ++j)
            targets[static_cast<std::size_t>(j)] = &stream_target(r, initial, t.first + j);
        if (read_stream_index_map_tables(s.st_mapping_table_name, t.stream_kind, targets, links,
                                         max_nodes, net.node_count) != 1 ||
            failed())
            return;
    }
    for (int p = 0; p < overland_nutrient_slots; ++p) {
        // DOC, FOC and dispersion have no stream cards of their own.
        const nutrient_source &src = p < nutrient_species_count
                                         ? cards->stream_init[static_cast<std::size_t>(p)]
                                         : cards->overland_init[static_cast<std::size_t>(p)];
        const nutrient_table *t = table_of_slot(p);
        assign_stream_constituent_params(s, src.kind, qvl_species_name(p), src.value, src.file,
                                         links, net.node_count, stream_target(r, initial, p),
                                         t && stream_table_present(s, *t) ? 1 : 0);
        if (failed()) return;
    }
    for (int k = 0; k < nutrient_species_count; ++k) {
        const std::size_t sp = static_cast<std::size_t>(k) + 1;
        for (int l = 1; l <= links; ++l)
            for (int n = 1; n <= max_nodes; ++n)
                r.stream.conc[sp][static_cast<std::size_t>(l)][static_cast<std::size_t>(n)] =
                    initial[static_cast<std::size_t>(k)][static_cast<std::size_t>(l)]
                           [static_cast<std::size_t>(n)];
    }
}
