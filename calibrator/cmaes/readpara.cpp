// The CMA-ES parameter set: built-in defaults, the keyed file "initials.par",
// the derived defaults and weights, the override from the calibration problem
// and the record in "actparcmaes.par". Run once by cmaes_Start.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "calibrator/cmaes/cmaes.h"
#include "calibrator/engine/control_data.h"

namespace {

std::size_t uz(int i) { return static_cast<std::size_t>(i); }

// --- key tables --------------------------------------------------------------

enum class key_kind { integer, real, text };

struct scalar_key {
    const char *format;  // as in the file, e.g. " N %d"
    const char *word;    // the key word
    key_kind kind;
    int readpara_t::*int_field;
    double readpara_t::*real_field;
    std::string readpara_t::*text_field;
};

// The 22 scalar keys in table order; the first 20 are recorded in "actparcmaes.par".
const scalar_key scalar_keys[] = {
    {" N %d", "N", key_kind::integer, &readpara_t::N, nullptr, nullptr},
    {" seed %d", "seed", key_kind::integer, &readpara_t::seed, nullptr, nullptr},
    {" stopMaxFunEvals %lg", "stopMaxFunEvals", key_kind::real, nullptr, &readpara_t::stopMaxFunEvals, nullptr},
    {" stopMaxIter %lg", "stopMaxIter", key_kind::real, nullptr, &readpara_t::stopMaxIter, nullptr},
    {" stopFitness %lg", "stopFitness", key_kind::real, nullptr, &readpara_t::stopFitness, nullptr},
    {" stopTolFun %lg", "stopTolFun", key_kind::real, nullptr, &readpara_t::stopTolFun, nullptr},
    {" stopTolFunHist %lg", "stopTolFunHist", key_kind::real, nullptr, &readpara_t::stopTolFunHist, nullptr},
    {" stopTolX %lg", "stopTolX", key_kind::real, nullptr, &readpara_t::stopTolX, nullptr},
    {" stopTolUpXFactor %lg", "stopTolUpXFactor", key_kind::real, nullptr, &readpara_t::stopTolUpXFactor,
     nullptr},
    {" lambda %d", "lambda", key_kind::integer, &readpara_t::lambda, nullptr, nullptr},
    {" mu %d", "mu", key_kind::integer, &readpara_t::mu, nullptr, nullptr},
    {" weights %5s", "weights", key_kind::text, nullptr, nullptr, &readpara_t::weightsMode},
    {" fac*cs %lg", "fac*cs", key_kind::real, nullptr, &readpara_t::cs, nullptr},
    {" fac*damps %lg", "fac*damps", key_kind::real, nullptr, &readpara_t::damps, nullptr},
    {" ccumcov %lg", "ccumcov", key_kind::real, nullptr, &readpara_t::ccumcov, nullptr},
    {" mucov %lg", "mucov", key_kind::real, nullptr, &readpara_t::mucov, nullptr},
    {" fac*ccov %lg", "fac*ccov", key_kind::real, nullptr, &readpara_t::ccov, nullptr},
    {" updatecov %lg", "updatecov", key_kind::real, nullptr, &readpara_t::updatecov, nullptr},
    {" maxTimeFractionForEigendecompostion %lg", "maxTimeFractionForEigendecompostion", key_kind::real,
     nullptr, &readpara_t::maxTimeFractionForEigendecompostion, nullptr},
    {" resume %59s", "resume", key_kind::text, nullptr, nullptr, &readpara_t::resumeFile},
    {" fac*maxFunEvals %lg", "fac*maxFunEvals", key_kind::real, nullptr, &readpara_t::facMaxFunEvals, nullptr},
    {" fac*updatecov %lg", "fac*updatecov", key_kind::real, nullptr, &readpara_t::facUpdatecov, nullptr},
};
constexpr int recorded_scalar_keys = 20;

struct vector_key {
    const char *format;
    const char *word;
    cmaes_vector readpara_t::*field;
};

const vector_key vector_keys[] = {
    {" typicalX %d", "typicalX", &readpara_t::typicalX},
    {" initialX %d", "initialX", &readpara_t::initialX},
    {" initialStandardDeviations %d", "initialStandardDeviations", &readpara_t::initialStandardDeviations},
    {" diffMinChange %d", "diffMinChange", &readpara_t::diffMinChange},
};

// --- matching of key lines -------------------------------------------------

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

const char *skip_blanks(const char *p) {
    while (*p != '\0' && is_blank(*p)) {
        ++p;
    }
    return p;
}

// After leading blanks the line holds `word`; returns the position after the
// blanks that follow it, or null.
const char *after_key_word(const char *line, const char *word) {
    const char *p = skip_blanks(line);
    const std::size_t n = std::strlen(word);
    if (std::strncmp(p, word, n) != 0) {
        return nullptr;
    }
    return skip_blanks(p + n);
}

bool parse_int(const char *p, int &value, const char **end_out = nullptr) {
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(p, &end, 10);
    if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX) {
        return false;
    }
    value = static_cast<int>(v);
    if (end_out != nullptr) {
        *end_out = end;
    }
    return true;
}

bool parse_real(const char *p, double &value) {
    char *end = nullptr;
    value = std::strtod(p, &end);
    return end != p;
}

bool parse_word(const char *p, std::string &value) {
    const char *q = p;
    while (*q != '\0' && !is_blank(*q)) {
        ++q;
    }
    if (q == p) {
        return false;
    }
    value.assign(p, q);
    return true;
}

bool is_comment(const std::string &line) { return !line.empty() && (line[0] == '#' || line[0] == '%'); }

// The whole file, and the offsets at which its lines start.
struct text_file {
    std::string text;
    std::vector<std::size_t> line_starts;

    std::string line(std::size_t i) const {
        std::size_t start = line_starts[i];
        std::size_t end = text.find('\n', start);
        return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
};

bool load_text_file(const char *name, text_file &file) {
    std::FILE *fp = std::fopen(name, "r");
    if (fp == nullptr) {
        return false;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, fp)) > 0) {
        file.text.append(buffer, got);
    }
    std::fclose(fp);
    std::size_t start = 0;
    while (start < file.text.size()) {
        file.line_starts.push_back(start);
        std::size_t end = file.text.find('\n', start);
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return true;
}

void write_vector_values(std::FILE *fp, const cmaes_vector &v, int n) {
    for (int i = 0; i < n; ++i) {
        std::fprintf(fp, "%7.3g%c", v[uz(i)], i % 5 == 4 ? '\n' : ' ');
    }
    std::fprintf(fp, "\n");
}

}  // namespace

namespace {

// Reads the parameter file. When `forced_N` is positive it replaces the
// dimension that the file gives before the vector keys are read, so that their
// values are sized for the dimension of the calibration problem.
void read_from_file(readpara_t &sp, const char *file_name, int forced_N) {
    const char *name = file_name != nullptr ? file_name : "initials.par";
    text_file file;
    if (!load_text_file(name, file)) {
        cmaes_error_message("cmaes_ReadFromFile(): could not open '", name, "'");
        return;
    }

    // Scalar keys: the first matching line counts.
    for (const scalar_key &key : scalar_keys) {
        for (std::size_t l = 0; l < file.line_starts.size(); ++l) {
            const std::string line = file.line(l);
            if (is_comment(line)) {
                continue;
            }
            const char *p = after_key_word(line.c_str(), key.word);
            if (p == nullptr) {
                continue;
            }
            bool matched = false;
            if (key.kind == key_kind::integer) {
                int v = 0;
                if ((matched = parse_int(p, v))) {
                    sp.*key.int_field = v;
                }
            } else if (key.kind == key_kind::real) {
                double v = 0;
                if ((matched = parse_real(p, v))) {
                    sp.*key.real_field = v;
                    if (key.real_field == &readpara_t::stopFitness) {
                        sp.stopFitnessSet = 1;
                    }
                }
            } else {
                std::string v;
                if ((matched = parse_word(p, v))) {
                    sp.*key.text_field = v;
                }
            }
            if (matched) {
                break;
            }
        }
    }

    if (sp.N <= 0) {
        cmaes_fatal("readpara_ReadFromFile(): No valid dimension N in '", name,
                    "' (it needs a line \"N <count>\", the count 1 or more)");
    }
    if (forced_N > 0 && sp.N != forced_N) {
        const std::string text = cmaes_format("Warning: N %d in '%s' is replaced by the %d adjustable parameters "
                                              "of the calibration problem.",
                                              sp.N, name, forced_N);
        cmaes_error_message(text.c_str());
        std::printf("\n%s\n", text.c_str());
        sp.N = forced_N;
    }

    // Vector keys: every matching line replaces the values, so the last counts.
    const int N = sp.N;
    for (const vector_key &key : vector_keys) {
        for (std::size_t l = 0; l < file.line_starts.size(); ++l) {
            const std::string line = file.line(l);
            if (is_comment(line)) {
                continue;
            }
            const char *p = after_key_word(line.c_str(), key.word);
            int n = 0;
            const char *count_end = nullptr;
            if (p == nullptr || !parse_int(p, n, &count_end) || n <= 0) {
                continue;
            }
            // The values follow the count, on that line or the following ones.
            const char *q = file.text.c_str() + file.line_starts[l] + static_cast<std::size_t>(count_end - line.c_str());
            cmaes_vector values(uz(N), 0.0);
            const int wanted = n < N ? n : N;
            for (int i = 0; i < wanted; ++i) {
                char *end = nullptr;
                values[uz(i)] = std::strtod(q, &end);
                if (end == q) {
                    cmaes_error_message("readpara_ReadFromFile ", name, ": ");
                    cmaes_fatal("'", key.format, "' not enough values found.\n",
                                "   Remove all comments between numbers.");
                }
                q = end;
                // A start or a spread beyond this magnitude overflows the
                // covariance matrix and the sampling.
                const double v = values[uz(i)];
                if (!(std::fabs(v) <= 1e100)) {
                    char shown[40];
                    std::snprintf(shown, sizeof shown, "%g", v);
                    const std::string where = std::string(name) + " line " + std::to_string(l + 1) + ": value " +
                                              std::to_string(i + 1) + " of " + key.word + " is " + shown;
                    std::printf("\nError in the parameter file %s; a value must be at most 1e100 in magnitude.\n",
                                where.c_str());
                    cmaes_fatal("readpara_ReadFromFile(): ", where.c_str());
                }
                // A spread enters the covariance squared: below this its square
                // is no normal number, and the condition number is infinite.
                if (key.field == &readpara_t::initialStandardDeviations && !(v >= 1e-100)) {
                    char shown[40];
                    std::snprintf(shown, sizeof shown, "%g", v);
                    const std::string where = std::string(name) + " line " + std::to_string(l + 1) + ": value " +
                                              std::to_string(i + 1) + " of " + key.word + " is " + shown;
                    std::printf("\nError in the parameter file %s; a standard deviation must be a positive number "
                                "of at least 1e-100.\n",
                                where.c_str());
                    cmaes_fatal("readpara_ReadFromFile(): ", where.c_str(),
                                ": initialStandardDeviations must be positive numbers of at least 1e-100");
                }
            }
            for (int i = n; i < N; ++i) {
                values[uz(i)] = values[uz(i % n)];
            }
            sp.*key.field = values;
        }
    }
}

}  // namespace

void readpara_ReadFromFile(readpara_t &sp, const char *file_name) { read_from_file(sp, file_name, 0); }

void readpara_SetWeights(readpara_t &sp, const char *mode) {
    const std::string word = mode != nullptr ? mode : "log";
    if (sp.mu <= 0) {
        cmaes_fatal("readpara_SetWeights(): invalid setting of mu or lambda");
    }
    const int mu = sp.mu;
    sp.weights.assign(uz(mu), 0.0);
    for (int i = 0; i < mu; ++i) {
        if (word == "lin") {
            sp.weights[uz(i)] = mu - i;
        } else if (word.compare(0, 3, "equ") == 0) {
            sp.weights[uz(i)] = 1;
        } else {
            sp.weights[uz(i)] = std::log(mu + 1.0) - std::log(i + 1.0);
        }
    }
    double s1 = 0.0;
    double s2 = 0.0;
    for (double w : sp.weights) {
        s1 += w;
        s2 += w * w;
    }
    sp.mueff = s1 * s1 / s2;
    for (double &w : sp.weights) {
        w /= s1;
    }
    if (sp.lambda < mu || (mu == sp.lambda && sp.weights[uz(mu - 1)] == sp.weights[0])) {
        cmaes_fatal("readpara_SetWeights(): invalid setting of mu or lambda");
    }
}

void readpara_FillDefaults(readpara_t &sp) {
    const double N = sp.N;
    if (sp.seed == 0) {
        sp.seed = cmaes_clock_seed();
    }
    if (sp.stopFitnessSet == -1) {
        sp.stopFitnessSet = 0;
    }
    if (sp.lambda < 2) {
        sp.lambda = 4 + static_cast<int>(3 * std::log(N));
    }
    if (sp.mu == -1) {
        sp.mu = sp.lambda / 2;
        readpara_SetWeights(sp, sp.weightsMode.c_str());
    } else if (sp.weights.empty()) {
        readpara_SetWeights(sp, sp.weightsMode.c_str());
    }
    const double mueff = sp.mueff;
    const double cs_default = (mueff + 2.0) / (N + mueff + 3.0);
    if (sp.cs > 0) {
        sp.cs *= cs_default;
    }
    if (!(sp.cs > 0 && sp.cs < 1)) {
        sp.cs = cs_default;
    }
    if (!(sp.ccumcov > 0 && sp.ccumcov <= 1)) {
        sp.ccumcov = 4.0 / (N + 4.0);
    }
    if (sp.mucov < 1) {
        sp.mucov = mueff;
    }
    const double g = (1.0 / sp.mucov) * 2.0 / ((N + 1.4142) * (N + 1.4142)) +
                     (1.0 - 1.0 / sp.mucov) *
                         std::min(1.0, (2.0 * mueff - 1.0) / ((N + 2.0) * (N + 2.0) + mueff));
    if (sp.ccov >= 0) {
        sp.ccov *= g;
    }
    if (sp.ccov < 0 || sp.ccov > 1) {
        sp.ccov = g;
    }
    if (sp.stopMaxFunEvals != -1) {
        sp.stopMaxFunEvals *= sp.facMaxFunEvals;
    } else {
        sp.stopMaxFunEvals = sp.facMaxFunEvals * 900.0 * (N + 3.0) * (N + 3.0);
    }
    if (sp.stopMaxIter == -1) {
        sp.stopMaxIter = std::ceil(sp.stopMaxFunEvals / sp.lambda);
    }
    if (sp.damps < 0) {
        sp.damps = 1;
    }
    sp.damps = sp.damps * (1.0 + 2.0 * std::max(0.0, std::sqrt((mueff - 1.0) / (N + 1.0)) - 1.0)) *
                   std::max(0.3, 1.0 - N / (std::min(sp.stopMaxIter, sp.stopMaxFunEvals / sp.lambda) + 1e-6)) +
               sp.cs;
    if (sp.updatecov < 1) {
        sp.updatecov = 1.0 / sp.ccov / N / 10.0;
    }
    sp.updatecov *= sp.facUpdatecov;
    if (sp.maxTimeFractionForEigendecompostion < 0) {
        sp.maxTimeFractionForEigendecompostion = 0.2;
    }
}

void readpara_WriteActual(const readpara_t &sp, const char *out_file, const char *read_file) {
    std::FILE *fp = std::fopen(out_file, "a");
    if (fp == nullptr) {
        cmaes_error_message("cmaes_WriteToFile(): could not open '", out_file, "'");
        return;
    }
    std::time_t now = std::time(nullptr);
    const char *calendar = std::ctime(&now);
    std::fprintf(fp, "\n# Read from %s at %s\n", read_file != nullptr ? read_file : "",
                 calendar != nullptr ? calendar : "\n");
    std::fprintf(fp, " N %d", sp.N);
    std::fprintf(fp, "\n");
    for (const vector_key &key : vector_keys) {
        const cmaes_vector &v = sp.*key.field;
        if (v.empty()) {
            continue;
        }
        std::fprintf(fp, " %s %d", key.word, sp.N);
        std::fprintf(fp, "\n");
        write_vector_values(fp, v, sp.N < static_cast<int>(v.size()) ? sp.N : static_cast<int>(v.size()));
    }
    for (int k = 1; k < recorded_scalar_keys; ++k) {
        const scalar_key &key = scalar_keys[k];
        const bool factor = std::strncmp(key.word, "fac*", 4) == 0;
        const char *shown = factor ? key.word + 4 : key.word;
        if (key.real_field == &readpara_t::stopFitness && sp.stopFitnessSet != 1) {
            std::fprintf(fp, " stopFitness\n");
            continue;
        }
        if (key.kind == key_kind::integer) {
            std::fprintf(fp, " %s %d", shown, sp.*key.int_field);
        } else if (key.kind == key_kind::real) {
            std::fprintf(fp, " %s %g", shown, sp.*key.real_field);
        } else if (key.text_field == &readpara_t::weightsMode) {
            std::fprintf(fp, " %s %5s", shown, sp.weightsMode.c_str());
        } else {
            std::fprintf(fp, " %s %59s", shown, sp.resumeFile.c_str());
        }
        std::fprintf(fp, "\n");
    }
    std::fprintf(fp, "\n");
    std::fclose(fp);
}

void readpara_release(readpara_t &sp) {
    sp.initialX = cmaes_vector{};
    sp.typicalX = cmaes_vector{};
    sp.initialStandardDeviations = cmaes_vector{};
    sp.diffMinChange = cmaes_vector{};
    sp.weights = cmaes_vector{};
}

void readpara_readpara_t(readpara_t &sp, int dimension, int seed, const double *xstart,
                         const double *stddev, int lambda, const char *parameter_file,
                         const control_data *cd) {
    const char *file = parameter_file != nullptr ? parameter_file : "initials.par";
    sp = readpara_t{};
    sp.N = dimension;
    sp.seed = seed;
    sp.lambda = lambda;

    // The calibration problem fixes N, lambda and mu. They are set before the
    // start point, the deviations and the derived defaults, so that all of these
    // are sized and computed for the dimension actually used.
    const int adjustable = cd != nullptr ? cd->adjustable_count : 0;
    if (cd != nullptr && adjustable < 1) {
        cmaes_fatal("readpara_readpara_t(): the calibration problem has no adjustable parameter");
    }
    if (std::strcmp(file, "non") != 0 && std::strcmp(file, "writeonly") != 0) {
        read_from_file(sp, file, adjustable);
    }
    if (sp.N < 1) {
        sp.N = dimension;
    }
    if (sp.N < 1) {
        cmaes_fatal("readpara_readpara_t(): problem dimension N undefined.\n", "  (no default value available).");
    }
    if (cd != nullptr) {
        sp.N = adjustable;
        sp.lambda = static_cast<int>(3 * std::log(static_cast<double>(adjustable)) + 4);
        sp.mu = static_cast<int>(sp.lambda * 0.5);
    }
    const int N = sp.N;
    if ((xstart != nullptr || stddev != nullptr) && N != dimension) {
        cmaes_fatal("readpara_readpara_t(): the dimension N of the parameter file differs from the ",
                    "dimension of the given start point or standard deviations");
    }

    if (sp.initialX.empty() && xstart == nullptr && sp.typicalX.empty()) {
        cmaes_error_message("Warning: initialX undefined. typicalX = 0.5...0.5 used.");
        std::printf("\nWarning: initialX undefined. typicalX = 0.5...0.5 used.\n");
    }
    if (sp.initialStandardDeviations.empty() && stddev == nullptr) {
        cmaes_error_message("Warning: initialStandardDeviations undefined. 0.3...0.3 used.");
        std::printf("\nWarning: initialStandardDeviations. 0.3...0.3 used.\n");
    }
    if (sp.initialX.empty()) {
        sp.initialX.assign(uz(N), 0.0);
        if (xstart != nullptr) {
            sp.initialX.assign(xstart, xstart + N);
        } else {
            sp.typicalStart = 1;
            for (int i = 0; i < N; ++i) {
                sp.initialX[uz(i)] = sp.typicalX.empty() ? 0.5 : sp.typicalX[uz(i)];
            }
        }
    }
    if (sp.initialStandardDeviations.empty()) {
        if (stddev != nullptr) {
            sp.initialStandardDeviations.assign(stddev, stddev + N);
        } else {
            sp.initialStandardDeviations.assign(uz(N), 0.3);
        }
    }

    readpara_FillDefaults(sp);
    if (cd != nullptr) {
        sp.stopTolFun = 1e-4;
        sp.stopTolFunHist = 1e-5;
    }

    if (std::strcmp(file, "non") != 0) {
        readpara_WriteActual(sp, "actparcmaes.par", file);
    }
}
