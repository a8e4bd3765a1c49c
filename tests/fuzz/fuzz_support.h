// Shared pieces of the fuzz harnesses: a scratch directory per fuzzing process,
// the input as a file or as an open stream, and the catching of the process
// exits that the readers may request, so that every input returns to the fuzzer.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzzsupport {

// A process exit requested by the code under test, thrown by the exit handlers.
struct exit_requested {
    int status;
};

[[noreturn]] inline void throw_exit(int status) { throw exit_requested{status}; }

// The scratch directory of this process, in memory where the system has a
// memory file system (rewriting a file on disk for every input waits on the disk).
inline const std::string &scratch_dir() {
    static const std::string dir = [] {
        char in_memory[] = "/dev/shm/korva_fuzz_XXXXXX";
        char on_disk[] = "/tmp/korva_fuzz_XXXXXX";
        const char *made = mkdtemp(in_memory);
        if (made == nullptr) made = mkdtemp(on_disk);
        if (made == nullptr) std::abort();
        return std::string(made);
    }();
    return dir;
}

// Removes the scratch directory's files and the directory at process exit.
inline void remove_scratch_dir_at_exit() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    scratch_dir();
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_dir(), ignored);
    });
}

inline std::string scratch_path(const std::string &name) { return scratch_dir() + "/" + name; }

// Writes `size` bytes to the scratch file `name`; returns its path.
inline std::string write_scratch(const std::string &name, const std::uint8_t *data, std::size_t size) {
    const std::string path = scratch_path(name);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    if (std::fclose(f) != 0) std::abort();
    return path;
}

// The input as an open stream for reading (a scratch file, so that every stream
// operation behaves as on a real input file).
inline std::FILE *open_input(const std::string &name, const std::uint8_t *data, std::size_t size) {
    const std::string path = write_scratch(name, data, size);
    std::FILE *f = std::fopen(path.c_str(), "r");
    if (f == nullptr) std::abort();
    return f;
}

// Console text of the readers goes nowhere; the fuzzer reports on stderr.
// Also registers the removal of the scratch directory: every harness calls it
// from its initialisation.
inline void silence_stdout() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    remove_scratch_dir_at_exit();
}

// The working directory of the fuzzer, where its findings are written.
inline std::string &start_dir() {
    static std::string dir;
    return dir;
}

// Each input is read inside the scratch directory, as the names inside a file
// (index maps of a mapping table) are relative to the working directory; the
// fuzzer's own files stay where it was started.
struct in_scratch {
    in_scratch() {
        if (chdir(scratch_dir().c_str()) != 0) std::abort();
    }
    ~in_scratch() {
        if (chdir(start_dir().c_str()) != 0) std::abort();
    }
};

// A finding is written while the input's directory is the scratch directory, so
// the fuzzer is told to write findings into the directory it was started in.
inline void keep_findings_in_start_dir(int *argc, char ***argv) {
    start_dir() = std::filesystem::current_path().string();
    static std::vector<std::string> words;
    static std::vector<char *> args;
    bool prefixed = false;
    for (int i = 0; i < *argc; ++i) {
        const std::string w = (*argv)[i];
        prefixed = prefixed || w.rfind("-artifact_prefix=", 0) == 0 ||
                   w.rfind("-exact_artifact_path=", 0) == 0;
        words.push_back(w);
    }
    if (!prefixed) words.insert(words.begin() + 1, "-artifact_prefix=" + start_dir() + "/");
    for (std::string &w : words) args.push_back(w.data());
    args.push_back(nullptr);
    *argc = static_cast<int>(words.size());
    *argv = args.data();
}

}  // namespace fuzzsupport
