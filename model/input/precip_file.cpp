// The precipitation file: reads one storm event per call (title, gauge and record
// counts, gauge coordinates, then the dated records with their gauge values or
// radar grid files), refusing format errors, decreasing dates and decreasing
// accumulations. Called by the precipitation set-up and the precipitation pieces.
#include "model/input/precip_file.h"

#include <cctype>
#include <cmath>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/radar_precip.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"

namespace {

// Most words read while looking for a card before the file is judged malformed.
constexpr int word_search_limit = 10000;

// A word of at most five characters, as "%5s" reads it; false at end of file.
bool read_word(std::FILE *file, std::string &word) {
    char buffer[6] = {};
    if (std::fscanf(file, "%5s", buffer) != 1) return false;
    word = buffer;
    return true;
}

// A whole blank-separated word, however long; false at end of file.
bool read_whole_word(std::FILE *file, std::string &word) {
    word.clear();
    int c = std::getc(file);
    while (c != EOF && std::isspace(c)) c = std::getc(file);
    while (c != EOF && !std::isspace(c)) {
        word.push_back(static_cast<char>(c));
        c = std::getc(file);
    }
    if (c != EOF) std::ungetc(c, file);
    return !word.empty();
}

// The rest of the current line, without its line feed and carriage return.
std::string rest_of_line(std::FILE *file) {
    std::string text;
    int c = std::getc(file);
    while (c != EOF && c != '\n') {
        text.push_back(static_cast<char>(c));
        c = std::getc(file);
    }
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
}

std::string trim_leading(const std::string &text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    return text.substr(i);
}

bool contains_files(const std::string &word) {
    std::string lower;
    for (char c : word) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return lower.find("files") != std::string::npos;
}

// The whole word as an integer; false when it is not one.
bool whole_int(const std::string &word, int &value) {
    if (word.empty()) return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(word.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v > INT_MAX || v < INT_MIN) return false;
    value = static_cast<int>(v);
    return true;
}

int format_error() {
    raise_printed_error();
    return precip_format_error;
}

bool earlier(const precip_date &a, const precip_date &b) {
    if (a.year != b.year) return a.year < b.year;
    if (a.month != b.month) return a.month < b.month;
    if (a.day != b.day) return a.day < b.day;
    if (a.hour != b.hour) return a.hour < b.hour;
    return a.minute < b.minute;
}

void print_card_kind_error(bool more_than_one) {
    std::printf("\nERROR:\n");
    std::printf("\nThere is a problem in the precipitation input file.\n");
    if (more_than_one) {
        std::printf("More than one precipitation data card type has been specified.\n");
        std::printf("There may only be one of the following card types per event:\n\n");
        std::printf("     1) RADAR\n     2) GAGES\n     3) RATES\n\n");
    } else {
        std::printf("At least one precipitation data card type must be specified.\n");
        std::printf("There may only be one of the following card types per event:\n\n");
        std::printf("     1) RADAR\n     2) GAGES\n     3) RATES    4) ACCUM\n\n");
    }
    std::printf("Check the precipitation input file.  KORVA exiting\n");
}

// Reads NRGAG and NRPDS in either order; the result of read_precip_file on failure.
int read_counts(std::FILE *file, precip_event &event) {
    bool have_gauges = false, have_records = false;
    std::string word;
    for (int words = 0; words < word_search_limit; ++words) {
        if (have_gauges && have_records) return precip_event_read;
        if (!read_word(file, word)) return precip_early_end;
        const std::string key = precip_card_key(word);
        if (key == "nrga") {
            std::string value;
            if (!read_whole_word(file, value)) return precip_early_end;
            int n = 0;
            if (contains_files(value)) {
                event.gauges = -1;  // radar-file event
            } else if (whole_int(value, n) && n >= 0) {
                event.gauges = n;
            } else {
                std::printf("\nThe NRGAG value \"%s\" of the event entitled:\n   %s\n", value.c_str(),
                            event.title.c_str());
                std::printf("is neither a number of gages (0 or more) nor a word containing FILES.\n");
                std::printf("Check the format of the rainfall input file.\n");
                return format_error();
            }
            have_gauges = true;
        } else if (key == "nrpd") {
            int n = 0;
            const int got = std::fscanf(file, "%d", &n);
            if (got == EOF) return precip_early_end;
            if (got != 1 || n < 1) {
                std::printf("\nThe NRPDS value of the event entitled:\n   %s\n", event.title.c_str());
                std::printf("must be a number of records of 1 or more.\n");
                std::printf("Check the format of the rainfall input file.\n");
                return format_error();
            }
            event.records = n;
            have_records = true;
        }
    }
    if (have_gauges && have_records) return precip_event_read;
    std::printf("\nThere is a problem with your rainfall input file.  KORVA cannot\n");
    std::printf("find the NRPDS or NRGAG card for the event entitled:\n");
    std::printf("   %s\n\n", event.title.c_str());
    std::printf("Check the format of the rainfall input file.\n");
    return format_error();
}

// The coordinate arrays grow with the COORD cards actually read, so a gauge count
// far beyond what the file holds ends at the missing card instead of in memory.
int read_coordinates(std::FILE *file, precip_event &event) {
    event.gauge_x.assign(2, 0.0);
    event.gauge_y.assign(2, 0.0);
    std::string word;
    for (int g = 1; g <= event.gauges; ++g) {
        const std::size_t needed = static_cast<std::size_t>(g) + 1;
        if (event.gauge_x.size() < needed) {
            event.gauge_x.resize(needed, 0.0);
            event.gauge_y.resize(needed, 0.0);
        }
        if (!read_word(file, word)) return precip_early_end;
        if (precip_card_key(word) != "coor") {
            std::printf("\nCannot find gage coordinate card in rainfall input file for event entitled:\n");
            std::printf("       %s\n\n", event.title.c_str());
            std::printf("Check rainfall input file format.\n");
            return format_error();
        }
        double x = 0.0, y = 0.0;
        const int got = std::fscanf(file, "%lf %lf", &x, &y);
        if (got == EOF) return precip_early_end;
        if (got != 2 || !std::isfinite(x) || !std::isfinite(y)) {
            std::printf("\nThe coordinates of gage %d of the event entitled:\n   %s\n", g,
                        event.title.c_str());
            std::printf("cannot be read.  Check rainfall input file format.\n");
            return format_error();
        }
        event.gauge_x[static_cast<std::size_t>(g)] = x;
        event.gauge_y[static_cast<std::size_t>(g)] = y;
        rest_of_line(file);
    }
    return precip_event_read;
}

// Sets the flag of the record's card; false (message printed) when the card is not
// one of the four or the event would then hold more than one kind.
bool take_card(const std::string &word, precip_event &event) {
    const std::string key = precip_card_key(word);
    if (key == "rada")
        event.radar = 1;
    else if (key == "gage")
        event.gages = 1;
    else if (key == "rate")
        event.rates = 1;
    else if (key == "accu")
        event.accum = 1;
    else {
        print_card_kind_error(false);
        return false;
    }
    if (event.radar + event.gages + event.rates + event.accum > 1) {
        print_card_kind_error(true);
        return false;
    }
    return true;
}

// The dates and the values table grow record by record for the same reason; at the
// end they hold records + 1 dates and (records + 1) x gauges + 1 values.
int read_records(std::FILE *file, precip_event &event, bool radar_files) {
    const std::size_t columns = static_cast<std::size_t>(radar_files ? 1 : event.gauges);
    event.dates.assign(1, precip_date{});
    event.values.assign(columns + 1, 0.0);
    event.radar_files.clear();
    precip_date last;
    std::string word;
    for (int k = 1; k <= event.records; ++k) {
        precip_date d;
        int got = EOF;
        if (read_word(file, word))
            got = std::fscanf(file, "%d %d %d %d %d", &d.year, &d.month, &d.day, &d.hour, &d.minute);
        if (got == EOF) {
            std::printf("\n last year %d last month %d last day %d last hour %d last minute %d \n",
                        last.year, last.month, last.day, last.hour, last.minute);
            return precip_early_end;
        }
        if (got != 5) {
            std::printf("\nThe date of record %d of the event entitled:\n   %s\n", k, event.title.c_str());
            std::printf("cannot be read; a record begins with its card, year, month, day, hour and minute.\n");
            return format_error();
        }
        if (!take_card(word, event)) return format_error();
        if (d.year < 100) d.year += 1900;
        event.dates.push_back(d);
        event.values.resize((static_cast<std::size_t>(k) + 1) * columns + 1, 0.0);
        if (k > 1 && earlier(d, last)) {
            std::printf("\nERROR:\n");
            std::printf("There is a data error in the precipitation file.  This error occurred in the\n");
            std::printf("EVENT titled:\n %s\n", event.title.c_str());
            std::printf("On line no. %ld, the given time of the recorded data is:    %ld/%ld/%ld %ld:%2.2ld\n",
                        static_cast<long>(k), static_cast<long>(d.year), static_cast<long>(d.month),
                        static_cast<long>(d.day), static_cast<long>(d.hour), static_cast<long>(d.minute));
            std::printf("Which is earlier than the date/time on the previous line:  %ld/%ld/%ld %ld:%2.2ld\n",
                        static_cast<long>(last.year), static_cast<long>(last.month),
                        static_cast<long>(last.day), static_cast<long>(last.hour),
                        static_cast<long>(last.minute));
            std::printf("This error in your precipitation input file must be corrected before KORVA\n");
            std::printf("can continue.  Program exiting on error.\n\n");
            return format_error();
        }
        last = d;
        if (radar_files) {
            std::string rest = rest_of_line(file);
            std::string name;
            next_token(name, rest);
            if (name.empty()) {
                std::printf("\nRecord %d of the radar event entitled:\n   %s\n", k, event.title.c_str());
                std::printf("names no radar grid file.  Check the precipitation input file.\n");
                return format_error();
            }
            event.radar_files.push_back(name);
            continue;
        }
        for (int g = 1; g <= event.gauges; ++g) {
            double v = 0.0;
            if (std::fscanf(file, "%lf", &v) != 1) {
                std::printf("\n ERROR: \n");
                std::printf("\n check out gage input for precip record %d", k);
                std::printf("\n look at gage %d \n", g);
                return precip_early_end;
            }
            if (!std::isfinite(v) || v < 0.0) {
                // A negative or non-numeric amount would take water off the grid or
                // poison every depth it reaches.
                std::printf("\nERROR:\n");
                std::printf("Gage %d of precip record %d of the EVENT titled:\n %s\n", g, k,
                            event.title.c_str());
                std::printf("holds %lf, which is not a precipitation amount (0 or more).\n", v);
                std::printf("Check the precipitation input file.  KORVA exiting\n");
                return format_error();
            }
            event.value(k, g) = v;
            if (event.accum && k > 1 && v < event.value(k - 1, g)) {
                std::printf("\nERROR:\n");
                std::printf("There is a data error in the precipitation file.  This error occurred in the\n");
                std::printf("EVENT titled:\n %s\n", event.title.c_str());
                std::printf("On line no. %ld, the accumulated precip. for gage number %d is: %8.5lf mm\n",
                            static_cast<long>(k), g, v);
                std::printf("Which is less than the accumulated precip. on the previous line: %8.5lf mm\n",
                            event.value(k - 1, g));
                std::printf("This error in your precipitation input file must be corrected before KORVA\n");
                std::printf("can continue.  Accumulated precip is CUMULATIVE.  The values should increase\n");
                std::printf("monotonically.  Program exiting on error.\n\n");
                return format_error();
            }
        }
    }
    return precip_event_read;
}

}  // namespace

std::string precip_card_key(const std::string &word) {
    std::string key;
    for (std::size_t i = 0; i < word.size() && i < 4; ++i)
        key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(word[i]))));
    return key;
}

int read_precip_file(std::FILE *file, precip_event &event, int &events_found, radar_grid &radar) {
    event.radar = event.gages = event.rates = event.accum = 0;
    if (!file) return precip_no_event;
    std::string word;
    bool found = false;
    for (int words = 0; words < word_search_limit; ++words) {
        if (!read_word(file, word)) return precip_no_event;
        if (precip_card_key(word) == "even") {
            found = true;
            break;
        }
    }
    if (!found) {
        std::printf("There is a problem with your rainfall input file.  KORVA cannot\n");
        std::printf("find the first event card.  Check the format of the rainfall input for event %d\n",
                    events_found);
        std::printf("file.\n\n");
        return format_error();
    }
    ++events_found;
    event.title = trim_leading(rest_of_line(file));
    event.gauges = 0;
    event.records = 0;

    int result = read_counts(file, event);
    if (result != precip_event_read) return result;
    const bool radar_files = event.gauges < 0;
    if (!radar_files) {
        result = read_coordinates(file, event);
        if (result != precip_event_read) return result;
    } else {
        event.gauge_x.assign(2, 0.0);
        event.gauge_y.assign(2, 0.0);
    }
    result = read_records(file, event, radar_files);
    if (result != precip_event_read) return result;

    if (radar_files) {
        if (!event.radar) {
            std::printf("\nThe event entitled:\n   %s\n", event.title.c_str());
            std::printf("lists radar grid files, so its records must be RADAR records.\n");
            std::printf("Check the precipitation input file.  KORVA exiting\n");
            return format_error();
        }
        event.radar = 2;
        event.gauges = 1;
        event.radar_files.push_back(event.radar_files.back());
        if (read_radar_grid(radar, event.radar_files.front()) != 0) {
            std::printf("Error: unable to read radar header in file %s\n",
                        event.radar_files.front().c_str());
            return format_error();
        }
    }
    return precip_event_read;
}
