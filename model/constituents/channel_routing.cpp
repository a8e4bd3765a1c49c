// Channel constituent routing: the per-node source terms drawn from their
// accumulators, decay and groundwater exchange mass, and the routing of one
// constituent over a channel routing interval with its own sub-steps (upwind
// advection and dispersion, a predictor and a repeated corrector).
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/channel/channel_network.h"
#include "model/constituents/channel_routing.h"
#include "model/constituents/constituent_transport.h"
#include "model/constituents/lake_constituents.h"
#include "model/core/errors.h"
#include "model/core/model_state.h"
#include "model/core/series.h"

namespace {



bool make(array_2d<double> &a, const channel_network &net, const char *name) {
    if (!a.empty() && a.rows() >= static_cast<std::size_t>(net.max_node_count)) return true;
    return alloc_2d_double(a, net.max_node_count, net.link_count, name) == 0;
}

// The end downstream of the face stored at (n, l) of a routed link.
face_end downstream_end(const channel_network &net, int l, int n) {
    if (n < routed_node_count(net, l)) {
        face_end e;
        e.n = n + 1;
        e.l = l;
        return e;
    }
    return chain_end(net, net.ds_link[l]);
}

}  // namespace

face_end chain_end(const channel_network &net, int d) {
    face_end e;
    for (int guard = 0; d >= 1 && guard < net.link_count; ++guard) {
        const int t = net.link_type[d];
        if (routed_link(t)) {
            e.n = 1;
            e.l = d;
            return e;
        }
        if (t == link_lake || t == link_taken_by_lake) {
            e.lake = lake_of_link(net, d);
            return e;
        }
        d = net.ds_link[d];
    }
    return e;
}

bool prepare_channel_wq(model_state &s) {
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    for (array_2d<double> *a : {&w.wq_conc0, &w.wq_mass0, &w.wq_conc, &w.wq_mass, &w.wq_conc_mid,
                                &w.wq_area_adt, &w.wq_delta, &w.wq_rate, &w.wq_disp, &w.face_volume,
                                &w.wq_previous_area})
        if (!make(*a, net, "channel constituent work")) {
            std::printf("Error: Attempting to allocate array of size 0\n");
            raise_printed_error();
            return false;
        }
    const int lakes = lake_constituents_on(s) ? net.lake_count : 0;
    for (array_1d<double> *a : {&w.wq_lake_volume0, &w.wq_lake_volume, &w.wq_lake_conc0,
                                &w.wq_lake_mass0, &w.wq_lake_rate, &w.wq_lake_in, &w.wq_lake_out}) {
        if (lakes < 1 || (!a->empty() && a->last() >= static_cast<std::size_t>(lakes))) continue;
        if (alloc_1d_double(*a, lakes) != 0) {
            raise_printed_error();
            return false;
        }
        // The volume at the last routing starts as the volume the lakes began with.
        if (a == &w.wq_lake_volume0)
            for (int j = 1; j <= lakes; ++j)
                (*a)[static_cast<std::size_t>(j)] = net.lakes[static_cast<std::size_t>(j)].initial_volume;
    }
    if (lakes >= 1 && s.lake_loss_flag && w.lake_gw_volume.empty() &&
        alloc_1d_double(w.lake_gw_volume, s.cell_count) != 0) {
        raise_printed_error();
        return false;
    }
    const std::size_t nc = static_cast<std::size_t>(s.constituent_count) + 1;
    if (w.wq_step.size() < nc) {
        w.wq_step.resize(nc);
        w.wq_outlet_pending.resize(nc, 0.0);
        // The masses the channels and lakes begin with join the run's initial mass.
        w.wq_channel_mass_initial.assign(nc, 0.0);
        w.wq_event_channel_initial.assign(nc, 0.0);
        w.wq_event_lake_initial.assign(nc, 0.0);
        for (int k = 1; k < static_cast<int>(nc); ++k) {
            w.wq_channel_mass_initial[static_cast<std::size_t>(k)] = channel_constituent_mass(s, k);
            w.wq_event_channel_initial[static_cast<std::size_t>(k)] = channel_constituent_mass(s, k) / 1000.0;
            if (!w.lake_mass_initial.empty())
                w.wq_event_lake_initial[static_cast<std::size_t>(k)] = w.lake_mass_initial[k];
            if (static_cast<std::size_t>(k) > s.GLOBAL_MASS_INIT.count()) continue;
            s.GLOBAL_MASS_INIT[k] += channel_constituent_mass(s, k) / 1000.0;
            if (!w.lake_mass_initial.empty()) s.GLOBAL_MASS_INIT[k] += w.lake_mass_initial[k];
        }
    }
    return true;
}

void channel_constituent_decay(model_state &s, int k, double dt) {
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    for (int l = net.link_count; l >= 1; --l) {
        const int t = net.link_type[l];
        if (t == link_weir || t == link_structure || t == link_taken_by_lake) continue;
        if (t == link_lake) {
            // A lake decays as a whole, its concentration over its volume.
            const int j = lake_of_link(net, l);
            if (j >= 1 && lake_constituents_on(s))
                w.lake_decay_mass[k][j] += w.lake_conc[k][j] *
                                           net.lakes[static_cast<std::size_t>(j)].volume *
                                           w.lake_decay_coef[k][j] * dt;
            continue;
        }
        for (int n = routed_node_count(net, l); n >= 1; --n) {
            const double a = w.area[n][l], ap = w.wq_previous_area[n][l];
            if (a < 0.0 || ap < 0.0) {
                std::printf("area negative");
                continue;
            }
            const double volume = net.dx[l] * std::min(a, ap);
            if (volume >= 1e-16)
                w.chan_mass[k][n][l] +=
                    volume * w.chan_node_conc[k][n][l] * w.chan_decay_coef[k][n][l] * dt;
            if (w.chan_mass[k][n][l] < 0.0) std::printf("decay negative");
        }
    }
}

void channel_gw_mass_exchange(model_state &s, int k, double dt) {
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    const grid_stream_data &g = net.gst;
    if (s.groundwater_on) {
        if (g.entry_count.empty() || w.gst_qriv_vol.empty()) return;
        for (int i = 1; i <= g.cell_count; ++i)
            for (int j = 1; j <= g.entry_count[i]; ++j) {
                const int l = g.gst_link[i][j], n = g.gst_node[i][j], c = g.gst_gnum[i][j];
                if (l < 1 || l > net.link_count || c < 1) continue;
                const int t = net.link_type[l];
                if (t == link_lake || t == link_structure || t == link_taken_by_lake) continue;
                if (!s.gw_boundary_code.empty() && s.gw_boundary_code[c] != 4)
                    continue;
                // The aquifer carries no constituent: inflow brings none, outflow
                // takes the node's concentration.
                const double flow = w.gst_qriv_vol[i][j];
                if (flow < 0.0) w.chan_gw_mass[k][n][l] += flow * w.chan_node_conc[k][n][l];
            }
        return;
    }
    if (w.qriv.empty()) return;
    for (int l = 1; l <= net.link_count; ++l) {
        const int t = net.link_type[l];
        if (t == link_lake || t == link_structure) continue;
        for (int n = 1; n <= routed_node_count(net, l); ++n) {
            const double q = w.qriv[n][l] * net.dx[l];  // per unit length times the spacing
            if (q < 0.0) w.chan_gw_mass[k][n][l] += q * w.chan_node_conc[k][n][l] * dt;
        }
    }
}

namespace {

// Mass that the point inputs of node (n, l) bring over dt seconds: the water of
// the channel point-input file carries its given concentration; water that a
// negative rate (of that file or of a POINTSOURCE series) takes leaves with the
// node's concentration. Series inflows carry no constituent.
double point_mass(const model_state &s, int k, int n, int l, double dt) {
    const channel_work &w = s.chan;
    const channel_network &net = s.channels;
    const double c = w.chan_node_conc[k][n][l];
    double mass = 0.0;
    if (!w.chan_point_Q.empty()) {
        const double q = w.chan_point_Q[n][l];
        if (std::fabs(q) > 1e-6) mass += q * dt * (q > 0.0 ? w.chan_point_conc[k][n][l] : c);
    }
    if (!net.stream_pointsource.empty() && net.stream_pointsource[n][l]) {
        const double q = time_series_value(net.stream_pointsource[n][l], s.now_days);
        if (q < 0.0) mass += q * dt * c;
    }
    return mass;
}

}  // namespace

double take_removal(double taken, double &accumulator, double &m) {
    if (taken > 0.0 && taken > m) {
        taken = m;
        accumulator = 0.0;
    } else {
        accumulator -= taken;
    }
    m -= taken;
    return taken;
}

double take_term(double taken, double &accumulator, double &m) {
    if (taken < 0.0 && -taken > m) {
        taken = -m;
        accumulator = 0.0;
    } else {
        accumulator -= taken;
    }
    m += taken;
    return taken;
}

double node_mass_sources(model_state &s, int k, int n, int l, int outlet, double dt) {
    channel_work &w = s.chan;
    channel_work::mass_terms &step = w.wq_step[static_cast<std::size_t>(k)];
    const double last = s.channel_constituent_clock.last;
    auto share = [&](double m) {
        return pool_depth_ratio(dt, s.now_days, s.time_tolerance_days, last, m);
    };
    double m = w.chan_node_mass[k][n][l];
    const double m_start = m;
    double out = 0.0, exchange = 0.0, gw = 0.0, decay = 0.0, point = 0.0;
    if (outlet) {
        double &pending = w.wq_outlet_pending[static_cast<std::size_t>(k)];
        out = take_removal(share(pending), pending, m);
        step.outlet += out;
    }
    auto draw = [&](double &acc, double &taken, double &total) {
        taken = take_term(share(acc), acc, m);
        total += taken;
    };
    draw(w.chan_qlat_mass[k][n][l], exchange, step.exchange);
    if (s.stream_loss) draw(w.chan_gw_mass[k][n][l], gw, step.groundwater);
    point = point_mass(s, k, n, l, dt);
    if (point < 0.0 && -point > m) point = -m;
    m += point;
    step.point += point;
    if (s.constituent_sources_on && s.constituent_type[k] == 1) {
        double &acc = w.chan_mass[k][n][l];
        decay = take_removal(share(acc), acc, m);
        step.decay += decay;
    }
    const double net_mass = exchange + gw + point - out - decay;
    if (!(dt > 0.0)) return 0.0;
    if (m_start + net_mass < 0.0) return -m_start / dt;
    return net_mass / dt;
}

namespace {

// Face fluxes of one sub-step from the node concentrations c and the lake
// concentrations at the start of the sub-step, scattered into the node mass
// changes and the lakes' inflow and outflow masses over the sub-step h.
void fluxes_and_changes(model_state &s, const array_2d<double> &c, double h, double dt) {
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    array_2d<double> &delta = w.wq_delta;
    const bool lakes = lake_constituents_on(s);
    for (int l = 1; l <= net.link_count; ++l)
        for (int n = 1; n <= net.max_node_count; ++n) delta[n][l] = 0.0;
    if (lakes)
        for (int j = 1; j <= net.lake_count; ++j)
            w.wq_lake_in[static_cast<std::size_t>(j)] = w.wq_lake_out[static_cast<std::size_t>(j)] = 0.0;
    auto lake_conc = [&](int j) { return w.wq_lake_conc0[static_cast<std::size_t>(j)]; };
    for (int l = net.link_count; l >= 1; --l) {
        if (!routed_link(net.link_type[l])) continue;
        for (int n = routed_node_count(net, l); n >= 1; --n) {
            const face_end e = downstream_end(net, l, n);
            const double fv = w.face_volume[n][l];
            const double v = fv * h / dt;
            if (e.l >= 1) {
                const int dn = e.n, dl = e.l;
                double moved = 0.0;
                if (v > 0.0) moved = c[n][l] * v;
                else if (v < 0.0) moved = c[dn][dl] * v;
                const double au = w.wq_area_adt[n][l], ad = w.wq_area_adt[dn][dl];
                if (au > 0.0 && ad > 0.0) {
                    const double ed = std::min(w.wq_disp[n][l] * au, w.wq_disp[dn][dl] * ad);
                    moved += (c[n][l] - c[dn][dl]) * ed / net.dx[l] * h;
                }
                delta[n][l] -= moved;
                delta[dn][dl] += moved;
            } else if (lakes && e.lake >= 1 && std::fabs(fv) > 1e-16) {
                // Into a lake, or back out of it at the lake's concentration; no
                // dispersion with a lake.
                const double moved = v > 0.0 ? c[n][l] * v : lake_conc(e.lake) * v;
                delta[n][l] -= moved;
                w.wq_lake_in[static_cast<std::size_t>(e.lake)] += moved;
            }
        }
    }
    if (!lakes) return;
    // A lake drains through node 1 of its downstream link, into that link, or
    // through a weir or structure link into the first routed node or lake below.
    for (int l = 1; l <= net.link_count; ++l) {
        const int j = net.link_type[l] == link_lake ? lake_of_link(net, l) : 0;
        const int d = j >= 1 ? net.ds_link[l] : 0;
        if (d < 1 || d > net.link_count) continue;
        const double fv = w.face_volume[1][d];
        if (!(std::fabs(fv) >= 1e-16)) continue;
        const face_end e = routed_link(net.link_type[d]) ? face_end{0, 1, d} : chain_end(net, net.ds_link[d]);
        const double v = fv * h / dt;
        if (e.l >= 1) {
            const double moved = v > 0.0 ? lake_conc(j) * v : c[e.n][e.l] * v;
            w.wq_lake_out[static_cast<std::size_t>(j)] += moved;
            delta[e.n][e.l] += moved;
        } else if (e.lake >= 1 && e.lake != j) {
            const double moved = v > 0.0 ? lake_conc(j) * v : lake_conc(e.lake) * v;
            w.wq_lake_out[static_cast<std::size_t>(j)] += moved;
            w.wq_lake_in[static_cast<std::size_t>(e.lake)] += moved;
        }
    }
}

// Masses and concentrations from the start masses, the changes and the sources.
void update_nodes(model_state &s, array_2d<double> &conc, array_2d<double> &mass, double h) {
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    for (int l = 1; l <= net.link_count; ++l) {
        if (!routed_link(net.link_type[l])) continue;
        for (int n = 1; n <= routed_node_count(net, l); ++n) {
            const double m = w.wq_mass0[n][l] + w.wq_delta[n][l] + w.wq_rate[n][l] * h;
            const double volume = w.wq_area_adt[n][l] * net.dx[l];
            if (volume >= 1e-16) {
                mass[n][l] = m;
                conc[n][l] = m / volume;
            } else {
                mass[n][l] = 0.0;
                conc[n][l] = 0.0;
            }
        }
    }
}

template <class F>
void for_routed_nodes(const channel_network &net, F &&f) {
    for (int l = 1; l <= net.link_count; ++l) {
        if (!routed_link(net.link_type[l])) continue;
        for (int n = 1; n <= routed_node_count(net, l); ++n) f(n, l);
    }
}

}  // namespace

int channel_wq_route(model_state &s, int k, double dt) {
    const channel_network &net = s.channels;
    channel_work &w = s.chan;
    if (!prepare_channel_wq(s)) return -1;
    const bool lakes = lake_constituents_on(s);
    const int lake_count = lakes ? net.lake_count : 0;
    for_routed_nodes(net, [&](int n, int l) {
        w.wq_area_adt[n][l] = w.wq_previous_area[n][l];
        w.wq_conc0[n][l] = w.chan_node_conc[k][n][l];
        w.wq_mass0[n][l] = w.chan_node_mass[k][n][l];
        w.wq_disp[n][l] = w.chan_disp_coef[k][n][l];
    });
    auto lake_volume_change = [&](int j) {
        return net.lakes[static_cast<std::size_t>(j)].volume - w.wq_lake_volume0[static_cast<std::size_t>(j)];
    };
    for (int j = 1; j <= lake_count; ++j) {
        const std::size_t jj = static_cast<std::size_t>(j);
        w.wq_lake_volume[jj] = w.wq_lake_volume0[jj];
        w.wq_lake_conc0[jj] = w.lake_conc[k][j];
        w.wq_lake_mass0[jj] = w.lake_mass[k][j];
    }
    double remaining = dt, h = dt;
    int corrector_runs = 0;
    while (remaining > 1e-16) {
        double largest = 0.0;
        for_routed_nodes(net, [&](int n, int l) {
            const double v = w.wq_area_adt[n][l] * net.dx[l];
            const double f = std::fabs(w.face_volume[n][l]) * h / dt;
            double ratio = 0.0;
            if (v <= 1e-6) ratio = w.area[n][l] * net.dx[l] > 1e-6 ? 5.0 : f;
            else ratio = f / v;
            largest = std::max(largest, ratio);
        });
        if (largest > 0.5 && h > 0.1) h = std::max(0.1, 0.5 / largest * h);
        if (h > remaining) h = remaining;
        remaining -= h;
        for_routed_nodes(net, [&](int n, int l) {
            w.wq_area_adt[n][l] += (w.area[n][l] - w.wq_previous_area[n][l]) * h / dt;
        });
        for (int j = 1; j <= lake_count; ++j)
            w.wq_lake_volume[static_cast<std::size_t>(j)] += lake_volume_change(j) * h / dt;
        // Predictor.
        fluxes_and_changes(s, w.wq_conc0, h, dt);
        update_nodes(s, w.wq_conc, w.wq_mass, h);
        for_routed_nodes(net, [&](int n, int l) {
            if (w.wq_mass[n][l] < -1e-16) w.wq_mass[n][l] = 0.0;
            if (w.wq_conc[n][l] < -1e-16) w.wq_conc[n][l] = 0.0;
        });
        // Corrector with the mean of the start and the latest concentrations:
        // at least once in every sub-step, repeated while the concentrations
        // still move and the call has run it no more than 100 times.
        double change = 1.0;
        for (bool once = false; !once || (change > 1e-6 && corrector_runs <= 100);
             once = true, ++corrector_runs) {
            for_routed_nodes(net, [&](int n, int l) {
                w.wq_conc_mid[n][l] = 0.5 * (w.wq_conc0[n][l] + w.wq_conc[n][l]);
            });
            const array_2d<double> &mid = w.wq_conc_mid;
            fluxes_and_changes(s, mid, h, dt);
            // wq_conc_mid - wq_conc0 / 2 is half the previous repetition's value.
            update_nodes(s, w.wq_conc, w.wq_mass, h);
            change = 0.0;
            for_routed_nodes(net, [&](int n, int l) {
                const double before = 2.0 * w.wq_conc_mid[n][l] - w.wq_conc0[n][l];
                change = std::max(change, std::fabs(w.wq_conc[n][l] - before));
                if (w.wq_conc[n][l] < -1e-16) w.wq_conc[n][l] = 0.0;
            });
        }
        bool negative = false;
        for_routed_nodes(net, [&](int n, int l) { negative |= w.wq_mass[n][l] < -1e-6; });
        // A lake that would give more than it holds counts as a node would.
        for (int j = 1; j <= lake_count; ++j) {
            const std::size_t jj = static_cast<std::size_t>(j);
            negative |= w.wq_lake_mass0[jj] + w.wq_lake_in[jj] - w.wq_lake_out[jj] +
                            w.wq_lake_rate[jj] * h < -1e-6;
        }
        if (negative) {
            // Retry the sub-step from the last accepted state at half its length.
            for_routed_nodes(net, [&](int n, int l) {
                w.wq_area_adt[n][l] -= (w.area[n][l] - w.wq_previous_area[n][l]) * h / dt;
            });
            for (int j = 1; j <= lake_count; ++j)
                w.wq_lake_volume[static_cast<std::size_t>(j)] -= lake_volume_change(j) * h / dt;
            remaining += h;
            h *= 0.5;
            if (h < 0.001) {
                std::printf("The channel water quality routing time step is getting really small\n");
                std::printf("less than 1/1000 of a second\n");
                std::printf("Program stopped.\n");
                raise_printed_error();
                return -1;
            }
            continue;
        }
        // Small negative masses left by the scheme are lifted to 0; the mass this
        // creates is booked.
        double &clipped = w.wq_step[static_cast<std::size_t>(k)].clipped;
        for_routed_nodes(net, [&](int n, int l) {
            double &m = w.wq_mass[n][l], &c = w.wq_conc[n][l];
            if (m < -1e-16) {
                clipped -= m;
                m = 0.0;
            }
            if (c < -1e-16) c = 0.0;
            w.wq_mass0[n][l] = m;
            w.wq_conc0[n][l] = c;
        });
        if (lake_count > 0) lake_wq_update(s, k, h);
        if (corrector_runs > 100 && h > 0.1) h *= 0.5;
    }
    for_routed_nodes(net, [&](int n, int l) {
        w.chan_node_conc[k][n][l] = w.wq_conc0[n][l];
        w.chan_node_mass[k][n][l] = w.wq_mass0[n][l];
    });
    for (int j = 1; j <= lake_count; ++j) {
        w.lake_conc[k][j] = w.wq_lake_conc0[static_cast<std::size_t>(j)];
        w.lake_mass[k][j] = w.wq_lake_mass0[static_cast<std::size_t>(j)];
    }
    return 0;
}
