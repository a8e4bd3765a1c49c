// Replacement parameters: reading the list file and the value file, checking the
// print formats, and substituting bracketed tags in input lines. Called by the
// project-file reader (REPLACE_PARAMS, REPLACE_VALS), read_line and the
// calibration objective.
#include "model/core/replace_params.h"

#include <cctype>
#include <climits>
#include <cstdio>

#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"

namespace {

// Widths and precisions longer than this are refused: they only pad the line.
constexpr int max_format_field = 99;

void print_improper_line(const std::string &line) {
    std::printf("Error: Improperly formatted line in the replacement parameter file\nline:%s\n",
                line.c_str());
}

// Reads the digits of a width or precision; false when the value passes the limit.
bool read_field(const std::string &format, std::size_t &i, std::string &digits) {
    digits.clear();
    int value = 0;
    while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i]))) {
        value = value * 10 + (format[i] - '0');
        if (value > max_format_field) return false;
        digits.push_back(format[i]);
        ++i;
    }
    return true;
}

// Reads the count of a list file as "%d\n" does: white space, an integer, and the
// white space after it (blank lines included).
bool read_list_count(std::FILE *file, int &count) {
    int c = std::getc(file);
    while (c != EOF && std::isspace(c)) c = std::getc(file);
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = std::getc(file);
    }
    long long value = 0;
    bool digits = false;
    while (c != EOF && std::isdigit(c)) {
        digits = true;
        if (value <= INT_MAX) value = value * 10 + (c - '0');
        c = std::getc(file);
    }
    // A count that no int holds, or a negative one, is not a count of lines.
    if (!digits || negative || value > INT_MAX) return false;
    while (c != EOF && std::isspace(c)) c = std::getc(file);
    if (c != EOF) std::ungetc(c, file);
    count = static_cast<int>(value);
    return true;
}

// Puts the value of the first entry whose whole tag starts at `pos`; false when
// no entry matches.
// The list files read for the run going, for the messages that name them.
std::string list_files_read;

bool replace_one_tag(std::string &line, std::size_t pos) {
    for (const replace_param &param : replace_param_list) {
        const std::size_t len = param.tag.size();
        if (len == 0 || pos + len > line.size()) continue;
        if (line.compare(pos, len, param.tag) != 0) continue;
        line.replace(pos, len, format_replace_value(param));
        return true;
    }
    return false;
}

}  // namespace

int parse_replace_format(const std::string &format, replace_format &parsed) {
    parsed = replace_format{};
    bool have_conversion = false;
    std::string *literal = &parsed.prefix;
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (c == '[') return -1;  // the value's text would be taken for a tag again
        if (c != '%') {
            literal->push_back(c);
            ++i;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            literal->push_back('%');
            i += 2;
            continue;
        }
        if (have_conversion) return -1;
        ++i;
        std::string flags;
        while (i < format.size() && std::string_view("-+ 0#").find(format[i]) != std::string_view::npos)
            flags.push_back(format[i++]);
        std::string width, precision;
        if (!read_field(format, i, width)) return -1;
        bool has_precision = false;
        if (i < format.size() && format[i] == '.') {
            has_precision = true;
            ++i;
            if (!read_field(format, i, precision)) return -1;
        }
        if (i < format.size() && format[i] == 'l') ++i;
        if (i >= format.size()) return -1;
        const char letter = format[i++];
        if (letter != 'd' && letter != 'f') return -1;
        if (letter == 'd' && flags.find('#') != std::string::npos) return -1;
        parsed.type = letter == 'f' ? 1 : 0;
        parsed.conversion = "%" + flags + width + (has_precision ? "." + precision : "") + letter;
        have_conversion = true;
        literal = &parsed.suffix;
    }
    return have_conversion ? 0 : -1;
}

std::string format_replace_value(const replace_param &param) {
    replace_format parsed;
    if (parse_replace_format(param.format, parsed) != 0) return param.tag;
    // The conversion was rebuilt from checked parts: one d or f, no 'l', no '*'.
    const char *conv = parsed.conversion.c_str();
    int n = parsed.type == 1 ? std::snprintf(nullptr, 0, conv, param.double_value)
                             : std::snprintf(nullptr, 0, conv, param.int_value);
    if (n < 0) return param.tag;
    std::string value(static_cast<std::size_t>(n) + 1, '\0');
    if (parsed.type == 1)
        std::snprintf(value.data(), value.size(), conv, param.double_value);
    else
        std::snprintf(value.data(), value.size(), conv, param.int_value);
    value.resize(static_cast<std::size_t>(n));
    return parsed.prefix + value + parsed.suffix;
}

int parse_replace_param_line(const std::string &line, replace_param &param) {
    const std::size_t open = line.rfind('[');
    const std::size_t close = line.rfind(']');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        print_improper_line(line);
        return -1;
    }
    std::string rest = line.substr(close + 1);
    std::string format;
    next_token(format, rest);
    replace_format parsed;
    if (parse_replace_format(format, parsed) != 0) {
        print_improper_line(line);
        std::printf("---> The format must be a C-style format in quotes, such as \"%%4.2lf\"\n");
        return -1;
    }
    param = replace_param{};
    param.tag = line.substr(open, close - open + 1);
    param.tag_length = static_cast<int>(param.tag.size());
    param.format = format;
    param.type = parsed.type;
    return 0;
}

int read_replace_params(const std::string &list_file_name) {
    std::FILE *file = open_run_file(list_file_name, "r");
    if (file == nullptr) {
        std::printf("Error: unable to open the replace parameter file.\n");
        std::printf("The replacement parameter list file is %s.\n", list_file_name.c_str());
        return -1;
    }
    int count = 0;
    if (!read_list_count(file, count)) {
        std::printf("Error: unable to read the number of parameters in the parameter list file\n");
        std::printf("Line 1 of the replacement parameter list file %s must hold a count from 0 "
                    "to %d.\n",
                    list_file_name.c_str(), INT_MAX);
        std::fclose(file);
        return -1;
    }
    std::string line;
    for (int i = 0; i < count; ++i) {
        if (!read_raw_line(line, file)) {
            std::printf("Error: unexpected end of parameter list file after %d parameters. "
                        "Expecting %d\n",
                        i, count);
            std::printf("The replacement parameter list file is %s.\n", list_file_name.c_str());
            std::fclose(file);
            return -1;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();  // CRLF line end
        replace_param param;
        if (parse_replace_param_line(line, param) == 0)
            replace_param_list.push_back(param);
        else
            std::printf("  (line %d of the replacement parameter list file %s)\n", i + 2,
                        list_file_name.c_str());
    }
    std::fclose(file);
    if (list_files_read.find(list_file_name) == std::string::npos)
        list_files_read += (list_files_read.empty() ? "" : ", ") + list_file_name;
    return 0;
}

int read_replace_vals(const std::string &value_file_name) {
    std::string name = value_file_name;
    std::FILE *file = open_run_file(name, "r");
    if (file == nullptr) {
        std::printf("Error: unable to open the value file %s", name.c_str());
        return -1;
    }
    std::string line, value_line;
    bool have_line = false;
    for (long long k = 0; k <= replace_line_index; ++k) {
        if (!read_raw_line(line, file)) break;
        value_line = line;
        have_line = true;
    }
    std::fclose(file);
    if (!have_line) {
        std::printf("Error: no value line %lld in the value file %s\n",
                    static_cast<long long>(replace_line_index) + 1, name.c_str());
        return -1;
    }
    const int found = read_replace_values_line(value_line);
    const int needed = static_cast<int>(replace_param_list.size());
    if (found < needed) {
        std::printf("Error: the value line of the value file %s holds %d values, "
                    "the replace parameter list %d\n",
                    name.c_str(), found, needed);
        return -1;
    }
    replace_params_on = 1;
    return 0;
}

int read_replace_values_line(std::string line) {
    int found = 0;
    for (replace_param &param : replace_param_list) {
        int got = 0;
        if (param.type == 1)
            got = next_double(line, param.double_value);
        else
            got = next_int(line, param.int_value);
        found += got;
    }
    return found;
}

bool replace_in_line(std::string &line) {
    bool matched = true;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '[') continue;
        if (!replace_one_tag(line, i)) {
            std::printf("Error: unable to match replace pair: %s\n", line.c_str());
            matched = false;
        }
    }
    return matched;
}

void clear_replace_list_files() { list_files_read.clear(); }

void refuse_unmatched_tag(const std::string &file_name) {
    std::printf("Error: the line above (from %s) holds a tag that the replacement parameter "
                "list%s%s does not give; the run stops.\n",
                file_name.c_str(), list_files_read.empty() ? "" : " file ", list_files_read.c_str());
    if (error_record.code == 0)
        raise_printed_error();
    else
        error_record.fatal = 1;
}
