// Outlet flow extractor: reads the outlet hydrograph and the date list of the
// working directory and writes the labelled flow lines that instruction files read.
#include "outlet/extract_outlet_flows.h"

#include <cerrno>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

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

// Reads the hydrograph one line at a time: every line that is not blank holds
// exactly a time and a discharge.
struct hydrograph_reader {
    std::istream &in;
    long line_number = 0;

    explicit hydrograph_reader(std::istream &s) : in(s) {}

    // 1 with the discharge of the next line, 0 at the end of the file, -1 with a
    // message for a line that is not two numbers.
    int next(double &discharge, std::string &message) {
        std::string line;
        while (std::getline(in, line)) {
            ++line_number;
            std::istringstream words(line);
            std::string word[3];
            int count = 0;
            while (count < 3 && words >> word[count]) ++count;
            if (count == 0) continue;
            const std::string where =
                std::string(hydrograph_file_name) + ": line " + std::to_string(line_number) + ": ";
            double value[2] = {0.0, 0.0};
            for (int i = 0; i < count && i < 2; ++i) {
                if (!parse_number(word[i], value[i])) {
                    message = where + "\"" + word[i] + "\" is not a number";
                    return -1;
                }
            }
            if (count != 2) {
                message = where + (count == 1 ? "holds one value" : "holds more than two values") +
                          "; each line holds a time and a discharge";
                return -1;
            }
            discharge = value[1];
            return 1;
        }
        return 0;
    }
};

}  // namespace

int pair_outlet_flows(std::istream &hydrograph, std::istream &dates, std::FILE *out,
                      std::string &message) {
    word_reader dat(dates);
    hydrograph_reader hyd(hydrograph);
    std::string date_word, time_word;
    long pairs = 0;
    while (dat.next(date_word)) {
        if (!dat.next(time_word)) {
            message = std::string(dates_file_name) + ": line " + std::to_string(dat.line_number) +
                      ": date \"" + date_word + "\" has no time word";
            return 1;
        }
        double discharge = 0.0;
        const int got = hyd.next(discharge, message);
        if (got < 0) return 1;
        if (got == 0) {
            message = std::string(hydrograph_file_name) + ": ends after line " +
                      std::to_string(hyd.line_number) + "; no discharge for date " + date_word +
                      " " + time_word + " (" + dates_file_name + ": line " +
                      std::to_string(dat.line_number) + ")";
            return 1;
        }
        std::fprintf(out, "sim_flows   %s     %s     %16.8lf\n", date_word.c_str(), time_word.c_str(),
                     discharge);
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
    // The lines are written beside the result and take its name only when all are
    // written: a refused or failed run leaves the earlier result as it was.
    // A device (or a link to one) is written in place; a link to a file is followed.
    std::error_code error;
    std::string target = sim_flows_file_name;
    const std::filesystem::file_status st = std::filesystem::status(target, error);
    const bool in_place = std::filesystem::exists(st) && !std::filesystem::is_regular_file(st);
    if (!in_place && std::filesystem::is_symlink(std::filesystem::symlink_status(target, error)))
        target = std::filesystem::weakly_canonical(target, error).string();
    const std::string staged = in_place ? target : target + ".part";
    std::FILE *out = std::fopen(staged.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(err, "main: cannot open %s for writing\n", sim_flows_file_name);
        return 1;
    }
    std::string message;
    int status = pair_outlet_flows(hydrograph, dates, out, message);
    const bool write_failed = std::ferror(out) != 0;
    if ((std::fclose(out) != 0 || write_failed) && status == 0) {
        message = std::string("cannot write ") + sim_flows_file_name;
        status = 1;
    }
    if (status == 0 && !in_place && std::rename(staged.c_str(), target.c_str()) != 0) {
        message = std::string("cannot write ") + sim_flows_file_name;
        status = 1;
    }
    if (status != 0) {
        if (!in_place) std::remove(staged.c_str());
        std::fprintf(err, "main: %s\n", message.c_str());
    }
    return status;
}
