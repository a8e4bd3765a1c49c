// The one routine through which the model opens every file named by a card:
// quotes are removed from the name and, during a calibration series, files opened
// for writing get the run prefix "%d_". Every stream opened for writing is
// remembered with its name, so that a failed write, flush or close stops the run
// with a message naming the file.
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

// Opens an output file under exactly the given name (no quotes removed, no run
// prefix) and remembers it as open_run_file does; null on failure. Prints nothing.
std::FILE *open_output_file(const std::string &name, const char *mode);

// Closes a stream and sets it to null. For an output stream a write that failed
// earlier, or a flush or close that fails now, prints "Error: unable to write the
// output file <name>" (once per file), makes the run fatal and gives false.
// Input streams are simply closed. Safe with null.
bool close_run_file(std::FILE *&file);

// Closes an output file that lives outside any one run (the calibration modes'
// logs and results) and sets it to null. A failed write, flush or close prints
// "Error: unable to write the output file <name>", sets calibration_output_failed
// (the process then ends with status 1) and gives false. Safe with null.
bool close_calibration_file(std::FILE *&file, const std::string &name);

// True while no open output stream has had a failed write; otherwise the first
// failed one is reported as close_run_file does and the result is false. Called
// after every time step.
bool output_files_written();

// Number of output streams open now (for tests); forget_output_files drops the
// list without closing anything (the process-wide reset).
int open_output_file_count();
void forget_output_files();
