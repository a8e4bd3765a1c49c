// Runs a command and prints the processor time of that process alone, in
// seconds, excluding every process it started (its model runs): the command is
// waited for without being reaped, so that its own run time is still readable
// from /proc/<pid>/schedstat (nanoseconds). Used by bench_calibration_overhead.sh.
// The command's output is discarded.
// Usage: own_cpu_time command [arguments...]; the exit status is the command's.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char *argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: own_cpu_time command [arguments...]\n");
        return 2;
    }
    const pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) {
        // The command's own output is not wanted: only the figure is printed.
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) return 2;
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
    unsigned long long run_ns = 0;
    if (!(schedstat >> run_ns)) {
        std::fprintf(stderr, "own_cpu_time: cannot read /proc/%d/schedstat\n", static_cast<int>(pid));
        return 2;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::printf("%.6f\n", static_cast<double>(run_ns) * 1e-9);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
