// The result files of a calibration run under temporary names, renamed at a
// successful end and removed at a failed one. calibration_main opens and
// finishes them; the exit routines finish them when a run ends early.
#include "calibrator/engine/result_files.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "calibrator/cmaes/cmaes_support.h"
#include "calibrator/engine/numeric/nr_arrays.h"

namespace {

struct result_file {
    std::string name;
    std::FILE *f = nullptr;
    bool write_failed = false;
};

// The open result files of the run (one calibration per process).
std::vector<result_file> open_results;

nr_exit_handler previous_nr_exit = nullptr;
cmaes_exit_handler previous_cmaes_exit = nullptr;

bool copy_file(const std::string &from, std::FILE *to) {
    std::FILE *in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) return errno == ENOENT;
    char buffer[8192];
    bool ok = true;
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
        ok = ok && std::fwrite(buffer, 1, n, to) == n;
    }
    ok = ok && !std::ferror(in);
    std::fclose(in);
    return ok;
}

void finish_on_exit(int status, bool from_nr) {
    if (result_files_finish(status == 0) != 0) status = 1;
    if (from_nr) {
        if (previous_nr_exit != nullptr) previous_nr_exit(status);
    } else if (previous_cmaes_exit != nullptr) {
        previous_cmaes_exit(status);
    }
    std::exit(status);
}

void nr_exit_finishing(int status) { finish_on_exit(status, true); }
void cmaes_exit_finishing(int status) { finish_on_exit(status, false); }

}  // namespace

std::string result_temporary_name(const std::string &name) { return name + ".new"; }

std::FILE *result_file_open(const std::string &name, bool keep, bool append) {
    const std::string temporary = result_temporary_name(name);
    std::FILE *f = nullptr;
    bool ok = true;
    // The file must be replaceable at the end: an existing one that cannot be
    // opened for writing (a folder, a read-only file) is refused now.
    std::FILE *existing = std::fopen(name.c_str(), "r+");
    if (existing != nullptr) {
        std::fclose(existing);
    } else if (errno != ENOENT) {
        std::printf("\nCannot open output file %s for writing.\n(%s)\n", name.c_str(), std::strerror(errno));
        return nullptr;
    }
    if (keep) {
        f = std::fopen(temporary.c_str(), "r+");
        if (f == nullptr) {
            f = std::fopen(temporary.c_str(), "w+");
            ok = f != nullptr && copy_file(name, f) && std::fflush(f) == 0;
        }
        if (f != nullptr && ok) ok = std::fseek(f, 0, append ? SEEK_END : SEEK_SET) == 0;
    } else {
        f = std::fopen(temporary.c_str(), "w");
    }
    if (f == nullptr || !ok) {
        std::printf("\nCannot open output file %s for writing.\n(%s: %s)\n", name.c_str(), temporary.c_str(),
                    std::strerror(errno));
        if (f != nullptr) {
            std::fclose(f);
            std::remove(temporary.c_str());
        }
        return nullptr;
    }
    open_results.push_back(result_file{name, f, false});
    return f;
}

void result_file_write_failed(std::FILE *f) {
    for (result_file &r : open_results) {
        if (r.f == f) r.write_failed = true;
    }
}

calib_status result_files_finish(bool success) {
    std::vector<result_file> files;
    files.swap(open_results);
    // Every file is checked before any takes its name, so the results on disk
    // are all of one run.
    bool all_written = success;
    for (result_file &r : files) {
        if (!success) {
            std::fclose(r.f);
            continue;
        }
        errno = 0;
        const bool flushed = std::fflush(r.f) == 0;
        const int error = flushed ? 0 : errno;
        const bool clean = flushed && !r.write_failed && !std::ferror(r.f);
        const bool written = std::fclose(r.f) == 0 && clean;
        if (!written) {
            std::printf("\nCannot write output file %s (%s).\n", r.name.c_str(),
                        error != 0 ? std::strerror(error) : "a write to it failed; the disk may be full");
            all_written = false;
        }
    }
    calib_status status = success && !all_written ? 1 : 0;
    for (result_file &r : files) {
        const std::string temporary = result_temporary_name(r.name);
        if (!all_written) {
            std::remove(temporary.c_str());
        } else if (std::rename(temporary.c_str(), r.name.c_str()) != 0) {
            std::printf("\nCannot replace output file %s by %s (%s).\n", r.name.c_str(), temporary.c_str(),
                        std::strerror(errno));
            status = 1;
        }
    }
    if (success && !all_written) {
        std::printf("The result files of an earlier run are left as they were.\n");
    }
    std::fflush(stdout);
    return status;
}

void result_files_guard_exits() {
    previous_nr_exit = set_nr_exit_handler(nr_exit_finishing);
    previous_cmaes_exit = set_cmaes_exit_handler(cmaes_exit_finishing);
}

void result_files_restore_exits() {
    set_nr_exit_handler(previous_nr_exit);
    set_cmaes_exit_handler(previous_cmaes_exit);
    previous_nr_exit = nullptr;
    previous_cmaes_exit = nullptr;
}
