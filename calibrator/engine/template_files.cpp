// Template files: scan_template_files checks each template at start-up and maps
// its parameter spaces to parameters; write_model_input_file writes a model
// input file from its template before every model run.
#include "calibrator/engine/template_files.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "calibrator/engine/start_up_services.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

calib_status refuse(const std::string &template_name, const std::string &why) {
    std::printf("\n");
    std::printf("%s is not a valid template file.\n", template_name.c_str());
    if (!why.empty()) std::printf("%s\n", why.c_str());
    std::printf("\n");
    pause_for_reading();
    return 1;
}

// Checks the header line; on success `body` is the index just after it and
// `marker` its fifth character.
calib_status check_header(const std::string &text, const std::string &template_name,
                          std::size_t &body, char &marker) {
    const std::size_t eol = text.find('\n');
    const std::size_t header_end = eol == std::string::npos ? text.size() : eol;
    if (header_end < 3 || (text[0] != 'p' && text[0] != 'j') || text[1] != 't' || text[2] != 'f') {
        return refuse(template_name, "");
    }
    if (header_end < 5) {
        return refuse(template_name, "Its header line is too short to hold the marker character.");
    }
    marker = text[4];
    if (is_blank(marker) || marker == '\r') {
        return refuse(template_name, "The marker character (fifth character of the header) is blank.");
    }
    body = eol == std::string::npos ? text.size() : eol + 1;
    return 0;
}

// The first parameter whose name equals the upper- or lower-case form of `name`.
int find_parameter(const control_data &cd, const std::string &name) {
    std::string upper = name;
    std::string lower = name;
    for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int p = 1; p <= cd.parameter_count; ++p) {
        if (cd.parameters[p].name == upper || cd.parameters[p].name == lower) return p;
    }
    return 0;
}

}  // namespace

calib_status scan_template_files(control_data &cd, template_file_table &table) {
    for (int j = 1; j <= cd.template_count; ++j) {
        template_file_data &tpl = cd.templates[j];
        std::string text;
        if (!read_open_file(table.files[j], text)) {
            std::printf("\nCannot read template file %s.\n", tpl.template_name.c_str());
            pause_for_reading();
            return 1;
        }
        std::size_t body = 0;
        char marker = 0;
        if (check_header(text, tpl.template_name, body, marker) != 0) return 1;

        tpl.marker_positions.clear();
        for (std::size_t i = body; i < text.size(); ++i) {
            if (text[i] == marker) tpl.marker_positions.push_back(static_cast<long>(i + 1));
        }
        const std::size_t markers = tpl.marker_positions.size();
        if (markers % 2 != 0) {
            return refuse(tpl.template_name, "Its last parameter space has no closing marker.");
        }
        tpl.space_count = static_cast<int>(markers / 2);
        tpl.space_parameters.assign(static_cast<std::size_t>(tpl.space_count) + 1, 0);
        for (int k = 1; k <= tpl.space_count; ++k) {
            const std::size_t open = static_cast<std::size_t>(tpl.marker_positions[2 * k - 2]);
            const std::size_t close = static_cast<std::size_t>(tpl.marker_positions[2 * k - 1]) - 1;
            std::string name;
            for (std::size_t i = open; i < close; ++i) {
                if (!is_blank(text[i]) && text[i] != marker) name += text[i];
            }
            const int p = find_parameter(cd, name);
            if (p == 0) {
                return refuse(tpl.template_name, "Its parameter space " + std::to_string(k) +
                                                     " names \"" + name +
                                                     "\", which is not a parameter of the control file.");
            }
            tpl.space_parameters[k] = p;
        }
    }
    return 0;
}

namespace {
// Every parameter value goes into a model input file in this one form.
int format_value(char (&text)[32], double v) { return std::snprintf(text, sizeof text, "%.7E", v); }
}  // namespace

double value_as_written(double v) {
    char text[32];
    format_value(text, v);
    return std::strtod(text, nullptr);
}

calib_status write_model_input_file(control_data &cd, file_names /*names*/, int template_number,
                                    int value_kind, template_file_table &table) {
    template_file_data &tpl = cd.templates[template_number];
    std::string &text = table.text;
    if (!read_open_file(table.files[template_number], text)) {
        std::printf("\nCannot read template file %s.\n", tpl.template_name.c_str());
        return 1;
    }
    std::size_t i = 0;
    char marker = 0;
    if (check_header(text, tpl.template_name, i, marker) != 0) return 1;

    std::FILE *out = std::fopen(tpl.input_name.c_str(), "wb");
    if (out == nullptr) {
        std::printf("\nCannot create model input file %s (template file %s).\n",
                    tpl.input_name.c_str(), tpl.template_name.c_str());
        return 1;
    }
    int space = 0;
    calib_status status = 0;
    while (i < text.size()) {
        // The text up to the next marker goes out as it stands.
        const std::size_t open = text.find(marker, i);
        const std::size_t stop = open == std::string::npos ? text.size() : open;
        std::fwrite(text.data() + i, 1, stop - i, out);
        if (open == std::string::npos) break;
        ++space;
        const std::size_t close = text.find(marker, open + 1);
        if (space > tpl.space_count || close == std::string::npos) {
            std::printf("\nTemplate file %s has changed since it was scanned.\n",
                        tpl.template_name.c_str());
            status = 1;
            break;
        }
        const parameter_data &p = cd.parameters[tpl.space_parameters[space]];
        double v = value_kind == 1 ? p.perturbed_value_1
                   : value_kind == 2 ? p.perturbed_value_2
                                     : p.value;
        if (p.transform == "log") v = std::pow(10.0, v);
        char number[32];
        std::fwrite(number, 1, static_cast<std::size_t>(format_value(number, v)), out);
        i = close + 1;
    }
    // The final read at the end of the template leaves its preset line break.
    if (status == 0) std::fputc('\n', out);
    const bool write_failed = std::ferror(out) != 0;
    if (std::fclose(out) != 0 || write_failed) {
        if (status == 0) {
            std::printf("\nCannot write model input file %s.\n", tpl.input_name.c_str());
        }
        status = 1;
    }
    return status;
}
