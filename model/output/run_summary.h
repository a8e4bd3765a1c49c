// End-of-run report and final state files: the run-long balances appended to the
// summary file, the final records of the data sets and series, the backwater
// profiles and hotstart files, and the hydrograph file of the pre-processor.
// run_model calls write_run_summary (model/output/output_writers.h) after a normal end.
#pragma once

#include <cstdio>
#include <span>

#include "model/core/arrays.h"

struct model_state;
struct channel_network;

// The pre-processor hydrograph file: the title line, the number of point
// hydrographs (from the first line of `points`, an integer from 0 to max_points;
// anything else counts 0), the start date yyyymmdd, start time hhmm, hydrograph
// interval in steps and the number of outlet values, the points' description
// lines, then the outlet discharges (second number of each line of `outlet`,
// "%11.4lf" ten to a line) and each point hydrograph's values the same way.
// `points` may be null.
void write_zep_hydrograph_file(std::FILE *points, std::FILE *outlet, std::FILE *out,
                               long start_date, long start_time, long interval,
                               long outlet_count, int max_points);

// Channel hotstart: "%4d %4d %8.3f %8.3f\n" (link, node, depth, discharge) for
// every node of every link, the depth being water surface less bed elevation.
void write_channel_hotstart(std::FILE *f, const channel_network &net);

// Final backwater profiles: "%d %d %lf \n" (link, node, water surface) into
// `surface` and "%d %d %lf\n" (link, node, discharge) into `discharge`, skipping
// structure and type-2 links, and with lakes also lake and type-44 links.
void write_backwater_profiles(std::FILE *surface, std::FILE *discharge,
                              const channel_network &net, bool lakes);

// Saturated-source map: the DRELM header, then "%d " of each cell's value per
// grid position ("0 " outside the watershed), a line feed per row.
void write_satsource_map(std::FILE *f, int rows, int cols, double north, double south,
                         double east, double west, const array_2d<int> &cells,
                         const array_1d<int> &values);

// Relative errors (percent) of the run's surface and overall water balances;
// -100 for the surface balance of a run without rainfall.
struct run_balance {
    double surface_in = 0.0, surface_out = 0.0, surface_error = 0.0;
    double overall_in = 0.0, overall_out = 0.0, overall_error = 0.0;
};
run_balance form_run_balance(const model_state &state);
