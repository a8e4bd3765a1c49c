// Replacement parameters: the list of bracketed tags with their print formats and
// values, read from the list and value files (REPLACE_PARAMS, REPLACE_VALS cards)
// or set by the calibration objective, and their substitution into input lines.
#pragma once
#include <string>

// One tag of the replacement list. The list itself (`replace_param_list`, in
// reading order) and its switches live in model/globals.
struct replace_param {
    std::string tag;        // the tag with its brackets, e.g. "[KS1]"
    int tag_length = 0;     // characters of tag
    std::string format;     // print format of the value, e.g. "%4.2lf"
    int type = 0;           // 0 integer value, 1 double value
    double double_value = 0.0;
    int int_value = 0;
};

// A print format split into its literal text and its one numeric conversion.
struct replace_format {
    std::string prefix;      // literal text before the conversion ("%%" already made "%")
    std::string conversion;  // the conversion rebuilt without the 'l', e.g. "%4.2f" or "%-3d"
    std::string suffix;      // literal text after the conversion
    int type = 0;            // 0 for d, 1 for f
};

// Checks that a format holds literal text and exactly one conversion of the form
// %[flags][width][.precision][l](d|f); fills `parsed` and returns 0, else -1.
int parse_replace_format(const std::string &format, replace_format &parsed);

// The text of the entry's current value printed in its format.
std::string format_replace_value(const replace_param &param);

// Parses one list line (a tag in brackets, then a format in double quotes) into
// `param`; prints the described message and returns -1 when it is malformed.
int parse_replace_param_line(const std::string &line, replace_param &param);

// Reads a list file onto the end of replace_param_list; 0, or -1 on failure.
int read_replace_params(const std::string &list_file_name);

// Reads the values of every entry from line replace_line_index + 1 of the value
// file and sets replace_params_on; 0, or -1 on failure.
int read_replace_vals(const std::string &value_file_name);

// Takes one value per list entry, in list order, from the line; returns the number
// of entries that found a value on the line.
int read_replace_values_line(std::string line);

// Substitutes every bracketed tag of the line by its entry's value; false when a
// '[' matched no entry (the message is printed, the text stays in the line).
bool replace_in_line(std::string &line);

// A line of `file_name` held a tag that matched no entry: names the file and
// makes the run fail (it ends at its next step test).
void refuse_unmatched_tag(const std::string &file_name);

// Forgets the list files read (named by the message above); with the list itself.
void clear_replace_list_files();
