// open_run_file: opens a file named by a card, without its surrounding quotes,
// and with the run prefix "%d_" for files written during a calibration series.
// Called by every reader and writer that opens a named file.
#include "model/file_opener.h"

#include <string>

#include "model/globals.h"
#include "model/line_reader.h"

std::string run_file_name(const std::string &name, const char *mode) {
    if (file_prefix_on && mode != nullptr && mode[0] == 'w')
        return std::to_string(file_prefix_number) + "_" + name;  // "%d_%s"
    return name;
}

std::FILE *open_run_file(std::string &name, const char *mode) {
    strip_quotes(name);
    if (name.empty() || mode == nullptr) return nullptr;
    const std::string opened = run_file_name(name, mode);
    return std::fopen(opened.c_str(), mode);
}

std::FILE *open_run_file(const std::string &name, const char *mode) {
    std::string copy = name;
    return open_run_file(copy, mode);
}
