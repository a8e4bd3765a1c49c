// Services of the later input readers that the soil set-up and the long-term
// meteorology piece call: the Richards soil table and the hydro-meteorological
// file. Declared here until their readers are built.
#pragma once

#include <cstdio>

struct model_state;

// Counts that the Richards soil table gives the set-up.
struct richards_table_counts {
    int soil_count = 0;   // soil indexes in the table
    int layer_count = 0;  // layers per soil
    int node_count = 0;   // nodes of the deepest column
};

// Reads the Richards soil table from `file` (positioned at the table) into the
// run state's soil_layers rows: form 1 Brooks and Corey, 2 Havercamp; `layered`
// the layered-soil switch; `from_mapping_table` 1 when the file is the
// mapping-table file after the Richards table card.
void read_soil_table(std::FILE *file, int form, int layered, int from_mapping_table,
                     model_state &state, richards_table_counts &counts);

// The hydro-meteorological file of a long-term run (hydromet_file, format by the
// HMET_* switches). Scan mode (scan 1): counts the records into hmet_line_count
// and stores the first and last dates in hmet_first and hmet_last; 0, or -1
// after a format error. Record mode (scan 0): the next hour into hmet_hour;
// the number of fields read (QAR 11, 0 for the fixed-column formats), -1 at the
// end of the data.
int scan_hmet_file(model_state &state, int scan);
