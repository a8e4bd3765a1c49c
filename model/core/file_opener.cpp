// open_run_file: opens a file named by a card, without its surrounding quotes,
// and with the run prefix "%d_" for files written during a calibration series.
// Also the output layer: every output stream is checked for failed writes while
// the run goes on and when it is closed. Called by every reader and writer.
#include "model/core/file_opener.h"

#include <string>
#include <vector>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"

namespace {

// One open output stream: its name as opened, and whether its failure is reported.
struct output_stream {
    std::FILE *file;
    std::string name;
    bool reported;
};

std::vector<output_stream> &output_streams() {
    static std::vector<output_stream> streams;
    return streams;
}

bool writes(const char *mode) {
    for (const char *m = mode; *m; ++m)
        if (*m == 'w' || *m == 'a' || *m == '+') return true;
    return false;
}

std::FILE *remember(std::FILE *file, const std::string &name, const char *mode) {
    if (file && writes(mode)) output_streams().push_back({file, name, false});
    return file;
}

// Prints the failure of one output file once; the run becomes fatal.
void report_write_failure(output_stream &stream) {
    if (stream.reported) return;
    stream.reported = true;
    std::printf("Error: unable to write the output file %s\n", stream.name.c_str());
    if (error_record.code == 0)
        raise_printed_error();
    else
        error_record.fatal = 1;  // the pending message is reported by its raiser
}

}  // namespace

std::string run_file_name(const std::string &name, const char *mode) {
    if (file_prefix_on && mode != nullptr && mode[0] == 'w')
        return std::to_string(file_prefix_number) + "_" + name;  // "%d_%s"
    return name;
}

std::FILE *open_run_file(std::string &name, const char *mode) {
    strip_quotes(name);
    if (name.empty() || mode == nullptr) return nullptr;
    const std::string opened = run_file_name(name, mode);
    return remember(std::fopen(opened.c_str(), mode), opened, mode);
}

std::FILE *open_run_file(const std::string &name, const char *mode) {
    std::string copy = name;
    return open_run_file(copy, mode);
}

std::FILE *open_output_file(const std::string &name, const char *mode) {
    if (name.empty() || mode == nullptr) return nullptr;
    return remember(std::fopen(name.c_str(), mode), name, mode);
}

bool close_run_file(std::FILE *&file) {
    if (!file) return true;
    std::vector<output_stream> &streams = output_streams();
    std::size_t k = 0;
    while (k < streams.size() && streams[k].file != file) ++k;
    if (k == streams.size()) {
        std::fclose(file);
        file = nullptr;
        return true;
    }
    const bool failed_before = std::ferror(file) != 0;
    const bool flush_failed = std::fflush(file) != 0;
    const bool close_failed = std::fclose(file) != 0;
    file = nullptr;
    output_stream stream = streams[k];
    streams.erase(streams.begin() + static_cast<std::ptrdiff_t>(k));
    if (!(failed_before || flush_failed || close_failed)) return true;
    report_write_failure(stream);
    return false;
}

bool close_calibration_file(std::FILE *&file, const std::string &name) {
    if (!file) return true;
    const bool failed_before = std::ferror(file) != 0;
    const bool flush_failed = std::fflush(file) != 0;
    const bool close_failed = std::fclose(file) != 0;
    file = nullptr;
    if (!(failed_before || flush_failed || close_failed)) return true;
    std::printf("Error: unable to write the output file %s\n", name.c_str());
    calibration_output_failed = 1;
    return false;
}

bool output_files_written() {
    for (output_stream &stream : output_streams()) {
        if (std::ferror(stream.file) != 0) {
            report_write_failure(stream);
            return false;
        }
    }
    return true;
}

int open_output_file_count() { return static_cast<int>(output_streams().size()); }

void forget_output_files() { output_streams().clear(); }
