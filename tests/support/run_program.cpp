// Test helper: temporary working directories and program runs with captured output.
#include "support/run_program.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

scratch_dir::scratch_dir() {
    std::string templ = (fs::temp_directory_path() / "korva_test_XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = templ;
}

scratch_dir::~scratch_dir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

void scratch_dir::write(const std::string &name, const std::string &text) const {
    fs::path p = dir_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary);
    f << text;
}

void scratch_dir::copy_case(const std::string &case_name) const {
    fs::path src = fs::path(TEST_DATA_DIR) / case_name;
    fs::copy(src, dir_, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

bool scratch_dir::exists(const std::string &name) const { return fs::exists(dir_ / name); }

std::string scratch_dir::read(const std::string &name) const { return read_file(dir_ / name); }

std::string read_file(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

program_result scratch_dir::run(const std::string &exe, const std::vector<std::string> &args,
                                unsigned cpu_seconds) const {
    fs::path out_path = dir_ / ".stdout.capture";
    fs::path err_path = dir_ / ".stderr.capture";
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(dir_.c_str()) != 0) _exit(126);
        int in = open("/dev/null", O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (cpu_seconds > 0) {
            const rlimit limit{cpu_seconds, cpu_seconds + 1};
            setrlimit(RLIMIT_CPU, &limit);
        }
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(exe.c_str()));
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    program_result r;
    if (WIFEXITED(status)) r.exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) r.exit_status = 128 + WTERMSIG(status);
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    fs::remove(out_path);
    fs::remove(err_path);
    return r;
}

}  // namespace testsupport
