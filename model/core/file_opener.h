// The one routine through which the model opens every file named by a card:
// quotes are removed from the name and, during a calibration series, files opened
// for writing get the run prefix "%d_". Every stream opened for writing is
// remembered with its name, so that a failed write, flush or close stops the run
// with a message naming the file.
//
// A result file opened with a mode beginning 'w' is written under the staged name
// "<name>.part" beside it and renamed onto its name only when the run (or the
// calibration) that wrote it ends normally; a refused or failed run removes its
// staged files, so the results of an earlier run stay as they were. While a run
// writes a result file it holds a lock on that name (a byte of the marker file
// ".korva-run.lock" in the file's folder); a second run that would write the same
// file is refused. Devices, pipes and appended logs are written in place.
#pragma once
#include <cstdio>
#include <string>

// Whose result a staged file is: one model run's, or the calibration's (written
// across the runs of a calibration series and kept when the calibration ends).
enum class output_scope { run, calibration };

// Switches the staging (and locking) of result files on for this process: the
// program entry does; without it (writers called on their own) files are written
// in place. forget_output_files switches it off. Switching it on also makes
// SIGTERM and SIGINT remove the staged files before the process ends by the
// signal; the results already in place stay.
void stage_result_files(bool on);

// Name that open_run_file opens for an already unquoted name and a mode: the run
// prefix is added when file_prefix_on is set and the mode begins with 'w'.
std::string run_file_name(const std::string &name, const char *mode);

// Removes a leading and a trailing double quote from name (in place) and opens the
// file; null when the name is then empty or the file cannot be opened. Prints
// nothing, except the refusal of a file that another run holds.
std::FILE *open_run_file(std::string &name, const char *mode);
std::FILE *open_run_file(const std::string &name, const char *mode);

// Opens an output file under exactly the given name (no quotes removed, no run
// prefix) and remembers it as open_run_file does; null on failure.
std::FILE *open_output_file(const std::string &name, const char *mode);

// As open_run_file, but written in place at once: files that another program
// reads while the run goes on (the exchange maps of a coupled model).
std::FILE *open_exchange_file(std::string name, const char *mode);

// Opens a result file of a calibration mode ("best.out", "sce_output.dat", the
// logs) for writing, staged and locked as a run's results are, and kept only by
// finish_output_files(output_scope::calibration, true). Prints nothing but a
// lock refusal.
std::FILE *open_calibration_file(const std::string &name);

// Where a file written by this run under `name` (as opened, with its run prefix)
// can be read back now: its staged name while the run goes on, otherwise name.
std::string output_file_path(const std::string &name);

// The name under which a stream now open for reading was opened by open_run_file
// ("an input file" for a stream it did not open).
std::string input_file_name(const std::FILE *file);

// Bytes from the stream's position to the end of its file: what the rest of an
// input can hold, to bound a count that a file gives before its entries. -1 when
// the stream is no regular file (a pipe or a device: no bound).
long long bytes_left(std::FILE *file);
// Whether `count` entries of at least `entry_bytes` bytes each (their separators
// included; the last may lack its own) fit in the rest of the stream's file.
bool count_fits(std::FILE *file, long long count, long long entry_bytes);
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

// The end of a run or calibration: with keep, every staged file of the scope is
// renamed onto its name (a rename that fails prints the write error, as above,
// and gives false); without, the staged files are removed. Streams of the scope
// still open are closed first. The scope's locks are released either way.
bool finish_output_files(output_scope scope, bool keep);

// Removes every staged file of both scopes (a process that ends early).
void abandon_output_files();

// The end of the process: removes the lock marker of every folder it wrote to,
// unless another run holds a lock in it, and closes them.
void remove_lock_markers();

// True while no open output stream has had a failed write; otherwise the first
// failed one is reported as close_run_file does and the result is false. Called
// after every time step.
bool output_files_written();

// Number of output streams open now (for tests); forget_output_files drops the
// list without closing anything (the process-wide reset).
int open_output_file_count();
void forget_output_files();
