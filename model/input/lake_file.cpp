// The lake and low-spot file readers. The lake file: the header card of the lake
// kind, then the elevation and volume of every LAKE card in the record of its
// lake (called by read_overland_lakes and by the channel set-up). The low-spot
// file: the LOWSPOT header, then one record per SPOT card (called by the dike
// reader of the watershed input).
#include "model/input/lake_file.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "model/core/errors.h"
#include "model/input/input_readers.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"
#include "model/core/value_bounds.h"

namespace {

std::string lower_case(std::string word) {
    for (char &c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
}

// Strict conversions of one token: false when the token is missing or is not
// wholly a number.
bool take_int(std::string &line, int &value) {
    std::string token;
    if (!next_token(token, line)) return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(token.c_str(), &end, 10);
    if (end == token.c_str() || *end != '\0' || errno != 0 || v < -2147483647L ||
        v > 2147483647L)
        return false;
    value = static_cast<int>(v);
    return true;
}

bool take_double(std::string &line, double &value) {
    std::string token;
    if (!next_token(token, line)) return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(token.c_str(), &end);
    if (end == token.c_str() || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    value = v;
    return true;
}

// " name" of the file for the messages, nothing when the caller gave none.
std::string named(const std::string &file_name) {
    return file_name.empty() ? std::string() : " " + file_name;
}

const char *kind_word(int kind) { return kind == channel_lake_kind ? "channel" : "overland"; }

// The first word of line 1 is a beginning of the card word (any case).
bool header_card(std::FILE *file, const std::string &expected) {
    std::string line, word;
    if (!file || !read_line(line, file) || !next_token(word, line)) return false;
    word = lower_case(word);
    return word.size() <= expected.size() && expected.compare(0, word.size(), word) == 0;
}

void fail() {
    std::fprintf(stderr, "Program terminated.\n");
    raise_printed_error();
}

}  // namespace

int lake_card_lookup(std::string &line) {
    std::string word;
    if (!next_token(word, line)) return 1;
    return lower_case(word) == "lake" ? 0 : 1;
}

void read_lake_file(std::FILE *file, int kind, int expected_count,
                    std::vector<lake_record> &records, const std::string &file_name) {
    const std::string expected =
        kind == channel_lake_kind ? "korva_channel_lake_file" : "korva_overland_lake_file";
    std::string line;
    // The header word may be written shortened: any beginning of the card word is
    // accepted.
    if (!header_card(file, expected)) {
        std::fprintf(stderr, "The overland lake input data file%s doesn't start with\n",
                     named(file_name).c_str());
        std::fprintf(stderr, kind == channel_lake_kind ? " KORVA_CHANNEL_LAKE_FILE card.\n"
                                                       : " KORVA_OVERLAND_LAKE_FILE card.\n");
        std::fprintf(stderr, "The file format is invalid.  Program terminated.\n");
        raise_printed_error();
        return;
    }

    int count = 0;
    while (read_line(line, file)) {
        if (lake_card_lookup(line) != 0) continue;
        ++count;
        int lake = 0;
        double elevation = 0.0, volume = 0.0;
        if (!take_int(line, lake) || !take_double(line, elevation) ||
            !take_double(line, volume)) {
            std::fprintf(stderr,
                         "LAKE card %d of the %s lake input data file%s does not hold a lake "
                         "number, an elevation and a volume.\n",
                         count, kind_word(kind), named(file_name).c_str());
            fail();
            return;
        }
        if (!within_bounds(elevation, bounds::elevation)) {
            std::fprintf(stderr,
                         "LAKE card %d of the %s lake input data file%s: the elevation %g lies "
                         "outside %s.\n",
                         count, kind_word(kind), named(file_name).c_str(), elevation,
                         bounds::elevation.text);
            fail();
            return;
        }
        // The records hold the lakes 1..expected count only.
        if (lake < 1 || lake > expected_count ||
            static_cast<std::size_t>(lake) >= records.size()) {
            std::fprintf(stderr,
                         "LAKE card %d of the %s lake input data file%s names lake %d; the lakes "
                         "are numbered 1 to %d.\n",
                         count, kind_word(kind), named(file_name).c_str(), lake, expected_count);
            fail();
            return;
        }
        records[static_cast<std::size_t>(lake)].initial_elevation = elevation;
        records[static_cast<std::size_t>(lake)].elevation = elevation;
        records[static_cast<std::size_t>(lake)].volume = volume;
        std::printf("%d   Elev: %.2lf   Volume: %.2lf\n", count, elevation, volume);
    }

    if (count == 0) {
        std::fprintf(stderr, "Premature end-of-file in the %s lake input data file%s.\n",
                     kind_word(kind), named(file_name).c_str());
        std::fprintf(stderr, "No LAKE cards encountered before end of file.\n");
        fail();
        return;
    }
    if (count != expected_count) {
        std::fprintf(stderr, "Incorrect number of LAKE cards in the %s lake input data file%s.\n",
                     kind_word(kind), named(file_name).c_str());
        std::fprintf(stderr, "Expected %d LAKE cards, read %d\n", expected_count, count);
        fail();
    }
}

int lowspot_card_lookup(std::string &line) {
    std::string word;
    if (!next_token(word, line)) return 1;
    return lower_case(word) == "spot" ? 0 : 1;
}

void read_lowspot_file(std::FILE *file, const std::string &file_name,
                       std::vector<lowspot_record> &spots, int &count) {
    count = 0;
    spots.clear();
    if (!header_card(file, "lowspot")) {
        std::fprintf(stderr, "The lowspot input file: %s does not start with the LOWSPOT card.\n",
                     file_name.c_str());
        std::fprintf(stderr, "The file format is invalid.  Program terminated.\n");
        raise_printed_error();
        return;
    }
    std::string line;
    int found = 0;
    while (read_line(line, file))
        if (lowspot_card_lookup(line) == 0) ++found;
    if (found == 0) {
        std::fprintf(stderr, "Premature end-of-file in the lowspot input file.\n");
        std::fprintf(stderr, "No SPOT cards encountered before end of file.\n");
        fail();
        return;
    }

    // Second pass: the records in file order.
    spots.assign(static_cast<std::size_t>(found) + 1, lowspot_record{});
    std::rewind(file);
    read_line(line, file);
    int i = 0;
    while (i < found && read_line(line, file)) {
        if (lowspot_card_lookup(line) != 0) continue;
        ++i;
        lowspot_record &spot = spots[static_cast<std::size_t>(i)];
        if (!take_int(line, spot.row) || !take_int(line, spot.col) ||
            !take_int(line, spot.direction) || !take_double(line, spot.fraction) ||
            !take_double(line, spot.elevation)) {
            std::fprintf(stderr,
                         "SPOT card %d of the lowspot input file %s does not hold a row, a "
                         "column, a direction, a fraction and an elevation.\n",
                         i, file_name.c_str());
            fail();
            spots.clear();
            return;
        }
    }
    count = i;
}
