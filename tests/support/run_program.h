// Test helper: runs a built program in a fresh temporary directory that holds the
// given input files, and captures its output streams, exit status and files.
#pragma once
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct program_result {
    int exit_status = -1;   // exit code, or 128 + signal number when killed by a signal
    std::string out;        // standard output
    std::string err;        // standard error
};

// A temporary working directory removed when the object goes away.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir &) = delete;
    scratch_dir &operator=(const scratch_dir &) = delete;

    const std::filesystem::path &path() const { return dir_; }
    // Writes a file (creating sub-directories) relative to the directory.
    void write(const std::string &name, const std::string &text) const;
    // Copies every file of tests/data/<case_name>/ into the directory.
    void copy_case(const std::string &case_name) const;
    bool exists(const std::string &name) const;
    std::string read(const std::string &name) const;

    // Runs exe with args in this directory; standard input is /dev/null. A run past
    // cpu_seconds of processor time (when not 0) is killed (status 128 + SIGXCPU).
    program_result run(const std::string &exe, const std::vector<std::string> &args = {},
                       unsigned cpu_seconds = 0) const;

private:
    std::filesystem::path dir_;
};

// Reads a whole file; empty when it cannot be opened.
std::string read_file(const std::filesystem::path &p);
// Splits text into lines without their line feeds.
std::vector<std::string> split_lines(const std::string &text);

}  // namespace testsupport
