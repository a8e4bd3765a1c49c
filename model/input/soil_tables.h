// The Richards soil table: per soil index the node spacings and one parameter
// line per layer, read from its own file (SOIL_LAYER_INPUT_FILE) or from the
// Richards table of the mapping-table file. Called by the Richards soil set-up.
#pragma once

#include <cstdio>
#include <string>

struct model_state;

// Counts that the Richards soil table gives the set-up.
struct richards_table_counts {
    int soil_count = 0;   // soil indexes in the table
    int layer_count = 0;  // layers per soil
    int node_count = 0;   // nodes of the deepest column
};

// Reads the Richards soil table from `file` into the run state's soil_layers rows.
// form 1 Brooks and Corey, 2 Havercamp; from_mapping_table 0 for the table's own
// file, 1 for the mapping-table file positioned after the table's card line.
//
// Own file: a line with the soil count, a line with a second count (the node
// count is at least that count plus one, the bottom node), then per soil its
// index line, a line of the three layers' node spacings (cm) and the groundwater
// node spacing (m), and three layer lines. Mapping table: the NUM_IDS line, a line
// of a word and the layer count (1 to 3), the header lines up to the column
// header, then per soil a row line whose first characters hold the index, the
// spacing line and one line per layer. A layer line holds 9 values (form 1; 10
// in the mapping table) or 11 (form 2); values past those are not read. Blank
// lines between lines are passed over.
//
// A soil index outside 1..150, a layer count outside 1..3, a missing line or a
// value that is not a number prints a message naming `file_name` and the entry
// and stores code 4000.
void read_soil_table(std::FILE *file, const std::string &file_name, int form,
                     int from_mapping_table, model_state &state, richards_table_counts &counts);

// After the table is read: every value of a soil that has a physical range (the
// conductivity, the water contents, the layer depth and the bubbling head) lies
// in it; false after the refusal naming the file, the soil and the layer line.
bool soil_values_bounded(const model_state &s, const std::string &file_name, int form,
                         int layers);
