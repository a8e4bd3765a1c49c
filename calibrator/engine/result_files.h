// The calibration's result files (run record, sensitivity, matrix, parameter
// values, "test.prn") are written under temporary names and take their own
// names only when the run ends with success, so a refused or failed run leaves
// the results of an earlier run as they were. Used by calibration_main and the
// writers that rewrite a result in place.
#pragma once
#include <cstdio>
#include <string>

#include "calibrator/engine/control_data.h"

// The temporary name of a result file while the run writes it.
std::string result_temporary_name(const std::string &name);

// Opens the result file `name` for writing under its temporary name. With
// `keep` (a restart), the file continues what the interrupted run left under
// the temporary name or, when there is none, what `name` holds, and `append`
// says whether writing starts at its end (else at its start, the text kept).
// Prints a message naming the file and returns nullptr when it cannot be opened.
std::FILE *result_file_open(const std::string &name, bool keep, bool append);

// Notes a failed write to an open result file (for writers that rewind the
// file, which clears the stream's own error flag).
void result_file_write_failed(std::FILE *f);

// Ends every open result file: with `success`, each is flushed, checked and
// closed and takes its own name; a failed write or rename prints a message
// naming the file and gives status 1. Without success the temporary files are
// removed and the earlier results stay. Returns 0 or 1.
calib_status result_files_finish(bool success);

// Makes every process end through the calibration's exit routines finish the
// result files first (a user stop is a success); calibration_main calls it
// once before any result file is opened and `restore` at its end.
void result_files_guard_exits();
void result_files_restore_exits();
