// Start-up services of varnock: parameter kinds and tie ratios, the tables of
// open template and instruction files, the reading pause and the out-of-memory
// report. calibration_main runs them before dispatching on the MODE.
#include "calibrator/engine/start_up_services.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>

namespace {

// Roughly the time the console needs to stay readable after an error message.
int reading_pause_ms = 300;

}  // namespace

calib_status parameter_kind(const control_data &cd, int p, int &kind) {
    const std::string &transform = cd.parameters[p].transform;
    if (transform == "fixed") {
        kind = 1;
    } else if (transform == "tied") {
        kind = 2;
    } else {
        kind = 0;
    }
    return 0;
}

calib_status count_parameter_kinds(control_data &cd) {
    cd.adjustable_count = 0;
    cd.fixed_count = 0;
    cd.tied_count = 0;
    cd.frozen_count = 0;
    for (int p = 1; p <= cd.parameter_count; ++p) {
        int kind = 0;
        parameter_kind(cd, p, kind);
        if (kind == 1) {
            ++cd.fixed_count;
        } else if (kind == 2) {
            ++cd.tied_count;
        } else {
            ++cd.adjustable_count;
        }
    }
    return 0;
}

double native_value(const parameter_data &p, double stored) {
    return p.transform == "log" ? std::pow(10.0, stored) : stored;
}

calib_status set_tie_ratios(control_data &cd) {
    for (int p = 1; p <= cd.parameter_count; ++p) {
        cd.parameters[p].parent_index = 0;
        cd.parameters[p].tie_ratio = 1.0;
    }
    if (cd.tied_count <= 0) return 0;
    calib_status status = 0;
    for (int p = 1; p <= cd.parameter_count && status == 0; ++p) {
        parameter_data &tied = cd.parameters[p];
        if (tied.transform != "tied") continue;
        int parent = 0;
        for (int q = 1; q <= cd.parameter_count; ++q) {
            if (cd.parameters[q].name == tied.parent_name) {
                parent = q;
                break;
            }
        }
        if (parent == 0) {
            std::printf("\nTied parameter \"%s\" names the parent \"%s\", which is not a parameter.\n",
                        tied.name.c_str(), tied.parent_name.c_str());
            status = 1;
            break;
        }
        int parent_kind = 0;
        parameter_kind(cd, parent, parent_kind);
        if (parent == p || parent_kind != 0) {
            std::printf("\nTied parameter \"%s\" must follow an adjustable parameter; \"%s\" is %s.\n",
                        tied.name.c_str(), tied.parent_name.c_str(),
                        parent_kind == 1 ? "fixed" : "tied");
            status = 1;
            break;
        }
        const double parent_native = native_value(cd.parameters[parent], cd.parameters[parent].value);
        if (parent_native == 0.0) {
            std::printf("\nTied parameter \"%s\" cannot follow \"%s\", whose value is 0.\n",
                        tied.name.c_str(), tied.parent_name.c_str());
            status = 1;
            break;
        }
        tied.parent_index = parent;
        tied.tie_ratio = tied.value / parent_native;
    }
    if (status != 0) pause_for_reading();
    return status;
}

void recompute_tied_values(control_data &cd) {
    for (int p = 1; p <= cd.parameter_count; ++p) {
        parameter_data &tied = cd.parameters[p];
        if (tied.transform != "tied" || tied.parent_index == 0) continue;
        const parameter_data &parent = cd.parameters[tied.parent_index];
        tied.value = native_value(parent, parent.value) * tied.tie_ratio;
    }
}

calib_status open_template_files(const control_data &cd, template_file_table &table) {
    if (cd.template_count > max_template_files) {
        std::printf("\n");
        std::printf("Currently, the Varnock does not support more than 25 template files.\n");
        std::printf("Please recompile the code to accomodate the unusually large number of template files.\n");
        std::printf("\n");
        pause_for_reading();
        return 1;
    }
    for (int k = 1; k <= cd.template_count; ++k) {
        const std::string &name = cd.templates[k].template_name;
        table.files[k] = std::fopen(name.c_str(), "rb");
        if (table.files[k] == nullptr) {
            std::printf("\nCannot open template file %s.\n", name.c_str());
            pause_for_reading();
            return 1;
        }
    }
    return 0;
}

calib_status open_instruction_files(const control_data &cd, instruction_file_table &table) {
    if (cd.instruction_count > max_instruction_files) {
        std::printf("\n");
        std::printf("Currently, the Varnock does not support more than 25 instruction files.\n");
        std::printf("Please recompile the code to accomodate the unusually large number of instruction files.\n");
        std::printf("\n");
        pause_for_reading();
        return 1;
    }
    for (int k = 1; k <= cd.instruction_count; ++k) {
        const std::string &name = cd.instruction_files[k].instruction_name;
        table.files[k] = std::fopen(name.c_str(), "rb");
        if (table.files[k] == nullptr) {
            std::printf("\nCannot open instruction file %s.\n", name.c_str());
            pause_for_reading();
            return 1;
        }
    }
    return 0;
}

calib_status close_template_files(const control_data &cd, template_file_table &table) {
    for (int k = 1; k <= cd.template_count && k <= max_template_files; ++k) {
        if (table.files[k] != nullptr) std::fclose(table.files[k]);
        table.files[k] = nullptr;
    }
    return 0;
}

calib_status close_instruction_files(const control_data &cd, instruction_file_table &table) {
    for (int k = 1; k <= cd.instruction_count && k <= max_instruction_files; ++k) {
        if (table.files[k] != nullptr) std::fclose(table.files[k]);
        table.files[k] = nullptr;
    }
    return 0;
}

void pause_for_reading() {
    std::fflush(stdout);
    if (reading_pause_ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(reading_pause_ms));
    }
}

int set_reading_pause_ms(int milliseconds) {
    const int old = reading_pause_ms;
    reading_pause_ms = milliseconds < 0 ? 0 : milliseconds;
    return old;
}

calib_status report_out_of_memory() {
    std::printf("Not enough memory to allocate buffer");
    std::printf("\n");
    pause_for_reading();
    return 1;
}

bool read_open_file(std::FILE *f, std::string &text) {
    text.clear();
    if (f == nullptr) return false;
    std::rewind(f);
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
    return std::ferror(f) == 0;
}
