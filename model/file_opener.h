// The one routine through which the model opens every file named by a card:
// quotes are removed from the name and, during a calibration series, files opened
// for writing get the run prefix "%d_".
#pragma once
#include <cstdio>
#include <string>

// Name that open_run_file opens for an already unquoted name and a mode: the run
// prefix is added when file_prefix_on is set and the mode begins with 'w'.
std::string run_file_name(const std::string &name, const char *mode);

// Removes a leading and a trailing double quote from name (in place) and opens the
// file; null when the name is then empty or the file cannot be opened. Prints nothing.
std::FILE *open_run_file(std::string &name, const char *mode);
std::FILE *open_run_file(const std::string &name, const char *mode);
