// Time-series outputs of every hydrograph interval: the outlet hydrograph and its
// high-precision twin, the point outputs by link and node, soil moisture, well
// levels, lakes, sediment and nutrients, and the outlet inflow file rows. The
// time loop calls write_time_series (declared in model/output/output_writers.h) last
// but one in every turn.
#pragma once

#include <cstdio>

struct model_state;

// True in the turns whose step number is a multiple of the hydrograph interval
// in steps, unless output is suppressed.
bool is_hydrograph_step(const model_state &state);

// Date number of long-term lines: the Julian date with STRICT_JULIAN_DATE,
// otherwise year + (day of year x 1440 + hour x 60 + minute) / D with D = 527040
// when (year - 1900) is divisible by 4 and 525600 otherwise.
double longterm_date_number(const model_state &state);

// Writes the outlet hydrograph line (and the SIG_OUTLET_HYDRO line when that
// file is open) in the layout of the run's mode, and counts the line.
void write_outlet_hydrograph_line(model_state &state);

// One row of the outlet inflow file: "%-8.1lf %-7.1f\n".
void write_outlet_inflow_row(model_state &state, double day, float discharge);

// Outlet concentration and mass flux of every nutrient species whose hydrograph
// output is on, one line each into its ".conc" and ".mass" files.
void write_nutrient_hydrographs(model_state &state);

// ---- values of later features read by the point lines ----
// Channel discharge (m3/s) and depth (m) at hydrograph point k (1..count), and
// the concentration of contaminant c there; the number of contaminants.
double hydrograph_point_discharge(const model_state &state, int k);
double hydrograph_point_depth(const model_state &state, int k);
double hydrograph_point_concentration(const model_state &state, int k, int c);
int channel_contaminant_count(const model_state &state);
// The value fields of the soil-moisture location line (after its time field).
void write_theta_location_values(model_state &state, std::FILE *file);
// The outlet sediment line (time field included; julian_time selects "%16.8lf")
// and, when the per-link sediment output is on, the sediment flux line.
void write_sediment_outlet_line(model_state &state, double time, int julian_time);
void write_sediment_flux_line(model_state &state);
// One step of the channel link/node series and of the pipe-network series.
void write_channel_series_step(model_state &state);
void write_pipe_series_step(model_state &state);
// Outlet concentration and mass flux of nutrient species k (0..9): the stream
// concentration at the last computational node of the last link, and that times
// the outlet discharge; both 0 without stream species arrays.
void nutrient_outlet_values(const model_state &state, int k, double &concentration,
                            double &mass_flux);
// Every step: adds the segment-boundary flows into the segment-flux
// accumulators; at output steps writes one row with the given day.
void accumulate_point_output(model_state &state);
void write_point_output_row(model_state &state, double day);
