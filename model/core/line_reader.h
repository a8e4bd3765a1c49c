// Line reader and tokenizer shared by every text input of the model: one line at
// a time (replacement tags substituted while switched on), tokens separated by
// blank, tab, comma and line feed, double quotes grouping a token.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

// Size of the line buffer that the described readers assume; lines are read whole
// whatever their length, so this is only a guide for fixed-width formats.
inline constexpr std::size_t line_buffer_size = 20000;

// Reads one whole line (however long), removes a final line feed (and a carriage
// return before it) and, while replace_params_on is set, substitutes replacement
// tags. 1 when a line was read, 0 at end of file or on a read error (line is then
// empty).
int read_line(std::string &line, std::FILE *file);

// As read_line without tag substitution.
int read_raw_line(std::string &line, std::FILE *file);

// True for the token delimiters: blank, tab, comma, line feed.
bool is_token_delimiter(char c);

// Removes the first n characters; -1 for an empty string (left alone), else 0.
int shift_string(std::string &text, std::size_t n);

// Removes a leading and, independently, a trailing double quote.
void strip_quotes(std::string &text);

// Takes the next token off the front of line into destination; 1 when a token
// was taken, 0 (destination empty) when none is left.
int next_token(std::string &destination, std::string &line);

// next_double for readers whose missing values read as 0: false only when a
// token was taken that gave no value (nan, inf or out of range).
bool next_finite_or_missing(std::string &line, double &value);

// Next plain token converted as "%lf" / "%d"; the destination starts at 0. 1 when
// a token was taken (also one that is not a number), 0 when no token is left and
// when next_double's token is nan, inf or out of range (taken, value left 0).
int next_double(std::string &line, double &value);
int next_int(std::string &line, int &value);

// Index of the first character of the line's second word (delimiters blank, tab,
// line feed); for a one-word line the index of its last character; 0 when empty.
std::size_t skip_first_word(std::string_view line);

// True when the whole token converts to a number (value set); a token such as
// "2004_no3.map" is not a number.
bool whole_token_double(const std::string &token, double &value);
bool whole_token_int(const std::string &token, int &value);

// Reads the next word of an open file (characters up to a blank, tab or line
// end; leading ones skipped) into word, as written, and its value when the whole
// word is an int. 1 an int, 0 no word left, -1 a word that is no int or lies past
// the range of one (a message can then quote it as the file gives it).
int scan_int_word(std::FILE *file, std::string &word, int &value);
