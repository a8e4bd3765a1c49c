// Link/node series files: headers, step blocks of the channel and pipe networks,
// and the opening of the constituent outputs after the inputs are read. Called by
// run_model (open_constituent_outputs, write_linknode_headers), by the time-series
// writer (steps) and by the end-of-run report (the flood stream's last block).
#include "model/output/link_node_series.h"
#include "model/output/contaminant_summaries.h"

#include <array>

#include "model/output/dataset_writer.h"
#include "model/core/calendar.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/output/map_writers.h"
#include "model/core/model_state.h"
#include "model/output/output_writers.h"

namespace {

const std::array<const char *, 16> titles = {{
    "KORVA_LINKNODE_STREAM_DEPTH", "KORVA_LINKNODE_STREAM_FLOW",
    "KORVA_LINKNODE_FLOOD_STREAM_DEPTH", "KORVA_LINKNODE_SUPERLINK_FLOW",
    "KORVA_LINKNODE_SUPERLINK_HEAD", "KORVA_LINKNODE_SUPERLINK_TILE_FLOW",
    "KORVA_LINKNODE_NO2", "KORVA_LINKNODE_NO3", "KORVA_LINKNODE_NH4", "KORVA_LINKNODE_ON",
    "KORVA_LINKNODE_OP", "KORVA_LINKNODE_DP", "KORVA_LINKNODE_PO4", "KORVA_LINKNODE_ALG",
    "KORVA_LINKNODE_CBOD", "KORVA_LINKNODE_DO",
}};

constexpr const char *no_value = "0  -999.999   ";

// The header gives the time of the first step: the start of the run as set up
// (with a rain file, its first record, whatever START_DATE / START_TIME say).
void write_header_into(model_state &s, std::FILE *f, int kind, int links, int times = -1,
                       int times_width = 0) {
    if (!f) return;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0.0;
    calendar_date(s.start_days, year, month, day, hour, minute, second);
    write_linknode_header(f, kind, links, linknode_time_step(s),
                          times < 0 ? linknode_output_times(s) : times, day, month, year, hour,
                          minute, times_width);
}

// Digits of a count of 0 or more.
int decimal_width(int n) {
    int width = 1;
    for (n /= 10; n > 0; n /= 10) ++width;
    return width;
}

// NUM_TS written again in place, as wide as the first header's (blanks after it).
void rewrite_header(model_state &s, std::FILE *f, const std::string &name, int kind, int links,
                    int written, int planned) {
    // A file without its header (a run refused before its start) is left alone.
    if (!f || std::fflush(f) != 0 || std::ftell(f) <= 0 || std::fseek(f, 0, SEEK_SET) != 0)
        return;
    write_header_into(s, f, kind, links, written, decimal_width(planned));
    if (std::fflush(f) != 0 || std::fseek(f, 0, SEEK_END) != 0) {
        std::printf("Error: unable to write the header of the series file %s again\n",
                    name.c_str());
        raise_printed_error();
    }
}

// Grid outputs in the order they are opened.
constexpr int opening_order[] = {
    grid_out_depth,   grid_out_discharge,         grid_out_rain,
    grid_out_infiltrated_depth, grid_out_infiltration_rate, grid_out_surface_moisture,
    grid_out_groundwater_head,  grid_out_sediment_flux,     grid_out_sediment_volume,
    grid_out_suspended_sediment, grid_out_contaminant,      grid_out_flood_grid,
};

// Extensions of a species' outputs; the overland ones are data sets in the order
// of the data-set table (dmdt, mass, conc).
constexpr const char *species_extensions[4] = {".dcdt", ".dmdt", ".mass", ".conc"};

}  // namespace

const char *linknode_title(int kind) {
    if (kind < 0 || kind > 15) return nullptr;
    return titles[static_cast<std::size_t>(kind)];
}

void write_linknode_header(std::FILE *f, int kind, int links, int time_step, int times, int day,
                           int month, int year, int hour, int minute, int times_width) {
    if (const char *title = linknode_title(kind)) std::fprintf(f, "%s\n", title);
    std::fprintf(f, "NUM_LINKS     %d\n", links);
    std::fprintf(f, "TIME_STEP     %d\n", time_step);
    std::fprintf(f, "NUM_TS        %-*d\n", times_width, times);
    std::fprintf(f, "START_TIME    %2d %2d %4d %2d %2d %2d\n", day, month, year, hour, minute, 0);
}

int linknode_time_step(const model_state &s) {
    const double minutes = static_cast<double>(s.hydrograph_interval_steps) * s.time_step / 60.0;
    // An interval shorter than one minute would give a zero divisor below.
    const int step = minutes >= 1.0 && minutes < 2.0e9 ? static_cast<int>(minutes) : 1;
    return step;
}

int linknode_output_times(const model_state &s) { return s.total_time / linknode_time_step(s); }

void open_linknode_series_file(model_state &, std::FILE *&slot, const std::string &name, int,
                               int) {
    slot = open_output_file(name, "w");
    if (!slot) {
        raise_error(59, {}, name);
        return;
    }
}

void write_linknode_step(std::FILE *f, int counter, const channel_network &net,
                         const array_2d<double> &first, const array_2d<double> &second,
                         int kind, std::span<const double> lake_values) {
    std::fprintf(f, "TS    %d\n", counter);
    for (int l = 1; l <= net.link_count; ++l) {
        const int type = int_at(net.link_type, l);
        if (type == 4) {
            if (kind != linknode_value_plain) {
                const int lake = int_at(net.link_lake, l);
                std::fprintf(f, "-1 %6.5lf   ", cell_value(lake_values, lake));
            } else {
                std::fprintf(f, "%s", no_value);
            }
        } else if (type == 40) {
            double v = 0.0;
            if (kind == linknode_value_plain && node_value(first, 1, l, v))
                std::fprintf(f, "-2  %6.5lf   ", v);
            else
                std::fprintf(f, "%s", no_value);
        } else {
            // The routed nodes of the link as read (a trapezoid link of NODES
            // points has one node fewer); the count is the number of values that
            // follow, and the last nodes, when a lake has taken them, have no value.
            const int positions = nodes_as_read(net, l);
            const int nodes = net.comp_node_count.empty() ? positions
                                                          : int_at(net.comp_node_count, l);
            std::fprintf(f, "%d   ", positions);
            for (int n = 1; n <= positions; ++n) {
                double a = 0.0, b = 0.0;
                if (n > nodes || !node_value(first, n, l, a)) {
                    std::fprintf(f, "%s", no_value);
                    continue;
                }
                double v = a;
                if (kind == linknode_value_difference) {
                    v = node_value(second, n, l, b) ? a - b : a;
                } else if (kind == linknode_value_ratio) {
                    // A dry node has no flow area: its velocity is 0.
                    v = node_value(second, n, l, b) && b > 0.0 ? a / b : 0.0;
                }
                std::fprintf(f, "1  %6.5lf   ", v);
            }
        }
        std::fprintf(f, "\n");
    }
    std::fprintf(f, "\n");
}

void write_linknode_step_simple(std::FILE *f, int counter, int links,
                                const array_1d<int> &node_count, const array_2d<double> &values) {
    std::fprintf(f, "TS    %d\n", counter);
    for (int l = 1; l <= links; ++l) {
        const int nodes = int_at(node_count, l);
        std::fprintf(f, "%d   ", nodes);
        for (int n = 1; n <= nodes; ++n) {
            double v = 0.0;
            node_value(values, n, l, v);
            std::fprintf(f, "1  %6.5lf   ", v);
        }
        std::fprintf(f, "\n");
    }
}

void write_linknode_headers(model_state &s) {
    const int links = s.channels.link_count;
    if (s.chan_explicit) {
        write_header_into(s, s.chan_depth_out_file, linknode_stream_depth, links);
        write_header_into(s, s.chan_discharge_out_file, linknode_stream_flow, links);
    }
    write_header_into(s, s.flood_stream_file, linknode_flood_stream_depth, links);
    if (s.storm_sewer_on) {
        const int pipes = s.superlinks.num_superlinks;
        write_header_into(s, s.pipe_flow_file, linknode_superlink_flow, pipes);
        write_header_into(s, s.pipe_head_file, linknode_superlink_head, pipes);
        write_header_into(s, s.pipe_tile_file, linknode_superlink_tile_flow, pipes);
    }
    for (int k = 0; k < nutrient_species_count; ++k)
        for (owned_file &slot : s.species_series_files[static_cast<std::size_t>(k)])
            write_header_into(s, slot.file, linknode_first_species + k, links);
}

void finish_linknode_headers(model_state &s) {
    // Blocks TS 0 (the start) to TS NUM_TS: a full run writes NUM_TS + 1 of them.
    const int planned = linknode_output_times(s);
    if (s.storm_sewer_on) {
        const int written = s.superlink_work.series_blocks - 1, pipes = s.superlinks.num_superlinks;
        if (written >= 0 && written < planned) {
            rewrite_header(s, s.pipe_flow_file, s.pipe_flow_name, linknode_superlink_flow, pipes,
                           written, planned);
            rewrite_header(s, s.pipe_head_file, s.pipe_head_name, linknode_superlink_head, pipes,
                           written, planned);
            rewrite_header(s, s.pipe_tile_file, s.pipe_tile_name, linknode_superlink_tile_flow,
                           pipes, written, planned);
        }
    }
    if (!s.chan_explicit) return;
    const int written = s.channel_series_blocks - 1;
    if (written < 0 || written >= planned) return;
    const int links = s.channels.link_count;
    rewrite_header(s, s.chan_depth_out_file, s.chan_depth_name, linknode_stream_depth, links,
                   written, planned);
    rewrite_header(s, s.chan_discharge_out_file, s.chan_discharge_name, linknode_stream_flow,
                   links, written, planned);
}

void open_species_output_files(model_state &s) {
    const nutrient_card_record *cards = s.project.nutrient_cards.get();
    if (!cards) return;
    for (int k = 0; k < nutrient_species_count; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        if (cards->overland_output[i].on) {
            for (int e = 1; e < 4; ++e) {
                const std::string name = cards->overland_output[i].file + species_extensions[e];
                if (s.nutrient_summary_file)
                    std::fprintf(s.nutrient_summary_file, "Opening file: %s\n", name.c_str());
                open_dataset_slot(s, overland_nutrient_dataset_base + 3 * k + (e - 1), name);
                if (error_record.code != 0) return;
            }
        }
        if (cards->stream_output[i].on) {
            for (int e = 0; e < 4; ++e) {
                const std::string name = cards->stream_output[i].file + species_extensions[e];
                if (s.nutrient_summary_file)
                    std::fprintf(s.nutrient_summary_file, "Opening file: %s\n", name.c_str());
                owned_file &slot = s.species_series_files[i][static_cast<std::size_t>(e)];
                slot.close();
                open_linknode_series_file(s, slot.file, name, linknode_first_species + k,
                                          s.channels.link_count);
                if (error_record.code != 0) return;
            }
        }
    }
}

void open_constituent_outputs(model_state &s) {
    for (int k : opening_order) {
        // The grid data sets exist in data-set mode; the groundwater output is a
        // stream of grids in per-time map mode; the flood grid is always a data set.
        const bool wanted = k == grid_out_flood_grid ||
                            (k == grid_out_groundwater_head && s.grid_map_files_on) ||
                            s.datasets_on;
        if (!wanted) continue;
        open_grid_output_file(s, k);
        if (error_record.code != 0) return;
    }
    if (s.nutrients_on) open_species_output_files(s);
    if (error_record.code == 0) open_contaminant_series(s);
}
