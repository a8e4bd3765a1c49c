// Reader of the Richards soil table, in its own file or as the Richards table of
// the mapping-table file; run by the Richards soil set-up of the soil inputs.
#include "model/input/soil_tables.h"

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <string>

#include "model/core/errors.h"
#include "model/core/soil_rows.h"
#include "model/core/value_bounds.h"
#include "model/input/mapping_tables.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"

namespace {

// Reads the table line by line, passing over blank lines, and names the file and
// the entry in its messages.
struct table_lines {
    std::FILE *file;
    const std::string &name;
    int entry = 0;  // 0 while the header is read

    bool next(std::string &line) {
        while (read_line(line, file)) {
            if (line.find_first_not_of(" \t\r,") != std::string::npos) return true;
        }
        return false;
    }

    void refuse(const char *what) const {
        if (entry > 0)
            std::printf("\nError: entry %d of the Richards soil table %s: %s.\n", entry,
                        name.c_str(), what);
        else
            std::printf("\nError: the Richards soil table %s: %s.\n", name.c_str(), what);
        raise_printed_error();
    }

    // The first `count` numbers of the next line into values[0..count-1].
    bool numbers(int count, double *values, const char *what) {
        std::string line;
        if (!next(line)) {
            std::string text = std::string("the file ends before its ") + what;
            refuse(text.c_str());
            return false;
        }
        std::string token;
        for (int j = 0; j < count; ++j) {
            if (!next_token(token, line) || !whole_token_double(token, values[j])) {
                char text[160];
                std::snprintf(text, sizeof text, "value %d of its %s is missing or not a number",
                              j + 1, what);
                refuse(text);
                return false;
            }
        }
        return true;
    }

    // An integer at the start of the next line (after an optional word).
    bool integer(int &value, bool after_word, const char *what) {
        std::string line, token;
        bool ok = next(line);
        if (ok && after_word) ok = next_token(token, line) != 0;
        ok = ok && next_token(token, line) && whole_token_int(token, value);
        if (!ok) {
            std::string text = std::string("its ") + what + " cannot be read";
            refuse(text.c_str());
        }
        return ok;
    }
};

// Nodes of one soil column at most: a 10 m column at 1 mm spacing. The columns of
// every cell are sized by the deepest, so a larger count sizes no real soil.
constexpr int largest_column_nodes = 10000;

// False, after its message, when a layer's depth over its node spacing asks for
// more nodes than a column may hold.
bool layer_nodes_bounded(table_lines &in, const soil_layer_record &row) {
    double nodes = 0.0;
    for (int l = 0; l < 3; ++l) {
        const double depth = row.values[layer_depth_field + l];
        const double dz = row.values[richards_spacing_field + l];
        if (depth > 0.0 && dz > 0.0) nodes += depth / dz;
    }
    if (nodes < largest_column_nodes) return true;
    char text[160];
    std::snprintf(text, sizeof text,
                  "its layer depths over their node spacings give %.0f nodes; a column has at "
                  "most %d",
                  nodes, largest_column_nodes);
    in.refuse(text);
    return false;
}

// What a value of a layer line (1..11) or of the spacing line (1..4) can be; null
// where the table's form gives the value no physical range.
const value_bounds *layer_value_bounds(int form, int j) {
    if (j == 1) return &bounds::conductivity_cm_h;
    if (j <= 6) return &bounds::moisture;
    if (j == 7) return &bounds::depth_cm;
    if (form != 2 && j == 8) return &bounds::pore_index;
    if (form != 2 && j == 9) return &bounds::depth_cm;  // the bubbling head, either sign
    if (form == 2 && j <= 11) return &bounds::havercamp_parameter;
    return nullptr;
}

// False, after its message, when value j of a line lies outside its range.
bool value_within(table_lines &in, const char *what, int j, double value,
                  const value_bounds *range) {
    if (!range || within_bounds(value, *range)) return true;
    char text[200];
    std::snprintf(text, sizeof text, "value %d of its %s, %g, lies outside %s", j, what, value,
                  range->text);
    in.refuse(text);
    return false;
}

// Fields of values 1..11 of a layer line for layer offset l (0..2).
int value_field(int form, int j, int l) {
    static const int common[7] = {layer_conductivity_field, layer_porosity_field,
                                  richards_residual_field,  layer_moisture_field,
                                  richards_wilting_field,   richards_capacity_field,
                                  layer_depth_field};
    if (j <= 7) return common[j - 1] + l;
    if (form == 2) {
        static const int havercamp[4] = {havercamp_a_field, havercamp_b_field,
                                         havercamp_alpha_field, havercamp_beta_field};
        return havercamp[j - 8] + l;
    }
    // Form 1: pore index, bubbling head, and a tenth value at 31 + l.
    static const int brooks[3] = {richards_lambda_field, richards_bubbling_field,
                                  richards_bubbling_field + 3};
    return brooks[j - 8] + l;
}

}  // namespace

bool soil_values_bounded(const model_state &s, const std::string &file_name, int form,
                         int layers) {
    for (std::size_t k = 0; k < s.soil_layers.size(); ++k) {
        if (!s.soil_row_read[k]) continue;
        for (int l = 0; l < layers; ++l) {
            const char *what = l == 0 ? "layer 1 line" : (l == 1 ? "layer 2 line" : "layer 3 line");
            // A soil holds more water saturated than at its residual content.
            const auto &v = s.soil_layers[k].values;
            const double saturated = v[static_cast<std::size_t>(value_field(form, 2, l))];
            const double residual = v[static_cast<std::size_t>(value_field(form, 3, l))];
            if (!(saturated > residual)) {
                std::printf("Error: soil %d of the Richards soil table %s: the saturated water "
                            "content %g of its %s is not above its residual content %g.\n",
                            static_cast<int>(k), file_name.c_str(), saturated, what, residual);
                raise_printed_error();
                return false;
            }
            for (int j = 1; j <= (form == 2 ? 11 : 9); ++j) {
                const double value =
                    s.soil_layers[k].values[static_cast<std::size_t>(value_field(form, j, l))];
                const double plain = form != 2 && j == 9 ? std::abs(value) : value;
                const value_bounds *range = layer_value_bounds(form, j);
                if (!range || within_bounds(plain, *range)) continue;
                std::printf("\nError: soil %d of the Richards soil table %s: value %d of its %s, "
                            "%g, lies outside %s.\n",
                            static_cast<int>(k), file_name.c_str(), j, what, plain, range->text);
                raise_printed_error();
                return false;
            }
        }
    }
    return true;
}

void read_soil_table(std::FILE *file, const std::string &file_name, int form,
                     int from_mapping_table, model_state &s, richards_table_counts &counts) {
    counts = richards_table_counts{};
    if (!file) return;
    table_lines in{file, file_name};
    int soils = 0, layers = 3, second = 0;
    if (from_mapping_table) {
        if (!in.integer(soils, true, "NUM_IDS line")) return;
        if (!in.integer(layers, true, "layer count line")) return;
        if (layers < 1 || layers > 3) {
            char text[96];
            std::snprintf(text, sizeof text, "it gives %d layers; a soil has 1 to 3", layers);
            in.refuse(text);
            return;
        }
        skip_table_header(file);
    } else {
        if (!in.integer(soils, false, "soil count")) return;
        if (!in.integer(second, false, "second count")) return;
    }
    if (soils < 0) {
        in.refuse("its soil count is negative");
        return;
    }
    if (second >= largest_column_nodes) {
        char text[96];
        std::snprintf(text, sizeof text, "its second count %d is above %d", second,
                      largest_column_nodes - 1);
        in.refuse(text);
        return;
    }
    const int values = form == 2 ? 11 : (from_mapping_table ? 10 : 9);
    int nodes = from_mapping_table ? 0 : std::max(0, second + 1);
    for (int e = 1; e <= soils; ++e) {
        in.entry = e;
        std::string line;
        if (!in.next(line)) {
            in.refuse("the file ends before its soil index");
            return;
        }
        int k = 0;
        bool index_read = false;
        if (from_mapping_table) {
            index_read = std::sscanf(line.c_str(), "%d", &k) == 1;
        } else {
            std::string token;
            index_read = next_token(token, line) && whole_token_int(token, k);
        }
        if (!index_read || k < 1 || k >= soil_layer_rows) {
            char text[96];
            std::snprintf(text, sizeof text, "its soil index must run from 1 to %d",
                          soil_layer_rows - 1);
            in.refuse(text);
            return;
        }
        soil_layer_record &row = s.soil_layers[static_cast<std::size_t>(k)];
        double spacing[4] = {};
        if (!in.numbers(4, spacing, "node spacing line")) return;
        for (int j = 0; j < 4; ++j) {
            if (!value_within(in, "node spacing line", j + 1, spacing[j],
                              j < 3 ? &bounds::depth_cm : &bounds::depth))
                return;
            row.values[richards_spacing_field + j] = spacing[j];
        }
        for (int l = 0; l < layers; ++l) {
            double v[11] = {};
            const char *what = l == 0 ? "layer 1 line" : (l == 1 ? "layer 2 line" : "layer 3 line");
            if (!in.numbers(values, v, what)) return;
            for (int j = 1; j <= values; ++j) {
                double value = v[j - 1];
                if (form != 2 && j == 9) value = -std::abs(value);
                row.values[static_cast<std::size_t>(value_field(form, j, l))] = value;
            }
        }
        if (!layer_nodes_bounded(in, row)) return;
        s.soil_row_read[static_cast<std::size_t>(k)] = 1;
        nodes = std::max(nodes, richards_column_nodes(row));
    }
    counts.soil_count = soils;
    counts.layer_count = layers;
    counts.node_count = nodes;
}
