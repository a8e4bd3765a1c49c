// The run driver: one complete simulation of one project file, from the creation
// of the run state to its destruction, ending every run through one clean-up that
// closes the files, frees the memory and appends the run time to "out_time.dat".
// Called by the program entry and by the calibration objective.
#pragma once

#include <cstddef>
#include <span>
#include <string>

struct model_state;
struct calibration_results;

// One run; the error code after the clean-up (0 after every reported error; the
// fatal flag of the error record tells whether the run failed).
int run_model(const std::string &project_file, calibration_results *results);

// Model time step, output intervals, outlet and site from the grid card record.
void setup_time_steps(model_state &state);

// One time-step piece: its name and the routine of one turn.
struct time_step_piece {
    const char *name;
    void (*run)(model_state &state);
};

// The 27 pieces of one turn, in their fixed order.
std::span<const time_step_piece> time_step_sequence();

// Runs turns of pieces until keep_running is cleared or an error is pending; after
// every piece a pending code is reported and a fatal error leaves the loop. true
// when the loop ended normally (keep_running cleared and no error pending).
bool run_time_loop(model_state &state, std::span<const time_step_piece> pieces);

// Parts of the clean-up.
void close_output_files(model_state &state);
void free_model_memory(model_state &state);

// Appends the run time to "out_time.dat" and prints it on the console.
void record_run_time(double seconds);

// Processor time in milliseconds.
double processor_milliseconds();
