// Services of the CMA-ES optimiser: zeroed allocation that ends the run on
// failure, the error log "errcmaes.err", the fatal path and the process end
// that tests can intercept. Every other CMA-ES file calls into this one.
#pragma once
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

// The process end of the optimiser's fatal errors. By default std::exit; tests
// install a handler that does not return so that a fatal path can be exercised
// in-process. When an installed handler returns, the process still ends.
using cmaes_exit_handler = void (*)(int status);
cmaes_exit_handler set_cmaes_exit_handler(cmaes_exit_handler handler);
[[noreturn]] void cmaes_exit(int status);

// Appends "\n -- <time text> <message>\n" to "errcmaes.err"; the pieces after
// the first are joined to it. When the log cannot be opened the run ends.
void cmaes_error_message(const char *s1, const char *s2 = nullptr, const char *s3 = nullptr,
                         const char *s4 = nullptr);
// Logs the message and "*** Exiting cmaes_t ***", reports it on standard output
// and ends the process with status 1.
[[noreturn]] void cmaes_fatal(const char *s1, const char *s2 = nullptr, const char *s3 = nullptr,
                              const char *s4 = nullptr);
// Joins up to four texts (the first is required).
std::string szCat(const char *s1, const char *s2 = nullptr, const char *s3 = nullptr,
                  const char *s4 = nullptr);

// printf into a growable string; the format is always a literal of the library.
std::string cmaes_format(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Zeroed storage of count elements of `size` bytes; a failure is fatal.
void *new_void(long count, long size);
double *new_double(long count);

// Allocator of the optimiser's vectors: zeroed storage through new_void /
// new_double, so that a failed allocation takes the fatal path.
template <typename T>
struct cmaes_allocator {
    using value_type = T;
    cmaes_allocator() = default;
    template <typename U>
    cmaes_allocator(const cmaes_allocator<U> &) {}
    T *allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(LONG_MAX) / sizeof(T)) {
            return static_cast<T *>(new_void(LONG_MAX, static_cast<long>(sizeof(T))));
        }
        if constexpr (std::is_same_v<T, double>) {
            return new_double(static_cast<long>(n));
        } else {
            return static_cast<T *>(new_void(static_cast<long>(n), static_cast<long>(sizeof(T))));
        }
    }
    void deallocate(T *p, std::size_t) { std::free(p); }
    template <typename U>
    bool operator==(const cmaes_allocator<U> &) const { return true; }
};

using cmaes_vector = std::vector<double, cmaes_allocator<double>>;
