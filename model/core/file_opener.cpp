// open_run_file: opens a file named by a card, without its surrounding quotes,
// and with the run prefix "%d_" for files written during a calibration series.
// Also the output layer: result files are staged under "<name>.part" and locked by
// name while a run writes them, every output stream is checked for failed writes
// while the run goes on and when it is closed, and the staged files are renamed
// into place (or removed) when the run ends. Called by every reader and writer.
#include "model/core/file_opener.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"

namespace {

namespace fs = std::filesystem;

constexpr const char *staged_suffix = ".part";
constexpr const char *lock_marker_name = ".korva-run.lock";

// One output stream: its name as opened, where it is written until the end of the
// run (empty when in place), the name the staged file goes to (the target of a
// symbolic link), and the byte of the folder's marker that it holds (-1: none).
struct output_stream {
    std::FILE *file;  // null once closed and waiting for the end of its scope
    std::string name;
    std::string staged;
    std::string target;
    output_scope scope;
    bool reported;
    int lock_fd;
    long long lock_byte;
    struct staged_entry *pending = nullptr;  // its entry for the stop signals (staged files)
};

// Whether result files are staged: the program entry switches it on; a writer
// called on its own (a unit test) writes in place.
bool staging_on = false;

std::vector<output_stream> &output_streams() {
    static std::vector<output_stream> streams;
    return streams;
}

// The staged files that a stop signal (SIGTERM, SIGINT) removes before the
// process ends: a list that only grows at its head, read by the signal handler.
// An entry is live while its file is staged; a dead one is reused, its name set
// only while it is dead, so the handler never reads a name being written.
struct staged_entry {
    std::string path;
    volatile std::sig_atomic_t live;
    staged_entry *next;
    int marker_fd = -1;  // a folder's lock marker: removed unless another run holds it
};

std::atomic<staged_entry *> staged_entries{nullptr};

staged_entry *add_staged_entry(const std::string &path, int marker_fd = -1) {
    for (staged_entry *e = staged_entries.load(); e; e = e->next) {
        if (e->live) continue;
        e->path = path;
        e->marker_fd = marker_fd;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        e->live = 1;
        return e;
    }
    staged_entry *e = new staged_entry{path, 1, staged_entries.load(), marker_fd};
    std::atomic_signal_fence(std::memory_order_seq_cst);
    staged_entries.store(e);
    return e;
}

// Called once the staged file is renamed into place or removed.
void end_staged_entry(staged_entry *&e) {
    if (e) e->live = 0;
    e = nullptr;
}

extern "C" void remove_staged_files_and_stop(int signal_number) {
    for (staged_entry *e = staged_entries.load(); e; e = e->next) {
        if (!e->live) continue;
        if (e->marker_fd < 0) {
            ::unlink(e->path.c_str());
            continue;
        }
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (::fcntl(e->marker_fd, F_OFD_SETLK, &whole) == 0) ::unlink(e->path.c_str());
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = remove_staged_files_and_stop;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGTERM, SIGINT}) {
        struct sigaction old {};
        // A signal that the caller of this process ignores stays ignored.
        if (::sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(signal_number, &action, nullptr);
    }
}

// The marker file of each folder that receives results, opened once for the life
// of the process: its locks belong to the open file, so they never conflict
// within this process and end with it, however it ends.
struct lock_marker {
    std::string folder;
    int fd;
    dev_t device;
    ino_t inode;
};

std::vector<lock_marker> &lock_markers() {
    static std::vector<lock_marker> markers;
    return markers;
}

int marker_of(const std::string &folder) {
    std::vector<lock_marker> &markers = lock_markers();
    for (const lock_marker &m : markers)
        if (m.folder == folder) return m.fd;
    const int fd = ::open((folder + "/" + lock_marker_name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return -1;
    }
    // One folder reached by two spellings keeps one open marker.
    for (const lock_marker &m : markers) {
        if (m.device == st.st_dev && m.inode == st.st_ino) {
            ::close(fd);
            markers.push_back({folder, m.fd, m.device, m.inode});
            return m.fd;
        }
    }
    markers.push_back({folder, fd, st.st_dev, st.st_ino});
    add_staged_entry(folder + "/" + lock_marker_name, fd);
    return fd;
}

// The byte of the marker that stands for a file name (FNV-1a, kept positive).
long long lock_byte_of(const std::string &base) {
    std::uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : base) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return static_cast<long long>(h >> 2);
}

bool set_lock(int fd, long long byte, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(byte);
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Takes the lock of a result file; false (with the message) when another run
// holds it. A folder where no marker can be made is not locked: its files
// cannot be created either, and that failure is reported by the caller.
// Whether the folder's marker name still leads to the marker open as fd: a run
// that ends removes a marker in which no run holds a lock.
bool marker_current(const std::string &folder, int fd) {
    struct stat named {}, open_one {};
    return ::stat((folder + "/" + lock_marker_name).c_str(), &named) == 0 &&
           ::fstat(fd, &open_one) == 0 && named.st_dev == open_one.st_dev &&
           named.st_ino == open_one.st_ino;
}

// Drops a removed marker from the list (its descriptor stays open: streams of
// this process may still name it).
void forget_marker(int fd) {
    std::vector<lock_marker> &markers = lock_markers();
    for (std::size_t k = markers.size(); k-- > 0;)
        if (markers[k].fd == fd) markers.erase(markers.begin() + static_cast<std::ptrdiff_t>(k));
}

bool lock_result(const std::string &target, int &fd, long long &byte) {
    fd = -1;
    byte = -1;
    const fs::path path(target);
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    const long long b = lock_byte_of(path.filename().string());
    // A marker that an ending run removes meanwhile is made again; a lock that a
    // run ending now holds for a moment over its whole marker is waited for.
    constexpr int attempts = 5;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        const int marker = marker_of(folder);
        if (marker < 0) return true;
        if (set_lock(marker, b, F_WRLCK)) {
            if (!marker_current(folder, marker)) {
                set_lock(marker, b, F_UNLCK);
                forget_marker(marker);
                continue;
            }
            fd = marker;
            byte = b;
            return true;
        }
        if (errno != EAGAIN && errno != EACCES) return true;  // no locks on this file system
        if (!marker_current(folder, marker)) {
            forget_marker(marker);
            continue;
        }
        if (attempt < attempts) ::usleep(20000);
    }
    std::printf("Error: the output file %s is being written by another run of the model in "
                "this folder; this run stops.\n",
                target.c_str());
    return false;
}

void unlock(output_stream &stream) {
    if (stream.lock_fd >= 0) set_lock(stream.lock_fd, stream.lock_byte, F_UNLCK);
    stream.lock_fd = -1;
}

bool writes(const char *mode) {
    for (const char *m = mode; *m; ++m)
        if (*m == 'w' || *m == 'a' || *m == '+') return true;
    return false;
}

// The names of the input streams, by stream; a stream that a later open reuses
// takes the later name.
struct input_stream {
    const std::FILE *file;
    std::string name;
};

std::vector<input_stream> &input_streams() {
    static std::vector<input_stream> streams;
    return streams;
}

std::FILE *remember(std::FILE *file, const std::string &name, const char *mode,
                    output_scope scope = output_scope::run) {
    if (!file) return file;
    if (writes(mode)) {
        output_streams().push_back({file, name, "", name, scope, false, -1, -1});
        return file;
    }
    for (input_stream &s : input_streams()) {
        if (s.file == file) {
            s.name = name;
            return file;
        }
    }
    input_streams().push_back({file, name});
    return file;
}

// Opens a result file for writing under its staged name. A name that is a device
// or pipe (or a dangling link) is written in place; a directory fails as it would.
std::FILE *open_staged(const std::string &name, const char *mode, output_scope scope) {
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    const bool is_link = fs::is_symlink(fs::symlink_status(name, error));
    std::string target = name;
    if (fs::exists(status)) {
        if (!fs::is_regular_file(status)) return remember(std::fopen(name.c_str(), mode), name, mode, scope);
        // A result that may not be written stays as it is.
        if (::access(name.c_str(), W_OK) != 0) return nullptr;
        if (is_link) {
            const fs::path resolved = fs::canonical(name, error);
            if (error) return nullptr;
            target = resolved.string();
        }
    } else if (is_link) {
        return remember(std::fopen(name.c_str(), mode), name, mode, scope);
    }
    int fd = -1;
    long long byte = -1;
    if (!lock_result(target, fd, byte)) {
        errno = EBUSY;
        return nullptr;
    }
    const std::string staged = target + staged_suffix;
    std::FILE *file = std::fopen(staged.c_str(), mode);
    std::vector<output_stream> &streams = output_streams();
    if (!file) {
        // The lock goes unless an earlier stream of this process holds the name.
        bool held = false;
        for (const output_stream &s : streams) held = held || s.staged == staged;
        if (!held && fd >= 0) set_lock(fd, byte, F_UNLCK);
        return nullptr;
    }
    // A file written again in one run replaces what its earlier stream staged.
    for (std::size_t k = streams.size(); k-- > 0;)
        if (streams[k].file == nullptr && streams[k].staged == staged) {
            end_staged_entry(streams[k].pending);
            streams.erase(streams.begin() + static_cast<std::ptrdiff_t>(k));
        }
    streams.push_back({file, name, staged, target, scope, false, fd, byte, add_staged_entry(staged)});
    return file;
}

std::FILE *open_for(const std::string &name, const char *mode, output_scope scope) {
    if (mode[0] == 'w' && staging_on) return open_staged(name, mode, scope);
    std::FILE *file = std::fopen(name.c_str(), mode);
    // A folder opens for reading but holds no input: it is a file that cannot be
    // opened, for every reader alike.
    struct stat info {};
    if (file && mode[0] == 'r' && fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return remember(file, name, mode);
}

// Prints the failure of one output file once; the run becomes fatal (or, for a
// calibration's own file, the calibration fails).
void report_write_failure(output_stream &stream) {
    if (stream.reported) return;
    stream.reported = true;
    std::printf("Error: unable to write the output file %s\n", stream.name.c_str());
    if (stream.scope == output_scope::calibration) {
        calibration_output_failed = 1;
        return;
    }
    if (error_record.code == 0)
        raise_printed_error();
    else
        error_record.fatal = 1;  // the pending message is reported by its raiser
}

std::size_t stream_of(const std::FILE *file) {
    const std::vector<output_stream> &streams = output_streams();
    std::size_t k = 0;
    while (k < streams.size() && streams[k].file != file) ++k;
    return k;
}

// Closes stream k. A sound staged file waits for the end of its scope; any other
// leaves the list. False after a failed write, flush or close (reported).
bool close_stream(std::size_t k) {
    std::vector<output_stream> &streams = output_streams();
    std::FILE *file = streams[k].file;
    const bool failed_before = std::ferror(file) != 0;
    const bool flush_failed = std::fflush(file) != 0;
    const bool close_failed = std::fclose(file) != 0;
    streams[k].file = nullptr;
    const bool failed = failed_before || flush_failed || close_failed;
    if (failed) report_write_failure(streams[k]);
    if (streams[k].staged.empty()) {
        unlock(streams[k]);
        streams.erase(streams.begin() + static_cast<std::ptrdiff_t>(k));
    }
    return !failed;
}

}  // namespace

std::string run_file_name(const std::string &name, const char *mode) {
    if (file_prefix_on && mode != nullptr && mode[0] == 'w')
        return std::to_string(file_prefix_number) + "_" + name;  // "%d_%s"
    return name;
}

long long bytes_left(std::FILE *file) {
    struct stat info {};
    if (!file || fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    const long at = std::ftell(file);
    if (at < 0) return -1;
    return static_cast<long long>(info.st_size) - at;
}

bool count_fits(std::FILE *file, long long count, long long entry_bytes) {
    const long long left = bytes_left(file);
    if (left < 0 || count <= 0) return true;
    return count <= (left + 1) / entry_bytes;
}

std::FILE *open_run_file(std::string &name, const char *mode) {
    strip_quotes(name);
    if (name.empty() || mode == nullptr) return nullptr;
    return open_for(run_file_name(name, mode), mode, output_scope::run);
}

std::FILE *open_run_file(const std::string &name, const char *mode) {
    std::string copy = name;
    return open_run_file(copy, mode);
}

std::FILE *open_output_file(const std::string &name, const char *mode) {
    if (name.empty() || mode == nullptr) return nullptr;
    return open_for(name, mode, output_scope::run);
}

std::FILE *open_exchange_file(std::string name, const char *mode) {
    strip_quotes(name);
    if (name.empty() || mode == nullptr) return nullptr;
    const std::string opened = run_file_name(name, mode);
    return remember(std::fopen(opened.c_str(), mode), opened, mode);
}

void stage_result_files(bool on) {
    staging_on = on;
    if (on) catch_stop_signals();
}

std::FILE *open_calibration_file(const std::string &name) {
    if (name.empty()) return nullptr;
    if (!staging_on) return remember(std::fopen(name.c_str(), "w"), name, "w", output_scope::calibration);
    return open_staged(name, "w", output_scope::calibration);
}

std::string output_file_path(const std::string &name) {
    const std::vector<output_stream> &streams = output_streams();
    for (std::size_t k = streams.size(); k-- > 0;)
        if (streams[k].name == name && !streams[k].staged.empty()) return streams[k].staged;
    return name;
}

std::string input_file_name(const std::FILE *file) {
    for (const input_stream &s : input_streams())
        if (s.file == file) return s.name;
    return "an input file";
}

bool close_run_file(std::FILE *&file) {
    if (!file) return true;
    const std::size_t k = stream_of(file);
    if (k == output_streams().size()) {
        std::fclose(file);
        file = nullptr;
        return true;
    }
    file = nullptr;
    return close_stream(k);
}

bool close_calibration_file(std::FILE *&file, const std::string &name) {
    if (!file) return true;
    const std::size_t k = stream_of(file);
    if (k < output_streams().size()) {
        output_streams()[k].scope = output_scope::calibration;
        file = nullptr;
        return close_stream(k);
    }
    const bool failed_before = std::ferror(file) != 0;
    const bool flush_failed = std::fflush(file) != 0;
    const bool close_failed = std::fclose(file) != 0;
    file = nullptr;
    if (!(failed_before || flush_failed || close_failed)) return true;
    std::printf("Error: unable to write the output file %s\n", name.c_str());
    calibration_output_failed = 1;
    return false;
}

bool finish_output_files(output_scope scope, bool keep) {
    std::vector<output_stream> &streams = output_streams();
    for (std::size_t k = streams.size(); k-- > 0;)
        if (streams[k].scope == scope && streams[k].file && !close_stream(k)) keep = false;
    if (scope == output_scope::run) input_streams().clear();
    bool renamed = true;
    std::vector<output_stream> rest;
    for (output_stream &s : streams) {
        if (s.scope != scope) {
            rest.push_back(s);
            continue;
        }
        // The files of a good run in a calibration series wait for the end of the
        // calibration: a failed calibration keeps the earlier ones too.
        if (keep && !s.reported && scope == output_scope::run && file_prefix_on && !s.staged.empty()) {
            s.scope = output_scope::calibration;
            rest.push_back(s);
            continue;
        }
        if (keep && !s.reported) {
            std::error_code error;
            // The result keeps the permissions of the file it replaces.
            const fs::perms perms = fs::status(s.target, error).permissions();
            if (!error) fs::permissions(s.staged, perms, error);
            if (std::rename(s.staged.c_str(), s.target.c_str()) != 0) {
                report_write_failure(s);
                renamed = false;
                std::remove(s.staged.c_str());
            }
        } else if (!s.staged.empty()) {
            std::remove(s.staged.c_str());
        }
        end_staged_entry(s.pending);
        unlock(s);
    }
    streams.swap(rest);
    return renamed;
}

void abandon_output_files() {
    for (output_stream &s : output_streams()) {
        if (s.file) std::fclose(s.file);
        s.file = nullptr;
        if (!s.staged.empty()) std::remove(s.staged.c_str());
        end_staged_entry(s.pending);
        unlock(s);
    }
    output_streams().clear();
}

void remove_lock_markers() {
    std::vector<lock_marker> &markers = lock_markers();
    std::vector<int> closed;
    for (const lock_marker &m : markers) {
        bool seen = false;
        for (int fd : closed) seen = seen || fd == m.fd;
        if (seen) continue;
        closed.push_back(m.fd);
        // A marker that another run holds a lock in stays; so does one that the
        // folder no longer names.
        struct stat now {};
        const std::string path = m.folder + "/" + lock_marker_name;
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (::fcntl(m.fd, F_OFD_SETLK, &whole) == 0 && ::stat(path.c_str(), &now) == 0 &&
            now.st_dev == m.device && now.st_ino == m.inode)
            ::unlink(path.c_str());
        for (staged_entry *e = staged_entries.load(); e; e = e->next)
            if (e->live && e->marker_fd == m.fd) e->live = 0;
        ::close(m.fd);
    }
    markers.clear();
}

bool output_files_written() {
    for (output_stream &stream : output_streams()) {
        if (stream.file && std::ferror(stream.file) != 0) {
            report_write_failure(stream);
            return false;
        }
    }
    return true;
}

int open_output_file_count() {
    int open = 0;
    for (const output_stream &s : output_streams()) open += s.file != nullptr;
    return open;
}

void forget_output_files() {
    staging_on = false;
    for (output_stream &s : output_streams()) {
        end_staged_entry(s.pending);
        unlock(s);
    }
    output_streams().clear();
    input_streams().clear();
}
