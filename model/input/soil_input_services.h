// Services of the later input readers that the long-term meteorology piece
// calls: the hydro-meteorological file. Declared here until its reader is built.
#pragma once

#include <cstdio>

struct model_state;

// The hydro-meteorological file of a long-term run (hydromet_file, format by the
// HMET_* switches). Scan mode (scan 1): counts the records into hmet_line_count
// and stores the first and last dates in hmet_first and hmet_last; 0, or -1
// after a format error. Record mode (scan 0): the next hour into hmet_hour;
// the number of fields read (QAR 11, 0 for the fixed-column formats), -1 at the
// end of the data.
int scan_hmet_file(model_state &state, int scan);
