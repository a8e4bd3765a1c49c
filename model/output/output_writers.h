// Output writers that run_model calls: the constituent and link/node series files
// opened after the inputs, the per-step time series and maps of the time loop,
// the end-of-run report, and the release of the segment-flux object.
#pragma once

struct model_state;
struct point_output;

// Right after the inputs are read.
void open_constituent_outputs(model_state &state);
void write_linknode_headers(model_state &state);

// Last two pieces of every turn of the time loop.
void write_time_series(model_state &state);
void write_maps(model_state &state);

// After a normal end of the time loop.
void write_run_summary(model_state &state);

// Frees the segment-flux object of a run.
void free_point_output(point_output *output);
