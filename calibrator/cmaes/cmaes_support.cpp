// Error log, fatal path and zeroed allocation of the CMA-ES optimiser. Called
// from every stage of an optimisation whenever something is logged or fails.
#include "calibrator/cmaes/cmaes_support.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

void default_exit(int status) { std::exit(status); }

cmaes_exit_handler current_exit_handler = default_exit;

const char *piece(const char *s) { return s != nullptr ? s : ""; }

// The standard calendar text of the current time; it ends in a line break.
const char *now_text() {
    std::time_t now = std::time(nullptr);
    const char *text = std::ctime(&now);
    return text != nullptr ? text : "\n";
}

}  // namespace

cmaes_exit_handler set_cmaes_exit_handler(cmaes_exit_handler handler) {
    cmaes_exit_handler previous = current_exit_handler;
    current_exit_handler = handler != nullptr ? handler : default_exit;
    return previous;
}

void cmaes_exit(int status) {
    std::fflush(stdout);
    current_exit_handler(status);
    std::exit(status);  // an installed handler that returns still ends the process
}

std::string szCat(const char *s1, const char *s2, const char *s3, const char *s4) {
    if (s1 == nullptr) {
        cmaes_fatal("szCat() : Invalid Arguments");
    }
    std::string text = s1;
    text += piece(s2);
    text += piece(s3);
    text += piece(s4);
    return text;
}

std::string cmaes_format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    return text;
}

// The pieces are written one after another, so that logging needs no
// allocation and still works when memory has run out.
void cmaes_error_message(const char *s1, const char *s2, const char *s3, const char *s4) {
    std::FILE *fp = std::fopen("errcmaes.err", "a");
    if (fp == nullptr) {
        std::printf("\nFATAL ERROR: %s%s%s%s\n", piece(s1), piece(s2), piece(s3), piece(s4));
        std::printf("cmaes_t could not open file 'errcmaes.err'.");
        std::printf("\n *** CMA-ES ABORTED *** ");
        std::fflush(stdout);
        cmaes_exit(1);
    }
    std::fprintf(fp, "\n -- %s %s%s%s%s\n", now_text(), piece(s1), piece(s2), piece(s3), piece(s4));
    std::fclose(fp);
}

void cmaes_fatal(const char *s1, const char *s2, const char *s3, const char *s4) {
    cmaes_error_message(s1, s2, s3, s4);
    cmaes_error_message("*** Exiting cmaes_t ***");
    std::printf("\n -- %s %s%s%s%s\n", now_text(), piece(s1), piece(s2), piece(s3), piece(s4));
    std::printf(" *** CMA-ES ABORTED, see errcmaes.err *** \n");
    std::fflush(stdout);
    cmaes_exit(1);
}

void *new_void(long count, long size) {
    void *p = nullptr;
    if (count >= 0 && size > 0 &&
        static_cast<unsigned long>(count) <= static_cast<unsigned long>(SIZE_MAX) / static_cast<unsigned long>(size)) {
        p = std::calloc(static_cast<std::size_t>(count > 0 ? count : 1), static_cast<std::size_t>(size));
    }
    if (p == nullptr) {
        char message[96];
        std::snprintf(message, sizeof message, "new_void(): calloc(%ld,%ld) failed", count, size);
        cmaes_fatal(message);
    }
    return p;
}

double *new_double(long count) {
    void *p = nullptr;
    if (count >= 0 && static_cast<unsigned long>(count) <= SIZE_MAX / sizeof(double)) {
        p = std::calloc(static_cast<std::size_t>(count > 0 ? count : 1), sizeof(double));
    }
    if (p == nullptr) {
        char message[96];
        std::snprintf(message, sizeof message, "new_double(): calloc(%ld,%ld) failed", count,
                      static_cast<long>(sizeof(double)));
        cmaes_fatal(message);
    }
    return static_cast<double *>(p);
}
