// Line reader and tokenizer: whole lines with the line end (LF or CR LF) cut and replacement
// tags substituted while switched on; tokens, numbers and the second word of a
// card line. Called by the project-file reader and every input reader.
#include "model/core/line_reader.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/replace_params.h"

bool is_token_delimiter(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\n'; }

int read_raw_line(std::string &line, std::FILE *file) {
    line.clear();
    if (file == nullptr) return 0;
    bool any = false;
    for (;;) {
        const int c = std::getc(file);
        if (c == EOF) break;
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!any || std::ferror(file)) {
        line.clear();
        return 0;
    }
    // A line that ends in carriage return and line feed reads as one that ends in
    // a line feed alone.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return 1;
}

int read_line(std::string &line, std::FILE *file) {
    if (!read_raw_line(line, file)) return 0;
    if (replace_params_on && !replace_in_line(line)) refuse_unmatched_tag(input_file_name(file));
    return 1;
}

int shift_string(std::string &text, std::size_t n) {
    if (text.empty()) return -1;
    if (n >= text.size())
        text.clear();
    else
        text.erase(0, n);
    return 0;
}

void strip_quotes(std::string &text) {
    if (text.empty()) return;
    if (text.front() == '"') text.erase(0, 1);
    if (!text.empty() && text.back() == '"') text.pop_back();
}

int next_token(std::string &destination, std::string &line) {
    destination.clear();
    std::size_t i = 0;
    const std::size_t len = line.size();
    while (i < len && is_token_delimiter(line[i])) ++i;
    const bool found = i < len;
    bool quoted = false;
    if (i < len && line[i] == '"') {
        line[i] = ' ';
        ++i;
        quoted = true;
    }
    if (!found) return 0;
    const std::size_t start = i;
    std::size_t end = i;
    while (i < len) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') {
                end = i;
                line[i] = ' ';
                ++i;
                break;
            }
        } else if (is_token_delimiter(c)) {
            break;
        }
        ++i;
        end = i;
    }
    if (end == start) return 0;
    destination.assign(line, start, end - start);
    while (i < len && is_token_delimiter(line[i])) ++i;
    shift_string(line, i);
    return 1;
}

namespace {

// Takes the next plain token off the line; false when none is left (line unchanged).
bool take_plain_token(std::string &line, std::string &token) {
    std::size_t i = 0;
    const std::size_t len = line.size();
    while (i < len && is_token_delimiter(line[i])) ++i;
    if (i >= len) return false;
    const std::size_t start = i;
    while (i < len && !is_token_delimiter(line[i])) ++i;
    token.assign(line, start, i - start);
    while (i < len && is_token_delimiter(line[i])) ++i;
    shift_string(line, i);
    return true;
}

// True when only white space (which the numeric conversions skip) is present,
// the case in which a "%d"/"%lf" conversion reports end of input.
bool only_white_space(const std::string &token) {
    for (char c : token)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f')
            return false;
    return true;
}

}  // namespace

int next_double(std::string &line, double &value) {
    value = 0.0;
    std::string token;
    if (!take_plain_token(line, token)) return 0;
    if (only_white_space(token)) return 0;
    char *end = nullptr;
    const double v = std::strtod(token.c_str(), &end);
    if (end == token.c_str()) return 1;  // a token that is not a number leaves 0.0
    // nan, inf and numbers past the range of a double are no number at all: the
    // token is taken and the caller is told that no value was read.
    if (!std::isfinite(v)) return 0;
    value = v;
    return 1;
}

bool next_finite_or_missing(std::string &line, double &value) {
    std::string probe = line, token;
    const bool token_there = take_plain_token(probe, token) && !only_white_space(token);
    return next_double(line, value) != 0 || !token_there;
}

int next_int(std::string &line, int &value) {
    value = 0;
    std::string token;
    if (!take_plain_token(line, token)) return 0;
    if (only_white_space(token)) return 0;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(token.c_str(), &end, 10);
    if (end != token.c_str()) {
        // Out-of-range numbers are held at the limits of a 32-bit integer.
        if (v > INT_MAX)
            value = INT_MAX;
        else if (v < INT_MIN)
            value = INT_MIN;
        else
            value = static_cast<int>(v);
    }
    return 1;
}

std::size_t skip_first_word(std::string_view line) {
    if (line.empty()) return 0;
    auto delim = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\0'; };
    int words = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const bool starts = !delim(line[i]) && (i == 0 || delim(line[i - 1]));
        if (starts && ++words == 2) return i;
    }
    return line.size() - 1;
}

bool whole_token_double(const std::string &token, double &value) {
    if (token.empty() || std::isspace(static_cast<unsigned char>(token[0]))) return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(token.c_str(), &end);
    if (end != token.c_str() + token.size() || !std::isfinite(v) || errno == ERANGE) return false;
    value = v;
    return true;
}

bool whole_token_int(const std::string &token, int &value) {
    if (token.empty() || std::isspace(static_cast<unsigned char>(token[0]))) return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(token.c_str(), &end, 10);
    if (end != token.c_str() + token.size() || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

int scan_int_word(std::FILE *file, std::string &word, int &value) {
    word.clear();
    auto is_blank = [](int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    int c = std::getc(file);
    while (c != EOF && is_blank(c)) c = std::getc(file);
    while (c != EOF && !is_blank(c)) {
        word.push_back(static_cast<char>(c));
        c = std::getc(file);
    }
    if (c != EOF) std::ungetc(c, file);
    if (word.empty()) return 0;
    return whole_token_int(word, value) ? 1 : -1;
}
