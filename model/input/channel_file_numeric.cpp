// Reader of the numeric form of the channel input file: the short or long
// header, link and connectivity lines and the node lines of each link type, then
// the finishing steps shared with the card form. Called by read_chan_input.
#include "model/input/channel_file_numeric.h"

#include <cerrno>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/channel/channel_network.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/channel_file.h"
#include "model/input/grid_stream.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"

namespace {

// The numbers of the file, read free-format from the top.
struct number_stream {
    std::vector<std::string> tokens;
    std::size_t at = 0;

    void load(std::FILE *file) {
        std::string line;
        while (read_line(line, file)) {
            std::size_t i = 0;
            while (i < line.size()) {
                while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
                    ++i;
                std::size_t j = i;
                while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r')
                    ++j;
                if (j > i) tokens.push_back(line.substr(i, j - i));
                i = j;
            }
        }
    }
    bool next(std::string &token, const char *what) {
        if (at >= tokens.size()) {
            std::printf("Error in the numeric channel input file: the file ends before %s.\n",
                        what);
            chan_input_stop();
            return false;
        }
        token = tokens[at++];
        return true;
    }
    bool real(double &v, const char *what) {
        std::string t;
        if (!next(t, what)) return false;
        char *end = nullptr;
        errno = 0;
        v = std::strtod(t.c_str(), &end);
        if (end == t.c_str() || *end != '\0' || errno == ERANGE || !std::isfinite(v)) {
            std::printf("Error in the numeric channel input file: \"%s\" is not a number (%s).\n",
                        t.c_str(), what);
            chan_input_stop();
            return false;
        }
        return true;
    }
    bool integer(int &v, const char *what) {
        std::string t;
        if (!next(t, what)) return false;
        char *end = nullptr;
        errno = 0;
        const long x = std::strtol(t.c_str(), &end, 10);
        if (end == t.c_str() || *end != '\0' || errno != 0 || x < INT_MIN || x > INT_MAX) {
            std::printf("Error in the numeric channel input file: \"%s\" is not a whole number "
                        "(%s).\n",
                        t.c_str(), what);
            chan_input_stop();
            return false;
        }
        v = static_cast<int>(x);
        return true;
    }
};

bool bad_link_value(const char *what, int value, int high) {
    std::printf("Error in the numeric channel input file: %s %d is outside 1 to %d.\n", what,
                value, high);
    chan_input_stop();
    return false;
}

// The short kind: the fifth line begins with two integers.
bool short_kind(std::FILE *file) {
    std::string line;
    for (int i = 1; i <= 5; ++i)
        if (!read_line(line, file)) return false;
    int a = 0, b = 0;
    return std::sscanf(line.c_str(), "%d %d", &a, &b) == 2;
}

bool read_header(number_stream &in, channel_network &net, bool short_form, double &dx,
                 double &n) {
    double w4 = 1.0, v = 0.0;
    if (short_form) {
        net.alpha = net.beta = net.theta = 1.0;
        n = 0.01;
        if (!in.real(dx, "the node spacing") || !in.real(v, "the second header value"))
            return false;
    } else {
        if (!in.real(net.alpha, "alpha") || !in.real(net.beta, "beta") ||
            !in.real(net.theta, "theta") || !in.real(dx, "the node spacing") ||
            !in.real(w4, "the fourth weight") || !in.real(n, "Manning's n") ||
            !in.real(v, "the seventh header value"))
            return false;
    }
    if (!in.integer(net.link_count, "the link count") ||
        !in.integer(net.max_node_count, "the maximum node count"))
        return false;
    if (!check_network_size(net) || !check_manning_n(n, 1)) return false;
    // Counts larger than the rest of the file can hold are refused before anything
    // is sized by them: a link takes at least eight numbers (its type and
    // connectivity lines), a node after the first at least two.
    const std::size_t left = in.tokens.size() - in.at;
    const struct {
        const char *what;
        int count;
        std::size_t fits;
    } counts[2] = {{"the link count", net.link_count, left / 8},
                   {"the maximum node count", net.max_node_count, left / 2 + 1}};
    for (const auto &c : counts) {
        if (static_cast<std::size_t>(c.count) <= c.fits) continue;
        std::printf("Error in the numeric channel input file: %s %d is more than the %zu numbers "
                    "after it can hold.\n",
                    c.what, c.count, left);
        chan_input_stop();
        return false;
    }
    return true;
}

bool read_links(number_stream &in, channel_network &net) {
    net.max_upstream = 3;
    if (!chan_make(net.uslinks, net.link_count, 3, "uslinks")) return false;
    for (int k = 1; k <= net.link_count; ++k) {
        int l = 0, type = 0, count = 0;
        if (!in.integer(l, "a link number") || !in.integer(type, "a link type") ||
            !in.integer(count, "an upstream count"))
            return false;
        if (l < 1 || l > net.link_count) return bad_link_value("link", l, net.link_count);
        if (count < 0 || count > 3) {
            std::printf("Error in the numeric channel input file: link %d has %d upstream links "
                        "(0 to 3 allowed).\n",
                        l, count);
            chan_input_stop();
            return false;
        }
        int l2 = 0, ds = 0, count2 = 0, spare = 0;
        int up[4] = {0, 0, 0, 0};
        if (!in.integer(l2, "the connectivity link") || !in.integer(ds, "a downstream link") ||
            !in.integer(count2, "the connectivity count") || !in.integer(up[1], "an upstream link") ||
            !in.integer(up[2], "an upstream link"))
            return false;
        if (count == 3 && !in.integer(up[3], "an upstream link")) return false;
        if (!in.integer(spare, "the last connectivity value")) return false;
        if (l2 != l || count2 != count) {
            std::printf("Error in the numeric channel input file: the connectivity line of link "
                        "%d reads link %d with %d upstream links.\n",
                        l, l2, count2);
            chan_input_stop();
            return false;
        }
        if (ds < 0 || ds > net.link_count) {
            std::printf("Error in the numeric channel input file: link %d drains to link %d, "
                        "outside 0 to %d.\n",
                        l, ds, net.link_count);
            chan_input_stop();
            return false;
        }
        net.link_type[l] = type;
        net.ds_link[l] = ds;
        net.us_count[l] = count;
        for (int u = 1; u <= count; ++u) {
            if (up[u] < 1 || up[u] > net.link_count)
                return bad_link_value("upstream link", up[u], net.link_count);
            net.uslinks[l][u] = up[u];
        }
    }
    return true;
}

// One node line of link l, node n, in the layout of the link's type.
bool read_node_line(number_stream &in, channel_network &net, int l, int n, bool exchange) {
    const int type = net.link_type[l];
    double skip = 0.0, v[6] = {0, 0, 0, 0, 0, 0};
    int table = 0;
    const std::string where = "node " + std::to_string(n) + " of link " + std::to_string(l);
    const std::string value_name = "a node value of " + where;
    const char *value_what = value_name.c_str();
    auto reals = [&](int count) {
        for (int i = 0; i < count; ++i)
            if (!in.real(v[i], value_what)) return false;
        return true;
    };
    switch (type) {
    case 1:
    case 2:
    case 3:
        if (!in.real(skip, value_what) || !reals(4)) return false;
        net.bottom[n][l] = v[0], net.bankfull_dep[n][l] = v[1], net.sslope[n][l] = v[2];
        net.bel[n][l] = v[3];
        return true;
    case 9:
        if (!in.real(skip, value_what) || !reals(5)) return false;
        net.bottom[n][l] = v[0], net.bankfull_dep[n][l] = v[1], net.sslope[n][l] = v[2];
        net.sslope2[n][l] = v[3], net.bel[n][l] = v[4];
        return true;
    case 10:
        if (!in.real(skip, value_what) || !reals(6)) return false;
        net.bottom[n][l] = v[0], net.bankfull_dep[n][l] = v[1], net.sslope[n][l] = v[2];
        net.slot_wid[n][l] = v[3], net.slot_dep[n][l] = v[4];
        net.bel[n][l] = v[5] - v[4];
        return true;
    case 30:
        if (!in.real(skip, value_what) || !reals(5)) return false;
        net.bottom[n][l] = v[0], net.bankfull_dep[n][l] = v[1], net.sslope[n][l] = v[2];
        net.max_eros[n][l] = v[3], net.bel[n][l] = v[4];
        return true;
    case 12:
        if (!in.real(skip, value_what) || !reals(exchange ? 6 : 4)) return false;
        net.bottom[n][l] = v[0], net.bankfull_dep[n][l] = v[1], net.sslope[n][l] = v[2];
        net.bel[n][l] = v[3];
        if (exchange) net.Krb[n][l] = v[4], net.Mrb[n][l] = v[5];
        return true;
    case 8:
        if (!in.integer(table, value_what) || !reals(1)) return false;
        net.table_num[n][l] = table, net.bel[n][l] = v[0];
        return true;
    case 11:
        if (!in.integer(table, value_what) || !reals(3)) return false;
        net.table_num[n][l] = table, net.slot_wid[n][l] = v[0], net.slot_dep[n][l] = v[1];
        net.bel[n][l] = v[2] - v[1];
        return true;
    case 13:
        if (!in.integer(table, value_what) || !reals(exchange ? 3 : 1)) return false;
        net.table_num[n][l] = table, net.bel[n][l] = v[0];
        if (exchange) net.Krb[n][l] = v[1], net.Mrb[n][l] = v[2];
        return true;
    case 4:
        if (n == 1) return true;  // a lake link's first node has no line
        return reals(2);          // two values of the lake link, not kept
    default:
        std::printf("Error in the numeric channel input file: link %d has type %d, which has no "
                    "node layout in this file form.\n",
                    l, type);
        chan_input_stop();
        return false;
    }
}

bool read_nodes(number_stream &in, channel_network &net, bool exchange) {
    std::vector<char> seen(static_cast<std::size_t>(net.link_count) + 1, 0);
    for (int k = 1; k <= net.link_count; ++k) {
        int l = 0, nodes = 0;
        if (!in.integer(l, "a link number") || !in.integer(nodes, "a node count")) return false;
        if (l < 1 || l > net.link_count) return bad_link_value("link", l, net.link_count);
        if (nodes < 1 || nodes > net.max_node_count)
            return bad_link_value("node count", nodes, net.max_node_count);
        if (seen[static_cast<std::size_t>(l)] || net.link_type[l] == 0) {
            std::printf("Error in the numeric channel input file: the nodes of link %d are given "
                        "twice or for a link without a type line.\n",
                        l);
            chan_input_stop();
            return false;
        }
        seen[static_cast<std::size_t>(l)] = 1;
        net.node_count[l] = nodes;
        for (int n = 1; n <= nodes; ++n)
            if (!read_node_line(in, net, l, n, exchange)) return false;
    }
    return true;
}

}  // namespace

bool read_chan_numeric(std::FILE *file, model_state &s) {
    channel_network &net = s.channels;
    std::rewind(file);
    const bool short_form = short_kind(file);
    std::rewind(file);
    number_stream in;
    in.load(file);
    double dx = 0.0, n = 0.0;
    if (!read_header(in, net, short_form, dx, n)) return false;
    if (!make_link_arrays(net) || !read_links(in, net)) return false;
    const bool exchange = s.stream_loss != 0;
    bool slots = false;
    for (int l = 1; l <= net.link_count; ++l) {
        if (net.link_type[l] == 0) {
            std::printf("Error in the numeric channel input file: link %d has no type line.\n", l);
            chan_input_stop();
            return false;
        }
        slots = slots || net.link_type[l] == 10 || net.link_type[l] == 11;
        net.dx[l] = dx;
        net.manning_n[l] = n;
        net.kconv[l] = 1.0 / n;
    }
    // make_node_arrays would replace the upstream lists, so keep them aside.
    array_2d<int> upstream = std::move(net.uslinks);
    if (!make_node_arrays(net, exchange)) return false;
    net.uslinks = std::move(upstream);
    if (slots && (!chan_make(net.slot_wid, net.max_node_count, net.link_count, "slot_wid") ||
                  !chan_make(net.slot_dep, net.max_node_count, net.link_count, "slot_dep")))
        return false;
    if (!read_nodes(in, net, exchange)) return false;
    if (exchange) {
        for (int l = 1; l <= net.link_count; ++l) {
            if (net.link_type[l] == 12 || net.link_type[l] == 13) continue;
            for (int k = 1; k <= net.max_node_count; ++k) {
                net.Krb[k][l] = s.k_river;
                net.Mrb[k][l] = s.channel_bed_thickness;
            }
        }
    }
    set_computational_nodes(net);
    if (s.non_ortho_channels) {
        read_grid_stream_file(s.stream_cell_file, s);
        if (error_record.fatal) return false;
    }
    return copy_network_as_read(net);
}
