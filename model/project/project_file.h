// The project-file reader: reads the cards of a project file into the three card
// records of the run state. Called once per run by read_run_parameters.
#pragma once

#include <string>

#include "model/core/line_reader.h"
#include "model/project/card_records.h"

// Reads the project file. A missing file sets the project-file-missing flag of
// grid; other failures go to the error record.
void read_project_file(const std::string &file_name, project_params &project, grid_params &grid,
                       rain_params &rain);

// The card defaults set before the cards are read (after the records are reset).
void set_project_defaults(project_params &project, grid_params &grid, rain_params &rain);

