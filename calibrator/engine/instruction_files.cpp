// The instruction interpreter. Each instruction file is parsed once, at start-up
// by calibration_main, into a list of steps that read_model_output_file carries
// out against the model output file after every model run.
#include "calibrator/engine/instruction_files.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "calibrator/engine/start_up_services.h"

namespace {

using step_kind = instruction_step_kind;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool is_number_char(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
           c == 'E' || c == 'e';
}

std::string lower_case(const std::string &s) {
    std::string l = s;
    for (char &c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return l;
}

// Observation names by a case-folded key, each name folded once; entries of
// one key stand in observation order.
struct observation_index {
    std::vector<std::pair<std::string, int>> keys;

    explicit observation_index(const control_data &cd) {
        keys.reserve(static_cast<std::size_t>(cd.observation_count));
        for (int k = 1; k <= cd.observation_count; ++k) keys.emplace_back(lower_case(cd.observations[k].name), k);
        std::sort(keys.begin(), keys.end());
    }

    // The first observation whose name equals `name` as written, in upper case
    // or in lower case (a mixed-case name of another mix does not match).
    int find(const control_data &cd, const std::string &name) const {
        const std::string key = lower_case(name);
        auto at = std::lower_bound(keys.begin(), keys.end(), std::make_pair(key, 0));
        for (; at != keys.end() && at->first == key; ++at) {
            const std::string &candidate = cd.observations[at->second].name;
            bool as_written = true, upper = true, lower = true;
            for (std::size_t i = 0; i < name.size(); ++i) {
                const auto c = static_cast<unsigned char>(name[i]);
                as_written = as_written && candidate[i] == name[i];
                upper = upper && candidate[i] == static_cast<char>(std::toupper(c));
                lower = lower && candidate[i] == static_cast<char>(std::tolower(c));
            }
            if (as_written || upper || lower) return at->second;
        }
        return 0;
    }
};

std::string trimmed(const std::string &s) {
    std::size_t a = 0;
    std::size_t b = s.size();
    while (a < b && (is_blank(s[a]) || s[a] == '\r')) ++a;
    while (b > a && (is_blank(s[b - 1]) || s[b - 1] == '\r' || s[b - 1] == '\n')) --b;
    return s.substr(a, b - a);
}

bool whole_number(const std::string &s, int &n) {
    if (s.empty()) return false;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    errno = 0;
    const long v = std::strtol(s.c_str(), nullptr, 10);
    if (errno == ERANGE || v > 1000000000L) return false;
    n = static_cast<int>(v);
    return true;
}

struct instruction_parser {
    const control_data &cd;
    const observation_index &index;
    const std::string &file_name;
    const std::string &text;
    std::size_t pos = 0;
    int line = 2;  // the header is line 1

    calib_status fail(const std::string &what) const {
        std::printf("\nError in instruction file %s, line %d: %s.\n", file_name.c_str(), line,
                    what.c_str());
        pause_for_reading();
        return 1;
    }

    // Collects characters up to `stop` (consumed); false at the end of the file.
    bool collect_until(char stop, std::string &out) {
        out.clear();
        while (pos < text.size() && text[pos] != stop) {
            if (text[pos] == '\n') ++line;
            out += text[pos++];
        }
        if (pos >= text.size()) return false;
        ++pos;
        return true;
    }

    // A count after "l" or "t": a whole number followed by a blank.
    calib_status count_after(char letter, int &n) {
        std::string digits;
        while (pos < text.size() && !is_blank(text[pos]) && text[pos] != '\n') digits += text[pos++];
        if (pos >= text.size() || text[pos] == '\n' || !whole_number(digits, n)) {
            return fail(std::string("\"") + letter + digits +
                        "\" must be a whole number followed by a blank");
        }
        ++pos;
        return 0;
    }

    calib_status observation_of(const std::string &written, int &k) {
        k = index.find(cd, written);
        if (k == 0) return fail("\"" + written + "\" is not an observation of the control file");
        return 0;
    }

    calib_status parse(char marker, std::vector<instruction_step> &steps) {
        steps.clear();
        while (pos < text.size()) {
            const char c = text[pos++];
            instruction_step step;
            if (c == '\n') {
                ++line;
                step.kind = step_kind::line_break;
            } else if (c == marker) {
                step.kind = step_kind::search;
                if (!collect_until(marker, step.text)) return fail("a search text has no closing marker");
                if (step.text.empty()) return fail("a search text is empty");
                if (step.text.find('\n') != std::string::npos) {
                    return fail("a search text runs over a line break");
                }
            } else if (c == 'l') {
                step.kind = step_kind::line_advance;
                if (count_after('l', step.count) != 0) return 1;
                if (step.count < 1) return fail("a line advance must be at least l1");
            } else if (c == 'w') {
                step.kind = step_kind::whitespace;
            } else if (c == 't') {
                step.kind = step_kind::skip_chars;
                if (count_after('t', step.count) != 0) return 1;
            } else if (c == '[') {
                step.kind = step_kind::fixed_read;
                std::string name;
                if (!collect_until(']', name)) return fail("an observation name has no closing \"]\"");
                step.text = trimmed(name);
                std::string first;
                while (pos < text.size() && text[pos] != ':' && text[pos] != '\n') first += text[pos++];
                if (pos >= text.size() || text[pos] != ':') {
                    return fail("the fixed read of \"" + step.text + "\" needs columns of the form a:b");
                }
                ++pos;
                std::string last;
                while (pos < text.size() && is_number_char(text[pos])) last += text[pos++];
                if (!whole_number(first, step.first_column) || !whole_number(last, step.last_column)) {
                    return fail("the columns \"" + first + ":" + last + "\" of \"" + step.text +
                                "\" are not whole numbers");
                }
                if (step.first_column < 1) return fail("the first column of \"" + step.text + "\" is below 1");
                if (step.last_column < step.first_column) {
                    return fail("the last column of \"" + step.text + "\" is before its first column");
                }
                if (observation_of(step.text, step.observation) != 0) return 1;
            } else if (c == '!') {
                step.kind = step_kind::free_read;
                std::string name;
                if (!collect_until('!', name)) return fail("an observation name has no closing \"!\"");
                step.text = trimmed(name);
                if (observation_of(step.text, step.observation) != 0) return 1;
            } else if (c == '(') {
                std::printf("Semi-fixed observations are currently not supported with the calibration varnock.\n");
                std::printf("Modify the instruction file(s) accordingly and rerun the varnock.\n");
                return 1;
            } else {
                continue;  // "&", blanks and any other character do nothing
            }
            steps.push_back(step);
        }
        // Each step names the read it leads to, for the messages of a run.
        int next = -1;
        for (std::size_t i = steps.size(); i-- > 0;) {
            if (steps[i].kind == step_kind::fixed_read || steps[i].kind == step_kind::free_read) {
                next = static_cast<int>(i);
            }
            steps[i].target = next;
        }
        return 0;
    }
};

// Loads an instruction file through its handle, checks its header and parses it
// into table.steps[k].
calib_status load_instructions(const control_data &cd, int k, const observation_index &index,
                               instruction_file_table &table) {
    const std::string &name = cd.instruction_files[k].instruction_name;
    std::string raw;
    if (!read_open_file(table.files[k], raw)) {
        std::printf("\nCannot read instruction file %s.\n", name.c_str());
        return 1;
    }
    // A carriage return before a line break belongs to the line break, so that
    // instruction files with either line end read the same.
    std::string text;
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        text += raw[i];
    }
    const std::size_t eol = text.find('\n');
    const std::size_t header_end = eol == std::string::npos ? text.size() : eol;
    if (header_end < 5 || (text[0] != 'p' && text[0] != 'j') || text[1] != 'i' || text[2] != 'f' ||
        is_blank(text[4])) {
        std::printf("\n%s is not a valid instruction file.\n", name.c_str());
        std::printf("Its first line must be \"pif\" or \"jif\", any character and the marker character.\n\n");
        pause_for_reading();
        return 1;
    }
    const char marker = text[4];
    const std::string body = eol == std::string::npos ? std::string() : text.substr(eol + 1);
    instruction_parser parser{cd, index, name, body};
    const calib_status status = parser.parse(marker, table.steps[k]);
    table.parsed[k] = status == 0;
    return status;
}

// Carries the steps out against the output text.
struct output_cursor {
    const std::string &out;
    const std::vector<instruction_step> &steps;
    const std::string &instruction_name;
    const std::string &output_name;
    std::string &field;
    bool &non_finite;
    std::size_t pos = 0;

    calib_status fail(const instruction_step &step, const std::string &what) const {
        const char *target = step.target < 0 ? "(none after it)"
                                             : steps[static_cast<std::size_t>(step.target)].text.c_str();
        std::printf("\nError reading model output file %s with instruction file %s (observation %s): %s.\n",
                    output_name.c_str(), instruction_name.c_str(), target, what.c_str());
        return 1;
    }

    // A value read is stored only when it is finite: an infinite or undefined
    // model result fails the run instead of entering phi. [a, b) is its text.
    calib_status store(const instruction_step &step, control_data &cd, int value_kind, double v,
                       std::size_t a, std::size_t b) {
        if (!std::isfinite(v)) {
            non_finite = true;
            return fail(step, "the model output value \"" + out.substr(a, b - a) + "\" is not a finite number");
        }
        cd.observations[step.observation].model_value[value_kind] = v;
        return 0;
    }

    // Converts the whole of out[a, b) as strtod would; false when it is empty or
    // strtod would stop short of b. The common case of a plain decimal number
    // is converted without copying the text.
    bool convert(std::size_t a, std::size_t b, double &v) {
        if (a >= b) return false;
        const char *first = out.data() + a;
        const char *last = out.data() + b;
        if (*first == '+' && first + 1 < last && (std::isdigit(static_cast<unsigned char>(first[1])) || first[1] == '.')) {
            ++first;
        }
        const std::from_chars_result r = std::from_chars(first, last, v);
        if (r.ec == std::errc() && r.ptr == last) return true;
        // Anything else (a range error, hexadecimal or text that does not
        // convert) takes the library conversion, so the result is the same.
        field.assign(out, a, b - a);
        char *end = nullptr;
        v = std::strtod(field.c_str(), &end);
        return *end == '\0';
    }

    // Text at `at` that converts to an infinity or a not-a-number ("inf",
    // "-Infinity", "nan", or a number too large for a double); `end` is where it ends.
    bool non_finite_text(std::size_t at, std::size_t &end) const {
        if (at >= out.size() || std::isspace(static_cast<unsigned char>(out[at]))) return false;
        const char *start = out.c_str() + at;
        char *stop = nullptr;
        const double v = std::strtod(start, &stop);
        if (stop == start || std::isfinite(v) || std::isalnum(static_cast<unsigned char>(*stop))) return false;
        end = at + static_cast<std::size_t>(stop - start);
        return true;
    }

    std::size_t line_end(std::size_t from) const {
        const std::size_t eol = out.find('\n', from);
        return eol == std::string::npos ? out.size() : eol;
    }

    std::size_t next_line(std::size_t from) const {
        const std::size_t eol = out.find('\n', from);
        return eol == std::string::npos ? out.size() : eol + 1;
    }

    calib_status run(const instruction_step &step, control_data &cd, int value_kind) {
        switch (step.kind) {
        case step_kind::line_break:
            pos = next_line(pos);
            return 0;
        case step_kind::search: {
            // A search text holds no line break, so its first occurrence from the
            // cursor on lies within one line.
            const std::size_t at = out.find(step.text, pos);
            if (at == std::string::npos) {
                return fail(step, "the search text \"" + step.text + "\" was not found");
            }
            pos = at + step.text.size();
            return 0;
        }
        case step_kind::line_advance: {
            std::size_t last_start = pos;
            for (int i = 0; i < step.count; ++i) {
                if (pos >= out.size()) {
                    return fail(step, "the line advance l" + std::to_string(step.count) +
                                          " goes past the end of the file");
                }
                last_start = pos;
                pos = next_line(pos);
            }
            pos = last_start;
            return 0;
        }
        case step_kind::whitespace:
            while (pos < out.size() && !is_blank(out[pos])) ++pos;
            while (pos < out.size() && is_blank(out[pos])) ++pos;
            if (pos >= out.size()) return fail(step, "\"w\" found nothing left in the file");
            return 0;
        case step_kind::skip_chars:
            if (static_cast<std::size_t>(step.count) > out.size() - pos) {
                return fail(step, "\"t" + std::to_string(step.count) + "\" goes past the end of the file");
            }
            pos += static_cast<std::size_t>(step.count);
            return 0;
        case step_kind::fixed_read: {
            std::size_t start_of_line = pos;
            while (start_of_line > 0 && out[start_of_line - 1] != '\n') --start_of_line;
            const std::size_t eol = line_end(start_of_line);
            const std::size_t first = start_of_line + static_cast<std::size_t>(step.first_column) - 1;
            if (first >= eol) {
                return fail(step, "the line has fewer than " + std::to_string(step.first_column) + " columns");
            }
            std::size_t last = start_of_line + static_cast<std::size_t>(step.last_column);
            if (last > eol) last = eol;
            std::size_t a = first;
            std::size_t b = last;
            while (a < b && (is_blank(out[a]) || out[a] == '\r')) ++a;
            while (b > a && (is_blank(out[b - 1]) || out[b - 1] == '\r')) --b;
            double v = 0.0;
            if (!convert(a, b, v)) {
                return fail(step, "columns " + std::to_string(step.first_column) + " to " +
                                      std::to_string(step.last_column) + " hold \"" + out.substr(a, b - a) +
                                      "\", not a number");
            }
            pos = last;
            return store(step, cd, value_kind, v, a, b);
        }
        case step_kind::free_read: {
            while (pos < out.size() && is_blank(out[pos])) ++pos;
            const std::size_t start = pos;
            while (pos < out.size() && is_number_char(out[pos])) ++pos;
            double v = 0.0;
            if (!convert(start, pos, v)) {
                std::size_t shown_end = start;
                if (non_finite_text(start, shown_end)) {
                    return store(step, cd, value_kind, std::numeric_limits<double>::quiet_NaN(), start, shown_end);
                }
                std::string shown = out.substr(start, 20);
                shown = shown.substr(0, shown.find('\n'));
                return fail(step, "no number at \"" + trimmed(shown) + "\"");
            }
            return store(step, cd, value_kind, v, start, pos);
        }
        }
        return 0;
    }
};

}  // namespace

calib_status check_instruction_files(control_data &cd, instruction_file_table &table) {
    const observation_index index(cd);
    for (int k = 1; k <= cd.instruction_count; ++k) {
        if (load_instructions(cd, k, index, table) != 0) return 1;
    }
    // An observation that no instruction reads would be scored against a value
    // no model run wrote.
    std::vector<bool> read(static_cast<std::size_t>(cd.observation_count) + 1, false);
    for (int k = 1; k <= cd.instruction_count; ++k) {
        for (const instruction_step &step : table.steps[k]) read[static_cast<std::size_t>(step.observation)] = true;
    }
    for (int k = 1; k <= cd.observation_count; ++k) {
        if (!read[static_cast<std::size_t>(k)]) {
            std::printf("\nError: observation \"%s\" of the control file is read by no instruction file.\n",
                        cd.observations[k].name.c_str());
            std::printf("  (instruction files:");
            for (int f = 1; f <= cd.instruction_count; ++f)
                std::printf(" %s", cd.instruction_files[static_cast<std::size_t>(f)].instruction_name.c_str());
            std::printf(")\n");
            pause_for_reading();
            return 1;
        }
    }
    return 0;
}

calib_status read_model_output_file(control_data &cd, file_names /*names*/, int instruction_number,
                                     int value_kind, instruction_file_table &table) {
    table.non_finite_value = false;
    if (!table.parsed[instruction_number]) {
        const observation_index index(cd);
        if (load_instructions(cd, instruction_number, index, table) != 0) return 1;
    }
    const instruction_file_data &ins = cd.instruction_files[instruction_number];
    std::FILE *f = std::fopen(ins.output_name.c_str(), "rb");
    if (f == nullptr) {
        std::printf("\nCannot open model output file %s (instruction file %s); the model run failed.\n",
                    ins.output_name.c_str(), ins.instruction_name.c_str());
        return 1;
    }
    std::string &out = table.output_text;
    const bool ok = read_open_file(f, out);
    std::fclose(f);
    if (!ok) {
        std::printf("\nCannot read model output file %s.\n", ins.output_name.c_str());
        return 1;
    }
    const std::vector<instruction_step> &steps = table.steps[instruction_number];
    output_cursor cursor{out, steps, ins.instruction_name, ins.output_name, table.field,
                         table.non_finite_value};
    for (const instruction_step &step : steps) {
        if (cursor.run(step, cd, value_kind) != 0) return 1;
    }
    return 0;
}
