// Contaminant blocks of the summary file: the overland mass account that the
// event summary and the end-of-run report share, and the constituent half of the
// event summary (overland, channel and lake blocks per contaminant), written by
// write_event_summary at the end of every event.
#include "model/contaminant_summaries.h"

#include <cstddef>

#include "model/event_summary.h"
#include "model/input/input_services.h"
#include "model/model_state.h"
#include "model/sediment/sediment_outputs.h"

namespace {

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

// Constituents whose rows and totals exist.
int summary_count(const model_state &s) {
    const int held = static_cast<int>(s.event_ov_mass_init.count());
    return s.constituent_count < held ? s.constituent_count : held;
}

// Sum of the cells of row k of a transport table, / 1000; with `skip_stream_cells`
// the cells whose water the channel network holds are left out.
double table_mass(const model_state &s, int table, int k, bool skip_stream_cells) {
    const double_table &t = s.transport_tables[at(table)];
    const double *row = table_value(k, t);
    if (!row) return 0.0;
    const int cells = s.cell_count < t.columns() ? s.cell_count : t.columns();
    double sum = 0.0;
    for (int i = 1; i <= cells; ++i)
        if (!(skip_stream_cells && constituent_stream_cell(s, i))) sum += row[i];
    return sum / 1000.0;
}

bool channels_carry(const model_state &s, int k) {
    const array_3d<double> &m = s.chan.chan_node_mass;
    return s.chan_con_trans && s.channels.link_count > 0 && !m.empty() && at(k) <= m.extent1();
}

// Mass of constituent k in the routed channel nodes now (/ 1000).
double channel_mass(const model_state &s, int k) {
    if (!channels_carry(s, k)) return 0.0;
    const channel_network &net = s.channels;
    const array_3d<double> &m = s.chan.chan_node_mass;
    double sum = 0.0;
    for (int l = 1; l <= net.link_count && at(l) <= m.extent3(); ++l) {
        if (!routed_link(net.link_type[at(l)])) continue;
        for (int n = 1; n <= routed_node_count(net, l) && at(n) <= m.extent2(); ++n) sum += m[at(k)][at(n)][at(l)];
    }
    return sum / 1000.0;
}

channel_work::mass_terms channel_event_terms(const model_state &s, int k) {
    const std::vector<channel_work::mass_terms> &e = s.chan.wq_event;
    return at(k) < e.size() ? e[at(k)] : channel_work::mass_terms{};
}

bool lakes_carry(const model_state &s, int k) {
    const array_2d<double> &m = s.chan.lake_mass, &c = s.chan.lake_conc;
    return s.chan_con_trans && s.channels.lake_count > 0 && !m.empty() && !c.empty() &&
           at(k) <= m.rows() && at(k) <= c.rows();
}

void write_overland_block(model_state &s, std::FILE *f, int k, const std::string &name) {
    std::fprintf(f, "Overland Contaminant Transport Summary for %s \n", name.c_str());
    std::fprintf(f, "Amounts are total for simulations in (Kg) \n \n");
    const overland_mass_account a = event_overland_account(s, k);
    write_overland_mass_lines(f, a, a.error_percent());
}

void write_channel_block(const model_state &s, std::FILE *f, int k, const std::string &name) {
    const channel_work::mass_terms t = channel_event_terms(s, k);
    std::fprintf(f, "Channel Contaminant Transport Summary for %s \n", name.c_str());
    std::fprintf(f, "Amounts are total for event in (Kg) \n \n");
    write_mass_line(f, "Mass from the overland", t.exchange);
    write_mass_line(f, "Mass from groundwater", t.groundwater);
    write_mass_line(f, "Mass decayed", t.decay);
    write_mass_line(f, "Mass out of the outlet", t.outlet);
    write_mass_line(f, "Mass added at negative nodes", t.clipped);
    write_mass_line(f, "Final mass in channels", channel_mass(s, k));
}

void write_lake_block(const model_state &s, std::FILE *f, int k) {
    const array_2d<double> &mass = s.chan.lake_mass, &conc = s.chan.lake_conc;
    std::fprintf(f, "Lake Contaminant Transport Summary for Constituent %5ld \n", static_cast<long>(k));
    for (int j = 1; j <= s.channels.lake_count && at(j) <= mass.cols() && at(j) <= conc.cols(); ++j) {
        std::fprintf(f, "Final Mass in lake %ld = %14.2lf \n", static_cast<long>(j),
                     mass[at(k)][at(j)] / 1000.0);
        std::fprintf(f, "Final Conc in lake %ld = %14.2lf \n \n", static_cast<long>(j),
                     conc[at(k)][at(j)]);
    }
}

void write_contaminant_event_blocks(model_state &s, std::FILE *f) {
    for (int k = 1; k <= summary_count(s); ++k) {
        const std::string name = contaminant_display_name(s, k);
        if (s.ov_con_trans_mode) write_overland_block(s, f, k, name);
        if (s.chan_con_trans) write_channel_block(s, f, k, name);
        if (lakes_carry(s, k)) write_lake_block(s, f, k);
    }
}

}  // namespace

double overland_mass_account::error_percent() const {
    const double in = initial + precipitation + point + exfiltrated + taken_up;
    const double gone = out + to_channels + decayed + infiltrated + final_mass;
    return in > 0.0 ? (in - gone) / in * 100.0 : 0.0;
}

void write_mass_line(std::FILE *f, const char *label, double value) {
    std::fprintf(f, "%-30s%14.2lf\n", label, value);
}

void write_overland_mass_lines(std::FILE *f, const overland_mass_account &a, double error_percent) {
    write_mass_line(f, "Initial mass on overland", a.initial);
    write_mass_line(f, "Final mass on overland", a.final_mass);
    write_mass_line(f, "Mass out of the watershed", a.out);
    write_mass_line(f, "Mass into the channels", a.to_channels);
    write_mass_line(f, "Mass decayed", a.decayed);
    write_mass_line(f, "Mass from point sources", a.point);
    write_mass_line(f, "Mass exfiltrated", a.exfiltrated);
    write_mass_line(f, "Mass from precipitation", a.precipitation);
    write_mass_line(f, "Mass infiltrated", a.infiltrated);
    write_mass_line(f, "Mass taken up", a.taken_up);
    write_mass_line(f, "Initial mass in land pool", a.land_initial);
    write_mass_line(f, "Final mass in land pool", a.land_final);
    std::fprintf(f, "Contam mass balance error     %14.2lf percent \n", error_percent);
}

overland_mass_account run_overland_account(model_state &s, int k) {
    overland_mass_account a;
    a.initial = s.OV_MASS_INIT[k];
    a.final_mass = s.OV_MASS_FINAL[k];
    a.out = s.OV_MASS_OUT[k];
    a.to_channels = s.OV_QLAT_MASS[k];
    a.decayed = s.OV_MASS_DECAY[k];
    a.point = s.OV_POINT_MASS[k];
    a.exfiltrated = s.OV_EXFIL_MASS[k];
    a.precipitation = s.OV_PRECIP_MASS[k];
    a.infiltrated = s.OV_INFIL_MASS[k];
    a.taken_up = s.OV_UPTAKE_MASS[k];
    a.land_initial = s.OV_LAND_MASS_INIT[k];
    a.land_final = s.OV_LAND_MASS_FINAL[k];
    return a;
}

overland_mass_account event_overland_account(model_state &s, int k) {
    overland_mass_account a;
    a.initial = s.event_ov_mass_init[k];
    a.final_mass = overland_water_mass(s, k);
    a.out = s.event_ov_mass_out[k];
    a.to_channels = s.event_ov_qlat_mass[k];
    a.decayed = s.event_ov_decay_mass[k];
    a.point = s.event_ov_point_mass[k];
    a.exfiltrated = s.event_ov_exfil_mass[k];
    a.precipitation = s.event_ov_precip_mass[k];
    a.infiltrated = s.event_ov_infil_mass[k];
    a.taken_up = s.event_ov_uptake_mass[k];
    a.land_initial = s.event_ov_land_mass[k];
    a.land_final = overland_land_mass(s, k);
    return a;
}

double overland_water_mass(const model_state &s, int k) {
    return table_mass(s, transport_table::mass, k, s.chan_explicit != 0);
}

double overland_land_mass(const model_state &s, int k) {
    return table_mass(s, transport_table::land_pool, k, false);
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
        for (checked_array<double> *t :
             {&s.event_ov_decay_mass, &s.event_ov_uptake_mass, &s.event_ov_infil_mass,
              &s.event_ov_exfil_mass, &s.event_ov_qlat_mass, &s.event_ov_mass_out,
              &s.event_ov_point_mass, &s.event_ov_precip_mass})
            (*t)[k] = 0.0;
        if (at(k) < s.chan.wq_event.size()) s.chan.wq_event[at(k)] = channel_work::mass_terms{};
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
