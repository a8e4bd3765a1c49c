// Reader of the Sacramento parameter file: the header, one card per parameter in
// any order, the clamps of out-of-range contents and rates (with warnings) and the
// start contents turned from fractions of the capacities into depths. Called by
// open_sacramento_input; with TOPO_INDEX it then computes the topographic index.
#include "model/input/sacramento_file.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <string>
#include <utility>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/input/surface_inputs.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"

namespace {

// Card words by card number 1..19 (0 is the header, 20 any other word).
constexpr std::array<const char *, 20> card_words = {
    "korva_sacramento", "uztwm", "uzfwm", "uzk",   "zperc", "rexp",       "lztwm",
    "lzfsm",            "lzfpm", "lzsk",  "lzpk",  "pfree", "uztwc",      "uzfwc",
    "lztwc",            "lzfsc", "lzfpc", "num_basins",     "basin",      "saved"};

// The 17 parameter cards: every card but NUM_BASINS and BASIN.
constexpr int parameter_cards = 17;

std::string lower_case(std::string word) {
    for (char &c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
}

std::string upper_case(std::string word) {
    for (char &c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
}

bool is_parameter_card(int card) { return card != sac_card_num_basins && card != sac_card_basin; }

// The record field of a parameter card.
double &parameter_field(sacramento_basin &b, int card) {
    switch (card) {
    case 1: return b.uztwm;
    case 2: return b.uzfwm;
    case 3: return b.uzk;
    case 4: return b.zperc;
    case 5: return b.rexp;
    case 6: return b.lztwm;
    case 7: return b.lzfsm;
    case 8: return b.lzfpm;
    case 9: return b.lzsk;
    case 10: return b.lzpk;
    case 11: return b.pfree;
    case 12: return b.uztwc;
    case 13: return b.uzfwc;
    case 14: return b.lztwc;
    case 15: return b.lzfsc;
    case 16: return b.lzfpc;
    default: return b.saved;
    }
}

constexpr double sacramento_capacity_limit = 10000.0;  // mm

// " name" of the file for the messages, nothing when the caller gave none.
std::string named(const std::string &file_name) {
    return file_name.empty() ? std::string() : " " + file_name;
}

void stop(const char *last_line) {
    std::fprintf(stderr, "%s", last_line);
    raise_printed_error();
}

// A value outside 0.0 to 1.0 becomes `high` above and `low` below, with a warning:
// contents still held as fractions (0.99, 0.01) and depletion rates (0.5, 0.05).
void clamp_to_unit(double &value, double high, double low, const char *name) {
    if (value >= 0.0 && value <= 1.0) return;
    value = value > 1.0 ? high : low;
    std::fprintf(stderr, "WARNING:%s changed!\n", name);
}

// The accounting step divides by every capacity: each must be above 0.0, and none
// holds more than a soil column of 10 m of water.
bool capacities_bounded(const sacramento_basin &b, const std::string &file_name) {
    const std::array<std::pair<const char *, double>, 5> capacities = {
        {{"UZTWM", b.uztwm}, {"UZFWM", b.uzfwm}, {"LZTWM", b.lztwm}, {"LZFSM", b.lzfsm},
         {"LZFPM", b.lzfpm}}};
    for (const auto &[name, value] : capacities) {
        if (value > 0.0 && value <= sacramento_capacity_limit) continue;
        std::fprintf(stderr,
                     "Error in the Sacramento parameter file%s: the capacity %s is %g; every "
                     "capacity must be above 0.0 and at most %g mm.\n",
                     named(file_name).c_str(), name, value, sacramento_capacity_limit);
        stop("Program terminated in read_sacramento_input.\n");
        return false;
    }
    return true;
}

}  // namespace

int sacramento_card_lookup(std::string &line) {
    std::string word;
    if (!next_token(word, line)) return sac_card_other;
    word = lower_case(word);
    for (std::size_t k = 0; k < card_words.size(); ++k)
        if (word == card_words[k]) return static_cast<int>(k);
    return sac_card_other;
}

void read_sacramento_basin(std::FILE *file, sacramento_basin &b, int &num_basins,
                           const std::string &file_name) {
    num_basins = 1;
    std::string line, word;
    const std::string header = "korva_sacramento";
    const bool header_found = file && read_line(line, file) && next_token(word, line) &&
                              lower_case(word).compare(0, header.size(), header) == 0;
    if (!header_found) {
        std::fprintf(stderr, "The specified Sacramento model input parameter file%s does not\n",
                     named(file_name).c_str());
        std::fprintf(stderr, "have the proper header: KORVA_SACRAMENTO \n");
        stop("Program terminated in read_sacramento\n");
        return;
    }

    std::array<int, 20> seen{};
    int parameters = 0;
    while (parameters < parameter_cards) {
        if (!read_line(line, file)) {
            std::fprintf(stderr, "Premature end-of-file in the Sacramento parameter input file%s.\n",
                         named(file_name).c_str());
            std::fprintf(stderr,
                         "The channel input file does not contain all the required parameters.\n");
            std::fprintf(stderr, "The file should contain 21 parameters.  Only %d parameters read.\n",
                         parameters);
            stop("Program terminated in read_sacramento_input.\n");
            return;
        }
        const int card = sacramento_card_lookup(line);
        if (card == sac_card_header || card == sac_card_other) continue;
        if (seen[static_cast<std::size_t>(card)]++) {
            std::fprintf(stderr, "Duplicate cards read in Sacramento parameter file%s.\n",
                         named(file_name).c_str());
            std::fprintf(stderr, "There should be only 21 different cards in the file\n");
            std::fprintf(stderr, "with no duplicates.\n");
            stop("Program terminated in read_sacramento\n");
            return;
        }
        // A value that is missing or not a number would silently become 0.
        std::string token;
        next_token(token, line);
        double value = 0.0;
        int count = 0;
        const bool counted = card == sac_card_num_basins || card == sac_card_basin;
        if (counted ? !whole_token_int(token, count) : !whole_token_double(token, value)) {
            std::fprintf(stderr,
                         "Error in the Sacramento parameter file%s: the %s card needs a %s "
                         "value, not \"%s\".\n",
                         named(file_name).c_str(), upper_case(card_words[static_cast<std::size_t>(card)]).c_str(),
                         counted ? "whole-number" : "numeric", token.c_str());
            stop("Program terminated in read_sacramento_input.\n");
            return;
        }
        if (card == sac_card_num_basins) num_basins = count;
        if (!is_parameter_card(card)) continue;
        parameter_field(b, card) = value;
        ++parameters;
    }
    if (!capacities_bounded(b, file_name)) return;

    clamp_to_unit(b.uztwc, 0.99, 0.01, "uztwc");
    clamp_to_unit(b.uzfwc, 0.99, 0.01, "uzfwc");
    clamp_to_unit(b.lztwc, 0.99, 0.01, "lztwc");
    clamp_to_unit(b.lzfsc, 0.99, 0.01, "lzfsc");
    clamp_to_unit(b.lzfpc, 0.99, 0.01, "lzfpc");
    b.uztwc *= b.uztwm;
    b.uzfwc *= b.uzfwm;
    b.lztwc *= b.lztwm;
    b.lzfsc *= b.lzfsm;
    b.lzfpc *= b.lzfpm;

    clamp_to_unit(b.uzk, 0.5, 0.05, "uzk");
    clamp_to_unit(b.lzsk, 0.5, 0.05, "lzsk");
    clamp_to_unit(b.lzpk, 0.5, 0.05, "lzpk");

    if (b.saved > b.lzfpc) {
        b.saved = b.lzfpc;
        std::fprintf(stderr, "WARNING:saved changed!\n");
    }
    b.pbase = b.lzpk * b.lzfpm + b.lzsk * b.lzfsm;
}

void read_sacramento_input(std::FILE *file, const std::string &file_name, model_state &s) {
    int num_basins = 1;
    read_sacramento_basin(file, s.sac_basin, num_basins, file_name);
    if (error_record.fatal) return;
    if (num_basins > 1)
        std::fprintf(stderr,
                     "WARNING: the Sacramento parameter file gives NUM_BASINS %d; one basin is "
                     "simulated and every cell belongs to basin 1.\n",
                     num_basins);
    if (!s.topo_index_on) return;
    // The cell-array step allocates the index array; without it there is nothing
    // to fill.
    if (s.topo_index.empty() || s.topo_index.last() != static_cast<std::size_t>(s.cell_count)) {
        print_allocation_failure("topo_index");
        raise_printed_error();
        return;
    }
    topodex(s.elevation, s.cell_number_grid, s.topo_index, s.grid_rows, s.grid_cols, s.cell_size);
}

void allocate_sacramento_cell_arrays(model_state &s) {
    if (s.sacramento_on && s.topo_index_on) alloc_1d_double(s.topo_index, s.cell_count);
}
