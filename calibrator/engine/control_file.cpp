// Reader of the control file into control_data, called once by
// calibration_main. The file is read positionally, section by section; every
// value is converted with a check and every failure names the section.
#include "calibrator/engine/control_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "calibrator/engine/numeric/nr_arrays.h"
#include "calibrator/engine/start_up_services.h"

namespace {

// Words read into the record's text fields are shorter than this.
constexpr std::size_t word_limit = 100;
// Prior information labels are shorter than this.
constexpr std::size_t label_limit = 24;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A cursor over the control file text with checked scans. Whole lines keep
// their line break; words and numbers skip any white space before them.
struct control_reader {
    const std::string &text;
    const std::string &file_name;
    std::size_t pos = 0;
    const char *section = "control data";

    bool at_end() const { return pos >= text.size(); }

    // Prints the failure with the file and the section; always returns 1.
    calib_status fail(const std::string &what) const {
        std::printf("\nError in control file %s, section \"%s\": %s.\n", file_name.c_str(), section,
                    what.c_str());
        pause_for_reading();
        return 1;
    }

    // Reads the rest of the current line, line break included; false at the end.
    bool read_line(std::string &line) {
        if (at_end()) return false;
        const std::size_t end = text.find('\n', pos);
        const std::size_t stop = end == std::string::npos ? text.size() : end + 1;
        line.assign(text, pos, stop - pos);
        pos = stop;
        return true;
    }

    // Reads the rest of the line that the last value stood on. After a section
    // whose count was 0 the cursor already stands at the start of a line.
    void finish_line() {
        if (pos > 0 && text[pos - 1] != '\n') {
            std::string rest;
            read_line(rest);
        }
    }

    // The next white-space delimited word; false when the text has ended.
    bool next_word(std::string &word) {
        while (!at_end() && is_space(text[pos])) ++pos;
        if (at_end()) return false;
        const std::size_t start = pos;
        while (!at_end() && !is_space(text[pos])) ++pos;
        word.assign(text, start, pos - start);
        return true;
    }

    calib_status scan_word(std::string &field, const std::string &what) {
        std::string word;
        if (!next_word(word)) return fail("the file ends before " + what);
        if (word.size() >= word_limit) {
            return fail(what + " \"" + word.substr(0, 40) + "...\" is longer than 99 characters");
        }
        field = word;
        return 0;
    }

    calib_status scan_int(int &field, const std::string &what) {
        std::string word;
        if (!next_word(word)) return fail("the file ends before " + what);
        char *end = nullptr;
        errno = 0;
        const long v = std::strtol(word.c_str(), &end, 10);
        if (end == word.c_str() || *end != '\0' || errno == ERANGE || v < -2147483647L - 1 ||
            v > 2147483647L) {
            return fail("expected a whole number for " + what + ", found \"" + word + "\"");
        }
        field = static_cast<int>(v);
        return 0;
    }

    calib_status scan_count(int &field, const std::string &what) {
        if (scan_int(field, what) != 0) return 1;
        if (field < 0) return fail(what + " must not be negative");
        return 0;
    }

    calib_status scan_double(double &field, const std::string &what) {
        std::string word;
        if (!next_word(word)) return fail("the file ends before " + what);
        char *end = nullptr;
        errno = 0;
        const double v = std::strtod(word.c_str(), &end);
        if (end == word.c_str() || *end != '\0' || !std::isfinite(v)) {
            return fail("expected a number for " + what + ", found \"" + word + "\"");
        }
        field = v;
        last_number = word;
        return 0;
    }

    std::string last_number;  // the word of the last number scan_double read

    // A measured value, prior value or weight enters phi squared and multiplied:
    // beyond this magnitude phi would not be a finite number.
    static constexpr double largest_magnitude = 1.0e50;

    // Refuses a value read just now whose magnitude is beyond largest_magnitude.
    calib_status check_magnitude(double v, const std::string &what) const {
        if (std::fabs(v) <= largest_magnitude) return 0;
        char shown[40];
        std::snprintf(shown, sizeof shown, "%g", v);
        return fail(what + " (line " + std::to_string(line_of(pos)) + ") is " + shown +
                    "; values beyond 1e50 in magnitude would make phi infinite");
    }

    // Line number (from 1) of the text position `at`.
    int line_of(std::size_t at) const {
        int line = 1;
        for (std::size_t i = 0; i < at && i < text.size(); ++i) line += text[i] == '\n' ? 1 : 0;
        return line;
    }

    // Moves past blank lines to the start of the next line that holds a word;
    // false at the end of the file.
    bool skip_blank_lines() {
        std::size_t i = pos;
        while (i < text.size() && is_space(text[i])) {
            if (text[i] == '\n') pos = i + 1;
            ++i;
        }
        return i < text.size();
    }

    // The words of the next line that holds any, in `words`, and its number.
    // A section header is taken as a line too, so that a missing entry is
    // reported where it is missing rather than read from the lines below.
    bool next_line_words(std::vector<std::string> &words, int &line) {
        words.clear();
        if (!skip_blank_lines()) return false;
        line = line_of(pos);
        const std::size_t eol = text.find('\n', pos);
        const std::size_t stop = eol == std::string::npos ? text.size() : eol;
        for (std::size_t i = pos; i < stop;) {
            while (i < stop && is_space(text[i])) ++i;
            const std::size_t start = i;
            while (i < stop && !is_space(text[i])) ++i;
            if (i > start) words.emplace_back(text, start, i - start);
        }
        pos = eol == std::string::npos ? text.size() : eol + 1;
        return true;
    }

    // Crosses a section boundary: the rest of the last value line, then the
    // header line of the next section, which must begin with "*".
    calib_status next_section(const char *name, std::string &header) {
        finish_line();
        section = name;
        return read_header(header);
    }

    calib_status read_header(std::string &header) {
        if (!read_line(header)) return fail("the section is missing");
        std::size_t i = 0;
        while (i < header.size() && (header[i] == ' ' || header[i] == '\t')) ++i;
        if (i >= header.size() || header[i] != '*') {
            std::string shown = header;
            while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
            return fail("expected the section header line (beginning with \"*\"), found \"" + shown +
                        "\"; check the counts of the previous section");
        }
        return 0;
    }
};

std::string numbered(const char *what, int k) { return std::string(what) + " " + std::to_string(k); }

// Fills a 1-based list (element 0 left empty) with `count` records, each read
// by read_one(record, name) where name is the kind and number used in messages.
template <typename Record, typename ReadOne>
calib_status read_numbered(std::vector<Record> &list, int count, const char *kind, ReadOne read_one) {
    list.assign(1, Record{});
    for (int k = 1; k <= count; ++k) {
        Record record;
        const calib_status s = read_one(record, numbered(kind, k));
        if (s != 0) return s;
        list.push_back(record);
    }
    return 0;
}

calib_status read_control_values(control_reader &r, control_data &cd) {
    r.section = "control data";
    calib_status s = 0;
    auto value = [](int k, const char *field) {
        return "control value " + std::to_string(k) + " (" + field + ")";
    };
    s = s ? s : r.scan_word(cd.restart_switch, value(1, "restart_switch"));
    s = s ? s : r.scan_word(cd.mode, value(2, "mode"));
    s = s ? s : r.scan_count(cd.parameter_count, value(3, "parameter_count"));
    s = s ? s : r.scan_count(cd.observation_count, value(4, "observation_count"));
    s = s ? s : r.scan_count(cd.parameter_group_count, value(5, "parameter_group_count"));
    s = s ? s : r.scan_count(cd.prior_count, value(6, "prior_count"));
    s = s ? s : r.scan_count(cd.observation_group_count, value(7, "observation_group_count"));
    s = s ? s : r.scan_count(cd.template_count, value(8, "template_count"));
    s = s ? s : r.scan_count(cd.instruction_count, value(9, "instruction_count"));
    s = s ? s : r.scan_word(cd.precision_word, value(10, "precision_word"));
    s = s ? s : r.scan_word(cd.decimal_point_word, value(11, "decimal_point_word"));
    s = s ? s : r.scan_count(cd.command_count, value(12, "command_count"));
    s = s ? s : r.scan_int(cd.jacobian_file_flag, value(13, "jacobian_file_flag"));
    s = s ? s : r.scan_int(cd.message_file_flag, value(14, "message_file_flag"));
    s = s ? s : r.scan_double(cd.lambda, value(15, "lambda"));
    s = s ? s : r.scan_double(cd.lambda_factor, value(16, "lambda_factor"));
    s = s ? s : r.scan_double(cd.phi_ratio_sufficient, value(17, "phi_ratio_sufficient"));
    s = s ? s : r.scan_double(cd.phi_reduction_lambda, value(18, "phi_reduction_lambda"));
    s = s ? s : r.scan_count(cd.lambda_limit, value(19, "lambda_limit"));
    s = s ? s : r.scan_double(cd.relative_change_max, value(20, "relative_change_max"));
    s = s ? s : r.scan_double(cd.factor_change_max, value(21, "factor_change_max"));
    s = s ? s : r.scan_double(cd.factor_base, value(22, "factor_base"));
    s = s ? s : r.scan_int(cd.control_int_a, value(23, "control_int_a"));
    s = s ? s : r.scan_double(cd.phi_reduction_switch, value(24, "phi_reduction_switch"));
    s = s ? s : r.scan_word(cd.control_word_a, value(25, "control_word_a"));
    s = s ? s : r.scan_int(cd.max_iterations, value(26, "max_iterations"));
    s = s ? s : r.scan_double(cd.phi_reduction_stop, value(27, "phi_reduction_stop"));
    s = s ? s : r.scan_count(cd.phi_stop_count, value(28, "phi_stop_count"));
    s = s ? s : r.scan_count(cd.no_reduction_count, value(29, "no_reduction_count"));
    s = s ? s : r.scan_double(cd.relative_change_stop, value(30, "relative_change_stop"));
    s = s ? s : r.scan_count(cd.relative_change_count, value(31, "relative_change_count"));
    s = s ? s : r.scan_int(cd.covariance_flag, value(32, "covariance_flag"));
    s = s ? s : r.scan_int(cd.correlation_flag, value(33, "correlation_flag"));
    s = s ? s : r.scan_int(cd.eigen_flag, value(34, "eigen_flag"));
    s = s ? s : r.scan_int(cd.partial_jacobian, value(35, "partial_jacobian"));
    s = s ? s : r.scan_int(cd.partial_jacobian_conditional, value(36, "partial_jacobian_conditional"));
    s = s ? s : r.scan_double(cd.partial_jacobian_ratio, value(37, "partial_jacobian_ratio"));
    s = s ? s : r.scan_count(cd.partial_jacobian_columns, value(38, "partial_jacobian_columns"));
    s = s ? s : r.scan_double(cd.control_double_a, value(39, "control_double_a"));
    if (s != 0) return s;
    if (cd.max_iterations < -1) return r.fail("max_iterations must be -1, 0 or above");
    // The Marquardt lambda is added to the diagonal of the normal matrix: below 0
    // it can take away the matrix's positive definiteness.
    if (!(cd.lambda >= 0.0)) return r.fail("lambda (value 15) must be 0 or more");
    // Lambda is divided by the factor: one so small that its inverse overflows
    // would make the next lambda infinite.
    if (cd.lambda_factor > 0.0 && !std::isfinite(1.0 / cd.lambda_factor))
        return r.fail("lambda_factor (value 16) is too small to divide by");
    // One iteration's search raises or lowers lambda by the factor at most
    // lambda_limit times; the lambdas it reaches must stay numbers.
    if (cd.lambda > 0.0 && cd.lambda_factor > 0.0) {
        const double reach = std::fabs(std::log10(cd.lambda)) +
                             std::fabs(std::log10(cd.lambda_factor)) * (cd.lambda_limit > 0 ? cd.lambda_limit : 1);
        if (!(reach <= 300.0)) {
            char shown[80];
            std::snprintf(shown, sizeof shown, "%g and %g", cd.lambda, cd.lambda_factor);
            return r.fail("lambda (value 15) and lambda_factor (value 16) are " + std::string(shown) +
                          ": lambda times or divided by the factor " + std::to_string(cd.lambda_limit) +
                          " times (lambda_limit, value 19) would pass 1e300; use a factor such as 2 to 10");
        }
    }
    if (cd.partial_jacobian != 0 && cd.partial_jacobian != 1) {
        return r.fail("partial_jacobian must be 0 or 1");
    }
    if (cd.partial_jacobian_conditional != 0 && cd.partial_jacobian_conditional != 1) {
        return r.fail("partial_jacobian_conditional must be 0 or 1");
    }
    return 0;
}

// The optional singular value decomposition section; on return the parameter
// groups header has been read.
calib_status read_svd_section(control_reader &r, control_data &cd) {
    if (r.next_section("parameter groups", cd.svd_header) != 0) return 1;
    if (cd.svd_header.size() < 10 || cd.svd_header.compare(2, 8, "singular") != 0) {
        cd.group_section_line = cd.svd_header;
        return 0;
    }
    r.section = "singular value decomposition";
    calib_status s = 0;
    s = s ? s : r.scan_int(cd.svd_mode, "the decomposition mode");
    s = s ? s : r.scan_int(cd.svd_max_singular, "the largest number of singular values");
    s = s ? s : r.scan_double(cd.svd_eigen_threshold, "the eigenvalue threshold");
    s = s ? s : r.scan_int(cd.svd_eigen_write, "the eigenvector output flag");
    if (s != 0) return s;
    return r.next_section("parameter groups", cd.group_section_line);
}

// The decimals of a number as written (after the point of its mantissa) and
// whether it carries an exponent.
void written_form(const std::string &word, int &decimals, bool &exponent) {
    const std::size_t e = word.find_first_of("eEdD");
    exponent = e != std::string::npos;
    const std::string mantissa = word.substr(0, e);
    const std::size_t point = mantissa.find('.');
    decimals = point == std::string::npos ? 0 : static_cast<int>(mantissa.size() - point - 1);
}

calib_status read_parameter_groups(control_reader &r, control_data &cd) {
    return read_numbered(cd.parameter_groups, cd.parameter_group_count, "parameter group",
                         [&r](parameter_group_data &grp, const std::string &what) {
        calib_status s = 0;
        s = s ? s : r.scan_word(grp.group_name, "the name of " + what);
        s = s ? s : r.scan_word(grp.increment_type, "the increment type of " + what);
        s = s ? s : r.scan_double(grp.increment, "the increment of " + what);
        s = s ? s : r.scan_double(grp.increment_lower_bound, "the increment lower bound of " + what);
        s = s ? s : r.scan_word(grp.derivative_form, "the derivative form of " + what);
        s = s ? s : r.scan_double(grp.increment_multiplier, "the increment multiplier of " + what);
        s = s ? s : r.scan_word(grp.derivative_method, "the derivative method of " + what);
        return s;
    });
}

calib_status read_parameters(control_reader &r, control_data &cd) {
    if (r.next_section("parameter data", cd.parameter_section_line) != 0) return 1;
    const calib_status read = read_numbered(cd.parameters, cd.parameter_count, "parameter",
                                            [&r](parameter_data &par, const std::string &what) {
        calib_status s = 0;
        s = s ? s : r.scan_word(par.name, "the name of " + what);
        s = s ? s : r.scan_word(par.transform, "the transform of " + what);
        s = s ? s : r.scan_word(par.change_limit, "the change limit of " + what);
        s = s ? s : r.scan_double(par.value, "the value of " + what);
        s = s ? s : r.scan_double(par.lower_bound, "the lower bound of " + what);
        s = s ? s : r.scan_double(par.upper_bound, "the upper bound of " + what);
        s = s ? s : r.scan_word(par.group, "the group of " + what);
        s = s ? s : r.scan_double(par.scale, "the scale of " + what);
        s = s ? s : r.scan_double(par.offset, "the offset of " + what);
        s = s ? s : r.scan_int(par.derivative_command, "the derivative command of " + what);
        if (s != 0) return s;
        if (par.transform == "log") {
            if (par.value <= 0.0 || par.lower_bound <= 0.0 || par.upper_bound <= 0.0) {
                return r.fail("the \"log\" parameter \"" + par.name +
                              "\" needs a value and bounds above 0");
            }
            par.value = std::log10(par.value);
            par.lower_bound = std::log10(par.lower_bound);
            par.upper_bound = std::log10(par.upper_bound);
        }
        // An adjustable value outside its bounds would be estimated outside
        // them; fixed and tied parameters never move by their own bounds.
        if (par.transform != "fixed" && par.transform != "tied") {
            if (par.lower_bound > par.upper_bound) {
                return r.fail("the lower bound of parameter \"" + par.name +
                              "\" is above its upper bound");
            }
            if (par.value < par.lower_bound || par.value > par.upper_bound) {
                return r.fail("the value of parameter \"" + par.name + "\" lies outside its bounds");
            }
        }
        return calib_status{0};
    });
    if (read != 0) return read;
    // The tie lines follow the parameter lines, in the order of the tied parameters.
    for (int p = 1; p <= cd.parameter_count; ++p) {
        parameter_data &par = cd.parameters[p];
        if (par.transform != "tied") continue;
        const std::string what = "the tie line of parameter \"" + par.name + "\"";
        calib_status s = 0;
        s = s ? s : r.scan_word(par.tie_line_name, what);
        s = s ? s : r.scan_word(par.parent_name, "the parent name in " + what);
        if (s != 0) return s;
    }
    for (int p = 1; p <= cd.parameter_count; ++p) {
        parameter_data &par = cd.parameters[p];
        par.at_upper_bound = par.value == par.upper_bound ? 1 : 0;
        par.at_lower_bound = par.value == par.lower_bound ? 1 : 0;
    }
    return 0;
}

calib_status read_observations(control_reader &r, control_data &cd) {
    if (r.next_section("observation groups", cd.observation_group_section_line) != 0) return 1;
    const calib_status groups = read_numbered(
        cd.observation_groups, cd.observation_group_count, "observation group",
        [&r](observation_group_data &grp, const std::string &what) {
            return r.scan_word(grp.group_name, "the name of " + what);
        });
    if (groups != 0) return groups;
    if (r.next_section("observation data", cd.observation_section_line) != 0) return 1;
    return read_numbered(cd.observations, cd.observation_count, "observation",
                         [&r](observation_data &obs, const std::string &what) {
        calib_status s = 0;
        s = s ? s : r.scan_word(obs.name, "the name of " + what);
        s = s ? s : r.scan_double(obs.measured, "the measured value of " + what);
        if (s == 0) written_form(r.last_number, obs.measured_decimals, obs.measured_exponent);
        s = s ? s : r.scan_double(obs.weight, "the weight of " + what);
        s = s ? s : r.check_magnitude(obs.measured, "the measured value of " + what);
        s = s ? s : r.check_magnitude(obs.weight, "the weight of " + what);
        s = s ? s : r.scan_word(obs.group, "the group of " + what);
        return s;
    });
}

// The model command is the whole line after the section header (and any blank
// lines), trimmed; a section header there means the command is missing.
calib_status read_model_command(control_reader &r, control_data &cd) {
    if (r.next_section("model command line", cd.command_section_line) != 0) return 1;
    if (!r.skip_blank_lines()) return r.fail("the model command line is missing");
    const int line = r.line_of(r.pos);
    while (!r.at_end() && is_space(r.text[r.pos])) ++r.pos;
    const std::size_t start = r.pos;
    while (!r.at_end() && r.text[r.pos] != '\n') ++r.pos;
    std::string command = r.text.substr(start, r.pos - start);
    while (!command.empty() && is_space(command.back())) command.pop_back();
    if (command.front() == '*') {
        return r.fail("line " + std::to_string(line) +
                      " should hold the model command line but holds the section header \"" + command +
                      "\"");
    }
    cd.model_command = command;
    return 0;
}

// One template or instruction line: exactly two file names on a line of their own.
calib_status read_file_pair(control_reader &r, const std::string &what, const char *first_kind,
                            const char *second_kind, std::string &first, std::string &second) {
    std::vector<std::string> words;
    int line = 0;
    if (!r.next_line_words(words, line)) return r.fail("the file ends before " + what);
    const std::string at = "line " + std::to_string(line) + " (" + what + ")";
    if (words.front().front() == '*') {
        return r.fail(at + " should name the " + first_kind + " and the " + second_kind +
                      " but is a section header; check the file counts of the control data");
    }
    if (words.size() < 2) {
        return r.fail(at + " names the " + first_kind + " \"" + words.front() + "\" but no " + second_kind);
    }
    if (words.size() > 2) {
        return r.fail(at + " holds " + std::to_string(words.size()) +
                      " words; it must name one " + first_kind + " and one " + second_kind);
    }
    for (const std::string &word : words) {
        if (word.size() >= word_limit) {
            return r.fail("the file name \"" + word.substr(0, 40) + "...\" on " + at +
                          " is longer than 99 characters");
        }
    }
    first = words[0];
    second = words[1];
    return 0;
}

calib_status read_file_pairs(control_reader &r, control_data &cd) {
    if (r.next_section("model input/output", cd.input_output_section_line) != 0) return 1;
    const calib_status templates = read_numbered(
        cd.templates, cd.template_count, "template line",
        [&r](template_file_data &tpl, const std::string &what) {
            return read_file_pair(r, what, "template file", "model input file", tpl.template_name,
                                  tpl.input_name);
        });
    if (templates != 0) return templates;
    return read_numbered(cd.instruction_files, cd.instruction_count, "instruction line",
                         [&r](instruction_file_data &ins, const std::string &what) {
        return read_file_pair(r, what, "instruction file", "model output file", ins.instruction_name,
                              ins.output_name);
    });
}

// The parameter word of a prior term: NAME, or log(NAME) for the base-10
// logarithm of the parameter; `logged` says which.
calib_status prior_term_name(control_reader &r, const std::string &word, std::string &name,
                             bool &logged, const std::string &what) {
    logged = word.compare(0, 4, "log(") == 0;
    if (!logged) {
        if (word.find('(') != std::string::npos || word.find(')') != std::string::npos) {
            return r.fail("the parameter \"" + word + "\" of " + what +
                          " is neither NAME nor of the form log(NAME)");
        }
        name = word;
        return 0;
    }
    if (word.size() < 6 || word.back() != ')' || word.find(')') != word.size() - 1) {
        return r.fail("the parameter \"" + word + "\" of " + what + " is not of the form log(NAME)");
    }
    name = word.substr(4, word.size() - 5);
    return 0;
}

// A prior equation is linear in the values the estimation adjusts: the base-10
// logarithm of a log-transformed parameter and the value of any other. A term
// that says otherwise cannot be honoured and is refused with its line.
calib_status check_prior_term(control_reader &r, const control_data &cd, const std::string &name,
                              bool logged, int line, const std::string &term) {
    for (int p = 1; p <= cd.parameter_count; ++p) {
        const parameter_data &par = cd.parameters[p];
        if (par.name != name) continue;
        const bool log_parameter = par.transform == "log";
        if (logged == log_parameter) return 0;
        if (log_parameter) {
            return r.fail(term + " (" + r.file_name + " line " + std::to_string(line) + ") reads \"" + name + "\", but " +
                          name + " is log-transformed and its prior information applies to its "
                          "logarithm: write \"log(" + name + ")\" and a value in log10 units");
        }
        return r.fail(term + " (" + r.file_name + " line " + std::to_string(line) + ") reads \"log(" + name + ")\", but " +
                      name + " is not log-transformed and its prior information applies to its "
                      "value: write \"" + name + "\", or give " + name + " the transform \"log\"");
    }
    return 0;  // an unknown name is refused when the estimation is set up
}

calib_status read_prior_line(control_reader &r, const control_data &cd,
                             prior_information_data &prior, const std::string &what) {
    while (!r.at_end() && is_space(r.text[r.pos])) ++r.pos;
    const int line = r.line_of(r.pos);
    const std::size_t line_end = r.text.find('\n', r.pos);
    const std::size_t stop = line_end == std::string::npos ? r.text.size() : line_end;
    int stars = 0;
    for (std::size_t i = r.pos; i < stop; ++i) {
        if (r.text[i] == '*') ++stars;
    }
    if (stars > max_prior_terms) {
        return r.fail(what + " has " + std::to_string(stars) + " terms; at most 10 are allowed");
    }
    if (r.scan_word(prior.label, "the label of " + what) != 0) return 1;
    if (stars == 0) return r.fail(what + " has no term of the form factor * parameter");
    if (prior.label.size() >= label_limit) {
        return r.fail("the label \"" + prior.label + "\" of " + what +
                      " is longer than 23 characters");
    }
    prior.term_count = stars;
    prior.factors.assign(static_cast<std::size_t>(stars) + 1, 0.0);
    std::string operator_word;
    for (int t = 1; t <= stars; ++t) {
        const std::string term = "term " + std::to_string(t) + " of " + what;
        double factor = 0.0;
        if (r.scan_double(factor, "the factor of " + term) != 0) return 1;
        if (r.check_magnitude(factor, "the factor of " + term) != 0) return 1;
        if (t > 1 && operator_word == "-") factor = -factor;
        prior.factors[t] = factor;
        std::string star;
        if (!r.next_word(star) || star != "*") {
            std::printf("Error reading prior information");
            std::printf("\n");
            return r.fail("the factor of " + term + " must be followed by \"*\"");
        }
        std::string word;
        if (r.scan_word(word, "the parameter of " + term) != 0) return 1;
        bool logged = false;
        if (prior_term_name(r, word, prior.term_parameters[t], logged, what) != 0) return 1;
        if (check_prior_term(r, cd, prior.term_parameters[t], logged, line, term) != 0) return 1;
        if (r.scan_word(operator_word, "the sign after " + term) != 0) return 1;
        const bool last = t == stars;
        if (last ? operator_word != "=" : operator_word != "+" && operator_word != "-") {
            return r.fail("expected \"" + std::string(last ? "=" : "+\" or \"-") + "\" after " +
                          term + ", found \"" + operator_word + "\"");
        }
    }
    calib_status s = 0;
    s = s ? s : r.scan_double(prior.prior_value, "the value of " + what);
    s = s ? s : r.scan_double(prior.weight, "the weight of " + what);
    s = s ? s : r.check_magnitude(prior.prior_value, "the value of " + what);
    s = s ? s : r.check_magnitude(prior.weight, "the weight of " + what);
    s = s ? s : r.scan_word(prior.group, "the group of " + what);
    if (s != 0) return s;
    r.finish_line();
    return 0;
}

// Prior information and regularisation values. Both sections may be absent at
// the end of the file when there is no prior information; the regularisation
// values are needed only in regularisation mode.
calib_status read_prior_and_regularisation(control_reader &r, control_data &cd) {
    r.finish_line();
    r.section = "prior information";
    // Regularisation uses the weight factor; without prior information that
    // mode is refused later, so the values are needed only with it.
    const bool regularising =
        (cd.mode == "regularization" || cd.mode == "regularisation") && cd.prior_count > 0;
    cd.prior_information.assign(1, prior_information_data{});
    if (r.at_end() && cd.prior_count == 0) return 0;
    if (r.read_header(cd.prior_section_line) != 0) return 1;
    const calib_status priors = read_numbered(
        cd.prior_information, cd.prior_count, "prior information line",
        [&r, &cd](prior_information_data &prior, const std::string &what) {
            return read_prior_line(r, cd, prior, what);
        });
    if (priors != 0) return priors;
    // Phi's measurement and prior shares are kept by group: a group holds
    // observations or prior information, never both.
    for (int k = 1; k <= cd.prior_count; ++k) {
        const prior_information_data &prior = cd.prior_information[k];
        for (int i = 1; i <= cd.observation_count; ++i) {
            if (cd.observations[i].group != prior.group) continue;
            return r.fail("prior information " + std::to_string(k) + " (\"" + prior.label +
                          "\") is in the group \"" + prior.group + "\", which holds the observation \"" +
                          cd.observations[i].name + "\"; give prior information a group of its own");
        }
    }
    r.section = "regularisation";
    if (r.at_end() && !regularising) return 0;
    if (r.read_header(cd.regularisation_section_line) != 0) return 1;
    calib_status s = 0;
    s = s ? s : r.scan_double(cd.phi_measurement_limit, "regularisation value 1");
    s = s ? s : r.scan_double(cd.phi_measurement_accept, "regularisation value 2");
    s = s ? s : r.scan_double(cd.phi_measurement_fraction, "regularisation value 3");
    s = s ? s : r.scan_double(cd.weight_factor_initial, "regularisation value 4 (initial weight factor)");
    s = s ? s : r.scan_double(cd.weight_factor_min, "regularisation value 5");
    s = s ? s : r.scan_double(cd.weight_factor_max, "regularisation value 6");
    s = s ? s : r.scan_double(cd.weight_factor_factor, "regularisation value 7");
    s = s ? s : r.scan_double(cd.weight_factor_tolerance, "regularisation value 8");
    if (s != 0) return s;
    // The weight factor multiplies every prior residual before it is squared.
    if (!(cd.weight_factor_initial >= 0.0)) {
        return r.fail("regularisation value 4 (initial weight factor) must be 0 or more");
    }
    s = r.check_magnitude(cd.weight_factor_initial, "regularisation value 4 (initial weight factor)");
    if (s != 0) return s;
    cd.weight_factor = cd.weight_factor_initial;
    return 0;
}

}  // namespace

calib_status read_control_text(control_data &cd, const std::string &text,
                               const std::string &file_name) {
    control_reader r{text, file_name, 0, "header", {}};
    r.section = "header";
    if (!r.read_line(cd.first_line) || !r.read_line(cd.control_header)) {
        return r.fail("the file ends before the control data");
    }
    calib_status s = read_control_values(r, cd);
    s = s ? s : read_svd_section(r, cd);
    s = s ? s : read_parameter_groups(r, cd);
    s = s ? s : read_parameters(r, cd);
    s = s ? s : read_observations(r, cd);
    s = s ? s : read_model_command(r, cd);
    s = s ? s : read_file_pairs(r, cd);
    s = s ? s : read_prior_and_regularisation(r, cd);
    return s;
}

calib_status read_control_file(control_data &cd, int argc, char *argv[]) {
    if (argc < 2 || argv[1] == nullptr) return 1;
    std::string name = argv[1];
    const std::size_t slash = name.find_last_of('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    if (name.find('.', base) == std::string::npos) name += ".pst";
    std::FILE *f = std::fopen(name.c_str(), "r");
    if (f == nullptr) {
        std::fprintf(stderr, "Cannot open %s \n", name.c_str());
        pause_for_reading();
        return 1;
    }
    std::string text;
    const bool failed = !read_open_file(f, text);
    std::fclose(f);
    if (failed) {
        std::fprintf(stderr, "Cannot read %s \n", name.c_str());
        pause_for_reading();
        return 1;
    }
    const calib_status status = read_control_text(cd, text, name);
    nr_set_input_note(status == 0 ? weight_span_note(cd, name) : std::string());
    return status;
}

std::string weight_span_note(const control_data &cd, const std::string &file_name) {
    // Beyond this ratio of two weights the square of the smaller is lost beside
    // the square of the larger when a double adds them.
    const double resolvable = 1.0 / std::sqrt(std::numeric_limits<double>::epsilon());
    int heavy = 0, light = 0;
    for (int k = 1; k <= cd.observation_count && static_cast<std::size_t>(k) < cd.observations.size(); ++k) {
        const double w = std::fabs(cd.observations[k].weight);
        if (!(w > 0.0)) continue;
        if (heavy == 0 || w > std::fabs(cd.observations[heavy].weight)) heavy = k;
        if (light == 0 || w < std::fabs(cd.observations[light].weight)) light = k;
    }
    if (heavy == 0) return "";
    const double large = std::fabs(cd.observations[heavy].weight), small = std::fabs(cd.observations[light].weight);
    if (!(large / small > resolvable)) return "";
    char text[600];
    std::snprintf(text, sizeof text,
                  "The likely cause: in %s, observation \"%s\" has the weight %.10g, %.3g times the weight %.10g "
                  "of observation \"%s\". The weights enter the matrix squared, and beyond a ratio of %.3g "
                  "between two weights the lighter observation is lost in double precision: give the "
                  "observations weights within that ratio of each other (for example by measuring them in "
                  "other units).",
                  file_name.c_str(), cd.observations[heavy].name.c_str(), large, large / small, small,
                  cd.observations[light].name.c_str(), resolvable);
    return text;
}
