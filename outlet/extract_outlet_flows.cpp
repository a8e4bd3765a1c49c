// Outlet flow extractor: reads the outlet hydrograph and the date list of the
// working directory and writes the labelled flow lines that instruction files read.
#include "outlet/extract_outlet_flows.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// Reads whitespace-separated words and remembers the line each came from.
struct word_reader {
    std::istream &in;
    std::istringstream line_words;
    long line_number = 0;

    explicit word_reader(std::istream &s) : in(s) {}

    bool next(std::string &word) {
        while (!(line_words >> word)) {
            std::string line;
            if (!std::getline(in, line)) return false;
            ++line_number;
            line_words.clear();
            line_words.str(line);
        }
        return true;
    }
};

// A number only when the whole word converts to a finite value.
bool parse_number(const std::string &word, double &value) {
    const char *begin = word.c_str();
    char *end = nullptr;
    errno = 0;
    value = std::strtod(begin, &end);
    return end != begin && *end == '\0' && errno != ERANGE && std::isfinite(value);
}

}  // namespace

int pair_outlet_flows(std::istream &hydrograph, std::istream &dates, std::FILE *out,
                      std::string &message) {
    word_reader hyd(hydrograph);
    word_reader dat(dates);
    std::string date_word, time_word, word;
    long pairs = 0;
    while (dat.next(date_word)) {
        if (!dat.next(time_word)) {
            message = std::string(dates_file_name) + ": line " + std::to_string(dat.line_number) +
                      ": date \"" + date_word + "\" has no time word";
            return 1;
        }
        double value[2] = {0.0, 0.0};  // time (dropped) and discharge
        for (double &v : value) {
            if (!hyd.next(word)) {
                message = std::string(hydrograph_file_name) + ": ends after line " +
                          std::to_string(hyd.line_number) + "; no discharge for date " +
                          date_word + " " + time_word;
                return 1;
            }
            if (!parse_number(word, v)) {
                message = std::string(hydrograph_file_name) + ": line " +
                          std::to_string(hyd.line_number) + ": \"" + word + "\" is not a number";
                return 1;
            }
        }
        std::fprintf(out, "sim_flows   %s     %s     %16.8lf\n", date_word.c_str(), time_word.c_str(),
                     value[1]);
        ++pairs;
    }
    if (pairs == 0) {
        message = std::string(dates_file_name) + ": holds no date and time pair";
        return 1;
    }
    return 0;
}

int extract_outlet_flows(std::FILE *err) {
    std::ifstream hydrograph(hydrograph_file_name);
    if (!hydrograph) {
        std::fprintf(err, "main: cannot open %s for reading\n", hydrograph_file_name);
        return 1;
    }
    std::ifstream dates(dates_file_name);
    if (!dates) {
        std::fprintf(err, "main: cannot open %s for reading\n", dates_file_name);
        return 1;
    }
    std::FILE *out = std::fopen(sim_flows_file_name, "w");
    if (out == nullptr) {
        std::fprintf(err, "main: cannot open %s for writing\n", sim_flows_file_name);
        return 1;
    }
    std::string message;
    int status = pair_outlet_flows(hydrograph, dates, out, message);
    if (std::fclose(out) != 0 && status == 0) {
        message = std::string("cannot write ") + sim_flows_file_name;
        status = 1;
    }
    if (status != 0) std::fprintf(err, "main: %s\n", message.c_str());
    return status;
}
