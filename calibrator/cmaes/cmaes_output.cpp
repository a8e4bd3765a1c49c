// Keyed text output of the CMA-ES state (keys joined by "+"), the files it
// goes to, and the resume block read back by cmaes_resume_distribution.
// Used by the signals file, by the driver's final "all" report and at start-up.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "calibrator/cmaes/cmaes.h"

namespace {

std::size_t uz(int i) { return static_cast<std::size_t>(i); }

double best_fitness(const cmaes_t &t) { return t.rgFuncValue[uz(t.index[0])]; }

const char *calendar_text() {
    std::time_t now = std::time(nullptr);
    const char *text = std::ctime(&now);
    return text != nullptr ? text : "\n";
}

// Values joined by tabs, "%s%g" style.
void write_tab_separated(std::FILE *fp, const double *v, int n) {
    for (int i = 0; i < n; ++i) {
        std::fprintf(fp, "%s%g", i == 0 ? "" : "\t", v[i]);
    }
}

// " %12g%c": a line break after every fifth value and after the last.
void write_report_vector(std::FILE *fp, const double *v, int n) {
    for (int i = 0; i < n; ++i) {
        std::fprintf(fp, " %12g%c", v[i], (i % 5 == 4 || i == n - 1) ? '\n' : ' ');
    }
}

// Positions of D in decreasing order (insertion sort, stable).
std::vector<int> decreasing_axes(const cmaes_t &t) {
    const int N = t.sp.N;
    std::vector<int> order(uz(N));
    for (int i = 0; i < N; ++i) {
        int j = i;
        while (j > 0 && t.rgD[uz(order[uz(j - 1)])] < t.rgD[uz(i)]) {
            order[uz(j)] = order[uz(j - 1)];
            --j;
        }
        order[uz(j)] = i;
    }
    return order;
}

std::vector<double> sorted_D(const cmaes_t &t) {
    std::vector<double> d(t.rgD.begin(), t.rgD.end());
    std::sort(d.begin(), d.end());
    return d;
}

void write_C(const cmaes_t &t, std::FILE *fp) {
    for (int i = 0; i < t.sp.N; ++i) {
        for (int j = 0; j <= i; ++j) {
            std::fprintf(fp, "%g%c", t.C[uz(i)][uz(j)], j == i ? '\n' : '\t');
        }
    }
}

void write_path(std::FILE *fp, const cmaes_vector &v) {
    for (std::size_t i = 0; i < v.size(); ++i) {
        std::fprintf(fp, "%g%s", v[i], i + 1 < v.size() ? "\t" : "\n");
    }
}

void write_resume_block(const cmaes_t &t, std::FILE *fp) {
    const int N = t.sp.N;
    std::fprintf(fp, "\n# resume %d\n", N);
    std::fprintf(fp, "xmean\n");
    write_tab_separated(fp, t.xmean.data(), N);
    std::fprintf(fp, "\n");
    std::fprintf(fp, "path for sigma\n");
    write_path(fp, t.rgps);
    std::fprintf(fp, "path for C\n");
    write_path(fp, t.rgpc);
    std::fprintf(fp, "sigma %g\n", t.sigma);
    std::fprintf(fp, "covariance matrix\n");
    write_C(t, fp);
}

void write_all_report(cmaes_t &t, std::FILE *fp) {
    const int N = t.sp.N;
    timings_update(t.eigenTimings);
    std::fprintf(fp, "\n# --------- %s\n", calendar_text());
    std::fprintf(fp, " N %d\n", N);
    std::fprintf(fp, " seed %d\n", t.sp.seed);
    std::fprintf(fp, "function evaluations %.0f\n", t.countevals);
    std::fprintf(fp, "elapsed (CPU) time [s] %.2f\n", t.eigenTimings.totaltime);
    std::fprintf(fp, "function value f(x)=%g\n", best_fitness(t));
    std::fprintf(fp, "maximal standard deviation %g\n", t.sigma * std::sqrt(t.maxdiagC));
    std::fprintf(fp, "minimal standard deviation %g\n", t.sigma * std::sqrt(t.mindiagC));
    std::fprintf(fp, "sigma %g\n", t.sigma);
    std::fprintf(fp, "axisratio %g\n",
                 *std::max_element(t.rgD.begin(), t.rgD.end()) / *std::min_element(t.rgD.begin(), t.rgD.end()));
    std::fprintf(fp, "xbestever found after %.0f evaluations, function value %g\n", t.xbestever[uz(N + 1)],
                 t.xbestever[uz(N)]);
    write_report_vector(fp, t.xbestever.data(), N);
    const cmaes_vector &xbest = t.population[uz(t.index[0])];
    std::fprintf(fp, "xbest (of last generation, function value %g)\n", xbest[uz(N)]);
    write_report_vector(fp, xbest.data(), N);
    std::fprintf(fp, "xmean \n");
    write_report_vector(fp, t.xmean.data(), N);
    std::fprintf(fp, "Standard deviation of coordinate axes (sigma*sqrt(diag(C)))\n");
    std::vector<double> v(uz(N));
    for (int i = 0; i < N; ++i) {
        v[uz(i)] = t.sigma * std::sqrt(t.C[uz(i)][uz(i)]);
    }
    write_report_vector(fp, v.data(), N);
    std::fprintf(fp, "Main axis lengths of mutation ellipsoid (sigma*diag(D))\n");
    std::vector<int> order = decreasing_axes(t);
    for (int i = 0; i < N; ++i) {
        v[uz(i)] = t.sigma * t.rgD[uz(order[uz(i)])];
    }
    write_report_vector(fp, v.data(), N);
    std::fprintf(fp, "Longest axis (b_i where d_ii=max(diag(D))\n");
    for (int i = 0; i < N; ++i) {
        v[uz(i)] = t.B[uz(i)][uz(order[0])];
    }
    write_report_vector(fp, v.data(), N);
    std::fprintf(fp, "Shortest axis (b_i where d_ii=max(diag(D))\n");
    for (int i = 0; i < N; ++i) {
        v[uz(i)] = t.B[uz(i)][uz(order[uz(N - 1)])];
    }
    write_report_vector(fp, v.data(), N);
}

// Writes the value of the key at the start of `key`. Returns 0 when the key is
// not recognised, 1 for a value (a separator follows), 2 for a block that ends
// in its own line break.
int write_one_key(cmaes_t &t, const char *key, std::FILE *fp) {
    const int N = t.sp.N;
    auto is = [key](const char *word) { return std::strncmp(key, word, std::strlen(word)) == 0; };
    auto is_n = [key](const char *word, std::size_t n) { return std::strncmp(key, word, n) == 0; };

    if (is("axisratio")) {
        std::fprintf(fp, "%.2e", std::sqrt(t.maxEW / t.minEW));
        return 1;
    }
    if (is("idxminSD") || is("idxmaxSD")) {
        const double target = is("idxminSD") ? t.mindiagC : t.maxdiagC;
        int found = 0;
        for (int i = 0; i < N; ++i) {
            if (t.C[uz(i)][uz(i)] == target) {
                found = i + 1;
                break;
            }
        }
        std::fprintf(fp, "%d", found);
        return 1;
    }
    if (is_n("B", 1)) {
        for (int j : decreasing_axes(t)) {
            for (int i = 0; i < N; ++i) {
                std::fprintf(fp, "%g%c", t.B[uz(i)][uz(j)], i == N - 1 ? '\n' : '\t');
            }
        }
        return 2;
    }
    if (is_n("C", 1)) {
        write_C(t, fp);
        return 2;
    }
    if (is_n("clock", 4)) {
        timings_update(t.eigenTimings);
        std::fprintf(fp, "%.1f %.1f", t.eigenTimings.totaltime, t.eigenTimings.tictoctime_total);
        return 1;
    }
    if (is("stddevratio")) {
        std::fprintf(fp, "%g", std::sqrt(t.maxdiagC / t.mindiagC));
        return 1;
    }
    if (is("coorstddev") || is("stddev")) {
        for (int i = 0; i < N; ++i) {
            std::fprintf(fp, "%s%g", i == 0 ? "" : "\t", t.sigma * std::sqrt(t.C[uz(i)][uz(i)]));
        }
        return 1;
    }
    if (is("diag(D)")) {
        std::vector<double> d = sorted_D(t);
        write_tab_separated(fp, d.data(), N);
        return 1;
    }
    if (is("dim")) {
        std::fprintf(fp, "%d", N);
        return 1;
    }
    if (is("eval")) {
        std::fprintf(fp, "%.0f", t.countevals);
        return 1;
    }
    if (is("few(diag(D))")) {
        std::vector<double> d = sorted_D(t);
        const int step = std::max(1, static_cast<int>((N + 1) / 5.0 + 0.5));
        for (int i = 0; i < N - 1; i += step) {
            std::fprintf(fp, "%s%g", i == 0 ? "" : "\t", d[uz(N - 1 - i)]);
        }
        std::fprintf(fp, "\t%g\n", N > 0 ? d[0] : 0.0);
        return 2;
    }
    if (is("fewinfo")) {
        std::fprintf(fp, " Fevals  Function Value          Sigma   ");
        std::fprintf(fp, "MaxCoorDev MinCoorDev AxisRatio   MinDii      Time in eig\n");
        return 2;
    }
    if (is_n("few", 3)) {
        std::fprintf(fp, " %5.0f ", t.countevals);
        std::fprintf(fp, "%.15e", best_fitness(t));
        std::fprintf(fp, "  %.2e  %.2e %.2e", t.sigma, t.sigma * std::sqrt(t.maxdiagC),
                     t.sigma * std::sqrt(t.mindiagC));
        std::fprintf(fp, "  %.2e  %.2e", std::sqrt(t.maxEW / t.minEW), std::sqrt(t.minEW));
        return 1;
    }
    if (is("funval") || is_n("fitness", 6)) {
        std::fprintf(fp, "%.15e", best_fitness(t));
        return 1;
    }
    if (is("fbestever")) {
        std::fprintf(fp, "%.15e", t.xbestever[uz(N)]);
        return 1;
    }
    if (is("fmedian")) {
        std::fprintf(fp, "%.15e", t.rgFuncValue[uz(t.index[uz(t.sp.lambda / 2)])]);
        return 1;
    }
    if (is("fworst")) {
        std::fprintf(fp, "%.15e", t.rgFuncValue[uz(t.index[uz(t.sp.lambda - 1)])]);
        return 1;
    }
    if (is("arfunval") || is_n("arfitness", 8)) {
        for (int i = 0; i < t.sp.lambda; ++i) {
            std::fprintf(fp, "%s%.10e", i == 0 ? "" : "\t", t.rgFuncValue[uz(t.index[uz(i)])]);
        }
        return 1;
    }
    if (is("gen") || is("iter")) {
        std::fprintf(fp, "%.0f", t.gen);
        return 1;
    }
    if (is("sigma")) {
        std::fprintf(fp, "%.4e", t.sigma);
        return 1;
    }
    if (is("minSD")) {
        std::fprintf(fp, "%.4e", std::sqrt(t.mindiagC));
        return 1;
    }
    if (is("maxSD")) {
        std::fprintf(fp, "%.4e", std::sqrt(t.maxdiagC));
        return 1;
    }
    if (is("mindii")) {
        std::fprintf(fp, "%.4e", std::sqrt(t.minEW));
        return 1;
    }
    if (is_n("0", 1)) {
        std::fprintf(fp, "0");
        return 1;
    }
    if (is("lambda")) {
        std::fprintf(fp, "%d", t.sp.lambda);
        return 1;
    }
    if (is_n("N", 1)) {
        std::fprintf(fp, "%d", N);
        return 1;
    }
    if (is("resume")) {
        write_resume_block(t, fp);
        return 2;
    }
    if (is_n("xbest", 5)) {
        write_tab_separated(fp, t.population[uz(t.index[0])].data(), N);
        return 1;
    }
    if (is_n("xmean", 5)) {
        write_tab_separated(fp, t.xmean.data(), N);
        return 1;
    }
    if (is("all")) {
        write_all_report(t, fp);
        return 2;
    }
    return 0;
}

// --- reading the resume block ----------------------------------------------

// The words of a text file, in order.
std::vector<std::string> file_words(std::FILE *fp) {
    std::vector<std::string> words;
    std::string word;
    int c = 0;
    while ((c = std::fgetc(fp)) != EOF) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        } else {
            word.push_back(static_cast<char>(c));
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

// A word that begins with a number ("%lg" reads its leading part).
bool word_number(const std::string &word, double &value) {
    const char *start = word.c_str();
    char *end = nullptr;
    value = std::strtod(start, &end);
    return end != start;
}

// Finds, from position `pos`, the literal words of `pattern` followed by a
// number; on success `pos` is just past the number.
bool find_marked_number(const std::vector<std::string> &words, std::size_t &pos,
                        const std::vector<std::string> &pattern, double &value) {
    for (std::size_t p = pos; p + pattern.size() < words.size(); ++p) {
        bool match = true;
        for (std::size_t k = 0; k < pattern.size() && match; ++k) {
            match = words[p + k] == pattern[k];
        }
        if (match && word_number(words[p + pattern.size()], value)) {
            pos = p + pattern.size() + 1;
            return true;
        }
    }
    return false;
}

// Reads `count` more numbers from `pos` on.
bool read_numbers(const std::vector<std::string> &words, std::size_t &pos, double *out, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k, ++pos) {
        if (pos >= words.size() || !word_number(words[pos], out[k])) {
            return false;
        }
    }
    return true;
}

bool all_finite(const double *v, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

void cmaes_WriteToFile(cmaes_t &t, const char *key, const char *file_name, const char *mode) {
    const char *name = file_name != nullptr ? file_name : "tmpcmaes.dat";
    const char *how = mode != nullptr ? mode : "a";
    std::FILE *fp = std::fopen(name, how);
    if (fp == nullptr) {
        cmaes_error_message("cmaes_WriteToFile(): could not open '", name, "' with flag ", how);
        return;
    }
    if (how[0] == 'w') {
        std::fprintf(fp, "%% # %s (randomSeed=%d, %s)\n", key != nullptr ? key : "few", t.sp.seed,
                     cmaes_TimeString());
    } else if (!(std::strncmp(name, "outcmaesfit", 11) == 0 && t.gen < 1)) {
        cmaes_WriteToFilePtr(t, key, fp);
    }
    std::fclose(fp);
}

void cmaes_AppendToFile(cmaes_t &t, const char *key, const char *file_name) {
    cmaes_WriteToFile(t, key, file_name, "a");
}

void cmaes_WriteToFilePtr(cmaes_t &t, const char *key, std::FILE *fp) {
    const char *k = key != nullptr ? key : "few";
    while (*k != '\0') {
        const int kind = write_one_key(t, k, fp);
        if (kind == 0) {
            cmaes_error_message("cmaes_t:WriteToFilePtr(): unrecognized key '", k, "'");
        }
        const char *plus = std::strchr(k, '+');
        if (kind == 1) {
            std::fputc(plus != nullptr ? '\t' : '\n', fp);
        }
        if (plus == nullptr) {
            break;
        }
        k = plus + 1;
    }
    std::fflush(fp);
}

void cmaes_resume_distribution(cmaes_t &t, const char *file_name) {
    const int N = t.sp.N;
    std::FILE *fp = std::fopen(file_name, "r");
    if (fp == nullptr) {
        cmaes_error_message("cmaes_resume_distribution(): could not open '", file_name, "'");
        return;
    }
    const std::vector<std::string> words = file_words(fp);
    std::fclose(fp);

    // The last " resume <N>" marker starts the block that is restored.
    std::size_t pos = 0;
    std::size_t after_last = 0;
    double marked_dimension = 0;
    int markers = 0;
    double d = 0;
    while (find_marked_number(words, pos, {"resume"}, d)) {
        ++markers;
        after_last = pos;
        marked_dimension = d;
    }
    if (markers == 0 || marked_dimension != N) {
        cmaes_fatal("cmaes_resume_distribution(): Dimension numbers do not match");
    }
    pos = after_last;

    const std::size_t n = uz(N);
    cmaes_vector values(n * (n + 1) / 2);
    if (!find_marked_number(words, pos, {"xmean"}, values[0])) {
        cmaes_fatal("cmaes_resume_distribution(): 'xmean' not found");
    }
    if (!read_numbers(words, pos, values.data() + 1, n - 1)) {
        cmaes_fatal("cmaes_resume_distribution(): xmean: dimensions differ");
    }
    cmaes_vector xmean(values.begin(), values.begin() + static_cast<long>(n));

    if (!find_marked_number(words, pos, {"path", "for", "sigma"}, values[0])) {
        cmaes_fatal("cmaes_resume_distribution(): 'path for sigma' not found");
    }
    if (!read_numbers(words, pos, values.data() + 1, n - 1)) {
        cmaes_fatal("cmaes_resume_distribution(): ps: dimensions differ");
    }
    cmaes_vector ps(values.begin(), values.begin() + static_cast<long>(n));

    if (!find_marked_number(words, pos, {"path", "for", "C"}, values[0])) {
        cmaes_fatal("cmaes_resume_distribution(): 'path for C' not found");
    }
    if (!read_numbers(words, pos, values.data() + 1, n - 1)) {
        cmaes_fatal("cmaes_resume_distribution(): pc: dimensions differ");
    }
    cmaes_vector pc(values.begin(), values.begin() + static_cast<long>(n));

    double sigma = 0;
    if (!find_marked_number(words, pos, {"sigma"}, sigma)) {
        cmaes_fatal("cmaes_resume_distribution(): 'sigma' not found");
    }
    if (!find_marked_number(words, pos, {"covariance", "matrix"}, values[0])) {
        cmaes_fatal("cmaes_resume_distribution(): 'covariance matrix' not found");
    }
    if (!read_numbers(words, pos, values.data() + 1, values.size() - 1)) {
        cmaes_fatal("cmaes_resume_distribution(): C: dimensions differ");
    }
    if (!all_finite(xmean.data(), n) || !all_finite(ps.data(), n) || !all_finite(pc.data(), n) ||
        !all_finite(values.data(), values.size()) || !(sigma > 0) || !std::isfinite(sigma)) {
        cmaes_fatal("cmaes_resume_distribution(): values that are not finite numbers, or sigma not above 0");
    }

    t.xmean = xmean;
    t.rgps = ps;
    t.rgpc = pc;
    t.sigma = sigma;
    std::size_t k = 0;
    for (int i = 0; i < N; ++i) {
        for (int j = 0; j <= i; ++j) {
            t.C[uz(i)][uz(j)] = values[k++];
        }
    }
    t.maxdiagC = t.mindiagC = t.C[0][0];
    for (int i = 1; i < N; ++i) {
        t.maxdiagC = std::max(t.maxdiagC, t.C[uz(i)][uz(i)]);
        t.mindiagC = std::min(t.mindiagC, t.C[uz(i)][uz(i)]);
    }
    t.iniphase = 0;
    t.flgEigensysIsUptodate = 0;
    t.flgresumedone = 1;
    cmaes_UpdateEigensystem(t, 1);
}
