// The calibration objective's own helpers, shared by both calibration modes: the
// start-up checks of a calibration and the score of a run that gave too little.
#pragma once

#include <string>

#include "model/calibration/calibration_services.h"
#include "model/calibration/observations.h"

// Score of a run that stopped before its results were sized or gave fewer values
// than there are observations: far above any real HMLE.
inline constexpr double failed_run_score = 1e30;

// 0 when a calibration may start: the observations hold a weighted point and the
// replacement list file can be read (the list is emptied again); else a message
// and -1, before any run is made.
int check_calibration_start(const observation_set &observations, const std::string &observation_file,
                            const std::string &replace_list_file);

// Runs of the calibration objective that ended normally and were scored; a
// calibration in which none was has no result. Cleared when a calibration starts.
int scored_calibration_runs();
void clear_scored_calibration_runs();

// Runs of the calibration objective that ended with an error (cleared with the
// scored ones); a search with such runs has no sound result.
int failed_calibration_runs();

// Reads the project file once with each parameter at its lower and once at its
// upper bound, the others at their initial values (x[1..n]); a card that refuses a
// bound refuses the calibration before its first run: a message naming the bound,
// its parameter and tag and line first_line + i - 1 of the input file, and -1.
// 0 when every bound gives a project file the reader takes.
int check_parameter_bounds(const std::string &replace_list_file, const std::string &project_file,
                           const std::string &input_file, int first_line, int n,
                           const double *initial, const double *lower, const double *upper);

// Prints the refusal of a calibration none of whose `scored` runs was scored;
// false then, true otherwise.
bool calibration_has_scored_runs(int scored, const std::string &input_file);

// Gives the first min(list entries, n) replacement entries the values x[1..]; an
// integer-format entry takes x rounded. Warns when the counts differ.
void set_replacement_values(const double *x, int n);
