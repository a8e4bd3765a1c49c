// Reader of the pipe network: the network file (super-junctions, superlinks with
// their nodes and pipes) in a counting pass and a reading pass, then the
// grid-pipe file (which cells exchange water with which pipe nodes). Called once
// per run by the tile-drain reader of the inputs, which opens and closes both.
#include "model/pipes/superlink_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/channel/channel_services.h"
#include "model/input/watershed_mask.h"
#include "model/core/errors.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"

namespace {

constexpr int read_ok = 0;
constexpr int too_large = 9;      // the network cannot be dimensioned
constexpr int bad_section = -1;   // a pipe of an unknown section type
constexpr int format_error = -9;  // any other refused input
constexpr int largest_dimension = 2000;
// Ground and invert elevations (m) lie within this distance of the datum, and a
// pipe's diameter, width and length (m) within these sizes: larger numbers are no
// network on the land surface, and the head iterations would walk them for minutes.
constexpr double largest_elevation = 10000.0;
constexpr double largest_pipe_size = 100.0;
constexpr double largest_pipe_length = 100000.0;

// ---------------------------------------------------------------------------
// Numbers and words.

// A whole word as a decimal int (a leading plus sign allowed).
bool whole_int(std::string_view word, int &value) {
    if (word.size() > 1 && word[0] == '+' && word[1] != '-') word.remove_prefix(1);
    const char *end = word.data() + word.size();
    const auto [at, error] = std::from_chars(word.data(), end, value);
    return !word.empty() && error == std::errc() && at == end;
}

// A whole word as a finite double (a leading plus sign allowed).
bool whole_double(std::string_view word, double &value) {
    if (word.size() > 1 && word[0] == '+' && word[1] != '-') word.remove_prefix(1);
    const char *end = word.data() + word.size();
    double v = 0.0;
    const auto [at, error] = std::from_chars(word.data(), end, v);
    if (word.empty() || error != std::errc() || at != end || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The white-space separated words of a network-file line (views into it).
void split_words(const std::string &line, std::vector<std::string_view> &words) {
    words.clear();
    const std::string_view text(line);
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_space(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && !is_space(text[i])) ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
}

enum class network_card { other, connect, sjunc, slink, node, pipe };

// Cards of the network file, matched whole and with regard to case.
network_card card_of(std::string_view word) {
    if (word == "CONNECT") return network_card::connect;
    if (word == "SJUNC") return network_card::sjunc;
    if (word == "SLINK") return network_card::slink;
    if (word == "NODE") return network_card::node;
    if (word == "PIPE") return network_card::pipe;
    return network_card::other;
}

// The numbers after a card word in the order that `kinds` gives ('i' an int, 'd'
// a double): the ints go to i[], the doubles to d[], each in turn.
struct card_numbers {
    int i[4] = {};
    double d[6] = {};
};

bool read_numbers(const std::vector<std::string_view> &words, const char *kinds,
                  card_numbers &out) {
    int ni = 0, nd = 0;
    std::size_t w = 1;
    for (const char *k = kinds; *k != '\0'; ++k, ++w) {
        if (w >= words.size()) return false;
        const bool ok =
            *k == 'i' ? whole_int(words[w], out.i[ni++]) : whole_double(words[w], out.d[nd++]);
        if (!ok) return false;
    }
    return true;
}

// "Error in the <kind> <name>, line <n>: <text>\n"; the result format_error.
[[gnu::format(printf, 4, 5)]] int refuse(const char *kind, const std::string &name, int line,
                                         const char *format, ...) {
    if (line > 0)
        std::printf("Error in the %s %s, line %d: ", kind, name.c_str(), line);
    else
        std::printf("Error in the %s %s: ", kind, name.c_str());
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    return format_error;
}

// Allocations of the reader; a failure prints the array's name.
bool make(array_1d<int> &a, long long n, const char *name) {
    if (alloc_1d_int(a, n) == 0) return true;
    print_allocation_failure(name);
    return false;
}
bool make(array_1d<double> &a, long long n, const char *name) {
    if (alloc_1d_double(a, n) == 0) return true;
    print_allocation_failure(name);
    return false;
}
bool make(array_2d<int> &a, long long r, long long c, const char *name) {
    if (alloc_2d_int(a, r, c) == 0) return true;
    print_allocation_failure(name);
    return false;
}
bool make(array_2d<double> &a, long long r, long long c, const char *name) {
    return alloc_2d_double(a, r, c, name) == 0;
}

// ---------------------------------------------------------------------------
// Network file.

// What the reading pass has met: which items have their card, by number.
struct network_pass {
    superlink_network &p;
    const std::string &name;
    int line = 0;
    std::vector<char> junction_seen, connect_seen, slink_seen;
    std::vector<std::vector<char>> node_seen, pipe_seen;  // per superlink, 1..N+1 and 1..N

    network_pass(superlink_network &network, const std::string &file_name)
        : p(network), name(file_name) {
        const auto junctions = static_cast<std::size_t>(p.num_junctions) + 1;
        const auto links = static_cast<std::size_t>(p.num_superlinks) + 1;
        junction_seen.assign(junctions, 0);
        connect_seen.assign(links, 0);
        slink_seen.assign(links, 0);
        node_seen.resize(links);
        pipe_seen.resize(links);
    }
    int refuse_here(const char *text) {
        return refuse("pipe network file", name, line, "%s", text);
    }
};

// Counting pass: SJUNC and CONNECT lines, and the largest pipe count of an SLINK line.
void count_network(std::FILE *file, superlink_network &p) {
    std::rewind(file);
    std::string line;
    std::vector<std::string_view> words;
    while (read_raw_line(line, file)) {
        split_words(line, words);
        if (words.empty()) continue;
        switch (card_of(words[0])) {
        case network_card::connect:
            ++p.num_superlinks;
            break;
        case network_card::sjunc:
            ++p.num_junctions;
            break;
        case network_card::slink: {
            int pipes = 0;
            if (words.size() >= 3 && whole_int(words[2], pipes))
                p.max_slink_pipes = std::max(p.max_slink_pipes, pipes);
            break;
        }
        default:
            break;
        }
    }
}

// Allocates every array of a list with the same extents; false after a failure.
template <class A, class... Extents>
bool make_each(std::initializer_list<std::pair<A *, const char *>> arrays, Extents... extents) {
    for (auto [a, name] : arrays)
        if (!make(*a, extents..., name)) return false;
    return true;
}

bool allocate_network(superlink_network &p) {
    const long long m = p.superlink_max_dim;
    const long long rows = p.max_slink_pipes + 2, cols = p.num_superlinks + 1;
    return make_each<array_1d<int>>({{&p.junction_kind, "inlet_type"},
                                     {&p.junction_row, "junc_j"},
                                     {&p.junction_col, "junc_i"},
                                     {&p.junc_fixed_head, "junc_fixed_head"},
                                     {&p.link_node_count, "slink_npipes"},
                                     {&p.slink_us_junc, "slink_us_junc"},
                                     {&p.slink_ds_junc, "slink_ds_junc"},
                                     {&p.junction_channel_node, "junction_channel_node"},
                                     {&p.junction_channel_link, "junction_channel_link"}},
                                    m) &&
           make_each<array_1d<double>>({{&p.junc_ground_elev, "junc_ground_elev"},
                                        {&p.junc_Zinv, "junc_Zinv"},
                                        {&p.junc_area, "junc_area"},
                                        {&p.junc_head, "junc_head"},
                                        {&p.junc_inflow, "junc_inflow"},
                                        {&p.junc_outflow, "junc_outflow"},
                                        {&p.slink_us_Zinv, "slink_us_Zinv"},
                                        {&p.slink_ds_Zinv, "slink_ds_Zinv"}},
                                       m) &&
           make_each<array_2d<int>>({{&p.inlet_type, "inlet_type"},
                                     {&p.node_row, "superlink_node_j"},
                                     {&p.node_col, "superlink_node_i"},
                                     {&p.sec_type, "sec_type"}},
                                    rows, cols) &&
           make_each<array_2d<double>>(
               {{&p.node_ground_elev, "node_ground_elev"},
                {&p.slink_node_Zinv, "slink_node_Zinv"},
                {&p.As, "As"},
                {&p.node_xcoord, "node_xcoord"},
                {&p.node_ycoord, "node_ycoord"},
                {&p.diameter, "diameter"},
                {&p.width, "width"},
                {&p.S0, "S0"},
                {&p.M_n, "M_n"},
                {&p.dx, "dx"},
                {&p.superlink_pipe_conductivity, "superlink_pipe_conductivity"},
                {&p.slink_node_depth, "slink_node_depth"},
                {&p.Q_node, "Q_node"}},
               rows, cols) &&
           make(p.junc_coord, 2, m, "junc_coord");
}

int read_sjunc(network_pass &r, const std::vector<std::string_view> &words) {
    superlink_network &p = r.p;
    card_numbers v;
    if (!read_numbers(words, "idddiddii", v))
        return r.refuse_here("the numbers of the SJUNC card cannot be read.");
    const int j = v.i[0];
    if (std::abs(v.d[0]) > largest_elevation || std::abs(v.d[1]) > largest_elevation)
        return refuse("pipe network file", r.name, r.line,
                      "super-junction %d has an elevation beyond %g m of the datum.", j,
                      largest_elevation);
    if (j < 1 || j > p.num_junctions)
        return refuse("pipe network file", r.name, r.line,
                      "super-junction %d lies outside 1 to %d.", j, p.num_junctions);
    if (r.junction_seen[j])
        return refuse("pipe network file", r.name, r.line, "super-junction %d is given twice.", j);
    r.junction_seen[j] = 1;
    p.junc_ground_elev[j] = v.d[0];
    p.junc_Zinv[j] = v.d[1];
    p.junc_area[j] = v.d[2];
    p.junction_kind[j] = v.i[1];
    p.junc_coord[1][j] = v.d[3];
    p.junc_coord[2][j] = v.d[4];
    p.junction_col[j] = v.i[2];
    p.junction_row[j] = v.i[3];
    p.junc_fixed_head[j] = v.i[1] > 10 ? 1 : 0;
    return read_ok;
}

int read_connect(network_pass &r, const std::vector<std::string_view> &words) {
    superlink_network &p = r.p;
    card_numbers v;
    if (!read_numbers(words, "iii", v))
        return r.refuse_here("the numbers of the CONNECT card cannot be read.");
    const int l = v.i[0];
    if (l < 1 || l > p.num_superlinks)
        return refuse("pipe network file", r.name, r.line, "superlink %d lies outside 1 to %d.", l,
                      p.num_superlinks);
    if (r.connect_seen[l])
        return refuse("pipe network file", r.name, r.line, "superlink %d is connected twice.", l);
    for (int k = 1; k <= 2; ++k)
        if (v.i[k] < 1 || v.i[k] > p.num_junctions)
            return refuse("pipe network file", r.name, r.line,
                          "super-junction %d at an end of superlink %d lies outside 1 to %d.",
                          v.i[k], l, p.num_junctions);
    r.connect_seen[l] = 1;
    p.slink_us_junc[l] = v.i[1];
    p.slink_ds_junc[l] = v.i[2];
    return read_ok;
}

// Opens the block of superlink `block` with its pipe count; 0 or the refusal.
int read_slink(network_pass &r, const std::vector<std::string_view> &words, int &block) {
    superlink_network &p = r.p;
    card_numbers v;
    if (!read_numbers(words, "ii", v))
        return r.refuse_here("the numbers of the SLINK card cannot be read.");
    const int l = v.i[0], pipes = v.i[1];
    if (l < 1 || l > p.num_superlinks)
        return refuse("pipe network file", r.name, r.line, "superlink %d lies outside 1 to %d.", l,
                      p.num_superlinks);
    if (r.slink_seen[l])
        return refuse("pipe network file", r.name, r.line, "superlink %d has a second SLINK card.",
                      l);
    if (pipes < 1)
        return refuse("pipe network file", r.name, r.line,
                      "superlink %d has %d pipes; it needs at least 1.", l, pipes);
    r.slink_seen[l] = 1;
    p.link_node_count[l] = pipes;
    r.node_seen[static_cast<std::size_t>(l)].assign(static_cast<std::size_t>(pipes) + 2, 0);
    r.pipe_seen[static_cast<std::size_t>(l)].assign(static_cast<std::size_t>(pipes) + 1, 0);
    block = l;
    return read_ok;
}

int read_node(network_pass &r, const std::vector<std::string_view> &words, int l) {
    superlink_network &p = r.p;
    card_numbers v;
    if (!read_numbers(words, "idddiddii", v))
        return r.refuse_here("the numbers of the NODE card cannot be read.");
    const int k = v.i[0], last = p.link_node_count[l] + 1;
    if (std::abs(v.d[0]) > largest_elevation || std::abs(v.d[1]) > largest_elevation)
        return refuse("pipe network file", r.name, r.line,
                      "node %d of superlink %d has an elevation beyond %g m of the datum.", k, l,
                      largest_elevation);
    if (k < 1 || k > last)
        return refuse("pipe network file", r.name, r.line,
                      "node %d of superlink %d lies outside 1 to %d.", k, l, last);
    r.node_seen[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)] = 1;
    p.node_ground_elev[k][l] = v.d[0];
    p.slink_node_Zinv[k][l] = v.d[1];
    p.As[k][l] = v.d[2];
    p.inlet_type[k][l] = v.i[1];
    p.node_xcoord[k][l] = v.d[3];
    p.node_ycoord[k][l] = v.d[4];
    p.node_col[k][l] = v.i[2];
    p.node_row[k][l] = v.i[3];
    return read_ok;
}

// Reads a PIPE line of superlink l; `last` is set when it is the superlink's last pipe.
int read_pipe(network_pass &r, const std::vector<std::string_view> &words, int l, bool &last) {
    superlink_network &p = r.p;
    card_numbers v;
    if (!read_numbers(words, "iidddddd", v))
        return r.refuse_here("the numbers of the PIPE card cannot be read.");
    const int k = v.i[0], type = v.i[1], pipes = p.link_node_count[l];
    if (type < 1 || type > 3) {
        std::printf("Error: pipe cross-section type not valid.\n");
        return bad_section;
    }
    if (k < 1 || k > pipes)
        return refuse("pipe network file", r.name, r.line,
                      "pipe %d of superlink %d lies outside 1 to %d.", k, l, pipes);
    const double D = v.d[0], w = v.d[1], n = v.d[3], length = v.d[4];
    if (!(D > 0.0) || !(length > 0.0) || !(n > 0.0) || (type != 1 && !(w > 0.0)))
        return refuse("pipe network file", r.name, r.line,
                      "pipe %d of superlink %d needs a diameter, length and Manning n above 0"
                      "%s.",
                      k, l, type != 1 ? " and a width above 0" : "");
    if (D > largest_pipe_size || w > largest_pipe_size || length > largest_pipe_length)
        return refuse("pipe network file", r.name, r.line,
                      "pipe %d of superlink %d is larger than %g m across or %g m long.", k, l,
                      largest_pipe_size, largest_pipe_length);
    r.pipe_seen[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)] = 1;
    p.sec_type[k][l] = type;
    p.diameter[k][l] = D;
    p.width[k][l] = w;
    p.S0[k][l] = v.d[2];
    p.M_n[k][l] = n;
    p.dx[k][l] = length;
    p.superlink_pipe_conductivity[k][l] = v.d[5];
    if (v.d[5] > 0.0) p.tile_drain = 1;
    last = k == pipes;
    return read_ok;
}

// Reading pass. After an SLINK line the NODE and PIPE lines belong to its
// superlink until its last pipe; another line ends the block early (a card line
// is then read as a card, any other line is passed over).
int read_network(std::FILE *file, network_pass &r) {
    std::rewind(file);
    std::string line;
    std::vector<std::string_view> words;
    int block = 0;
    while (read_raw_line(line, file)) {
        ++r.line;
        split_words(line, words);
        if (words.empty()) continue;
        const network_card card = card_of(words[0]);
        int result = read_ok;
        if (block != 0) {
            if (card == network_card::node) {
                if ((result = read_node(r, words, block)) != read_ok) return result;
                continue;
            }
            if (card == network_card::pipe) {
                bool last = false;
                if ((result = read_pipe(r, words, block, last)) != read_ok) return result;
                if (last) block = 0;
                continue;
            }
            block = 0;
        }
        switch (card) {
        case network_card::sjunc:
            result = read_sjunc(r, words);
            break;
        case network_card::connect:
            result = read_connect(r, words);
            break;
        case network_card::slink:
            result = read_slink(r, words, block);
            break;
        default:
            break;  // NODE and PIPE outside a block, and other lines
        }
        if (result != read_ok) return result;
    }
    return read_ok;
}

// Every item that the counts name has its card.
int check_network_complete(network_pass &r) {
    const superlink_network &p = r.p;
    for (int j = 1; j <= p.num_junctions; ++j)
        if (!r.junction_seen[static_cast<std::size_t>(j)])
            return refuse("pipe network file", r.name, 0, "super-junction %d has no SJUNC card.",
                          j);
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const auto sl = static_cast<std::size_t>(l);
        if (!r.connect_seen[sl])
            return refuse("pipe network file", r.name, 0, "superlink %d has no CONNECT card.", l);
        if (!r.slink_seen[sl])
            return refuse("pipe network file", r.name, 0, "superlink %d has no SLINK card.", l);
        const int pipes = p.link_node_count[l];
        for (int k = 1; k <= pipes + 1; ++k)
            if (!r.node_seen[sl][static_cast<std::size_t>(k)])
                return refuse("pipe network file", r.name, 0,
                              "node %d of superlink %d has no NODE card.", k, l);
        for (int k = 1; k <= pipes; ++k)
            if (!r.pipe_seen[sl][static_cast<std::size_t>(k)])
                return refuse("pipe network file", r.name, 0,
                              "pipe %d of superlink %d has no PIPE card.", k, l);
    }
    return read_ok;
}

// A junction or node whose ground lies less than its widest pipe's diameter
// above its bottom cannot hold that pipe below ground: the depths are doubtful.
// One warning for the network names how many there are and the first.
void warn_shallow_nodes(const network_pass &r) {
    const superlink_network &p = r.p;
    int count = 0;
    std::string first;
    auto check = [&](double ground, double bottom, double widest, const std::string &where) {
        if (!(ground - bottom < widest)) return;
        if (++count > 1) return;
        char text[160];
        std::snprintf(text, sizeof text, "%s: %.2f m deep for a pipe of %.2f m", where.c_str(),
                      ground - bottom, widest);
        first = text;
    };
    for (int j = 1; j <= p.num_junctions; ++j) {
        double widest = 0.0;
        for (int l = 1; l <= p.num_superlinks; ++l) {
            const int pipes = p.link_node_count[l];
            if (pipes < 1) continue;
            if (p.slink_us_junc[l] == j) widest = std::max(widest, p.diameter[1][l]);
            if (p.slink_ds_junc[l] == j) widest = std::max(widest, p.diameter[pipes][l]);
        }
        check(p.junc_ground_elev[j], p.junc_Zinv[j], widest, "super-junction " + std::to_string(j));
    }
    for (int l = 1; l <= p.num_superlinks; ++l) {
        const int pipes = p.link_node_count[l];
        for (int k = 1; k <= pipes + 1; ++k) {
            const double widest = std::max(k > 1 ? p.diameter[k - 1][l] : 0.0,
                                           k <= pipes ? p.diameter[k][l] : 0.0);
            check(p.node_ground_elev[k][l], p.slink_node_Zinv[k][l], widest,
                  "superlink " + std::to_string(l) + ", node " + std::to_string(k));
        }
    }
    if (count == 0) return;
    std::printf("Warning: ground elevation less than the pipe diameter above node bottom at %d "
                "junction(s) or node(s) of the pipe network file %s; first %s.\n",
                count, r.name.c_str(), first.c_str());
    count_warning();
}

// ---------------------------------------------------------------------------
// Grid-pipe file.

// The next token of a grid-pipe line as a whole int or double.
bool take_int(std::string &line, int &value) {
    std::string token;
    return next_token(token, line) && whole_int(token, value);
}
bool take_double(std::string &line, double &value) {
    std::string token;
    return next_token(token, line) && whole_double(token, value);
}

void grid_pipe_format_stop() {
    std::printf("File format error, program terminating.\n");
}

int read_grid_pipe(std::FILE *file, model_state &s) {
    superlink_network &p = s.superlinks;
    const std::string &name = s.grid_pipe_name;
    const char *kind = "grid-pipe file";
    p.gpi_cell_count = 0;
    p.gpi_max_pipes = 0;
    std::rewind(file);
    std::string line, first;
    if (!read_line(line, file) || !next_token(first, line) ||
        first.compare(0, 12, "GRIDPIPEFILE") != 0) {
        std::printf("The gridpipe file format is invalid\n");
        return refuse(kind, name, 1, "it does not begin with GRIDPIPEFILE.");
    }
    if (!read_line(line, file) || gridpipe_card_id(line) != 0) {
        std::printf("The second card in the grid-pipe file must be PIPECELLS\n");
        grid_pipe_format_stop();
        return format_error;
    }
    int cells = -1;
    if (!take_int(line, cells)) cells = -1;
    if (cells <= 0) {
        std::printf("The number of PIPECELLS in the gridpipe (.gpi) file\n");
        std::printf("must be greater than 0.  File format error, program terminating\n");
        return format_error;
    }
    // Every cell needs its CELLIJ card and every connection its SPIPE card, so the
    // counts of those cards bound what the file's numbers may size.
    const long at_cells = std::ftell(file);
    int cellij_cards = 0, spipe_cards = 0;
    while (read_line(line, file)) {
        const int card = gridpipe_card_id(line);
        cellij_cards += card == 1;
        spipe_cards += card == 3;
    }
    if (at_cells < 0 || std::fseek(file, at_cells, SEEK_SET) != 0)
        return refuse(kind, name, 0, "the file cannot be read a second time.");
    if (cells > cellij_cards)
        return refuse(kind, name, 2, "PIPECELLS %d, but the file holds %d CELLIJ cards.", cells,
                      cellij_cards);
    p.gpi_cell_count = cells;
    if (!make(p.gpi_npipes, cells, "gpi_npipes")) return too_large;

    // Counting pass: the r-th NUMPIPES line gives the connection count of cell r.
    int counted = 0, number = 2;
    while (read_line(line, file)) {
        ++number;
        if (gridpipe_card_id(line) != 2) continue;
        int m = 0;
        if (!take_int(line, m))
            return refuse(kind, name, number, "the number of the NUMPIPES card cannot be read.");
        if (++counted > cells)
            return refuse(kind, name, number, "more NUMPIPES cards than its %d PIPECELLS.", cells);
        if (m < 0)
            return refuse(kind, name, number, "NUMPIPES %d of grid-pipe cell %d is negative.", m,
                          counted);
        if (m > spipe_cards)
            return refuse(kind, name, number,
                          "NUMPIPES %d of grid-pipe cell %d, but the file holds %d SPIPE cards.",
                          m, counted, spipe_cards);
        p.gpi_npipes[counted] = m;
        p.gpi_max_pipes = std::max(p.gpi_max_pipes, m);
    }
    const long long cols = std::max(p.gpi_max_pipes, 1);
    if (!make(p.gpi_link, cells, cols, "gpi_link") || !make(p.gpi_node, cells, cols, "gpi_node") ||
        !make(p.gpi_gnum, cells, cols, "gpi_gnum") || !make(p.gpi_pct, cells, cols, "gpi_pct") ||
        !make(p.gpi_rate, cells, cols, "gpi_rate"))
        return too_large;

    // Reading pass: the cells and their connections.
    std::rewind(file);
    read_line(line, file);
    number = 1;
    int c = 0, connection = 0, gnum = 0;
    while (read_line(line, file)) {
        ++number;
        const int card = gridpipe_card_id(line);
        if (card == 1) {
            int i = 0, j = 0;
            if (!take_int(line, i) || !take_int(line, j))
                return refuse(kind, name, number, "the numbers of the CELLIJ card cannot be read.");
            if (++c > cells)
                return refuse(kind, name, number, "more CELLIJ cards than its %d PIPECELLS.",
                              cells);
            // The file's cell (i, j) lies at row j - 1, column i - 1 of the grid.
            gnum = cell_at(s.cell_number_grid, s.grid_rows, s.grid_cols, j - 1, i - 1);
            if (gnum == 0)
                return refuse(kind, name, number, "CELLIJ %d %d is not a cell of the watershed.", i,
                              j);
            connection = 1;
        } else if (card == 3) {
            int l = 0, k = 0;
            double share = 0.0;
            if (!take_int(line, l) || !take_int(line, k) || !take_double(line, share))
                return refuse(kind, name, number, "the numbers of the SPIPE card cannot be read.");
            if (c == 0)
                return refuse(kind, name, number, "an SPIPE card comes before any CELLIJ card.");
            if (connection > p.gpi_npipes[c])
                return refuse(kind, name, number,
                              "grid-pipe cell %d has more SPIPE cards than its NUMPIPES %d.", c,
                              p.gpi_npipes[c]);
            if (l < 1 || l > p.num_superlinks)
                return refuse(kind, name, number, "superlink %d lies outside 1 to %d.", l,
                              p.num_superlinks);
            if (k < 1 || k > p.link_node_count[l] + 1)
                return refuse(kind, name, number, "node %d of superlink %d lies outside 1 to %d.",
                              k, l, p.link_node_count[l] + 1);
            p.gpi_link[c][connection] = l;
            p.gpi_node[c][connection] = k;
            p.gpi_pct[c][connection] = share;
            p.gpi_gnum[c][connection] = gnum;
            ++connection;
        }
    }
    std::printf("Finished reading gridpipe file.\n");
    return read_ok;
}

}  // namespace

int gridpipe_card_id(std::string &line) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
    std::size_t start = 0;
    while (start < line.size() && blank(line[start])) ++start;
    std::size_t end = start;
    while (end < line.size() && !blank(line[end])) ++end;
    std::string word = line.substr(start, end - start);
    for (char &ch : word) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    line.erase(0, end);
    if (word == "pipecells") return 0;
    if (word == "cellij") return 1;
    if (word == "numpipes") return 2;
    if (word == "spipe") return 3;
    return 4;
}

int read_superlink_file(std::FILE *network_file, std::FILE *grid_pipe_file, model_state &s) {
    superlink_network &p = s.superlinks;
    p.num_junctions = p.num_superlinks = p.max_slink_pipes = p.superlink_max_dim = 0;
    p.tile_drain = 0;
    count_network(network_file, p);
    p.superlink_max_dim = std::max({p.num_superlinks, p.num_junctions, p.max_slink_pipes});
    if (p.superlink_max_dim > largest_dimension) {
        std::printf("MAX dimension of superlink arrays too big.  Problem with read routine.\n");
        return too_large;
    }
    p.superlink_max_dim += 2;
    if (!allocate_network(p)) return too_large;

    network_pass r(p, s.storm_sewer_name);
    int result = read_network(network_file, r);
    if (result == read_ok) result = check_network_complete(r);
    if (result != read_ok) return result;
    warn_shallow_nodes(r);
    return read_grid_pipe(grid_pipe_file, s);
}
