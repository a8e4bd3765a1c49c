// Reader of the channel input file in its card form: header, sizing pass and its
// checks, break-point table count, connectivity and detail passes, finishing of
// the links, break-point pass, computational nodes and lakes. The channel set-up
// calls read_chan_input once per run; the numeric form shares the finishing steps.
#include "model/input/channel_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "model/channel/channel_network.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/breakpoint_tables.h"
#include "model/input/channel_file_numeric.h"
#include "model/input/grid_stream.h"
#include "model/input/mapping_tables.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"
#include "model/core/series.h"

namespace {

struct card_word {
    const char *word;
    int code;
};

constexpr card_word card_words[] = {
    {"alpha", 1}, {"beta", 2}, {"theta", 3}, {"dx", 4}, {"links", 5}, {"maxnodes", 6},
    {"connect", 7}, {"link", 8}, {"nodes", 9}, {"trapezoid", 10}, {"subsurface_trapezoid", 11},
    {"trap_erode", 12}, {"breakpoint", 13}, {"break_erode", 14}, {"lake", 15}, {"mlake", 16},
    {"structure", 17}, {"structtype", 18}, {"mannings_n", 19}, {"max_erosion", 20},
    {"gw_bed_conductivity", 21}, {"k_river", 21}, {"gw_bed_thickness", 22}, {"m_river", 22},
    {"dispersion_coeff", 23}, {"decay_coeff", 24}, {"num_outlets", 25}, {"node", 26},
    {"elev", 27}, {"xsec", 28}, {"bottom_width", 29}, {"bankfull_depth", 30},
    {"side_slope", 31}, {"x1", 32}, {"npairs", 33}, {"streamcells", 34}, {"cellij", 35},
    {"numnodes", 36}, {"linknode", 37}, {"numstructs", 38}, {"upinvert", 39},
    {"downinvert", 40}, {"inlet_disch_coeff", 42}, {"rev_flow_disch_coeff", 44},
    {"slope", 45}, {"length", 46}, {"width", 47}, {"height", 48}, {"diameter", 50},
    {"rough_coeff", 51}, {"a_value", 52}, {"b_value", 53}, {"minwse", 54}, {"initwse", 55},
    {"maxwse", 56}, {"numpts", 57}, {"crest_length", 58}, {"crest_low_elev", 59},
    {"crest_low_loc", 60}, {"discharge_coeff_forward", 61}, {"discharge_coeff_reverse", 62},
    {"left_slope", 63}, {"right_slope", 64}, {"pointsource", 65}, {"num_interp", 66},
    {"pumpto", 67},
};

// The eight structure words, in the order of their type numbers 1..8.
constexpr const char *structure_words[8] = {"weir",         "sag_weir",     "round_culvert",
                                            "oval_culvert", "rect_culvert", "rating_curve",
                                            "scheduled_release", "rule_curve"};

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Upper-case card word for messages.
std::string card_name(int code) {
    for (const card_word &w : card_words) {
        if (w.code != code) continue;
        std::string s = w.word;
        for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }
    return "card";
}

// Type 1..8 of the first structure word that `word` begins with; 0 for none.
int structure_type_of(const std::string &word) {
    const std::string w = lower(word);
    for (int i = 0; i < 8; ++i)
        if (w.compare(0, std::char_traits<char>::length(structure_words[i]), structure_words[i]) ==
            0)
            return i + 1;
    return 0;
}

bool is_breakpoint_type(int type) {
    return type == link_breakpoint || type == link_breakpoint_erode;
}

bool is_trapezoid_type(int type) {
    return type == link_trapezoid || type == link_subsurface_trapezoid ||
           type == link_trapezoid_erode || type == link_trapezoid_erode2;
}

// Link types that the routing moves water through (not lakes or structures).
bool is_routed_card_type(int type) { return is_trapezoid_type(type) || is_breakpoint_type(type); }

void premature_end_of_header() {
    std::printf("Premature end-of-file in the channel input file.\n");
    std::printf("The channel input file does not contain all the required parameter cards.\n");
    std::printf("These include: ALPHA, BETA, THETA, DX, LINKS, and MAXNODES.\n");
    std::printf("Repair your channel input file and try again.  These cards must appear at\n");
    std::printf("The beginning of the file before and COORD or LINK cards.\n");
    std::printf("Program terminated in read_chan_input.\n");
    chan_input_stop();
}

void value_outside(int code, int value, int low, int high) {
    std::printf("Error in the channel input file: %s %d is outside the range %d to %d.\n",
                card_name(code).c_str(), value, low, high);
    chan_input_stop();
}

void card_without_link(int code) {
    std::printf("Error in the channel input file: the %s card comes before any LINK card.\n",
                card_name(code).c_str());
    chan_input_stop();
}

// Everything one reading keeps between its passes.
struct card_reader {
    model_state &s;
    channel_network &net;
    std::FILE *file;
    std::string line;
    int link = 0;  // current link
    int node = 0;  // current node
    int card = 0;  // code of the card being read
    int node_link = 0;  // the link of the current node
    int structure = 0;
    // Counters of the sizing pass.
    int trapezoid_links = 0, breakpoint_links = 0, lake_links = 0, structure_links = 0;
    int structure_elements = 0, numstructs_sum = 0, gw_links = 0, dispersion_links = 0;
    int subsurface_links = 0, erode_trap_links = 0, erodible_links = 0;
    int max_lake_search = 0, connect_cards = 0, pointsources = 0, pumps = 0;
    bool mlake = false;
    std::vector<int> xsec_count;              // per link, break-point sections counted
    std::vector<int> nodes_card;              // per link, the value of its NODES card (0: none)
    std::vector<char> has_erosion;            // per link, a MAX_EROSION card was met
    std::vector<int> first_mark, last_mark;   // per link, first and last NPAIRS node
    std::vector<int> table_base;              // per link, first table number - 1
    std::vector<int> last_node_card;          // per link, the highest NODE card met

    card_reader(model_state &state, std::FILE *f) : s(state), net(state.channels), file(f) {}

    bool fatal() const { return error_record.fatal != 0; }

    // The card code of the current line (the word is taken off the line).
    int card_code() {
        card = chan_card_code(line);
        return card;
    }
    // A value of the current card that is missing or unusable: the card is named
    // with its link and node, and the reading stops.
    void refuse_value(const std::string &token, const char *why) {
        std::string where = "the " + card_name(card) + " card";
        if (link > 0) where += " of link " + std::to_string(link);
        if (link > 0 && node > 0 && node_link == link) where += ", node " + std::to_string(node);
        if (token.empty())
            std::printf("Error in the channel input file: %s has no value.\n", where.c_str());
        else
            std::printf("Error in the channel input file: %s: \"%s\" %s.\n", where.c_str(),
                        token.c_str(), why);
        chan_input_stop();
    }

    // LINK n: the current link, checked against the link count.
    bool take_link() {
        const int v = take_int();
        if (fatal()) return false;
        if (v < 1 || v > net.link_count) {
            value_outside(chan_card::link, v, 1, net.link_count);
            return false;
        }
        link = v;
        return true;
    }
    // NODE k: the current node, checked against the current link's node count.
    bool take_node() {
        const int v = take_int();
        if (fatal()) return false;
        const int high = link > 0 ? net.node_count[link] : net.max_node_count;
        if (v < 1 || v > high) {
            value_outside(chan_card::node, v, 1, high);
            return false;
        }
        node = v;
        node_link = link;
        return true;
    }
    bool need_link(int code) {
        if (link > 0) return true;
        card_without_link(code);
        return false;
    }
    // The current node for a per-node card.
    bool need_node(int code) {
        if (!need_link(code)) return false;
        if (node < 1 || node > net.node_count[link]) {
            std::printf("Error in the channel input file: the %s card of link %d has no valid "
                        "NODE card before it (node %d).\n",
                        card_name(code).c_str(), link, node);
            chan_input_stop();
            return false;
        }
        return true;
    }
    // The next value of the card as a whole, finite number (0 after a refusal).
    double take_double() {
        std::string token;
        double v = 0.0;
        if (fatal()) return 0.0;
        if (!next_token(token, line) || !whole_token_double(token, v)) {
            refuse_value(token, "is not a finite number");
            return 0.0;
        }
        return v;
    }
    // A per-link value card: the card's number stored for the current link.
    bool take_link_value(int code, array_1d<double> &field) {
        if (!need_link(code)) return false;
        field[link] = take_double();
        return !fatal();
    }
    // The node a point source or pump card feeds: node 1 of a lake link, else
    // the current node.
    bool take_source_node(int code, int &at) {
        if (!need_link(code)) return false;
        const bool lake_link = net.link_type[link] == link_lake;
        if (!lake_link && !need_node(code)) return false;
        at = lake_link ? 1 : node;
        return true;
    }
    // The next value of the card as a whole integer (0 after a refusal).
    int take_int() {
        std::string token;
        int v = 0;
        if (fatal()) return 0;
        if (!next_token(token, line) || !whole_token_int(token, v)) {
            refuse_value(token, "is not an integer");
            return 0;
        }
        return v;
    }
    void rewind_file() {
        std::rewind(file);
        link = node = node_link = structure = 0;
    }

    bool header_pass();
    bool counts_fit_the_file();
    bool sizing_pass();
    bool sizing_checks();
    bool table_pass();
    bool connectivity_pass();
    bool detail_pass();
    bool detail_structure_card(int code);
    bool finish_links();
    bool breakpoint_pass();
    bool lake_pass();
    bool set_lake_state();
};

// ---- header ----

bool card_reader::header_pass() {
    int found = 0;
    while (found < 5) {
        if (!read_line(line, file)) {
            premature_end_of_header();
            return false;
        }
        switch (card_code()) {
        case chan_card::alpha: net.alpha = take_double(); ++found; break;
        case chan_card::beta: net.beta = take_double(); ++found; break;
        case chan_card::theta: net.theta = take_double(); ++found; break;
        case chan_card::links: net.link_count = take_int(); ++found; break;
        case chan_card::maxnodes: net.max_node_count = take_int(); ++found; break;
        default: break;
        }
        if (fatal()) return false;
    }
    return check_network_size(net) && counts_fit_the_file();
}

// A count larger than the file can hold is refused before anything is sized by
// it: every link takes at least its LINK and CONNECT cards (8 bytes or more) and
// every node of the longest link at least a NODE card (4 bytes or more).
bool card_reader::counts_fit_the_file() {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return true;
    const long bytes = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    if (bytes < 0) return true;
    const struct {
        const char *card;
        int count;
        long per_item;
    } counts[2] = {{"LINKS", net.link_count, 8}, {"MAXNODES", net.max_node_count, 4}};
    for (const auto &c : counts) {
        if (c.count <= bytes / c.per_item) continue;
        std::printf("Error in the channel input file: %s %d is more than a file of %ld bytes "
                    "can hold.\n",
                    c.card, c.count, bytes);
        chan_input_stop();
        return false;
    }
    return true;
}

// ---- sizing ----

bool card_reader::sizing_pass() {
    const std::size_t links = static_cast<std::size_t>(net.link_count) + 1;
    xsec_count.assign(links, 0);
    nodes_card.assign(links, 0);
    has_erosion.assign(links, 0);
    while (read_line(line, file)) {
        const int code = card_code();
        switch (code) {
        case chan_card::link:
            if (!take_link()) return false;
            break;
        case chan_card::dx:
            if (!take_link_value(code, net.dx)) return false;
            break;
        case chan_card::nodes: {
            if (!need_link(code)) return false;
            const int v = take_int();
            if (fatal()) return false;
            if (v < 1 || v > net.max_node_count) {
                value_outside(code, v, 1, net.max_node_count);
                return false;
            }
            net.node_count[link] = v;
            nodes_card[static_cast<std::size_t>(link)] = v;
            break;
        }
        case chan_card::mannings_n: {
            if (!need_link(code)) return false;
            const double v = take_double();
            if (fatal() || !check_manning_n(v, link)) return false;
            net.manning_n[link] = v;
            break;
        }
        case chan_card::dispersion_coeff:
            if (!take_link_value(code, net.dispersion)) return false;
            ++dispersion_links;
            break;
        case chan_card::decay_coeff:
            if (!take_link_value(code, net.decay)) return false;
            break;
        case chan_card::max_erosion:
            // The value is a per-node one, so a link may carry several cards;
            // the link counts once.
            if (!need_link(code)) return false;
            if (!has_erosion[static_cast<std::size_t>(link)]) {
                has_erosion[static_cast<std::size_t>(link)] = 1;
                ++erodible_links;
            }
            break;
        case chan_card::gw_bed_conductivity:
            if (!take_link_value(code, net.link_krb)) return false;
            ++gw_links;
            break;
        case chan_card::gw_bed_thickness:
            if (!take_link_value(code, net.link_mrb)) return false;
            break;
        case chan_card::trapezoid:
        case chan_card::subsurface_trapezoid:
        case chan_card::trap_erode:
        case chan_card::breakpoint:
        case chan_card::break_erode:
        case chan_card::structure:
        case chan_card::lake:
            if (!need_link(code)) return false;
            net.link_lake[link] = link;
            if (code == chan_card::trapezoid) {
                net.link_type[link] = link_trapezoid;
                ++trapezoid_links;
            } else if (code == chan_card::subsurface_trapezoid) {
                net.link_type[link] = link_subsurface_trapezoid;
                ++subsurface_links;
            } else if (code == chan_card::trap_erode) {
                net.link_type[link] = link_trapezoid_erode;
                ++erode_trap_links;
            } else if (code == chan_card::breakpoint) {
                net.link_type[link] = link_breakpoint;
                ++breakpoint_links;
            } else if (code == chan_card::break_erode) {
                net.link_type[link] = link_breakpoint_erode;
                net.erode_index[link] = ++net.erodible_bp_count;
            } else if (code == chan_card::structure) {
                net.link_type[link] = link_structure;
                net.node_count[link] = 2;
                ++structure_links;
            } else {
                net.link_type[link] = link_lake;
                ++lake_links;
                net.link_lake[link] = ++net.lake_count;
                s.channel_lake_count = net.lake_count;
            }
            break;
        case chan_card::npairs: {
            const int v = take_int();
            net.max_pairs = std::max(net.max_pairs, v);
            if (link > 0 && is_breakpoint_type(net.link_type[link])) ++xsec_count[link];
            break;
        }
        case chan_card::num_interp: net.max_interp = std::max(net.max_interp, take_int()); break;
        case chan_card::numstructs: numstructs_sum += take_int(); break;
        case chan_card::structtype: {
            std::string word;
            next_token(word, line);
            if (structure_type_of(word) == 0) {
                std::printf("Error in the channel input file: STRUCTTYPE %s in link %d is not a "
                            "known structure type.\n",
                            word.c_str(), link);
                chan_input_stop();
                return false;
            }
            ++structure_elements;
            break;
        }
        case chan_card::numpts: max_lake_search = std::max(max_lake_search, take_int()); break;
        case chan_card::mlake: mlake = true; break;
        case chan_card::pointsource: ++pointsources; break;
        case chan_card::pumpto: ++pumps; break;
        case chan_card::connect: {
            ++connect_cards;
            const int l = take_int(), ds = take_int(), n = take_int();
            if (fatal()) return false;
            if (l < 1 || l > net.link_count) {
                value_outside(code, l, 1, net.link_count);
                return false;
            }
            if (ds < 0 || ds > net.link_count) {
                std::printf("Error in the channel input file: CONNECT %d names downstream link "
                            "%d, outside 0 to %d.\n",
                            l, ds, net.link_count);
                chan_input_stop();
                return false;
            }
            if (n < 0) {
                std::printf("Error in the channel input file: CONNECT %d has a negative number "
                            "of upstream links (%d).\n",
                            l, n);
                chan_input_stop();
                return false;
            }
            net.max_upstream = std::max(net.max_upstream, n);
            break;
        }
        default: break;
        }
        if (fatal()) return false;
    }
    net.structure_count = structure_elements;
    net.lake_loss = mlake ? 1 : 0;
    return true;
}

bool card_reader::sizing_checks() {
    if (structure_elements != numstructs_sum) {
        std::printf("\nThe sum of NUMSTRUCTS arguments is %d, while the total number\n",
                    numstructs_sum);
        std::printf("of hydraulic structure element cards (e.g. WEIR, ROUND_CULVERT,\n");
        std::printf("etc.) is %d.  This inconstency is intolerable.  Check your channel\n",
                    structure_elements);
        std::printf("input file.  Program terminated.\n");
        chan_input_stop();
        return false;
    }
    for (int l = 1; l <= net.link_count; ++l) {
        net.num_structs[l] = 0;
        net.first_struct[l] = 10000;
        net.last_struct[l] = 0;
    }
    net.structures.assign(static_cast<std::size_t>(net.structure_count) + 1,
                          hydraulic_structure{});
    if (net.erodible_bp_count > 0) {
        const long long e = net.erodible_bp_count, m = net.max_node_count, p = net.max_pairs;
        if (!chan_make(net.xbp_lnn, e, m, p, "xbp_lnn") ||
            !chan_make(net.ybp_lnn, e, m, p, "ybp_lnn") || !chan_make(net.max_yp, e, m, "max_yp") ||
            !chan_make(net.ch_sand_vol0, e, m, "ch_sand_vol0"))
            return false;
    }
    int max_xsec = 0;
    for (int l = 1; l <= net.link_count; ++l) max_xsec = std::max(max_xsec, xsec_count[l]);
    if (!s.quiet) {
        std::printf("max. number of u.s. dependencies:      %d\n", net.max_upstream);
        std::printf("number of trapezoidal links:           %d\n", trapezoid_links);
        std::printf("number of breakpoint links:            %d\n", breakpoint_links);
        std::printf("number of lake links:                  %d\n", lake_links);
        std::printf("number of hydraulic structure links:   %d\n", structure_links);
        std::printf("total no. of hydr. structure elements: %d\n", structure_elements);
        std::printf("number of groundwater links:           %d\n", gw_links);
        std::printf("number of dispersion links:            %d\n", dispersion_links);
        std::printf("number of subsurface trapezoidal links:  %d\n", subsurface_links);
        std::printf("number of erodible trapezoidal links:  %d\n", erode_trap_links);
        std::printf("number of erodible breakpoint links:   %d\n", net.erodible_bp_count);
        std::printf("number of erodible links:              %d\n", erodible_links);
        std::printf("max number of xsec in any bp link:     %d\n", max_xsec);
        std::printf("max number of xsec pairs:              %d\n", net.max_pairs);
    }
    if (net.max_upstream > 20) {
        std::printf("Whoa there pardner!  You mean to tell me that you have more than 20\n");
        std::printf("channels flowing into one point?  How can that be?  I reckon that you\n");
        std::printf("or that new-fangled interface your a usin' have made a serious mistake.\n");
        std::printf("OR maybe you are trying to use this here model to simulate the runoff\n");
        std::printf("into the Great Lakes!.  In either case, I ain't gonna let you do it.\n");
        std::printf("Program terminated because the maximum number of upstream dependencies\n");
        std::printf("in the read_chan_input subroutine was equal to %d, which is, frankly, a\n",
                    net.max_upstream);
        std::printf("reediculous number.  Fifteen yard penalty from the spot of the foul.\n");
        chan_input_stop();
        return false;
    }
    if (connect_cards != net.link_count) {
        std::printf("Your channel input file contains %d links, and %d CONNECT cards\n",
                    net.link_count, connect_cards);
        std::printf("These two numbers must be equal.  Therefore, you have a major \n");
        std::printf("problem with your channel input file.  KORVA cannot proceed.\n");
        std::printf("Fifteen yard penalty from the line of scrimmage.\n");
        std::printf("program terminated.\n");
        chan_input_stop();
        return false;
    }
    for (int l = 1; l <= net.link_count; ++l) {
        const int type = net.link_type[l];
        if (type == 0) {
            std::printf("Error in the channel input file: link %d has no link type card.\n", l);
            chan_input_stop();
            return false;
        }
        // A structure or weir link joins the last node of the link above to the
        // first of the link below through its two nodes; more or fewer would
        // leave its flow behind.
        const int given = nodes_card[static_cast<std::size_t>(l)];
        if ((type == link_structure || type == link_weir) && given != 0 && given != 2) {
            std::printf("Error in the channel input file: link %d is a %s link and has 2 nodes, "
                        "but its NODES card gives %d.\n",
                        l, type == link_structure ? "STRUCTURE" : "weir", given);
            chan_input_stop();
            return false;
        }
        if (is_routed_card_type(type) && net.node_count[l] < 2) {
            std::printf("Error in the channel input file: link %d needs a NODES card of at least "
                        "2 (it has %d).\n",
                        l, net.node_count[l]);
            chan_input_stop();
            return false;
        }
        if (is_breakpoint_type(type) && xsec_count[l] == 0) {
            std::printf("Error in the channel input file: break-point link %d has no NPAIRS "
                        "card.\n",
                        l);
            chan_input_stop();
            return false;
        }
    }
    return true;
}

// ---- break-point table count ----

bool card_reader::table_pass() {
    const std::size_t links = static_cast<std::size_t>(net.link_count) + 1;
    first_mark.assign(links, 0);
    last_mark.assign(links, 0);
    table_base.assign(links, 0);
    bool any = false;
    for (int l = 1; l <= net.link_count; ++l) any = any || xsec_count[l] > 0;
    if (any) {
        rewind_file();
        while (read_line(line, file)) {
            const int code = card_code();
            if (code == chan_card::link) {
                if (!take_link()) return false;
            } else if (code == chan_card::node) {
                if (!take_node()) return false;
            } else if (code == chan_card::npairs && link > 0 &&
                       is_breakpoint_type(net.link_type[link])) {
                const int at = std::clamp(node, 1, net.node_count[link]);
                if (first_mark[link] == 0 || at < first_mark[link]) first_mark[link] = at;
                last_mark[link] = std::max(last_mark[link], at);
            }
        }
    }
    int tables = 0;
    for (int l = 1; l <= net.link_count; ++l) {
        if (!is_breakpoint_type(net.link_type[l])) continue;
        table_base[l] = tables;
        tables += breakpoint_table_count(net.link_type[l], net.node_count[l], first_mark[l],
                                         last_mark[l]);
    }
    net.table_count = tables;
    if (tables > 0) {
        const long long t = tables, p = net.max_pairs;
        if (!chan_make(net.xbp, t, p, "xbp") || !chan_make(net.ybp, t, p, "ybp") ||
            !chan_make(net.table_pairs, t, "table_pairs") ||
            !chan_make(net.table_interp, t, "table_interp") ||
            !chan_make(net.table_dy, t, "table_dy") || !chan_make(net.table_ymin, t, "table_ymin"))
            return false;
    }
    return true;
}

// ---- connectivity ----

bool card_reader::connectivity_pass() {
    rewind_file();
    int found = 0;
    while (found < net.link_count) {
        if (!read_line(line, file)) {
            std::printf("Premature end-of-file in the channel input file.\n");
            std::printf("While searching for %d CONNECT cards\n", net.link_count);
            std::printf("Program terminated in read_chan_input.\n");
            chan_input_stop();
            return false;
        }
        if (card_code() != chan_card::connect) continue;
        ++found;
        const int l = take_int(), ds = take_int(), n = take_int();
        if (fatal()) return false;
        if (l < 1 || l > net.link_count) {
            value_outside(chan_card::connect, l, 1, net.link_count);
            return false;
        }
        if (ds < 0 || ds > net.link_count || n < 0 || n > net.max_upstream) {
            std::printf("Error in the channel input file: CONNECT %d %d %d does not fit the "
                        "network (links 0 to %d, at most %d upstream links).\n",
                        l, ds, n, net.link_count, net.max_upstream);
            chan_input_stop();
            return false;
        }
        net.ds_link[l] = ds;
        net.us_count[l] = n;
        for (int k = 1; k <= n; ++k) {
            const int u = take_int();
            if (fatal()) return false;
            if (u < 1 || u > net.link_count) {
                std::printf("Error in the channel input file: CONNECT %d names upstream link %d, "
                            "outside 1 to %d.\n",
                            l, u, net.link_count);
                chan_input_stop();
                return false;
            }
            net.uslinks[l][k] = u;
        }
    }
    return true;
}

// ---- detail ----

bool card_reader::detail_structure_card(int code) {
    if (structure < 1) {
        std::printf("Error in the channel input file: the %s card of link %d comes before any "
                    "STRUCTTYPE card.\n",
                    card_name(code).c_str(), link);
        chan_input_stop();
        return false;
    }
    hydraulic_structure &h = net.structures[static_cast<std::size_t>(structure)];
    const double v = take_double();
    if (fatal()) return false;
    switch (code) {
    case chan_card::length:
    case chan_card::crest_length: h.length = v; break;
    case chan_card::upinvert:
    case chan_card::crest_low_elev: h.upstream_invert = v; break;
    case chan_card::downinvert: h.downstream_invert = v; break;
    case chan_card::slope: h.slope = v; break;
    case chan_card::inlet_disch_coeff:
    case chan_card::discharge_coeff_forward: h.forward_coeff = v; break;
    case chan_card::rev_flow_disch_coeff:
    case chan_card::discharge_coeff_reverse: h.reverse_coeff = v; break;
    case chan_card::width:
    case chan_card::diameter:
    case chan_card::a_value:
    case chan_card::left_slope: h.shape1 = v; break;
    case chan_card::height:
    case chan_card::b_value:
    case chan_card::right_slope: h.shape2 = v; break;
    case chan_card::crest_low_loc: h.crest_low_loc = v; break;
    case chan_card::rough_coeff: h.roughness = v; break;
    default: break;
    }
    return true;
}

bool card_reader::detail_pass() {
    structure = 0;
    last_node_card.assign(static_cast<std::size_t>(net.link_count) + 1, 0);
    while (read_line(line, file)) {
        const int code = card_code();
        switch (code) {
        case chan_card::link:
            if (!take_link()) return false;
            break;
        case chan_card::node:
            if (!need_link(code) || !take_node()) return false;
            last_node_card[static_cast<std::size_t>(link)] =
                std::max(last_node_card[static_cast<std::size_t>(link)], node);
            break;
        case chan_card::elev:
        case chan_card::bottom_width:
        case chan_card::bankfull_depth:
        case chan_card::side_slope:
        case chan_card::max_erosion: {
            if (!need_node(code)) return false;
            const double v = take_double();
            if (code == chan_card::elev) net.bel[node][link] = v;
            if (code == chan_card::bottom_width) net.bottom[node][link] = v;
            if (code == chan_card::bankfull_depth) net.bankfull_dep[node][link] = v;
            if (code == chan_card::side_slope) net.sslope[node][link] = v;
            if (code == chan_card::max_erosion) net.max_eros[node][link] = v;
            break;
        }
        case chan_card::xsec:
            if (!need_node(code)) return false;
            net.got_xsec[node][link] = net.link_type[link];
            break;
        case chan_card::numstructs:
            if (!need_link(code)) return false;
            net.num_structs[link] = take_int();
            break;
        case chan_card::structtype: {
            if (!need_link(code)) return false;
            std::string word;
            next_token(word, line);
            const int type = structure_type_of(word);
            if (type == 0 || structure >= net.structure_count) {
                std::printf("Error in the channel input file: STRUCTTYPE %s in link %d does not "
                            "match the structures counted.\n",
                            word.c_str(), link);
                chan_input_stop();
                return false;
            }
            ++structure;
            net.first_struct[link] = std::min(net.first_struct[link], structure);
            net.last_struct[link] = std::max(net.last_struct[link], structure);
            hydraulic_structure &h = net.structures[static_cast<std::size_t>(structure)];
            h.type = type;
            if (type == 6 || type == 8 || type == 7) {
                std::string name;
                const bool named = next_token(name, line) != 0 && !name.empty();
                const int missing = type == 6 ? 85 : type == 7 ? 87 : 89;
                if (!named) {
                    raise_error(missing);
                    return false;
                }
                if (type == 7) {
                    h.series = find_time_series(name);
                    if (!h.series) {
                        raise_error(88);
                        return false;
                    }
                } else {
                    h.elevation = find_elevation_series(name);
                    if (!h.elevation) {
                        raise_error(type == 6 ? 86 : 90);
                        return false;
                    }
                }
            }
            break;
        }
        case chan_card::length:
        case chan_card::crest_length:
        case chan_card::upinvert:
        case chan_card::crest_low_elev:
        case chan_card::downinvert:
        case chan_card::slope:
        case chan_card::inlet_disch_coeff:
        case chan_card::discharge_coeff_forward:
        case chan_card::rev_flow_disch_coeff:
        case chan_card::discharge_coeff_reverse:
        case chan_card::width:
        case chan_card::diameter:
        case chan_card::a_value:
        case chan_card::left_slope:
        case chan_card::height:
        case chan_card::b_value:
        case chan_card::right_slope:
        case chan_card::crest_low_loc:
        case chan_card::rough_coeff:
            if (!detail_structure_card(code)) return false;
            break;
        case chan_card::pointsource: {
            int at = 0;
            if (!take_source_node(code, at)) return false;
            std::string name;
            next_token(name, line);
            time_series *ts = find_time_series(name);
            if (!ts) {
                std::printf("Error in the channel input file: the POINTSOURCE time series \"%s\" "
                            "of link %d is not defined.\n",
                            name.c_str(), link);
                chan_input_stop();
                return false;
            }
            net.stream_pointsource[at][link] = ts;
            break;
        }
        case chan_card::pumpto: {
            int at = 0;
            if (!take_source_node(code, at)) return false;
            pump *p = read_pump(line, link, net.link_type[link]);
            if (!p) return false;
            if (p->to_link < 1 || p->to_link > net.link_count || p->to_node < 1 ||
                p->to_node > net.node_count[p->to_link]) {
                std::printf("Error in the channel input file: the pump of link %d node %d "
                            "delivers to link %d node %d, which is not in the network.\n",
                            link, at, p->to_link, p->to_node);
                chan_input_stop();
                return false;
            }
            p->link = link;
            p->node = at;
            net.stream_pumps[at][link] = p;
            // The routing moves no water through a channel pump: say so rather
            // than keep a pump that does nothing.
            std::printf("Warning: the PUMPTO card of link %d node %d (to link %d node %d) is read "
                        "but channel pumps are not simulated;\nno water is pumped between the "
                        "channel nodes.\n",
                        link, at, p->to_link, p->to_node);
            count_warning();
            break;
        }
        default: break;
        }
        if (fatal()) return false;
    }
    // Every node of a routed link has its NODE card; fewer means the file ends
    // inside the link or lost some of it.
    for (int l = 1; l <= net.link_count; ++l) {
        const int last = last_node_card[static_cast<std::size_t>(l)];
        if (!is_routed_card_type(net.link_type[l]) || last >= net.node_count[l]) continue;
        std::printf("Error in the channel input file: link %d has %d nodes (NODES card), but "
                    "the file gives NODE cards only up to node %d.\n",
                    l, net.node_count[l], last);
        chan_input_stop();
        return false;
    }
    return true;
}

// ---- finishing the links ----

bool card_reader::finish_links() {
    const bool exchange = s.stream_loss != 0;
    for (int l = 1; l <= net.link_count; ++l) {
        for (int n = 1; n <= net.max_node_count; ++n) {
            if (gw_links > 0) {
                net.Krb[n][l] = net.link_krb[l];
                net.Mrb[n][l] = net.link_mrb[l];
            } else if (exchange) {
                net.Krb[n][l] = s.k_river;
                net.Mrb[n][l] = s.channel_bed_thickness;
            }
        }
    }
    for (int l = 1; l <= net.link_count; ++l) {
        const int type = net.link_type[l];
        if (net.manning_n[l] > 0.0) {
            net.kconv[l] = 1.0 / net.manning_n[l];
        } else if (is_routed_card_type(type)) {
            std::printf("Error encountered when reading the channel input file, link %d:\n", l);
            std::printf("    no MANNINGS_N card was given for this link\n");
            chan_input_stop();
            return false;
        }
        if (!is_trapezoid_type(type)) continue;
        int holder = 0;
        for (int n = 1; n <= net.node_count[l]; ++n)
            if (net.got_xsec[n][l] == type) holder = n;
        if (holder == 0) {
            std::printf("Error: Cross section parameters not found for link %d.\n", l);
            chan_input_stop();
            return false;
        }
        const double b = net.bottom[holder][l], z = net.sslope[holder][l];
        if (b < 0.0 || z < 0.0 || (b == 0.0 && z == 0.0)) {
            std::printf("Error in the channel input file: the cross-section of link %d (bottom "
                        "width %f, side slope %f) has no width.\n",
                        l, b, z);
            chan_input_stop();
            return false;
        }
        for (int n = 1; n <= net.node_count[l]; ++n) {
            net.bottom[n][l] = b;
            net.bankfull_dep[n][l] = net.bankfull_dep[holder][l];
            net.sslope[n][l] = z;
            if (type == link_trapezoid_erode || type == link_trapezoid_erode2)
                net.max_eros[n][l] = net.max_eros[holder][l];
        }
    }
    return true;
}

// ---- break-point sections ----

bool card_reader::breakpoint_pass() {
    bool any = false;
    for (int l = 1; l <= net.link_count; ++l) any = any || is_breakpoint_type(net.link_type[l]);
    if (!any) return true;
    if (net.max_interp <= 0) {
        std::printf("Error: the number of interpolation points has not been specifiedfor any "
                    "table. Each break-point cross-section table should have a NUM_INTERP ### "
                    "card below the NPAIRS card\n");
        chan_input_stop();
        return false;
    }
    const long long t = net.table_count, k = net.max_interp;
    if (!chan_make(net.xarea, t, k, "xarea") || !chan_make(net.xtw, t, k, "xtw") ||
        !chan_make(net.xk, t, k, "xk") || !chan_make(net.xp, t, k, "xp"))
        return false;
    if (net.extra_tables &&
        (!chan_make(net.xi1, t, k, "xi1") || !chan_make(net.xdkda, t, k, "xdkda")))
        return false;
    if (!s.quiet) std::printf("Reading and interpolating break-point cross-sections ");
    std::vector<std::vector<breakpoint_section>> sections(static_cast<std::size_t>(net.link_count) +
                                                          1);
    std::vector<char> done(static_cast<std::size_t>(net.link_count) + 1, 0);
    auto incomplete = [&](int l) {
        const auto &v = sections[static_cast<std::size_t>(l)];
        return !v.empty() && static_cast<int>(v.back().x.size()) - 1 < v.back().npairs;
    };
    auto fewer_x1 = [&](int l) {
        std::printf("\n\nError: There are fewer X1 cards than the NPAIRS card specifies \nfor "
                    "table %d in link %d.\n",
                    static_cast<int>(sections[static_cast<std::size_t>(l)].size()), l);
        chan_input_stop();
    };
    rewind_file();
    while (read_line(line, file)) {
        const int code = card_code();
        if (code == chan_card::link) {
            if (link > 0 && incomplete(link)) {
                fewer_x1(link);
                return false;
            }
            if (!take_link()) return false;
            continue;
        }
        if (code == chan_card::node) {
            if (!take_node()) return false;
            continue;
        }
        if (link < 1 || !is_breakpoint_type(net.link_type[link])) continue;
        auto &mine = sections[static_cast<std::size_t>(link)];
        if (code == chan_card::npairs) {
            if (incomplete(link)) {
                fewer_x1(link);
                return false;
            }
            const int n = take_int();
            if (fatal()) return false;
            if (n < 2) {
                std::printf("\n\nError: NPAIRS %d for table %d in link %d: a cross-section needs "
                            "at least 2 pairs.\n",
                            n, static_cast<int>(mine.size()) + 1, link);
                chan_input_stop();
                return false;
            }
            if (done[static_cast<std::size_t>(link)] ||
                static_cast<int>(mine.size()) >= xsec_count[static_cast<std::size_t>(link)]) {
                std::printf("\n\nError: link %d has more NPAIRS cards than were counted.\n", link);
                chan_input_stop();
                return false;
            }
            breakpoint_section sec;
            sec.node = std::clamp(node, 1, net.node_count[link]);
            sec.npairs = n;
            sec.x.assign(1, 0.0);
            sec.y.assign(1, 0.0);
            mine.push_back(std::move(sec));
        } else if (code == chan_card::num_interp) {
            if (!mine.empty() && !done[static_cast<std::size_t>(link)])
                mine.back().ninterp = take_int();
            if (fatal()) return false;
        } else if (code == chan_card::x1) {
            if (done[static_cast<std::size_t>(link)] || mine.empty() || !incomplete(link)) {
                std::printf("\n\nError: There are more X1 cards than the NPAIRS card specifies "
                            "\nfor table %d in link %d.\n",
                            static_cast<int>(mine.size()), link);
                chan_input_stop();
                return false;
            }
            breakpoint_section &sec = mine.back();
            sec.x.push_back(take_double());
            sec.y.push_back(take_double());
            if (fatal()) return false;
            const bool complete = static_cast<int>(sec.x.size()) - 1 == sec.npairs;
            if (complete &&
                static_cast<int>(mine.size()) == xsec_count[static_cast<std::size_t>(link)]) {
                int counter = table_base[static_cast<std::size_t>(link)];
                if (interp_breakpoint_xsecs(s, link, mine, counter) != 0) return false;
                done[static_cast<std::size_t>(link)] = 1;
                std::printf(".");
            }
        }
    }
    for (int l = 1; l <= net.link_count; ++l) {
        if (!is_breakpoint_type(net.link_type[l]) || done[static_cast<std::size_t>(l)]) continue;
        fewer_x1(l);
        return false;
    }
    std::printf("\n");
    return true;
}

// ---- lakes ----

bool card_reader::lake_pass() {
    rewind_file();
    int lakes = 0;
    channel_lake *lake = nullptr;
    auto current_lake = [&](int code) -> channel_lake * {
        if (link < 1 || net.link_type[link] != link_lake || net.link_lake[link] < 1) {
            std::printf("Error in the channel input file: the %s card of link %d belongs to no "
                        "LAKE link.\n",
                        card_name(code).c_str(), link);
            chan_input_stop();
            return nullptr;
        }
        return &net.lakes[static_cast<std::size_t>(net.link_lake[link])];
    };
    while (read_line(line, file)) {
        const int code = card_code();
        switch (code) {
        case chan_card::link:
            if (!take_link()) return false;
            break;
        case chan_card::lake:
            if (!need_link(code)) return false;
            if (++lakes > net.lake_count) {
                std::printf("Error in the channel input file: more LAKE cards than were "
                            "counted.\n");
                chan_input_stop();
                return false;
            }
            net.lakes[static_cast<std::size_t>(lakes)].link = link;
            break;
        case chan_card::minwse:
        case chan_card::initwse:
        case chan_card::maxwse:
        case chan_card::mlake: {
            if (!(lake = current_lake(code))) return false;
            const double v = take_double();
            if (code == chan_card::minwse) lake->min_wse = v;
            if (code == chan_card::initwse) lake->init_wse = v;
            if (code == chan_card::maxwse) lake->max_wse = v;
            if (code == chan_card::mlake) {
                lake->bed_thickness = v;
                lake->loss = 1;
            }
            break;
        }
        case chan_card::numpts: {
            if (!(lake = current_lake(code))) return false;
            const int n = take_int();
            if (fatal()) return false;
            if (n < 0) {
                value_outside(code, n, 0, max_lake_search);
                return false;
            }
            // A search cell takes at least "r c" and a delimiter, so the rest of the
            // file bounds the count before anything is sized by it.
            if (!lines_can_follow(file, n, 3)) {
                std::printf("Error in the channel input file: NUMPTS %d of lake link %d is more "
                            "search cells than the rest of the file holds.\n",
                            n, link);
                chan_input_stop();
                return false;
            }
            const int lake_number = net.link_lake[link];
            lake->search_count = n;
            lake->search.assign(static_cast<std::size_t>(n) + 1, {0, 0});
            lake->pct_flooded.assign(static_cast<std::size_t>(n) + 1, 0.0);
            lake->lake_elev.assign(static_cast<std::size_t>(n) + 1, 0.0);
            int got = 0;
            while (got < n) {
                if (!read_line(line, file)) {
                    std::printf("Error in the channel input file: the file ends inside the %d "
                                "search cells of lake %d.\n",
                                n, lake_number);
                    chan_input_stop();
                    return false;
                }
                for (int pair = 0; pair < 10 && got < n; ++pair) {
                    int r = 0, c = 0;
                    if (!next_int(line, r) || !next_int(line, c)) break;
                    const bool inside = r >= 1 && r <= s.grid_rows && c >= 1 && c <= s.grid_cols &&
                                        !s.cell_number_grid.empty() &&
                                        static_cast<std::size_t>(r) <= s.cell_number_grid.rows() &&
                                        static_cast<std::size_t>(c) <= s.cell_number_grid.cols() &&
                                        s.cell_number_grid[r][c] > 0;
                    if (!inside) {
                        std::printf("Error in the channel input file: search cell (%d, %d) of "
                                    "lake %d is not a cell of the watershed.\n",
                                    r, c, lake_number);
                        chan_input_stop();
                        return false;
                    }
                    ++got;
                    lake->search[static_cast<std::size_t>(got)] = {r, c};
                }
            }
            break;
        }
        default: break;
        }
        if (fatal()) return false;
    }
    return set_lake_state();
}

bool card_reader::set_lake_state() {
    const double dx = s.cell_size;
    if (s.cell_channel_lake.empty() && s.cell_count >= 0 &&
        !chan_make(s.cell_channel_lake, s.cell_count, "cell_channel_lake"))
        return false;
    for (int k = 1; k <= net.lake_count; ++k) {
        channel_lake &lk = net.lakes[static_cast<std::size_t>(k)];
        std::printf("Minimum Water Surface Elevation Lake #%d: %.2lf\n", k, lk.min_wse);
        std::printf("Initial Water Surface Elevation Lake #%d: %.2lf\n", k, lk.init_wse);
        std::printf("Maximum Water Surface Elevation Lake #%d: %.2lf\n", k, lk.max_wse);
        std::printf("number of coords for lake #%d's search order: %d\n", k, lk.search_count);
        if (mlake && lk.loss)
            std::printf("Simulating Lake Losses for Lake #%d, Bed Thickness: %.1lf m\n", k,
                        lk.bed_thickness);
        for (int i = 1; i <= lk.search_count; ++i) {
            const auto rc = lk.search[static_cast<std::size_t>(i)];
            const int c = s.cell_number_grid[rc[0]][rc[1]];
            if (c < 1 || c > s.cell_count || s.elevation.empty()) continue;
            const double ground = s.elevation[c];
            if (ground + 0.001 < lk.init_wse) {
                ++lk.flooded_cells;
                lk.initial_volume += (lk.init_wse - ground) * dx * dx;
                s.cell_channel_lake[c] = k;
                if (lk.loss && s.groundwater_on && !s.gw_boundary_code.empty() &&
                    static_cast<std::size_t>(c) <= s.gw_boundary_code.last())
                    s.gw_boundary_code[c] = 7;
            }
        }
        lk.wse = lk.wse_old = lk.init_wse;
        lk.volume = lk.volume_old = lk.initial_volume;
        lk.area = lk.flooded_cells * dx * dx;
        lk.volume_in = lk.volume_out = lk.volume_start = 0.0;
    }
    // The rain of each lake in the step, filled by the rain over the grid.
    s.channel_lake_rain.assign(static_cast<std::size_t>(net.lake_count) + 1, 0.0);
    s.channel_lake_rain_mass.assign(static_cast<std::size_t>(net.lake_count) + 1, 0.0);
    return true;
}

bool read_card_form(std::FILE *file, model_state &s) {
    channel_network &net = s.channels;
    card_reader r(s, file);
    if (!r.header_pass()) return false;
    if (!make_link_arrays(net)) return false;
    if (!r.sizing_pass() || !r.sizing_checks() || !r.table_pass()) return false;
    const bool gw = r.gw_links > 0 || s.stream_loss != 0;
    if (!make_node_arrays(net, gw)) return false;
    const long long links = net.link_count, nodes = net.max_node_count;
    if (r.pointsources > 0 && alloc_stream_pointsource(net.stream_pointsource, nodes, links) != 0) {
        chan_input_stop();
        return false;
    }
    if (r.pumps > 0 && alloc_stream_pumps(net.stream_pumps, nodes, links) != 0) {
        chan_input_stop();
        return false;
    }
    if (!r.connectivity_pass() || !r.detail_pass() || !r.finish_links() || !r.breakpoint_pass())
        return false;
    set_computational_nodes(net);
    if (s.non_ortho_channels) {
        read_grid_stream_file(s.stream_cell_file, s);
        if (error_record.fatal) return false;
    }
    if (net.lake_count > 0) {
        net.lakes.assign(static_cast<std::size_t>(net.lake_count) + 1, channel_lake{});
        if (!r.lake_pass()) return false;
    }
    return copy_network_as_read(net);
}

}  // namespace

// ---------------------------------------------------------------------------

int chan_card_code(std::string &line) {
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\n')) ++i;
    std::size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\n') ++j;
    const std::string word = lower(line.substr(i, j - i));
    line.erase(0, j);
    if (word.empty()) return chan_card::unknown;
    for (const card_word &w : card_words)
        if (word == w.word) return w.code;
    return chan_card::unknown;
}

void chan_input_stop() { raise_printed_error(); }

bool check_network_size(const channel_network &net) {
    if (net.link_count < 1) {
        std::printf("Error in the channel input file: LINKS must be at least 1 (it is %d).\n",
                    net.link_count);
        chan_input_stop();
        return false;
    }
    if (net.max_node_count < 1) {
        std::printf("Error in the channel input file: MAXNODES must be at least 1 (it is %d).\n",
                    net.max_node_count);
        chan_input_stop();
        return false;
    }
    return true;
}

bool check_manning_n(double n, int link) {
    if (!(n < 1e-08)) return true;
    std::printf("Error encountered when reading the channel input file, link %d:\n", link);
    std::printf("    Manning's Roughness is 0.000\n");
    chan_input_stop();
    return false;
}

namespace {

// The end of every allocation helper: a failure (status not 0) is named, when
// the allocator has not named it already, and stops the reading.
bool allocated(int status, const char *name, bool named_by_allocator = false) {
    if (status == 0) return true;
    if (!named_by_allocator) print_allocation_failure(name);
    chan_input_stop();
    return false;
}

}  // namespace

bool chan_make(array_1d<int> &a, long long n, const char *name) {
    return allocated(alloc_1d_int(a, std::max(n, 1LL)), name);
}
bool chan_make(array_1d<double> &a, long long n, const char *name) {
    return allocated(alloc_1d_double(a, std::max(n, 1LL)), name);
}
bool chan_make(array_2d<int> &a, long long r, long long c, const char *name) {
    return allocated(alloc_2d_int(a, std::max(r, 1LL), std::max(c, 1LL)), name);
}
bool chan_make(array_2d<double> &a, long long r, long long c, const char *name) {
    return allocated(alloc_2d_double(a, std::max(r, 1LL), std::max(c, 1LL), name), name, true);
}
bool chan_make(array_3d<double> &a, long long n1, long long n2, long long n3, const char *name) {
    return allocated(alloc_3d_double(a, std::max(n1, 1LL), std::max(n2, 1LL), std::max(n3, 1LL)),
                     name);
}

bool make_link_arrays(channel_network &net) {
    const long long n = net.link_count;
    return chan_make(net.link_type, n, "link_type") && chan_make(net.node_count, n, "node_count") &&
           chan_make(net.comp_node_count, n, "comp_node_count") && chan_make(net.dx, n, "dx") &&
           chan_make(net.manning_n, n, "manning_n") && chan_make(net.kconv, n, "kconv") &&
           chan_make(net.ds_link, n, "ds_link") && chan_make(net.us_count, n, "us_count") &&
           chan_make(net.dispersion, n, "dispersion") && chan_make(net.decay, n, "decay") &&
           chan_make(net.link_krb, n, "link_krb") && chan_make(net.link_mrb, n, "link_mrb") &&
           chan_make(net.link_lake, n, "link_lake") &&
           chan_make(net.erode_index, n, "erode_index") &&
           chan_make(net.num_structs, n, "num_structs") &&
           chan_make(net.first_struct, n, "first_struct") &&
           chan_make(net.last_struct, n, "last_struct");
}

bool make_node_arrays(channel_network &net, bool gw) {
    const long long l = net.link_count, n = net.max_node_count;
    if (!chan_make(net.uslinks, l, net.max_upstream, "uslinks") ||
        !chan_make(net.got_xsec, n, l, "got_xsec") || !chan_make(net.yp, n, l, "yp") ||
        !chan_make(net.qp, n, l, "qp") || !chan_make(net.Fr, n, l, "Fr") ||
        !chan_make(net.qp_vol, n, l, "qp_vol") || !chan_make(net.bottom, n, l, "bottom") ||
        !chan_make(net.bankfull_dep, n, l, "bankfull_dep") || !chan_make(net.bel, n, l, "bel") ||
        !chan_make(net.sslope, n, l, "sslope") || !chan_make(net.sslope2, n, l, "sslope2") ||
        !chan_make(net.max_eros, n, l, "max_eros") || !chan_make(net.table_num, n, l, "table_num"))
        return false;
    if (gw && (!chan_make(net.Krb, n, l, "Krb") || !chan_make(net.Mrb, n, l, "Mrb"))) return false;
    return true;
}

void set_computational_nodes(channel_network &net) {
    for (int l = 1; l <= net.link_count; ++l) {
        const int type = net.link_type[l];
        const int nodes = net.node_count[l];
        const bool less_one = type == 1 || type == 5 || type == 6 || type == 8 || type == 9 ||
                              type == 12 || type == 14 || type == 20 || type == 21 || type == 30;
        int comp = less_one ? nodes - 1 : nodes;
        comp = std::clamp(comp, 0, net.max_node_count);
        net.comp_node_count[l] = comp;
        for (int n = 1; n <= comp; ++n) {
            // Lake and structure links have no point beyond their last node: that
            // node keeps its own bed.
            if (n + 1 <= nodes && n + 1 <= net.max_node_count)
                net.bel[n][l] = 0.5 * (net.bel[n][l] + net.bel[n + 1][l]);
            net.yp[n][l] = net.bel[n][l];
            net.qp[n][l] = 0.0;
        }
    }
}

bool copy_network_as_read(channel_network &net) {
    const long long l = net.link_count;
    if (!chan_make(net.og_node_count, l, "og_nx") || !chan_make(net.og_us_count, l, "og_nus") ||
        !chan_make(net.og_link_type, l, "og_link_type") ||
        !chan_make(net.og_uslinks, l, static_cast<long long>(net.uslinks.cols()), "og_uslinks"))
        return false;
    net.og_link_count = net.link_count;
    for (int k = 1; k <= net.link_count; ++k) {
        net.og_node_count[k] = net.comp_node_count[k];
        net.og_us_count[k] = net.us_count[k];
        net.og_link_type[k] = net.link_type[k];
        for (std::size_t j = 0; j <= net.uslinks.cols(); ++j)
            net.og_uslinks[static_cast<std::size_t>(k)][j] = net.uslinks[static_cast<std::size_t>(k)][j];
    }
    return true;
}

// Checks that hold for both forms of the file: every routed link has a positive
// node spacing (the routing divides by it), and the downstream links and upstream
// lists describe one tree: each link that names a downstream link is listed
// upstream of it, each listed upstream link drains into the link that lists it,
// and following the downstream links from any link ends at an outlet.
static bool check_network_links(const channel_network &net) {
    const int links = net.link_count;
    for (int l = 1; l <= links; ++l) {
        const int type = net.link_type[l];
        if (type == link_lake || type == link_structure) continue;
        if (!(net.dx[l] > 0.0)) {
            std::printf("Error in the channel input file: the node spacing (DX) of link %d is "
                        "%f; it must be above 0.\n",
                        l, net.dx[l]);
            chan_input_stop();
            return false;
        }
    }
    const auto lists = [&net](int down, int up) {
        for (int k = 1; k <= net.us_count[down]; ++k)
            if (net.uslinks[static_cast<std::size_t>(down)][static_cast<std::size_t>(k)] == up)
                return true;
        return false;
    };
    for (int l = 1; l <= links; ++l) {
        const int ds = net.ds_link[l];
        if (ds == l || (ds > 0 && !lists(ds, l))) {
            std::printf("Error in the channel input file: link %d drains into link %d, but "
                        "link %d does not list link %d among its upstream links.\n",
                        l, ds, ds, l);
            chan_input_stop();
            return false;
        }
        for (int k = 1; k <= net.us_count[l]; ++k) {
            const int u = net.uslinks[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)];
            if (u < 1 || u > links || net.ds_link[u] != l) {
                std::printf("Error in the channel input file: link %d lists link %d upstream, "
                            "but link %d does not drain into link %d.\n",
                            l, u, u, l);
                chan_input_stop();
                return false;
            }
        }
    }
    for (int l = 1; l <= links; ++l) {
        int at = l, steps = 0;
        while (at > 0 && steps <= links) {
            at = net.ds_link[at];
            ++steps;
        }
        if (at > 0) {
            std::printf("Error in the channel input file: the downstream links from link %d "
                        "form a loop and never reach an outlet.\n",
                        l);
            chan_input_stop();
            return false;
        }
    }
    return true;
}

int read_chan_input(std::FILE *file, model_state &state) {
    if (!file) return 0;
    std::rewind(file);
    std::string first;
    read_line(first, file);
    if (std::ferror(file)) {
        std::printf("Error: cannot read the channel input file %s\n",
                    state.channel_input_name.c_str());
        chan_input_stop();
        return 0;
    }
    std::size_t i = 0;
    while (i < first.size() && (first[i] == ' ' || first[i] == '\t')) ++i;
    std::size_t j = i;
    while (j < first.size() && first[j] != ' ' && first[j] != '\t') ++j;
    const std::string word = lower(first.substr(i, j - i));
    bool ok = false;
    if (word.compare(0, 10, "korva_chan") == 0 && word.size() >= 10) {
        ok = read_card_form(file, state);
    } else {
        std::rewind(file);
        ok = read_chan_numeric(file, state);
    }
    if (!ok || !check_network_links(state.channels)) return 0;
    return state.channels.lake_loss;
}
