// Contaminant blocks of the summary file: the overland mass account that the
// event summary and the end-of-run report share, and the constituent half of the
// event summary (overland, channel and lake blocks per contaminant), written by
// write_event_summary at the end of every event.
#include "model/output/contaminant_summaries.h"

#include <cmath>
#include <cstddef>
#include <memory>

#include "model/constituents/constituent_transport.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/output/event_summary.h"
#include "model/input/input_services.h"
#include "model/constituents/lake_constituents.h"
#include "model/core/mass_ledger.h"
#include "model/core/model_state.h"
#include "model/sediment/sediment_outputs.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

// Constituents whose rows and totals exist.
int summary_count(const model_state &s) {
    const int held = static_cast<int>(s.event_ov_mass_init.count());
    return s.constituent_count < held ? s.constituent_count : held;
}

// Sum of the cells of row k of a transport table, / 1000.
double table_mass(const model_state &s, int table, int k) {
    const double_table &t = s.transport_tables[at(table)];
    const double *row = table_value(k, t);
    if (!row) return 0.0;
    const int cells = s.cell_count < t.columns() ? s.cell_count : t.columns();
    double sum = 0.0;
    for (int i = 1; i <= cells; ++i) sum += row[i];
    return sum / 1000.0;
}

bool channels_carry(const model_state &s, int k) {
    const array_3d<double> &m = s.chan.chan_node_mass;
    return s.chan_con_trans && s.channels.link_count > 0 && !m.empty() && at(k) <= m.extent1();
}

bool lakes_carry(const model_state &s, int k) {
    const array_2d<double> &m = s.chan.lake_mass, &c = s.chan.lake_conc;
    return s.chan_con_trans && s.channels.lake_count > 0 && !m.empty() && !c.empty() &&
           at(k) <= m.rows() && at(k) <= c.rows() && at(s.channels.lake_count) <= m.cols() &&
           at(s.channels.lake_count) <= c.cols();
}

// Masses of constituent k now in the routed channel nodes and in the lakes (/ 1000).
double channel_mass(const model_state &s, int k) {
    return channels_carry(s, k) ? channel_constituent_mass(s, k) / 1000.0 : 0.0;
}

double lake_mass(const model_state &s, int k) {
    return lakes_carry(s, k) ? lake_constituent_mass(s, k) / 1000.0 : 0.0;
}

template <class T>
T element_or_zero(const std::vector<T> &v, int k) {
    return k >= 0 && at(k) < v.size() ? v[at(k)] : T{};
}

void write_overland_block(model_state &s, std::FILE *f, int k, const std::string &name) {
    std::fprintf(f, "Overland Contaminant Transport Summary for %s \n", name.c_str());
    std::fprintf(f, "Amounts are total for simulations in (Kg) \n \n");
    const overland_mass_account a = event_overland_account(s, k);
    write_overland_mass_lines(f, a);
}

void write_channel_block(const model_state &s, std::FILE *f, int k, const std::string &name) {
    std::fprintf(f, "Channel Contaminant Transport Summary for %s \n", name.c_str());
    std::fprintf(f, "Amounts are total for event in (Kg) \n \n");
    write_channel_mass_lines(f, event_channel_account(s, k));
}

void write_contaminant_event_blocks(model_state &s, std::FILE *f) {
    for (int k = 1; k <= summary_count(s); ++k) {
        const std::string name = contaminant_display_name(s, k);
        if (s.ov_con_trans_mode) write_overland_block(s, f, k, name);
        if (s.chan_con_trans) write_channel_block(s, f, k, name);
        if (s.chan_con_trans) write_lake_mass_lines(f, s, k, event_channel_account(s, k));
    }
}

}  // namespace

mass_balance overland_mass_account::balance() const {
    mass_balance b;
    for (double m : {initial, precipitation, from_snow, point, exfiltrated, taken_up, from_lakes, from_pipes})
        b.in(m);
    for (double m : {out, to_channels, to_lakes, decayed, infiltrated, final_mass, to_pipes}) b.out(m);
    return b;
}

void write_balance_error(std::FILE *f, const char *label, int decimals, const mass_balance &b,
                         const char *tail) {
    if (b.measurable())
        std::fprintf(f, "%s%14.*lf percent %s", label, decimals, b.percent(), tail);
    else
        std::fprintf(f, "%s%14.6lf kg %s", label, b.unexplained(), tail);
}

void write_mass_line(std::FILE *f, const char *label, double value) {
    std::fprintf(f, "%-30s%14.2lf\n", label, value);
}

void write_overland_mass_lines(std::FILE *f, const overland_mass_account &a) {
    write_mass_line(f, "Initial mass on overland", a.initial);
    write_mass_line(f, "Final mass on overland", a.final_mass);
    write_mass_line(f, "Mass out of the watershed", a.out);
    write_mass_line(f, "Mass into the channels", a.to_channels);
    if (a.lakes) write_mass_line(f, "Mass into the lakes", a.to_lakes);
    if (a.pipes) {
        write_mass_line(f, "Mass into the pipes", a.to_pipes);
        write_mass_line(f, "Mass from the pipes", a.from_pipes);
    }
    write_mass_line(f, "Mass decayed", a.decayed);
    write_mass_line(f, "Mass from point sources", a.point);
    write_mass_line(f, "Mass exfiltrated", a.exfiltrated);
    write_mass_line(f, "Mass from precipitation", a.precipitation);
    if (a.snow) write_mass_line(f, "Mass from snowmelt", a.from_snow);
    write_mass_line(f, "Mass infiltrated", a.infiltrated);
    write_mass_line(f, "Mass taken up", a.taken_up);
    write_mass_line(f, "Initial mass in land pool", a.land_initial);
    write_mass_line(f, "Final mass in land pool", a.land_final);
    if (a.overland_lakes) {
        write_mass_line(f, "Mass from the overland lakes", a.from_lakes);
        write_mass_line(f, "Final mass in overland lakes", a.overland_lake_mass);
    }
    write_balance_error(f, "Contam mass balance error     ", 2, a.balance(), "\n");
}

namespace {

void add_lake_terms(const model_state &s, int k, double to_lakes, double from_lakes,
                    overland_mass_account &a) {
    a.from_lakes = from_lakes;
    a.overland_lakes = s.overland_lake_on && s.overland_lake_count > 0;
    a.lakes = a.overland_lakes || s.channels.lake_count > 0;
    a.to_lakes = to_lakes;
    a.overland_lake_mass = overland_lake_constituent_mass(s, k) / 1000.0;
}

}  // namespace

namespace {

// The flows of constituent k's ledger over the run, or since an event's mark: net
// from one node to another (a step that moved mass back counts against the flow,
// as its step total did), or one way only for the pair that keeps both ways apart.
struct mass_flows {
    const water_ledger &ledger;
    const ledger_totals *since = nullptr;
    double one_way(ledger_node from, ledger_node to) const {
        return since ? ledger.moved_since(*since, from, to) : ledger.moved(from, to);
    }
    double operator()(ledger_node from, ledger_node to) const { return one_way(from, to) - one_way(to, from); }
};

const ledger_totals *event_mark(const model_state &s, int k) {
    static const ledger_totals none;
    return at(k) < s.constituent_event_marks.size() ? &s.constituent_event_marks[at(k)] : &none;
}

// The overland terms of an account from the ledger's flows.
void add_overland_flows(const model_state &s, int k, const mass_flows &m, overland_mass_account &a) {
    using n = ledger_node;
    a.out = m(n::surface, n::outlet);
    a.to_channels = m(n::surface, n::cells_to_channels) + m(n::surface, n::channels);
    a.decayed = m(n::surface, n::transformation);
    a.point = m(n::point_sources, n::surface);
    a.exfiltrated = m.one_way(constituent_soil_node(s), n::surface);
    a.precipitation = m(n::atmosphere, n::surface);
    a.infiltrated = m.one_way(n::surface, constituent_soil_node(s));
    a.taken_up = m(n::land_pool, n::surface);
    a.from_snow = m(n::snow, n::surface);
    a.pipes = s.storm_sewer_on != 0;
    a.to_pipes = m.one_way(n::surface, n::pipes);
    a.from_pipes = m.one_way(n::pipes, n::surface);
    a.snow = !s.snow_store.empty() || m.one_way(n::atmosphere, n::snow) > 0.0;
    add_lake_terms(s, k,
                   m.one_way(n::surface, n::overland_lakes) + m(n::surface, n::cells_to_lakes) +
                       m(n::surface, n::channel_lakes),
                   m.one_way(n::overland_lakes, n::surface), a);
}

// The channel and lake terms of an account from the ledger's flows.
channel_work::mass_terms channel_terms(const mass_flows &m) {
    using n = ledger_node;
    channel_work::mass_terms r;
    r.exchange = m(n::cells_to_channels, n::channels);
    r.groundwater = m(n::aquifer, n::channels);
    r.point = m(n::point_sources, n::channels);
    r.clipped = m(n::mass_cleanup, n::channels);
    r.pipes = m(n::pipes, n::channels);
    r.outlet = m(n::channels, n::outlet);
    r.decay = m(n::channels, n::transformation);
    r.lake_in = m.one_way(n::channels, n::channel_lakes);
    r.lake_out = m.one_way(n::channel_lakes, n::channels);
    r.lake_overland = m(n::cells_to_lakes, n::channel_lakes);
    r.lake_exchange = m(n::cells_to_channels, n::channel_lakes);
    r.lake_rain = m(n::atmosphere, n::channel_lakes);
    r.lake_groundwater = m(n::aquifer, n::channel_lakes);
    r.lake_point = m(n::point_sources, n::channel_lakes);
    r.lake_decay = m(n::channel_lakes, n::transformation);
    r.lake_refused = m(n::mass_cleanup, n::cells_to_lakes);
    return r;
}

}  // namespace

overland_mass_account run_overland_account(model_state &s, int k) {
    overland_mass_account a;
    a.initial = s.OV_MASS_INIT[k];
    a.final_mass = s.OV_MASS_FINAL[k];
    a.land_initial = s.OV_LAND_MASS_INIT[k];
    a.land_final = s.OV_LAND_MASS_FINAL[k];
    add_overland_flows(s, k, mass_flows{mass_ledger(s, k)}, a);
    return a;
}

overland_mass_account event_overland_account(model_state &s, int k) {
    overland_mass_account a;
    a.initial = s.event_ov_mass_init[k];
    a.final_mass = overland_water_mass(s, k);
    a.land_initial = s.event_ov_land_mass[k];
    a.land_final = overland_land_mass(s, k);
    add_overland_flows(s, k, mass_flows{mass_ledger(s, k), event_mark(s, k)}, a);
    return a;
}

mass_sources_account global_mass_sources(const model_state &s, int k) {
    using n = ledger_node;
    const mass_flows m{mass_ledger(s, k)};
    mass_sources_account a;
    a.point = m(n::point_sources, n::surface) + m(n::point_sources, n::channels) +
              m(n::point_sources, n::channel_lakes);
    a.precipitation = m(n::atmosphere, n::surface) + m(n::atmosphere, n::channel_lakes);
    a.groundwater = m(n::aquifer, n::channels) + m(n::aquifer, n::channel_lakes);
    return a;
}

double overland_water_mass(const model_state &s, int k) {
    return table_mass(s, transport_table::mass, k);
}

double overland_land_mass(const model_state &s, int k) {
    return table_mass(s, transport_table::land_pool, k);
}

void write_channel_mass_lines(std::FILE *f, const channel_mass_account &a) {
    const channel_work::mass_terms &r = a.terms;
    write_mass_line(f, "Initial mass in channels", a.channel_initial);
    write_mass_line(f, "Final mass in channels", a.channel_final);
    write_mass_line(f, "Mass from the overland", r.exchange);
    write_mass_line(f, "Mass from point sources", r.point);
    write_mass_line(f, "Mass from groundwater", r.groundwater);
    write_mass_line(f, "Mass added by the clean-up", r.clipped);
    if (a.pipes) write_mass_line(f, "Mass from the pipes", r.pipes);
    write_mass_line(f, "Mass out of the outlet", r.outlet);
    write_mass_line(f, "Mass decayed", r.decay);
}

void write_lake_mass_lines(std::FILE *f, const model_state &s, int k, const channel_mass_account &a) {
    if (!lakes_carry(s, k)) return;
    const channel_work::mass_terms &r = a.terms;
    std::fprintf(f, "Lake Contaminant Transport Summary for Constituent %5ld \n", static_cast<long>(k));
    write_mass_line(f, "Initial mass in lakes", a.lake_initial);
    write_mass_line(f, "Final mass in lakes", a.lake_final);
    write_mass_line(f, "Mass from the channels", r.lake_in);
    write_mass_line(f, "Mass to the channels", r.lake_out);
    write_mass_line(f, "Mass from the overland", r.lake_overland + r.lake_exchange);
    write_mass_line(f, "Mass from precipitation", r.lake_rain);
    write_mass_line(f, "Mass from groundwater", r.lake_groundwater);
    write_mass_line(f, "Mass decayed", r.lake_decay);
    write_mass_line(f, "Mass the lakes could not give", r.lake_refused);
    const array_2d<double> &mass = s.chan.lake_mass, &conc = s.chan.lake_conc;
    for (int j = 1; j <= s.channels.lake_count; ++j) {
        std::fprintf(f, "Final Mass in lake %ld = %14.2lf \n", static_cast<long>(j),
                     mass[at(k)][at(j)] / 1000.0);
        std::fprintf(f, "Final Conc in lake %ld = %14.2lf \n \n", static_cast<long>(j),
                     conc[at(k)][at(j)]);
    }
}

channel_mass_account run_channel_account(const model_state &s, int k) {
    const channel_work &w = s.chan;
    channel_mass_account a;
    a.channel_initial = element_or_zero(w.wq_channel_mass_initial, k) / 1000.0;
    a.channel_final = channel_mass(s, k);
    a.lake_initial = w.lake_mass_initial.empty() || at(k) > w.lake_mass_initial.last()
                         ? 0.0
                         : w.lake_mass_initial[at(k)];
    a.lake_final = lake_mass(s, k);
    a.terms = channel_terms(mass_flows{mass_ledger(s, k)});
    a.pipes = s.storm_sewer_on != 0;
    return a;
}

channel_mass_account event_channel_account(const model_state &s, int k) {
    const channel_work &w = s.chan;
    channel_mass_account a;
    a.channel_initial = element_or_zero(w.wq_event_channel_initial, k);
    a.channel_final = channel_mass(s, k);
    a.lake_initial = element_or_zero(w.wq_event_lake_initial, k);
    a.lake_final = lake_mass(s, k);
    a.terms = channel_terms(mass_flows{mass_ledger(s, k), event_mark(s, k)});
    a.pipes = s.storm_sewer_on != 0;
    return a;
}

std::string contaminant_display_name(const model_state &s, int k) {
    if (k >= 1 && at(k) < s.contaminant_descriptions.size() &&
        !s.contaminant_descriptions[at(k)].empty())
        return s.contaminant_descriptions[at(k)];
    char name[32];
    std::snprintf(name, sizeof name, "Contaminant %5d", k);
    return name;
}

void start_next_constituent_event(model_state &s) {
    for (int k = 1; k <= summary_count(s); ++k) {
        s.event_ov_mass_init[k] = overland_water_mass(s, k);
        s.event_ov_land_mass[k] = overland_land_mass(s, k);
        if (s.constituent_event_marks.size() <= at(k)) s.constituent_event_marks.resize(at(k) + 1);
        s.constituent_event_marks[at(k)] = mass_ledger(s, k).mark();
        channel_work &w = s.chan;
        if (at(k) < w.wq_event_channel_initial.size()) w.wq_event_channel_initial[at(k)] = channel_mass(s, k);
        if (at(k) < w.wq_event_lake_initial.size()) w.wq_event_lake_initial[at(k)] = lake_mass(s, k);
    }
}

void write_transport_event_summary(model_state &s) {
    std::FILE *f = s.summary_file;
    if (f && (s.ov_con_trans_mode || s.chan_con_trans)) {
        write_contaminant_event_blocks(s, f);
        start_next_constituent_event(s);
    }
    if (s.erosion.soil_erosion) write_sediment_event_summary(s, f);
}

mass_balance channel_balance(const channel_mass_account &a) {
    const channel_work::mass_terms &r = a.terms;
    mass_balance b;
    for (double m : {a.channel_initial, a.lake_initial, r.exchange, r.groundwater, r.point, r.clipped, r.pipes,
                     r.lake_overland, r.lake_exchange, r.lake_rain, r.lake_groundwater, r.lake_point})
        b.in(m);
    for (double m : {r.outlet, r.decay, r.lake_decay, a.channel_final, a.lake_final}) b.out(m);
    return b;
}

void write_channel_balance_error(std::FILE *f, const model_state &s, int k) {
    write_balance_error(f, "Channel contam mass balance error ", 6,
                        channel_balance(run_channel_account(s, k)), "\n\n");
}

double snow_constituent_mass(const model_state &s, int k) {
    return s.snow_store.empty() ? 0.0 : table_mass(s, transport_table::snow_mass, k);
}

namespace {

// The stores a constituent's mass can be held in; every other node of its
// ledger lies outside the model.
constexpr ledger_node held_in[] = {
    ledger_node::surface,  ledger_node::overland_lakes, ledger_node::channels,
    ledger_node::channel_lakes, ledger_node::snow,      ledger_node::land_pool,
    ledger_node::cells_to_channels, ledger_node::cells_to_lakes, ledger_node::pipes};

bool held(ledger_node x) {
    for (ledger_node h : held_in)
        if (h == x) return true;
    return false;
}

// Mass from outside node `x` into the model's stores and from them to `x`.
struct outside_flow {
    double in = 0.0, out = 0.0;
};
outside_flow flow_with(const water_ledger &l, ledger_node x) {
    outside_flow f;
    for (ledger_node h : held_in) {
        f.in += l.moved(x, h);
        f.out += l.moved(h, x);
    }
    return f;
}

}  // namespace

void write_global_mass_lines(std::FILE *f, model_state &s, int k) {
    using n = ledger_node;
    const water_ledger &l = mass_ledger(s, k);
    // The masses on their way from the cells to the channels and lakes, and in
    // the pipes, are what their ledger stores took in and did not give on.
    double final_mass = at(k) <= s.GLOBAL_MASS_FINAL.count() ? s.GLOBAL_MASS_FINAL[k] : 0.0;
    final_mass += l.net_into(n::cells_to_channels) + l.net_into(n::cells_to_lakes) + l.net_into(n::pipes);
    const double snow = snow_constituent_mass(s, k);
    const bool snow_run = !s.snow_store.empty();
    final_mass += snow;
    const double initial = at(k) <= s.GLOBAL_MASS_INIT.count() ? s.GLOBAL_MASS_INIT[k] : 0.0;
    mass_balance b;
    b.in(initial);
    b.out(final_mass);
    const outside_flow point = flow_with(l, n::point_sources), rain = flow_with(l, n::atmosphere);
    const outside_flow aquifer = flow_with(l, n::aquifer), outlet = flow_with(l, n::outlet);
    const outside_flow decay = flow_with(l, n::transformation), cleanup = flow_with(l, n::mass_cleanup);
    outside_flow soil;
    for (n x : {n::front_soil, n::root_zone, n::soil_columns, n::sacramento, n::sacramento_transit}) {
        const outside_flow o = flow_with(l, x);
        soil.in += o.in;
        soil.out += o.out;
    }
    write_mass_line(f, "Initial mass", initial);
    write_mass_line(f, "Final mass", final_mass);
    if (snow_run) write_mass_line(f, "Final mass in snow", snow);
    if (s.storm_sewer_on) write_mass_line(f, "Final mass in pipes", l.net_into(n::pipes));
    write_mass_line(f, "Mass from point sources", point.in - point.out);
    write_mass_line(f, "Mass from precipitation", rain.in - rain.out);
    write_mass_line(f, "Mass from groundwater", aquifer.in);
    write_mass_line(f, "Mass to groundwater", aquifer.out);
    write_mass_line(f, "Mass exfiltrated", soil.in);
    write_mass_line(f, "Mass infiltrated", soil.out);
    write_mass_line(f, "Mass out of the outlet", outlet.out - outlet.in);
    write_mass_line(f, "Mass decayed", decay.out - decay.in);
    write_mass_line(f, "Mass added by the clean-up", cleanup.in - cleanup.out);
    for (const outside_flow &o : {point, rain, aquifer, outlet, decay, cleanup, soil}) {
        b.in(o.in);
        b.out(o.out);
    }
    // Whatever else crossed the model's edge (none of the paths above).
    double other = 0.0;
    for (std::size_t x = 0; x < ledger_node_count; ++x) {
        const n node = static_cast<n>(x);
        if (held(node)) continue;
        const outside_flow o = flow_with(l, node);
        other += o.out - o.in;
    }
    for (const outside_flow &o : {point, rain, aquifer, outlet, decay, cleanup, soil}) other -= o.out - o.in;
    if (std::fabs(other) >= mass_balance::near_zero_input) {
        write_mass_line(f, "Mass out by other paths", other);
        b.out(other);
    }
    write_balance_error(f, "Global contam mass balance error ", 6, b, "\n\n");
}

void open_contaminant_series(model_state &s) {
    // The nutrient species write their own series.
    if ((!s.ov_con_trans_mode && !s.chan_con_trans) || s.nutrients_on) return;
    const int count = s.constituent_count;
    s.contaminant_series.clear();
    s.contaminant_series.resize(at(count) + 1);
    for (int k = 1; k <= count; ++k) {
        // The first contaminant's file is the contaminant output file (its row's
        // name, else "con_output").
        std::string name = k == 1 ? s.constituent_output_name : std::string();
        if (k > 1 && at(k) < s.contaminant_output_files.size()) name = s.contaminant_output_files[at(k)];
        if (name.empty()) continue;
        auto slot = std::make_unique<owned_file>();
        std::FILE *shared = k == 1 ? s.chan.con_output.file : nullptr;
        std::FILE *f = shared ? shared : open_run_file(name, "w");
        if (!f) {
            std::printf("Can't open %s to write the series of contaminant %s \n", name.c_str(),
                        contaminant_display_name(s, k).c_str());
            raise_printed_error();
            return;
        }
        std::fprintf(f, "# %s: time, concentration at the outlet (g/m3), mass out of the outlet "
                        "since the start (kg)\n",
                     contaminant_display_name(s, k).c_str());
        if (!shared) slot->file = f;
        s.contaminant_series[at(k)] = std::move(slot);
    }
}

namespace {

std::FILE *series_file(const model_state &s, int k) {
    if (at(k) >= s.contaminant_series.size() || !s.contaminant_series[at(k)]) return nullptr;
    std::FILE *own = s.contaminant_series[at(k)]->file;
    return own ? own : (k == 1 ? s.chan.con_output.file : nullptr);
}

double outlet_concentration(model_state &s, int k) {
    const channel_network &net = s.channels;
    if (channels_carry(s, k) && net.link_count >= 1) {
        const int l = net.link_count, n = net.comp_node_count[at(l)];
        const array_3d<double> &c = s.chan.chan_node_conc;
        if (n >= 1 && at(n) <= c.extent2() && at(l) <= c.extent3()) return c[at(k)][at(n)][at(l)];
        return 0.0;
    }
    const double *c = s.ov_con_trans_mode ? constituent_row(s, transport_table::concentration, k) : nullptr;
    return c && s.outlet_cell >= 1 && s.outlet_cell <= s.cell_count ? c[s.outlet_cell] : 0.0;
}

}  // namespace

void write_contaminant_series(model_state &s) {
    const double time = s.long_term ? s.longterm_date_number : s.elapsed_minutes;
    for (int k = 1; at(k) < s.contaminant_series.size(); ++k) {
        std::FILE *f = series_file(s, k);
        if (!f) continue;
        const water_ledger &l = mass_ledger(s, k);
        using n = ledger_node;
        const double out = l.net(n::surface, n::outlet) + l.net(n::channels, n::outlet) +
                           l.net(n::pipes, n::outlet);
        std::fprintf(f, "%16.8lf %14.6lf %14.6lf\n", time, outlet_concentration(s, k), out);
    }
}
