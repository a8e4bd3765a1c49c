// The model's error record and its reporter: a routine that fails stores a code
// (and the names and numbers its message needs) and returns; the run driver, or
// the routine itself for code 4000, calls report_error to print the message.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// One process-wide record; the instance `error_record` lives in model/globals.
struct error_record_type {
    int code = 0;         // pending code: 0 none, 1..130 message codes, 4000 already printed
    int fatal = 0;        // 1 when the run must stop
    int int1 = 0;         // first integer of some messages
    int int2 = 0;         // second integer of some messages
    char text1[60] = {};  // file kind, card name or expected header (at most 59 characters)
    char text2[132] = {}; // file name (at most 131 characters)
};

// Code whose message the raising routine has printed itself.
inline constexpr int printed_error_code = 4000;

// Prints a line feed and the message of the pending code, sets the fatal flag
// (cleared again by the warning codes 39, 41, 55, 95, 96) and resets the code to 0.
void report_error();

// True for the codes whose message is a warning that leaves the run going.
bool is_warning_code(int code);

// Bounded copies into the record's text fields (59 and 131 characters at most).
void set_error_text1(std::string_view text);
void set_error_text2(std::string_view text);

// Stores a code with fatal = 1, optionally with the two texts; does not print.
void raise_error(int code, std::string_view text1 = {}, std::string_view text2 = {});

// A file of kind `label` that cannot be opened: code 4 with the label and the
// name; when no name was given, the name's place says that the card `card` (when
// known) gives it.
void raise_open_error(std::string_view label, const std::string &name, const char *card);

// For a routine that has printed its own message: code 4000, fatal, report_error.
void raise_printed_error();

// Clears code and fatal flag, as the run driver does when a run begins.
void clear_error_state();

// The warnings a run has printed, for the warning report of its summary: how many,
// and the lines the report repeats (unknown cards with the nearest known one).
// The instance `warning_tally` lives in model/globals; emptied when a run begins.
struct warning_tally_type {
    int count = 0;
    std::vector<std::string> notes;
};

// Counts one printed warning; with a note, the report repeats that line.
void count_warning();
void count_warning(std::string note);
