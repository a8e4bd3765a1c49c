// The aquatic environment file of the nutrient module (step 23 of read_input_data):
// map names, NUM_IDS, the 50-value parameter record of every id and the overland
// environment map; the overland species sets; the stream species arrays of the
// channel set-up; and the display names of the species.
#include "model/input/aquatic_env.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/grid_map.h"
#include "model/input/input_readers.h"
#include "model/input/input_services.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"

namespace {

constexpr int block_lines = 10;
constexpr int line_values[block_lines] = {7, 7, 4, 4, 4, 4, 6, 6, 4, 4};
// First record position of the pair lines 1-2, 3-4, 5-6 and 7-8, and of lines 9 and 10.
constexpr int group_start[6] = {0, 14, 22, 30, 42, 46};

bool begins_with(const std::string &line, std::string_view word) {
    return line.compare(0, word.size(), word) == 0;
}

// The token after the line's first word (the keyword), quotes removed.
std::string word_after_keyword(const std::string &line) {
    std::string rest = line, keyword, value;
    next_token(keyword, rest);
    next_token(value, rest);
    return value;
}

// A whole token that reads as a finite number.
bool parse_value(const std::string &token, double &value) {
    if (token.empty()) return false;
    char *end = nullptr;
    value = std::strtod(token.c_str(), &end);
    return end == token.c_str() + token.size() && std::isfinite(value);
}

bool parse_id(const std::string &token, int &value) {
    if (token.empty()) return false;
    char *end = nullptr;
    const long v = std::strtol(token.c_str(), &end, 10);
    if (end != token.c_str() + token.size() || v < -2147483647L || v > 2147483647L) return false;
    value = static_cast<int>(v);
    return true;
}

// Steps 4 and 5: the map names and NUM_IDS, each from a rewound file.
void read_map_names(std::FILE *file, aquatic_env_params &env) {
    std::rewind(file);
    bool ov_seen = false, st_seen = false;
    std::string line;
    while (!(ov_seen && st_seen) && read_line(line, file)) {
        if (!ov_seen && begins_with(line, "OV_MAP")) {
            env.ov_map_name = word_after_keyword(line);
            ov_seen = true;
        } else if (!st_seen && begins_with(line, "ST_MAP")) {
            env.st_map_name = word_after_keyword(line);
            st_seen = true;
        }
    }
}

// Leaves the file after the NUM_IDS line (at its end when there is none); false
// after a count that does not read as a non-negative integer.
bool read_id_count(std::FILE *file, const std::string &name, model_state &s) {
    std::rewind(file);
    std::string line;
    while (read_line(line, file)) {
        if (!begins_with(line, "NUM_IDS")) continue;
        int n = 0;
        if (!parse_id(word_after_keyword(line), n) || n < 0) {
            echo_file(s.nutrient_summary_file,
                      "Error: NUM_IDS in the aquatic environment file %s is not a "
                      "count of ids.\n",
                      name.c_str());
            raise_printed_error();
            return false;
        }
        // Every id is given by an ID line or used by a cell of the OV_MAP grid, so no
        // more can be needed; a larger count would size the records from one number.
        const long at = std::ftell(file);
        int id_lines = 0;
        while (read_line(line, file)) id_lines += begins_with(line, "ID") ? 1 : 0;
        if (at < 0 || std::fseek(file, at, SEEK_SET) != 0) id_lines = 0;
        if (n > std::max(id_lines, s.cell_count)) {
            echo_file(s.nutrient_summary_file,
                      "Error: NUM_IDS %d in the aquatic environment file %s is more ids than "
                      "its %d ID lines and the %d cells of the watershed can use.\n",
                      n, name.c_str(), id_lines, s.cell_count);
            raise_printed_error();
            return false;
        }
        s.nutrient.env.num_ids = n;
        return true;
    }
    return true;
}

// Reads the ten value lines of the block of id k into its record; false (message
// written, code 4000) when the block ends early or a value does not read.
bool read_id_block(std::FILE *file, const std::string &first_line, int k, const std::string &name,
                   model_state &s) {
    std::string line = first_line;
    for (int l = 1; l <= block_lines; ++l) {
        bool ok = l == 1 || read_line(line, file);
        // The next ID line is never taken as values.
        if (ok && begins_with(line, "ID")) ok = false;
        std::string rest = line, token;
        for (int i = 0; ok && i < aquatic_line_value_count(l); ++i) {
            double v = 0.0;
            ok = next_token(token, rest) && parse_value(token, v);
            if (ok)
                s.nutrient.env.records[static_cast<std::size_t>(k)]
                                      [static_cast<std::size_t>(aquatic_record_position(l, i))] = v;
        }
        if (!ok) {
            echo_file(s.nutrient_summary_file,
                      "Error: the block of ID %d in the aquatic environment file %s ends "
                      "early or holds a value that is not a number (line %d of the block "
                      "needs %d values).\n",
                      k, name.c_str(), l, aquatic_line_value_count(l));
            raise_printed_error();
            return false;
        }
    }
    return true;
}

// Step 7: the id blocks to the end of the file.
bool read_id_blocks(std::FILE *file, const std::string &name, model_state &s) {
    const int num_ids = s.nutrient.env.num_ids;
    std::string line;
    while (read_line(line, file)) {
        if (!begins_with(line, "ID")) continue;
        int k = 0;
        if (!parse_id(word_after_keyword(line), k)) k = 0;
        if (k < 1 || k > num_ids) {
            raise_error(78, {}, name);
            error_record.int1 = k;
            error_record.int2 = num_ids;
            return false;
        }
        if (!read_line(line, file)) line.clear();
        if (begins_with(line, "DEFAULT")) continue;
        if (!read_id_block(file, line, k, name, s)) return false;
    }
    return true;
}

// Step 8: the environment id of every cell from the OV_MAP grid.
void read_environment_map(model_state &s) {
    aquatic_env_params &env = s.nutrient.env;
    std::FILE *map = open_run_file(env.ov_map_name, "r");
    if (!map) {
        raise_error(81, {}, env.ov_map_name);
        return;
    }
    if (alloc_1d_int(env.cell_env_id, s.cell_count) != 0) {
        std::fclose(map);
        print_allocation_failure("aquatic environment ids");
        raise_printed_error();
        return;
    }
    array_1d<double> unused_a, unused_b;
    read_grid_map(map, env.ov_map_name, grid_map_cells_int, &s.grid_north, &s.grid_south,
                  &s.grid_east, &s.grid_west, &s.header_rows, &s.header_cols, s.cell_number_grid,
                  unused_a, unused_b, env.cell_env_id, s.grid_rows, s.grid_cols);
    std::fclose(map);
    if (error_record.fatal) return;
    // An id without a record would be read outside the table.
    for (int c = 1; c <= s.cell_count; ++c) {
        const int id = env.cell_env_id[static_cast<std::size_t>(c)];
        if (id < 0 || id > env.num_ids) {
            raise_error(78, {}, env.ov_map_name);
            error_record.int1 = id;
            error_record.int2 = env.num_ids;
            return;
        }
    }
}

bool make_cells(array_1d<double> &a, int n) { return alloc_1d_double(a, n) == 0; }

bool make_species_3d(array_3d<double> &a, long long links, long long nodes, const char *label) {
    if (alloc_3d_double(a, nutrient_species_count, links, nodes) == 0) return true;
    print_allocation_failure(label);
    return false;
}

bool make_stream_2d(array_2d<double> &a, long long links, long long nodes, const char *label) {
    return alloc_2d_double(a, links, nodes, label) == 0;
}

}  // namespace

const char *qvl_species_name(int k) {
    static const char *const names[13] = {"Nitrite (NO2-)",
                                          "Nitrate (NO3-)",
                                          "Ammonium (NH4+)",
                                          "Organic Nitrogen (Organic N)",
                                          "Organic Phosphorous (Organic P)",
                                          "Dissolved Phosphorous (Dissolved P)",
                                          "Phosphate (PO4)",
                                          "Algae",
                                          "Carbonaceous Biochemical Oxygen Demand",
                                          "Dissolved Oxygen (O2)",
                                          "Dissolved Org. Carbon",
                                          "Dissolved Org. Carbon, Fraction Org. C.",
                                          "Dispersion coefficient"};
    return k >= 0 && k < 13 ? names[k] : "";
}

int aquatic_line_value_count(int line) {
    return line >= 1 && line <= block_lines ? line_values[line - 1] : 0;
}

int aquatic_record_position(int line, int i) {
    if (i < 0 || i >= aquatic_line_value_count(line)) return -1;
    if (line <= 8) return group_start[(line - 1) / 2] + 2 * i + (line - 1) % 2;
    return group_start[line - 5] + i;
}

// Every message of the reader goes to the nutrient log (the NTR_SUM file).
void read_aquatic_env_file(const std::string &file_name, model_state &s) {
    aquatic_env_params &env = s.nutrient.env;
    env = aquatic_env_params();
    echo_file(s.nutrient_summary_file, "Opening aquatic environment file %s.\n", file_name.c_str());
    std::FILE *file = open_run_file(file_name, "r");
    if (!file) {
        echo_file(s.nutrient_summary_file,
                  "Error: unable to open the aquatic environment file.\nGiven file name: "
                  "%s.\n",
                  file_name.c_str());
        raise_error(76, {}, file_name);
        return;
    }
    std::string line;
    if (!read_line(line, file) || !begins_with(line, aquatic_env_header)) {
        const std::string header(aquatic_env_header);
        echo_file(s.nutrient_summary_file,
                  "Error: The aquatic environment file does not have the correct "
                  "header.\nGiven file name: %s.\n Header should be: %s.",
                  file_name.c_str(), header.c_str());
        raise_error(77, header, file_name);
        std::fclose(file);
        return;
    }
    echo_file(s.nutrient_summary_file, "Reading the aquatic environment file.\n");
    read_map_names(file, env);
    bool ok = read_id_count(file, file_name, s);
    if (ok && env.num_ids > 0 &&
        alloc_2d_double(env.records, env.num_ids, aquatic_record_size - 1,
                        "aquatic environment records") != 0) {
        raise_printed_error();
        ok = false;
    }
    ok = ok && read_id_blocks(file, file_name, s);
    std::fclose(file);
    if (ok) read_environment_map(s);
}

int alloc_species_set(species_set &set, int n) {
    if (!make_cells(set.conc, n) || !make_cells(set.dmdt, n) || !make_cells(set.mass, n) ||
        alloc_2d_double(set.terms, n, 8, "species terms") != 0)
        return -1;
    return 0;
}

void setup_overland_nutrients(model_state &s) {
    nutrient_record &r = s.nutrient;
    const int n = s.cell_count;
    for (species_set &set : r.species)
        if (alloc_species_set(set, n) != 0) {
            print_allocation_failure("overland species set");
            raise_printed_error();
            return;
        }
    if (!make_cells(r.doc, n) || !make_cells(r.doc_foc, n) || !make_cells(r.dispersion, n)) {
        print_allocation_failure("overland carbon and dispersion");
        raise_printed_error();
        return;
    }
    r.cell_count = n;
}

void setup_stream_nutrients(model_state &s) {
    stream_species_arrays &a = s.nutrient.stream;
    const long long links = s.channels.link_count, nodes = s.channels.max_node_count;
    bool ok = make_species_3d(a.conc, links, nodes, "aq_spec->conc") &&
              make_species_3d(a.dmdt, links, nodes, "aq_spec->dmdt") &&
              make_species_3d(a.mass, links, nodes, "aq_spec->mass") &&
              make_species_3d(a.fraction_bound, links, nodes, "aq_spec->fractionbound") &&
              make_species_3d(a.fraction_dissolved, links, nodes, "aq_spec->fractiondissolved");
    ok = ok && alloc_3d_double_named(a.fraction_sorbed_to_particle, nutrient_species_count, links,
                                     nodes, "aq_spec->fractionsorbedtoparticle") == 0;
    ok = ok && make_species_3d(a.km, links, nodes, "aq_spec->Km") &&
         make_species_3d(a.fsum, links, nodes, "aq_spec->fsum") &&
         make_stream_2d(a.doc, links, nodes, "st.dissolvedOrganicCarbon") &&
         make_stream_2d(a.doc_foc, links, nodes, "st.dissolvedOrganicCarbon_FOC") &&
         make_stream_2d(a.dispersion, links, nodes, "st.dispersion");
    if (!ok) raise_printed_error();
}
