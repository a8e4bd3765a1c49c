// The signals file "signals.par": lines that stop the run, change stop values,
// print or write keyed output and switch the eigendecomposition check or time
// budget. Read by the CMA-ES driver before the first and after every generation.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "calibrator/cmaes/cmaes.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Reads one line of any length; false at the end of the file.
bool read_line(std::FILE *fp, std::string &line) {
    line.clear();
    int c = 0;
    bool any = false;
    while ((c = std::fgetc(fp)) != EOF) {
        any = true;
        if (c == '\n') {
            break;
        }
        line.push_back(static_cast<char>(c));
    }
    return any;
}

// The words that follow the literal `keyword` after leading blanks (at most
// `max_words`); empty when the line does not start with the keyword.
std::vector<std::string> words_after(const std::string &line, const char *keyword, std::size_t max_words) {
    std::vector<std::string> words;
    const char *p = line.c_str();
    while (*p != '\0' && is_blank(*p)) {
        ++p;
    }
    const std::size_t n = std::strlen(keyword);
    if (std::strncmp(p, keyword, n) != 0) {
        return words;
    }
    p += n;
    while (words.size() < max_words) {
        while (*p != '\0' && is_blank(*p)) {
            ++p;
        }
        const char *start = p;
        while (*p != '\0' && !is_blank(*p)) {
            ++p;
        }
        if (p == start) {
            break;
        }
        words.emplace_back(start, p);
    }
    return words;
}

bool word_number(const std::vector<std::string> &words, std::size_t i, double &value) {
    if (i >= words.size()) {
        return false;
    }
    const char *start = words[i].c_str();
    char *end = nullptr;
    value = std::strtod(start, &end);
    return end != start;
}

bool starts(const std::string &word, const char *prefix, std::size_t n) {
    return std::strncmp(word.c_str(), prefix, n) == 0;
}

void apply_stop(cmaes_t &t, const std::vector<std::string> &w) {
    if (starts(w[0], "now", 3)) {
        t.flgStop = 1;
        return;
    }
    double d = 0;
    if (!word_number(w, 1, d)) {
        return;
    }
    readpara_t &sp = t.sp;
    if (starts(w[0], "MaxFunEvals", 11)) {
        sp.stopMaxFunEvals = d;
    } else if (starts(w[0], "MaxIter", 4)) {
        sp.stopMaxIter = d;
    } else if (starts(w[0], "Fitness", 7)) {
        sp.stopFitness = d;
        sp.stopFitnessSet = 1;
    } else if (starts(w[0], "TolFunHist", 10)) {
        sp.stopTolFunHist = d;
    } else if (starts(w[0], "TolFun", 6)) {
        sp.stopTolFun = d;
    } else if (starts(w[0], "TolX", 4)) {
        sp.stopTolX = d;
    } else if (starts(w[0], "TolUpXFactor", 4)) {
        sp.stopTolUpXFactor = d;
    }
}

}  // namespace

void cmaes_ReadSignals(cmaes_t &t, const char *file_name) {
    std::FILE *fp = std::fopen(file_name != nullptr ? file_name : "signals.par", "r");
    if (fp == nullptr) {
        return;
    }
    cmaes_ApplySignals(t, fp);
    std::fclose(fp);
}

void cmaes_ApplySignals(cmaes_t &t, std::FILE *fp) {
    const std::time_t now = std::time(nullptr);
    double since_print = std::difftime(now, t.printtime);
    double since_write = std::difftime(now, t.writetime);
    const double since_first_print = t.firstprinttime != 0 ? std::difftime(now, t.firstprinttime) : 0;
    const double since_first_write = t.firstwritetime != 0 ? std::difftime(now, t.firstwritetime) : 0;
    if (cmaes_Test(t) != nullptr) {
        // Due output happens once the run is about to stop.
        since_print = static_cast<double>(now);
        since_write = static_cast<double>(now);
    }
    if (t.signals_last_write_gen > t.gen) {
        t.signals_last_write_gen = 0;
        t.signals_max_gen_gap = 0;
    }

    bool printed = false;
    bool written = false;
    std::string line;
    while (read_line(fp, line)) {
        if (!line.empty() && (line[0] == '#' || line[0] == '%')) {
            continue;
        }
        std::vector<std::string> w;
        if (!(w = words_after(line, "stop", 2)).empty()) {
            apply_stop(t, w);
        } else if (!(w = words_after(line, "print", 2)).empty()) {
            double d = 1;
            if (!word_number(w, 1, d)) {
                d = since_first_print < 1 ? 0 : 1;
            }
            if (d < 0) {
                t.signals_print_hold += 2;
            } else if (d <= since_print && t.signals_print_hold == 0) {
                cmaes_WriteToFilePtr(t, w[0].c_str(), stdout);
                printed = true;
            }
        } else if (!(w = words_after(line, "write", 3)).empty()) {
            const char *file = w.size() > 1 ? w[1].c_str() : "tmpcmaes.dat";
            if (t.countevals < t.sp.lambda && !t.flgresumedone) {
                cmaes_WriteToFile(t, w[0].c_str(), file, "w");
            }
            double d = 0.9;
            if (!word_number(w, 2, d)) {
                d = since_first_write < 2 ? 0 : 0.9;
            }
            if (d < 0) {
                t.signals_write_hold += 2;
            }
            if (t.signals_write_hold == 0 &&
                (d <= since_write || (d < 1 && t.signals_max_gen_gap < t.gen - t.signals_last_write_gen))) {
                cmaes_AppendToFile(t, w[0].c_str(), file);
                written = true;
            }
        } else if (!(w = words_after(line, "check", 2)).empty()) {
            if (starts(w[0], "eigen", 5)) {
                double d = 0;
                t.flgCheckEigen = (word_number(w, 1, d) && d > 0) ? 1 : 0;
            }
        } else if (!(w = words_after(line, "maxTimeFractionForEigendecompostion", 1)).empty()) {
            double d = 0;
            if (word_number(w, 0, d)) {
                t.sp.maxTimeFractionForEigendecompostion = d;
            }
        }
    }

    if (t.firstwritetime == 0) {
        t.firstwritetime = now;
    }
    if (t.firstprinttime == 0) {
        t.firstprinttime = now;
    }
    if (printed) {
        t.printtime = now;
    }
    if (written) {
        t.writetime = now;
        if (t.signals_max_gen_gap < t.gen - t.signals_last_write_gen) {
            t.signals_max_gen_gap += 1;
        }
        t.signals_last_write_gen = t.gen;
    }
    t.signals_print_hold = t.signals_print_hold - 1 > 0 ? 1 : 0;
    t.signals_write_hold = t.signals_write_hold - 1 > 0 ? 1 : 0;
}
