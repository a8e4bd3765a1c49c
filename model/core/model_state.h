// The run-state object: everything one simulation run needs. run_model creates it
// before anything else of the run and destroys it after all files are closed and
// all arrays are freed; every routine of the model receives it.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "model/core/arrays.h"
#include "model/project/card_records.h"
#include "model/core/cell_map.h"
#include "model/core/file_opener.h"
#include "model/channel/channel_network.h"
#include "model/pipes/superlink_network.h"
#include "model/core/nutrient_state.h"
#include "model/core/water_ledger.h"
#include "model/pipes/superlink_step.h"
#include "model/constituents/pipe_constituents.h"
#include "model/sediment/sediment_bound.h"

struct calibration_results;
struct point_output;

// Fifty doubles of one row of the three-layer soil table, indexed by soil number.
struct soil_layer_record {
    std::array<double, 50> values{};
};
inline constexpr int soil_layer_rows = 151;  // rows 0 to 150
// Bits of model_state::redist_marks: the cell ponded in the redistribution's last
// call; the cell has begun redistributing in this event.
inline constexpr unsigned char redist_mark_ponded = 1, redist_mark_redistributed = 2;

// Soil-erosion switch, sediment counts and sediment file names.
struct erosion_record {
    int soil_erosion = 0;            // copied from the SOIL_EROSION card
    int size_class_count = 0;        // number of sediment size classes
    int third_count = 0;
    double value1 = 0.0, value2 = 0.0;
    std::array<int, 5> settings{};   // [0..2] switches of the sediment outputs
    std::array<std::string, 7> files{};
    std::array<int, 4> output_words{};
};

// A file of the run that its owner closes when the run state goes away.
struct owned_file {
    std::FILE *file = nullptr;
    owned_file() = default;
    owned_file(const owned_file &) = delete;
    owned_file &operator=(const owned_file &) = delete;
    ~owned_file() { close(); }
    void close() { close_run_file(file); }
};

// One sediment size class of the run (the SEDIMENTS table of the mapping-table
// file): diameter (mm), specific gravity, the table row it came from and the
// name of its output file.
struct sediment_class {
    std::string name;  // the words of its SEDIMENTS row before the values
    double diameter = 0.0;
    double specific_gravity = 0.0;
    int table_row = 0;
    std::string output_name;
};
// The overland sediment state of a run, filled by read_sediment_inputs. Classes
// are listed wash-load first (diameter below SAND_SIZE), then sand, each group
// in table order; every per-class column below (index 1..class_count) follows
// that list, not the table order.
struct sediment_record {
    int transport_form = 0;     // 1 or 2, from the SOIL_EROSION value (10 or more: 2)
    int transport_option = 0;   // the value, less 10 in the second form
    double sand_size = 0.0, silt_size = 0.0, clay_size = 0.0;  // mm
    double porosity = 0.0;      // SED_POROSITY
    double water_temp = 0.0;    // deg C as used: within 0..40
    double viscosity = 0.0;     // kinematic viscosity of water (m2/s) at water_temp
    // The class list: entries 1..class_count (entry 0 unused).
    int class_count = 0, wash_count = 0, sand_count = 0;
    std::vector<sediment_class> classes;
    // Erosion parameters per cell (N+1 entries), the eight SOIL_EROSION_PROPS
    // columns in table order.
    array_1d<double> splash_coeff, detachment_coeff, critical_shear, shear_exponent;
    array_1d<double> transport_coeff, transport_exponent, critical_stream_power, transport_factor;
    // Per cell and class [cell][class], class 1..class_count: the class's fraction
    // of the cell's soil ("sed_fract"), the sediment mass ("mass_sed") and the
    // particle state (m3): eroded, suspended and deposited volumes.
    array_2d<double> fraction, mass, eroded, suspended, deposited;
    // Outputs per cell, columns 0..class_count, under their output switches:
    // "ov_qsmax" (MAX_SED_FLUX), "ov_qsvol" (NET_SED_VOLUME), "ov_qsconc" (VOL_SED_SUSP).
    array_2d<double> ov_qsmax, ov_qsvol, ov_qsconc;
    // Per class 1..class_count: "tot_sed", "GLOBAL_MASS_SED", "GLOBAL_VOL_SED".
    array_1d<double> total, global_mass, global_volume;
    // Sediment output files; the two location files are also handed to the
    // channel set-up through channel_work (which borrows them).
    owned_file suspended_file, flux_file, net_volume_file, outlet_file;
    owned_file location_in_file, location_out_file;
    double outlet_mass = 0.0;   // left by the sediment-bound constituent scheme
    // ---- erosion and sediment transport ----
    // Per cell and class: the detachment share of the class (its loose soil over
    // the cell's), written by every detachment.
    array_2d<double> detachment_share;
    // Depth of loose soil that every cell starts with (m of soil with pores).
    static constexpr double initial_loose_depth = 0.01;
    // Overland erosion work, made on its first call: per class (class_count + 1)
    // the settling velocity and the class term of the first transport formula
    // (formed each step); the x and y transport capacities of the step per cell
    // (N + 1, m3, signed); the step at which some cell's whole sediment was last
    // carried away.
    array_1d<double> settling_velocity, grade_coefficient, x_capacity, y_capacity;
    int emptied_step = 0;
    // Per cell (N + 1) the first transport formula's sum of the class fractions
    // times the class terms, which depends only on the cell and on dx and dt:
    // kept for the last two pairs of dx and dt met (a run's steps may alternate
    // between two lengths), formed again for a pair met for the first time.
    array_1d<double> transport_weight[2];
    double weight_dx[2] = {0.0, 0.0}, weight_dt[2] = {0.0, 0.0};
    int weight_next = 0;  // the set that the next new pair replaces
    // Overland erosion work per cell, formed every step: the square roots (3N + 3)
    // and reciprocals (2N + 2) of the faces' terms that depend on the water alone.
    array_1d<double> face_roots, face_reciprocals;
    // Per class (class_count + 1, m3), what one overland erosion step moved, for
    // its postings: detached and swept from the loose soil into suspension, settled
    // back, and taken through the outlet from the suspended and from the loose soil.
    array_1d<double> step_detached, step_lifted, step_settled, step_out_suspended, step_out_loose;
    // Sediment-bound scheme: mean depth of each cell over its step (N + 1, m).
    array_1d<double> mean_depth;
    // Per class (class_count + 1), m3 unless noted: the rate that left through
    // the overland outlet in the last overland step (m3/s), and run totals of
    // what left through the overland outlet and what splash and flow lifted from
    // the loose soil. (The balances take their flows from the sediment ledgers.)
    array_1d<double> outlet_rate, outlet_volume, detached_volume;
    // The loose and suspended soil per class, and the detached total, at the
    // start of the current event, so that the event summary can take its share.
    array_1d<double> event_start_soil, event_detached_mark;
    // Channel outlet rates of the last channel step (m3/s): sand classes 0..S,
    // wash classes 0..W; run totals of the sand and wash that left the outlet
    // (m3), and the channel sand and wash stores at the event start.
    array_1d<double> outlet_sand_rate, outlet_wash_rate;
    double outlet_sand_total = 0.0, outlet_wash_total = 0.0;
    double event_channel_sand = 0.0, event_channel_wash = 0.0;
    // Per-cell output slots of the erodible trapezoid nodes (N + 1, m3): the
    // node's sand store less a full layer, and its wash load.
    array_1d<double> channel_bed_change, channel_wash_load;
    // ---- end erosion and sediment transport ----
};

// One record of the precipitation table: a card code and a date and time.
struct precip_record {
    int card = 0, year = 0, month = 0, day = 0, hour = 0, minute = 0;
};
inline constexpr int precip_record_count = 2000;

inline constexpr int transport_table_count = 16;
// Rows of model_state::transport_tables: each table holds, for constituent k in
// row k, one value per cell (columns 1..N). Concentrations are mass per m3 of
// water, masses as the constituent steps book them, rates per second after
// convert_constituent_units.
namespace transport_table {
inline constexpr int concentration = 0, mass = 1, rain_mass = 2, accumulation_target = 3;
inline constexpr int lateral_mass = 4;
// The six CONTAMINANT_TRANSPORT columns, in table order.
inline constexpr int release_rate = 5, saturation_conc = 6, loss_rate = 7, decay_coef = 8;
inline constexpr int uptake_rate = 9, dispersion_coef = 10;
inline constexpr int land_pool = 11;          // the soil-bound amount
inline constexpr int release_accumulator = 12, loss_accumulator = 13;
inline constexpr int mass_bound = 14;         // per-cell bound set by convert_constituent_units
inline constexpr int snow_mass = 15;          // held in the snow pack of the cell
}  // namespace transport_table

// ---- watershed ----
// One low spot of an overland flow dike (filled by read_lowspot_file).
struct lowspot_record {
    int row = 0, col = 0;
    int direction = 0;        // side of the cell: 1 top, 2 right, 4 bottom, 8 left
    double fraction = 0.0;    // of the grid size
    double elevation = 0.0;   // m
    double work = 0.0;        // working value, reset by the low-spot validation
    // Water an overland lake gave over the spot to a land cell since the constituent
    // transport last took its mass (m3), and the two cells it last went between.
    double lake_release = 0.0;
    int release_lake_cell = 0, release_cell = 0;
};
// Seven values of one wetland (filled by read_wetland_table).
struct wetland_record {
    std::array<double, 7> values{};
};
// One well of the WELL_TABLE: its table id (the cell number once placed on the
// grid), kind (0 constant rate, else time series), the rate of a constant-rate
// well (m3/s) and the time series of the others.
struct well_record {
    int id = 0;
    int kind = 0;
    double rate = 0.0;
    int series_id = 0;
};
// A process clock: times of the last and the next update (Julian days) and the
// interval between updates (days).
struct process_clock {
    double last = 0.0, next = 0.0, interval = 0.0;
};
// ---- end watershed ----

// ---- event ----
// One lake of the lake file (overland or channel lake), 1-based by lake number.
struct lake_record {
    double initial_elevation = 0.0;  // initial water-surface elevation (m), LAKE card
    double elevation = 0.0;          // current water-surface elevation (m)
    double volume = 0.0;             // water volume (m3)
    int cell_count = 0;              // cells of the lake
    double rain_volume = 0.0;        // rain on the lake in the step (m3)
    double inflow_volume = 0.0;      // inflow from overland flow since the last lake update (m3)
};
// Run totals at the start of the current event, so that the event's share can be
// taken at its end (m3).
struct event_total_marks {
    ledger_totals water;  // the water ledger's flows
    // Water from the aquifer (and the Sacramento base flow) into the channels and
    // lakes, and from them into the aquifer.
    double exchange_in = 0.0, exchange_out = 0.0;
    // Sacramento: its storage (mm) and the infiltration it had not yet taken in (m3).
    double sac_storage = 0.0, sac_pending = 0.0;
    // The Richards columns' own totals (see richards_bottom_total).
    double richards_bottom = 0.0, richards_clip = 0.0, column_et = 0.0;
};
// Work storage of the overland-lake update, for N cells and L = N / 8 list
// entries: side masks (also the cell list of a falling lake), candidate cells
// and levels, group counts and their running sums, and the sort keys of a
// falling lake.
struct overland_lake_work {
    int cells = -1, list_size = 0;  // N and L the storage was made for
    array_1d<int> side_mask, candidate_cell, group_count, group_sum;
    array_1d<double> candidate_level, release_key;
    // Each lake's cells in cell order (member_cells from index 0, lake k's from
    // member_start[k]), the fill cursors, and the cells a rising lake joins.
    array_1d<int> member_start, member_next, member_cells, joined;
    // Per cell, 1 while it is listed as a candidate of a rising lake by its ground.
    array_1d<int> candidate_mark;
};
// ---- end event ----

// ---- overland ----
// Step control of the explicit overland scheme, carried from call to call within
// one run.
struct explicit_step_control {
    int sweep_flag = 0;         // 0: x then y, 1: y then x; flipped at every call
    int reduced_count = 0;      // calls still to run with the reduced step
    double reduced_step = 0.0;  // s
    int reduced_in_use = 0;     // the last call ran with a reduced step
    array_1d<double> saved_depth;        // depths at the start of the call
    array_1d<double> saved_stream[3];    // stream-cell net, inflow and outflow sums
    // The tables last checked for the one-pass sub-steps, and the slots that carry
    // the down faces' transfers to the next row.
    const int *tables_right = nullptr, *tables_down = nullptr;
    int tables_cells = 0, tables_fused = 0;
    std::vector<double> pending;
    // With overland constituents: the volume each face moved over the call's
    // sub-steps (m3) and their count. When the step was divided, the faces hand
    // on the step's mean discharge (volume / step), the one that moved the water.
    int keep_step_flows = 0, substeps = 0;
    array_1d<double> step_volume_x, step_volume_y;
    // The one pass's survey of the depths and discharges it handed on: the wet
    // cells (above 1e-16 m) and whether a face flows; valid only for the survey
    // that follows the routing call (survey_overland_cells).
    int survey_valid = 0, survey_flows = 0;
    long long survey_wet = 0;
    // Sub-steps local to the cells that need them (the one pass): each face's
    // transfer at the whole step (m), the chunks of the pass where a face may
    // fail, the cells of the fine region (flag and list) with the water their
    // faces to the rest of the grid bring over the step (m), its share given so
    // far, the fine faces' depth changes, discharges and volumes, and for each
    // cell the cell whose down face reaches it (0: none).
    std::vector<double> local_tx, local_ty, local_source, local_given, local_change;
    std::vector<double> local_qx, local_qy, local_volume_x, local_volume_y;
    std::vector<unsigned char> local_chunk_fail, local_fine;
    std::vector<int> local_cells, local_from_up;
};
// What the overland step control did over a run, for its summary: the routing
// calls, those that ran in sub-steps shorter than their step, the shortest
// (sub-)step taken (s; 0 before the first call) and the standing-water faces held
// to a quarter of their level gap (per sub-step).
struct overland_step_record {
    long long steps = 0, cut_steps = 0, held_faces = 0;
    double shortest = 0.0;
};
// What the Richards columns' sub-step control did over a run: the sub-steps taken
// over all cells, those that ran shorter than the length they were tried at (refused
// as too long for the curve, for the boundary or for the local error), and the
// shortest of those (s; 0 when none was cut).
struct richards_substep_record {
    long long substeps = 0, cut_substeps = 0;
    double shortest_cut = 0.0;
};
// State of the alternating-direction schemes within one run.
struct ade_scheme_state {
    int sweep_order = 1;                 // 1 or 2; flipped after every call
    array_1d<double> saved_depth;        // depths at the start of the call
    array_1d<double> predictor_depth;      // scheme 3 (in the base case a ring of slots)
    array_1d<double> predictor_discharge;  // scheme 3 outside the base case
    array_1d<double> saved_stream[3];    // stream-cell net, inflow and outflow sums
    // The neighbour tables last checked for the one-pass sweeps and what the check
    // found (-1: not ordered, else the largest distance between neighbours).
    const int *tables[4] = {nullptr, nullptr, nullptr, nullptr};
    int tables_cells = 0, tables_gap = -1;
    // The work of the run, for its log: calls, and cells swept (a direction of a
    // call counts once, an attempt that stops at a failing cell the cells it updated,
    // a patch of cells below the cells it updated), and the attempts skipped.
    long long calls = 0, swept_cells = 0, skipped_attempts = 0;
    // Scheme 2 in the base case: the cells that failed their check in recent
    // calls (most recent first), and the work arrays of the patch of cells around
    // them on which an attempt is first simulated, so that one bound to fail is
    // not run over the whole grid. False in `attempt_shortcut` runs every attempt
    // in full (the results are the same).
    static constexpr int max_suspects = 4;
    bool attempt_shortcut = true;
    int suspects[max_suspects] = {0, 0, 0, 0};
    int suspect_count = 0;
    int patch_cells = 0;  // cells of the patch built last (0: none)
    array_1d<int> patch_cell;        // the patch's cells in increasing order
    array_1d<int> patch_link[4];     // per table (right, down, left, up): patch index, 0 none, -1 outside
    array_1d<int> patch_exact;       // per patch cell: its depth is the one the full sweeps form
    array_1d<int> patch_known;       // per patch cell: its face of the sweep is the full sweep's
    array_1d<double> patch_depth, patch_face;
};
// ---- end overland ----

// ---- precip ----
// Date and time of one precipitation record, and its card word.
struct precip_date {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
};
// One storm event of the precipitation file, as read_precip_file fills it.
struct precip_event {
    int radar = 0;   // 1 RADAR records; 2 RADAR records with a list of grid files
    int gages = 0, rates = 0, accum = 0;
    int gauges = 0;  // NRGAG (1 after a radar-file event)
    int records = 0; // NRPDS
    std::vector<double> gauge_x, gauge_y;  // eastings and northings, entries 1..gauges
    std::vector<precip_date> dates;        // records 1..records
    // Value of gauge g in record k at index k * gauges + g; (records + 1) * gauges + 1
    // entries, so that the last gauge of the last record fits.
    std::vector<double> values;
    std::vector<std::string> radar_files;  // entry k - 1 for record k, then a copy of the last
    std::string title;
    double value(int k, int g) const {
        return values[static_cast<std::size_t>(k) * static_cast<std::size_t>(gauges) +
                      static_cast<std::size_t>(g)];
    }
    double &value(int k, int g) {
        return values[static_cast<std::size_t>(k) * static_cast<std::size_t>(gauges) +
                      static_cast<std::size_t>(g)];
    }
};
// A radar rainfall grid and the map of model cells onto it.
struct radar_grid {
    // Model side (init_radar_grid).
    int model_rows = 0, model_cols = 0;
    double model_west = 0.0, model_north = 0.0, model_dx = 0.0;
    int cell_count = 0;
    // Radar side (read_radar_grid).
    int cols = 0, rows = 0;
    double xll = 0.0, yll = 0.0, cell_size = 0.0, no_data = 0.0;
    double west = 0.0, north = 0.0;
    std::vector<int> cell_map;   // N + 1 entries: radar index of each model cell
    std::vector<double> values;  // rows x cols, row-major from the north (mm/h)
};
// ---- end precip ----

// ---- soils ----
// One hour of the hydro-meteorological record, in the units the readers pass on
// (radiation W/m2, sky cover, deg C, percent, millibars, m/s).
struct hmet_hour_record {
    int year = 0, month = 0, day = 0, hour = 0;
    // Sky cover in tenths (0..10) in every format. The global radiation (W/m2 on
    // the horizontal) counts only when the record gives it (global_given 1).
    double direct_radiation = 0.0, global_radiation = 0.0, sky_cover = 0.0;
    int global_given = 0;
    double air_temperature = 0.0, relative_humidity = 0.0, pressure = 0.0, wind_speed = 0.0;
    int missing_count = 0;
};
// What the hydro-meteorological reader keeps between calls: the last valid value
// of every field (per hour of the day, index 0..23, where the format has hours),
// the records read, the SAMSON call counter, and the Surface Airways day (values
// per element at index hour + 1) with the line of the next day held back.
struct hmet_held_line {
    int present = 0;
    int element = 0;  // 0 DR, 1 GR, 2 PR, 3 RH, 4 TM, 5 TS, 6 WI
    int year = 0, month = 0, day = 0, count = 0;
    std::array<double, 25> values{};  // a TS value of -1 keeps the hour's value
    std::array<int, 25> extra{};      // TS hundreds part, WI direction
};
struct hmet_reader_state {
    int records_read = 0;
    double pressure = 0.0, humidity = 0.0, sky_cover = 0.0, wind = 0.0, temperature = 0.0;
    std::array<double, 24> direct{}, global{}, hour_temperature{}, hour_humidity{};
    std::array<int, 24> global_seen{};  // a valid global radiation of that hour was read
    int samson_calls = 0, samson_headers_skipped = 0;
    std::array<std::array<double, 25>, 7> day_values{};
    std::array<int, 25> sky_hundreds{}, wind_direction{};
    int last_sky_hundreds = 0, direct_present = 0, global_present = 0;
    hmet_held_line held;
    std::string pending;  // QAR: the rest of the line after the last record
    int wanted_started = 0;
    std::array<int, 4> wanted{};  // year, month, day, hour of the next record
};
// The soil-moisture accounting basin: capacities and rates, the five contents
// (mm), the running balance residual, the step's channel inflow (mm) and pbase.
struct sacramento_basin {
    double uztwm = 0.0, uzfwm = 0.0, uzk = 0.0, zperc = 0.0, rexp = 0.0;
    double lztwm = 0.0, lzfsm = 0.0, lzfpm = 0.0, lzsk = 0.0, lzpk = 0.0;
    double pfree = 0.0, saved = 0.0;
    double uztwc = 0.0, uzfwc = 0.0, lztwc = 0.0, lzfsc = 0.0, lzfpc = 0.0;
    double balance_residual = 0.0, channel_inflow = 0.0, pbase = 0.0;
};
// Water held by the five contents of a basin (mm).
inline double sacramento_storage(const sacramento_basin &b) {
    return b.uztwc + b.uzfwc + b.lztwc + b.lzfsc + b.lzfpc;
}
// ---- end soils ----

// Slots of model_state::table_present that the readers and the set-up consult.
namespace table_slot {
inline constexpr int roughness = 0, interception = 1, retention = 2, green_ampt = 3;
inline constexpr int initial_moisture = 4, richards_havercamp = 5, richards_brooks = 6;
inline constexpr int evapotranspiration = 7, overland_boundary = 12, well_table = 13;
inline constexpr int groundwater = 14;
inline constexpr int area_reduction = 15;
}  // namespace table_slot

struct model_state {
    model_state();
    ~model_state();
    model_state(const model_state &) = delete;
    model_state &operator=(const model_state &) = delete;

    // Every volume that moved between two stores or across the model's bounds.
    water_ledger water;
    // The same for the mass of each constituent (kg), one ledger each, from index 1.
    std::vector<water_ledger> constituent_mass;
    // Each constituent ledger's totals when the current event began.
    std::vector<ledger_totals> constituent_event_marks;
    // The sediment of each soil class (m3 of solids), one ledger each from index 1;
    // index 0 keeps the channel bed material, which has no class. With their
    // totals when the current event began.
    std::vector<water_ledger> sediment_volume;
    std::vector<ledger_totals> sediment_event_marks;

    // ---- working fields (0, none or empty unless a default is given) ----
    std::FILE *summary_file = nullptr;
    double time_step = 0.0, base_time_step = 0.0;  // model time step (s)
    int grid_rows = 0, grid_cols = 0;
    int total_time = 0;                            // TOT_TIME
    int hydrograph_interval_steps = 0, map_interval_steps = 0;
    int outlet_row = 0, outlet_col = 0;
    double outlet_slope = 0.0;
    double cell_size = 0.0;  // m
    double grid_north = 0.0, grid_south = 0.0, grid_east = 0.0, grid_west = 0.0;
    int keep_running = 0;
    int long_term = 0;
    int discharge_in_cfs = 0, quiet_card = 0;  // QOUT_CFS and QUIET
    int calibration_run = 0;
    double latitude = 0.0, longitude = 0.0, gmt_offset = 0.0;
    int gmt_given = 0;
    double time_tolerance_days = 0.0, time_step_days = 0.0, now_days = 0.0, start_days = 0.0;
    int binary_datasets = 0;
    int zarn_mode = 0;  // always 0: the ZARN format is not available

    // Working defaults that are not zero.
    int overland_scheme = 1;                     // 1 explicit, 2 and 3 alternating direction
    double cubic_feet_per_cubic_metre = 35.314667;
    double channel_constant = 998200.0;          // used by the channel routing step
    int overland_routing_switch = 1;             // read by step_overland_flow
    int overland_constituent_step_switch = 1;    // read by the overland constituent steps
    int event_summary_switch = 1;                // read by write_event_summary
    int event_precip_switch = 1;                 // read by the event precipitation pieces
    int channel_setup_setting = 2;               // read by setup_channels
    int channel_routing_switch = 1;              // read by step_channel_routing
    int overland_constituent_switch = 1;         // read by step_overland_constituents
    std::string constituent_output_name = "con_output";
    int gw_solver_switch = 1;
    double gw_relax_coeff = 1.0;                 // GW_RELAX_COEFF replaces it with groundwater on
    double channel_bed_thickness = 1.0;          // M_RIVER replaces it for explicit channels
    int contaminant_input_index = -1;
    int flush_interval = 5000;                   // FLUSH_BUFFER replaces it
    double rain_param_a = 80.0, rain_param_b = 27.0;
    int run_summary_switch = 1;                  // shown in the end-of-run report

    // ---- member tables ----
    // Per-constituent contaminant transport tables.
    std::array<double_table, transport_table_count> transport_tables;
    // Number of constituents the tables and totals hold (rows 1..count), and the
    // switch of per-constituent source processing (set with a CONTAMINANT_TRANSPORT table).
    int constituent_count = 0;
    int constituent_sources_on = 0;
    // Description and output file of each contaminant of a CONTAMINANT_TRANSPORT
    // table (entries 1..count; empty with the uniform values).
    std::vector<std::string> contaminant_descriptions, contaminant_output_files;
    // The outlet series of each contaminant (index = contaminant) that its own
    // output file holds; the first may be the channels' contaminant output file.
    std::vector<std::unique_ptr<owned_file>> contaminant_series;

    // Per-constituent overland mass-balance tables (index = constituent number).
    checked_array<double> precip_conc{"precip_conc"};
    // The masses the overland water and its land pool began the run and the
    // current event with, and held at its end (kg); the flows are in the
    // constituent ledgers (constituent_mass).
    checked_array<double> OV_MASS_INIT{"OV_MASS_INIT"}, OV_MASS_FINAL{"OV_MASS_FINAL"};
    checked_array<double> OV_MASS_ERROR{"OV_MASS_ERROR"};
    checked_array<double> OV_LAND_MASS{"OV_LAND_MASS"}, OV_LAND_MASS_INIT{"OV_LAND_MASS_INIT"};
    checked_array<double> OV_LAND_MASS_FINAL{"OV_LAND_MASS_FINAL"};
    checked_array<double> event_ov_mass_init{"event_ov_mass_init"};
    checked_array<double> event_ov_land_mass{"event_ov_land_mass"};
    // What one constituent step moved (g), posted to the ledger when the step closes.
    checked_array<double> ov_out_dmt{"ov_out_dmt"}, ov_point_dmt{"ov_point_dmt"};
    checked_array<double> ov_decay_dmt{"ov_decay_dmt"}, ov_infil_dmt{"ov_infil_dmt"};
    checked_array<double> ov_qlat_dmt{"ov_qlat_dmt"}, ov_uptake_dmt{"ov_uptake_dmt"};
    checked_array<double> ov_precip_dmt{"ov_precip_dmt"};
    // Mass the overland lakes gave back with their water over low spots in the step.
    checked_array<double> ov_from_lake_dmt{"ov_from_lake_dmt"};
    // Dissolved mass held by each overland lake (g), [constituent][lake].
    array_2d<double> overland_lake_mass;
    checked_array<double> ov_exit_mass{"ov_exit_mass"};
    checked_array<double> GLOBAL_MASS_CON_ERROR{"GLOBAL_MASS_CON_ERROR"};
    checked_array<double> GLOBAL_MASS_INIT{"GLOBAL_MASS_INIT"};
    checked_array<double> GLOBAL_MASS_FINAL{"GLOBAL_MASS_FINAL"};
    checked_array<int> constituent_type{"constituent_type"};  // integers: kind of each constituent
    // Slots of the constituent processes (last and next times in days). The overland
    // transport slot is constituent_clock, the channel routing slot
    // channel_constituent_clock; sync_constituent_slots copies those into these.
    struct constituent_slot_clocks {
        process_clock rain, accumulation, release, loss, nutrient, outlet, exchange;
        process_clock decay, channel_outlet, groundwater;
    } constituent_slots;
    int constituent_sweep_order = 1;  // 1: x pass first, 2: y pass first; flipped per step
    // Per cell (N+1): infiltrated volume pending for the accumulation slot (m3).
    array_1d<double> constituent_infiltration_volume;
    // Outlet volume of the overland steps since the last outlet slot, while
    // channel routing is off (m3).
    double constituent_outflow_volume = 0.0;
    // Work vectors of the pools piece and the advection step (N+1 each):
    // concentration, mass, dispersion and source rate of one constituent; face
    // fluxes, predicted mass and concentration, and the predictor's mass change.
    struct overland_constituent_work {
        array_1d<double> conc, mass, disp, rate;
        array_1d<double> disp_flux, adv_flux, mass_star, conc_star, change;
    } pool_work;
    // Work of the sediment-bound overland transport, made on its first call:
    // [species][cell] rows of face fluxes, predicted mass and concentration and
    // the predictor's mass change, decay and uptake; the rows the sediment-bound
    // routine writes for the particle-bound species; start and predicted depths
    // (N+1) and three per-species totals of the step (decay, uptake, infiltration).
    struct bound_transport_work {
        array_2d<double> disp_flux, adv_flux, mass_star, conc_star, change, decay, uptake;
        array_2d<double> capacity, eroded_mass, settling_rate, second_value;
        array_1d<double> start_depth, predicted_depth;
        array_1d<double> decay_total, uptake_total, infil_total;
        std::vector<bound_species> species;
    } bound_work;
    // Constituents above this count are particle-bound, one per soil class with
    // the species factors given here in class order; -1 (no reader sets it):
    // every constituent is dissolved.
    int bound_dissolved_count = -1;
    std::vector<double> bound_species_factor;

    // Precipitation card codes with their dates and times.
    std::array<precip_record, precip_record_count> precip_records{};

    erosion_record erosion;
    sediment_record sediment;

    // ---- card records, filled by read_project_file ----
    project_params project;
    grid_params grid;
    rain_params rain;

    // ---- run set-up and run files ----
    // (fields derived by read_run_parameters and the file slots of open_project_files)

    // File slots of the run: each holds an open stream or none; opened once by
    // open_project_files (or read_run_parameters for the two marked) and closed
    // once by close_run_files. summary_file (above) is the SUMMARY slot.
    std::FILE *mask_file = nullptr;                 // WATERSHED_MASK
    std::FILE *elevation_file = nullptr;            // ELEVATION
    std::FILE *outlet_hydro_file = nullptr;         // OUTLET_HYDRO
    std::FILE *gw_boundary_file = nullptr;          // GW_BOUNDFILE
    std::FILE *well_location_file = nullptr;        // OUT_WELL_LOCATION
    std::FILE *well_level_file = nullptr;           // GW_WELL_LEVEL (output)
    std::FILE *gw_hycond_file = nullptr;            // GW_HYCOND_MAP
    std::FILE *gw_porosity_file = nullptr;          // GW_POROSITY_MAP
    std::FILE *water_table_file = nullptr;          // WATER_TABLE
    std::FILE *aquifer_bottom_file = nullptr;       // AQUIFER_BOTTOM
    std::FILE *soil_type_file = nullptr;            // SOIL_TYPE_MAP
    std::FILE *soil_layer_file = nullptr;           // SOIL_LAYER_INPUT_FILE
    std::FILE *evap_out_file = nullptr;             // "evap_out"
    std::FILE *moisture_file = nullptr;             // MOISTURE
    std::FILE *conductivity_file = nullptr;         // CONDUCTIVITY
    std::FILE *capillary_file = nullptr;            // CAPILLARY
    std::FILE *porosity_file = nullptr;             // POROSITY
    std::FILE *pore_index_file = nullptr;           // PORE_INDEX
    std::FILE *residual_sat_file = nullptr;         // RESIDUAL_SAT
    std::FILE *hydromet_file = nullptr;             // HMET_SURFAWAYS / HMET_SAMSON / HMET_QAR
    std::FILE *albedo_file = nullptr;               // ALBEDO
    std::FILE *vheight_file = nullptr;              // VHEIGHT
    std::FILE *tcoeff_file = nullptr;               // TCOEFF
    std::FILE *canopy_file = nullptr;               // CANOPY
    std::FILE *wilting_point_file = nullptr;        // WILTING_POINT
    std::FILE *precip_file = nullptr;               // PRECIP_FILE
    std::FILE *links_file = nullptr;                // LINKS
    std::FILE *nodes_file = nullptr;                // NODES
    std::FILE *stream_cell_file = nullptr;          // STREAM_CELL
    std::FILE *storage_capacity_file = nullptr;     // STORAGE_CAPACITY
    std::FILE *interception_coeff_file = nullptr;   // INTERCEPTION_COEFF
    std::FILE *overland_lake_map_file = nullptr;    // OVERLAND_LAKE_MAP
    std::FILE *overland_lake_data_file = nullptr;   // OVERLAND_LAKE_FILE
    std::FILE *retention_file = nullptr;            // RETEN_DEPTH
    std::FILE *roughness_file = nullptr;            // ROUGHNESS
    std::FILE *channel_input_file = nullptr;        // CHANNEL_INPUT
    std::FILE *wat_surf_profile_out_file = nullptr; // WAT_SURF_PROFILE_OUT
    std::FILE *dis_profile_out_file = nullptr;      // DIS_PROFILE_OUT
    std::FILE *ov_hotstart_file = nullptr;          // OV_INIT_DEPTH
    std::FILE *chan_hotstart_out_file = nullptr;    // WRITE_CHAN_HOTSTART
    std::FILE *wat_surf_profile_file = nullptr;     // WAT_SURF_PROFILE
    std::FILE *dis_profile_file = nullptr;          // DIS_PROFILE
    std::FILE *hyd_location_file = nullptr;         // IN_HYD_LOCATION
    std::FILE *hyd_location_out_file = nullptr;     // OUT_HYD_LOCATION
    std::FILE *sig_outlet_hydro_file = nullptr;     // SIG_OUTLET_HYDRO
    std::FILE *lake_output_file = nullptr;          // LAKE_OUTPUT
    std::FILE *dep_location_out_file = nullptr;     // OUT_DEP_LOCATION
    std::FILE *con_location_out_file = nullptr;     // OUT_CON_LOCATION
    std::FILE *theta_location_file = nullptr;       // IN_THETA_LOCATION
    std::FILE *theta_location_out_file = nullptr;   // OUT_THETA_LOCATION
    std::FILE *chan_depth_out_file = nullptr;       // CHAN_DEPTH
    std::FILE *chan_discharge_out_file = nullptr;   // CHAN_DISCHARGE
    std::FILE *chan_velocity_out_file = nullptr;    // CHAN_VELOCITY
    std::FILE *flood_stream_file = nullptr;         // FLOOD_STREAM
    std::FILE *pipe_head_file = nullptr;            // PIPE_HEAD
    std::FILE *pipe_tile_file = nullptr;            // PIPE_TILE
    std::FILE *pipe_flow_file = nullptr;            // PIPE_FLOW
    std::FILE *nutrient_summary_file = nullptr;     // NTR_SUM (opened by read_run_parameters)
    std::FILE *outlet_inflow_file = nullptr;        // Q7_INPUT (opened by read_run_parameters)
    std::FILE *point_output_file = nullptr;         // Q7_SEGMENT_FLUXES (opened by open_point_output)
    // Per-species outlet hydrograph files of the nutrient module (.conc and .mass).
    std::array<std::FILE *, nutrient_species_count> nutrient_conc_files{};
    std::array<std::FILE *, nutrient_species_count> nutrient_mass_files{};
    // ---- nutrients ----
    // Aquatic environment, overland species sets and stream species arrays
    // (model/core/nutrient_state.h), filled when NUTRIENTS is given.
    nutrient_record nutrient;
    // ---- end nutrients ----

    // File names of the run, copied from the cards by read_run_parameters.
    std::string elevation_name, mask_name, data1_name, moisture_name, conductivity_name;
    std::string capillary_name, porosity_name, pore_index_name, residual_sat_name;
    std::string roughness_name, links_name, nodes_name, wat_surf_profile_name;
    std::string dis_profile_name, dis_profile_out_name, wat_surf_profile_out_name;
    std::string channel_input_name, section_table_name, summary_name, outlet_hydro_name;
    std::string sig_outlet_hydro_name, lake_output_name, zep_hydro_name;
    std::string storage_capacity_name, interception_coeff_name, retention_name;
    std::string out_hyd_location_name, out_dep_location_name, chan_con_input_name;
    std::string out_con_location_name, ov_point_source_name, in_theta_location_name;
    std::string out_theta_location_name, in_hyd_location_name, albedo_name, vheight_name;
    std::string tcoeff_name, canopy_name, wilting_point_name, materials_name;
    std::string soil_type_name, soil_layer_name, hydromet_name, stream_cell_name;
    std::string water_table_name, aquifer_bottom_name, gw_fluxboundtable_name;
    std::string gw_boundfile_name, gw_output_name, gw_well_level_name;
    std::string out_well_location_name, gw_porosity_map_name, gw_hycond_map_name;
    std::string mapping_table_name, st_mapping_table_name, dike_name, lowspot_name;
    std::string overland_lake_map_name, overland_lake_file_name, storm_sewer_name;
    std::string grid_pipe_name, flood_grid_name, flood_stream_name, sacramento_name;
    std::string optimize_name, daily_output_name, write_chan_hotstart_name;
    std::string read_chan_hotstart_name, plux_exchange_name, precip_name, ov_init_depth_name;
    std::string chan_depth_name, chan_discharge_name, chan_velocity_name;
    std::string pipe_head_name, pipe_tile_name, pipe_flow_name;
    // "exchange/" + the name of each PLUX map card, in the order of plux_map_switches.
    std::array<std::string, 13> plux_map_names{};

    // Mapping-table presence flags (scan_index_map_tables): slots 0..7 the kinds of
    // ids 1..8, then SEDIMENTS, SOIL_EROSION_PROPS, CONTAMINANT_TRANSPORT,
    // WETLAND_PROPERTIES, OVERLAND_BOUNDARY, WELL_TABLE, GROUNDWATER,
    // AREA_REDUCTION, QVL_N, QVL_P, QVL_OTH, QVL_C, DISPERSION.
    std::array<int, 21> table_present{};
    // Stream mapping-table presence flags: ROUGHNESS, QVL_N, QVL_P, QVL_OTH, QVL_C,
    // and a sixth kind that no card gives.
    std::array<int, 6> stream_table_present{};
    int mapping_table_on = 0, st_mapping_table_on = 0;

    // Switches and values derived from the cards.
    int end_time_on = 0;
    double end_time_days = 0.0;
    int q7_input_on = 0, q7_fluxes_on = 0;
    int flood_grid_on = 0, flood_stream_on = 0, overland_boundary_on = 0, flush_on = 0;
    int interception_on = 0, dike_on = 0, lowspot_on = 0;
    int ov_con_trans_mode = 0, ov_con_trans_mode1 = 0;
    double ov_decay_coef = 0.0, ov_disp_coef = 0.0, ov_mass_load = 0.0, ov_uptake_rate = 0.0;
    double manning_n = 0.0;
    int retention_on = 0, overland_lake_on = 0, storm_sewer_on = 0;
    int strict_julian_date = 0;
    int hmet_surfaways = 0, hmet_samson = 0, hmet_qar = 0;
    int et_penman = 0, et_deardorff = 0, seasonal_rs = 0;
    int chan_depth_out = 0, chan_discharge_out = 0, chan_velocity_out = 0;
    double max_courant_number = 0.0;
    int roughness_map_on = 0;
    int albedo_on = 0, vheight_on = 0, tcoeff_on = 0, canopy_on = 0, wilting_point_on = 0;
    double event_min_q = 0.0;
    double soil_moist_depth_cm = 0.0, top_layer_depth_cm = 0.0;
    // Channel routing switches.
    int chan_explicit = 0, chan_implicit = 0, chan_drain_init = 0, chan_backwater_init = 0;
    int chan_mesh = 0, chan_switch_a = 0, chan_switch_b = 0;
    int chan_sediment_on = 0;
    // Copied only with explicit channel routing.
    int overbank_flow = 0, non_ortho_channels = 0, head_bound = 0;
    double bound_depth = 0.0, k_river = 0.0;
    int m_lake_on = 0;
    double m_lake = 0.0;
    int explic_backwater = 0, explic_hotstart = 0, stream_loss = 0;
    int write_chan_hotstart_on = 0, read_chan_hotstart_on = 0;
    double first_order_chan_q = 0.0, chan_decay_coef = 0.0, chan_disp_coef = 0.0;
    double init_chan_conc = 0.0;
    int out_con_location_on = 0, chan_con_trans = 0;
    // Infiltration scheme (one-hot) and its settings.
    int inf_green_ampt = 0, inf_redist = 0, inf_cont_redist = 0, inf_layered = 0;
    int inf_richards = 0;
    int initial_moisture_on = 0;
    int richards_iter_max = 0, richards_c_option = 0, richards_upper_option = 0;
    int richards_k_option = 0;
    double richards_weight = 0.0, richards_dtheta_max = 0.0;
    // Groundwater.
    int water_table_on = 0, groundwater_on = 0;
    int gw_assign_theta = 0, gw_lsor_dir = 0;
    double gw_timestep = 0.0, gw_lsor_con = 0.0, single_unsat_sat = 0.0;
    double gw_leakage_rate = 0.0;
    int gw_porosity_map_on = 0, gw_unif_porosity_on = 0;
    double gw_unif_porosity = 0.0;
    int gw_hycond_map_on = 0, gw_unif_hycond_on = 0;
    double gw_unif_hycond = 0.0;
    int gw_well_level_on = 0, gw_fluxboundtable_on = 0;
    double aquifer_delta_z = 0.0;
    // Sacramento.
    int sacramento_on = 0, topo_index_on = 0, topo_companion = 1;
    // Green and Ampt parameter maps in use.
    int conductivity_on = 0, capillary_on = 0, porosity_on = 0, pore_index_on = 0;
    int residual_sat_on = 0;
    // Rainfall.
    int uniform_rain_on = 0, gauge_file_on = 0, rainfall_on = 1;
    int inverse_distance_on = 0, thiessen_on = 0;
    double rain_intensity = 0.0, rain_duration = 0.0;  // mm/h, minutes
    // Calendar of the clock at the start date and time.
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0.0;
    int packed_time = 0, packed_date = 0;  // hour*100+minute, (year*100+month)*100+day
    double event_start_days = 0.0, start_clock_days = 0.0;  // with now_days and start_days
    // Vegetation-model exchange.
    int hxt_on = 0, plux_on = 0, plux_first = 0, hxt_event_on = 0, hxt_event_num = 0;
    // MOIST, KSAT, ROUGH, POROS, EROSIVITY, CROP_FACT, NET_EROSION _TO_PLUX, then
    // MOIST, KSAT, ROUGH, EROSIVITY, CROP_FACT, ET_DEMAND _FROM_PLUX.
    std::array<int, 13> plux_map_switches{};
    array_1d<double> plux_map_values;  // per cell: one exchange map read back
    int plux_unused_cards_warned = 0;  // the exchange cards no map fills were named
    // Map outputs.
    int grid_map_files_on = 0, datasets_on = 0;
    int depth_out = 0, include_channel_depth = 0, dis_rain_out = 0, inf_depth_out = 0;
    int surf_moist_out = 0, discharge_out = 0, in_hyd_location_on = 0;
    int out_dep_location_on = 0, in_theta_location_on = 0, ov_con_map_on = 0;
    int ov_point_source_on = 0, sig_outlet_hydro_on = 0, lake_output_on = 0;
    int rate_of_infil_on = 0, zep_hydro_on = 0, daily_output_on = 0;
    // Working values of the readers and the end check.
    double soil_param_constant = 0.0;   // 0.15, read by the soil and channel readers
    double retention_value = 0.0;       // handed to the retention reader
    double end_check_value = 0.0;       // read by check_simulation_end

    // ---- end of run set-up and run files ----

    // Three-layer soil table rows, by soil index.
    std::array<soil_layer_record, soil_layer_rows> soil_layers{};

    // Channel and pipe networks.
    channel_network channels;
    superlink_network superlinks;
    superlink_step_state superlink_work;  // the pipe-network step's state and files
    pipe_constituent_state pipe_mass;     // the constituents its water carries

    // ---- tail fields ----
    int mask_rows = 0, mask_cols = 0;
    int cell_count = 0;                // N, the number of active cells
    array_2d<int> cell_number_grid;    // [0..rows+1][0..cols+1]: cell number 1..N, else 0
    std::string project_file_name;
    int nutrients_on = 0;
    int quiet = 0;                     // console output suppressed (SUPER_QUIET)
    point_output *point_out = nullptr;
    calibration_results *calib_results = nullptr;  // given by the calibration objective
    // A record created by alloc_calibration_results for a plain OPTIMIZE run.
    std::unique_ptr<calibration_results> own_calib_results;

    // ---- watershed ----
    // Map header of the last grid map read (read_grid_map fills them).
    int header_rows = 0, header_cols = 0;
    array_2d<int> data_grid;           // "data": [0..rows+1][0..cols+1], soil and channel readers
    double watershed_area = 0.0;       // dx * dx * N (m2)
    array_1d<double> elevation;        // per cell (m)
    array_1d<double> elevation_work;   // second per-cell double array of the elevation step
    int outlet_cell = 0;               // cell at (OUTROW, OUTCOL), 0 outside the mask
    // Tile drains of the pipe network.
    array_1d<int> junction_cell;              // per super-junction
    array_2d<int> superlink_node_gnum;        // [node][superlink]: cell of each pipe node
    array_2d<double> flow_to_superlink;       // [node][junction or superlink]; row 0 junctions
    array_2d<double> superlink_tile_flow;     // [max pipes + 2][superlinks + 1] with tile-drain flow
    array_1d<double> tile_cell_flow;  // per cell, with tile-drain flow
    // Overland flow dikes and their low spots.
    array_1d<int> dike_code;                  // per cell: bits 1 top, 2 right, 4 bottom, 8 left
    std::vector<lowspot_record> lowspots;     // 1..lowspot_count
    int lowspot_count = 0;
    // Wetlands (no card switches them on in this system).
    int wetlands_on = 0;
    array_1d<int> wetland_id;                 // per cell: wetland number, 0 outside
    int wetland_count = 0;
    std::vector<wetland_record> wetlands;     // 0..largest index value
    // Overland boundary table: two values and the type per cell.
    array_1d<double> ov_boundary_value1, ov_boundary_value2;
    array_1d<int> ov_boundary_type;
    // Overland state of every cell.
    array_1d<double> depth;                   // water depth (m)
    array_1d<double> previous_depth;          // depth at the previous constituent step (m)
    array_1d<double> rain_rate;               // rainfall rate of the step
    // Uniform rain that no cell changes (no canopy, lakes or rain maps): the rate
    // every cell has, kept once instead of in rain_rate and step_rain_rate.
    int rain_rate_shared = 0;
    double shared_rain_rate = 0.0;            // mm/h
    // Neighbour cells (0 outside the mask or the grid) and bed slopes (m/m).
    array_1d<int> right, down, left, up;
    array_1d<double> x_slope, y_slope;
    // Channel sediment switch read by the channel set-up.
    int chan_sediment_setup = 0;
    // Richards node count, set by the Richards soil set-up.
    int richards_node_count = 0;
    // Work vector shared by the Richards and groundwater solvers.
    array_1d<double> solver_work;
    // Second constituent switch, set with overland transport for nutrients.
    int constituent_transport_on = 0;

    // Model clock (advance_clock): turns begun, step number n and two further
    // step counters raised with it, minutes since the start.
    int clock_calls = 0, step_number = 0, step_counter2 = 0, step_counter3 = 0;
    double elapsed_minutes = 0.0;
    // Calendar of the current time: year..minute and `second` (above) are
    // rewritten every turn; the truncated second and the day of the year.
    int second_int = 0, day_of_year = 0;
    std::array<int, 13> days_in_month{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    // Process clocks. The rain clock's interval is the overland step; the channel
    // clock's step in seconds is channel_step_seconds.
    process_clock rain_clock, infiltration_clock, et_clock, hydromet_clock, gw_clock;
    process_clock channel_clock, rain_record_clock, constituent_clock, pipe_clock;
    process_clock sacramento_clock, channel_constituent_clock;
    double channel_step_seconds = 0.0;
    // Events: start time of the current event and the end time of the
    // simulation; entry k of event_start_times is the start of the next event
    // after k events have been read (entry 0 the start of the simulation).
    double event_start_time = 0.0, simulation_end_time = 0.0;
    std::vector<double> event_start_times;
    int event_number = 0;    // events read so far
    int event_count = 0;     // events of the run
    // Precipitation state: 0 ready for the next event, 1 rain falling, 2 no
    // further event, 3 no further event and the last rain over.
    int precip_state = 0;
    int end_of_event = 0, end_of_run = 0, event_active = 0;
    // Volumes of the current event for the end test (m3).
    double event_start_surface_volume = 0.0, event_rain_volume = 0.0;
    // Outlet discharge of the step (m3/s) and its peak with time and calendar.
    double outlet_discharge = 0.0, peak_outlet_discharge = 0.0, peak_time_days = 0.0;
    std::array<int, 6> peak_calendar{};  // year, month, day, hour, minute, second
    // Channel extremes of the progress report (value, node, link).
    int channel_extremes_on = 0;
    double max_yp = 0.0, min_yp = 0.0, max_qp = 0.0, min_qp = 0.0;
    std::array<int, 2> max_yp_at{}, min_yp_at{}, max_qp_at{}, min_qp_at{};
    int flush_counter = 0;   // progress lines since the last flush
    // Routing switch of the channel input and the channel-state flag of the step.
    int channel_input_routing = 0, channel_state_flag = 0;
    // Hydrograph locations of the channel network (link and node, 1..count).
    int hyd_location_count = 0;
    std::vector<int> hyd_location_link, hyd_location_node;
    // ---- end watershed ----

    // ---- event ----
    // Overland surface inputs, per cell (N+1 entries): Manning n, retention depth
    // (m), interception storage capacity (mm) and interception coefficient.
    cell_map roughness;  // coded by its distinct values once read
    array_1d<double> retention_depth;
    // Retention that is the same for every cell (the RETENTION card, or none at
    // all) is kept as this one depth (m) and retention_depth stays empty.
    bool retention_uniform = false;
    double retention_uniform_depth = 0.0;
    array_1d<double> interception_capacity, interception_coefficient;
    // Groundwater inputs: boundary code, static flux (m/s; made only when a static
    // flux is read), hydraulic conductivity (m/s) and porosity (coded by their
    // distinct values once read). Every aquifer cell is a grid cell of cell_size on
    // each side.
    array_1d<int> gw_boundary_code;
    array_1d<double> gw_static_flux;
    cell_map gw_hycond, gw_porosity;
    int gw_static_flux_count = 0, gw_dynamic_well_count = 0, gw_wells_from_table = 0;
    // Groundwater level output locations (rows and columns, 1..count).
    int gw_output_location_count = 0;
    array_1d<int> gw_output_rows, gw_output_cols;
    // Sacramento: running total and the start-of-run copies of five basin totals.
    double sacramento_running_total = 0.0;
    std::array<double, 5> sacramento_start_totals{};
    // Overland lakes: per-cell lake number (0 outside) and its copy, the lake
    // count and the lake records 1..count (entry 0 unused).
    array_1d<int> overland_lake_id, overland_lake_id_copy;
    int overland_lake_count = 0, lakes_are_overland = 0;
    std::vector<lake_record> lakes;
    // Work storage of olake_extent, made once for this run's N; the totals of
    // flow into and from overland lakes (m3), and the volume changes that the
    // lake update drops (below the initial level, or below 1e-10 m; m3).
    overland_lake_work olake_work;
    double overland_lake_flow_in = 0.0, overland_lake_flow_out = 0.0;
    double overland_lake_dropped_volume = 0.0;

    // Initial state of the run (m3 unless noted).
    double initial_overland_volume = 0.0, initial_channel_volume = 0.0;
    double run_initial_channel_volume = 0.0;  // before the time loop (m3)
    double initial_snow_volume = 0.0;
    double initial_soil_water_volume = 0.0, start_soil_water_volume = 0.0;
    double initial_gw_volume = 0.0, initial_lake_volume = 0.0;
    double saturated_storage_total = 0.0, unsaturated_storage_total = 0.0;  // as formed
    double total_storage = 0.0, richards_soil_water_volume = 0.0;
    int channel_has_water = 0;
    // Set when an event begins (init_event), read by the writers and the end pieces.
    int event_start_flag = 0;
    int last_finished_event = 0;  // events closed by finish_event
    // The current event's start: surface water outside the lakes, in the lakes and
    // as snow (m3); run totals at its start; the relative-saturation sum of the
    // redistribution moisture.
    double event_initial_overland_volume = 0.0, event_initial_lake_volume = 0.0;
    double event_initial_channel_lake_volume = 0.0, event_initial_snow_volume = 0.0;
    event_total_marks event_marks;
    double relative_saturation_sum = 0.0;
    // Basin-averaged soil moisture (fraction) at the start and the end of the
    // event (long-term runs).
    double event_initial_soil_moisture = 0.0, event_final_soil_moisture = 0.0;
    // Set by the hydro-meteorological reader (repaired data points) and by channel
    // routing (a depth went beyond its cross-section look-up table).
    int hmet_repair_count = 0, xsection_table_exceeded = 0;
    // Final state of the event (m3), formed by finish_event.
    double final_overland_volume = 0.0, final_channel_volume = 0.0, final_lake_volume = 0.0;
    double final_channel_lake_volume = 0.0;
    double final_soil_volume = 0.0, final_gw_volume = 0.0, final_snow_volume = 0.0;
    // Mass balance of the event: inputs with the original storage, outputs with
    // the final storage (m3), and the relative error (-1 without rainfall).
    double mass_input_original = 0.0, mass_output_final = 0.0, mass_conservation_error = 0.0;
    // Outlet hydrograph lines written, and the date number of long-term lines.
    int outlet_line_count = 0;
    double longterm_date_number = 0.0;
    // ---- end event ----

    // ---- soils ----
    // Soil parameters per cell (N+1 entries), converted to metres and seconds, and
    // coded by their distinct values once read.
    cell_map soil_ksat;        // saturated hydraulic conductivity (m/s)
    cell_map soil_capillary;   // wetting-front capillary head (m)
    cell_map soil_porosity, soil_pore_index, soil_residual;
    array_1d<double> soil_sixth;       // sixth GREEN_AMPT_INFILTRATION value, as read
    array_1d<int> soil_index;          // soil class of each cell (rows of soil_layers)
    std::array<int, soil_layer_rows> soil_row_read{};  // 1 for rows filled by a soil table
    array_1d<double> area_reduction;   // 1 - the value read (1.0 where none is read)
    // Evapotranspiration parameters per cell, as read.
    array_1d<double> albedo, vegetation_height, transmission_coeff, canopy_resistance;
    array_1d<double> wilting_point;
    // Initial soil moisture as read, and the moisture state of the scheme (Green and
    // Ampt: the moisture deficit; redistribution and layered soil: the initial moisture).
    cell_map initial_moisture;  // coded by its distinct values once read
    cell_map moisture_state;  // coded by its distinct values once read
    // A uniform initial moisture for every cell (no card sets it in this system).
    int uniform_moisture_on = 0;
    double uniform_moisture = 0.0;
    // Water table and aquifer bottom elevations (m); the unsaturated exchange depth.
    array_1d<double> water_table_elevation, unsat_exchange_depth;
    cell_map aquifer_bottom;  // coded by its distinct values once read
    // Infiltration state of every cell: cumulative depth F (m), F at the last step's
    // totals, the rate (cm/h), the infiltration of the step (m, read and cleared by
    // the root-zone withdrawal) and the deep percolation (m).
    array_1d<double> cumulative_infiltration, previous_infiltration, infiltration_rate;
    array_1d<double> step_infiltration_depth, deep_percolation;
    // Infiltration totals: depth summed over cells (m) and volume (m3) over the
    // run (the Sacramento stores take theirs from it); constituent mass carried
    // into the soil.
    double infiltration_depth_total = 0.0, infiltration_volume_total = 0.0;
    double infiltrated_constituent_mass = 0.0;
    // Redistribution kernel: surface moisture theta0 and its previous value, the
    // cumulative infiltration X at the start of the last hiatus (m), the relative
    // soil moisture (percent), the hiatus state (0, 1, 2), the call in which the
    // cell first ponded in the event, the marks (redist_mark_*: ponded in the last
    // call, has redistributed in the event), the saturated-cell flag (shared with
    // the root-zone withdrawal), and the call counter (raised by step_infiltration
    // before each call). The state, the marks and the flag are one byte each.
    array_1d<double> surface_moisture, surface_moisture_prev, redist_hiatus_depth;
    array_1d<double> relative_soil_moisture;
    array_1d<int> first_ponding_call;
    array_1d<unsigned char> redist_state, redist_marks, saturated_cell;
    int redist_call_count = 0;
    int redist_wet_period = 0;  // wet-period flag of the redistribution scheme
    // Root zone of the redistribution scheme (cm): wetted depth, its water and the
    // upper- and lower-layer parts; the surfacing mark (surface_exchange_factor
    // below forms the exchange factor of a cell where it is used).
    array_1d<double> root_zone_depth, root_zone_water, root_upper_water, root_lower_water;
    array_1d<unsigned char> surfacing_mark;  // one byte per cell
    int surfacing_flag = 0;
    // Richards soil columns [cell][node] with their allocation labels.
    array_2d<double> richards_head, richards_kr, richards_theta, richards_capacity;  // PHEAD KHEAD THETA WATCAP
    array_2d<double> richards_flux, richards_source, richards_dz, richards_ks;        // WATFLUX SOURCE DZ KS
    array_2d<double> richards_theta_s, richards_theta_r, richards_theta_wp;          // THETAS THETAR THETAWP
    array_2d<double> richards_theta_fc, richards_lambda, richards_bubbling;          // THETAFC LAM BP
    array_2d<double> richards_junction_theta, richards_junction_head;                // thehac BChc
    array_2d<double> havercamp_a, havercamp_b, havercamp_alpha, havercamp_beta;      // AHAV BHAV ALPHA BETA
    array_1d<int> richards_cell_nodes;       // nodes of each cell's column
    array_1d<double> richards_column_depth;  // per cell: root-zone depth of the column (m)
    array_1d<double> richards_mean_ks;       // per cell: thickness-weighted mean Ks (cm/h)
    array_1d<double> root_zone_moisture;     // per cell: moisture of the root zone
    int richards_soil_count = 0, richards_layer_count = 0;
    std::array<int, 4> richards_layer_nodes{};  // last node of layers 1..3 (index 1..3)
    // Root-zone and column water of the initial Richards profile (cm summed over cells).
    double richards_root_zone_total = 0.0, richards_column_total = 0.0;
    // Richards step state. Per cell: the surface state (1 flux boundary, 2 ponded
    // head, 3 ponded and draining), the no-column flag (1: only evaporation acts),
    // the ET flag and rate (cm/s), and the totals of evaporation, bottom flux and
    // the water that holding moistures between residual and saturation added
    // (negative: removed), all in m. Per node: heads and moistures at the start
    // of the sub-step, the moisture at the start of the step, the work copy of the
    // profile kept while it is laid above the water table, and the solver rows.
    // The bottom boundary: 0 free drainage, 1 a fixed head at the last node.
    array_1d<int> richards_surface_state, richards_no_column, richards_et_flag;
    array_1d<double> richards_et_rate, richards_evaporation, richards_bottom_flux;
    array_1d<double> richards_clip;
    array_2d<double> richards_head_start, richards_theta_start, richards_theta_prev;
    array_1d<double> richards_profile_head, richards_profile_theta;
    array_1d<double> richards_sub, richards_diag, richards_super, richards_rhs;
    array_1d<double> richards_iterate, richards_k;
    // Per node of the column being stepped: 1 / dz and 1 / the distance to the
    // node above (formed once per column and step).
    array_1d<double> richards_inv_dz, richards_inv_ddn;
    // The conductivities and capacities of the column being stepped at the start
    // of its sub-step, put back when an attempt is refused.
    array_1d<double> richards_kr_start, richards_capacity_start;
    // The nodes of the column being stepped whose moisture lies on the power law
    // of their curve, gathered so that their powers are formed in one loop: the
    // node, the base, the exponent and the power.
    array_1d<int> richards_power_node;
    array_1d<double> richards_power_base, richards_power_exponent, richards_power;
    // Per node of the column being stepped: the exponent 1 / lambda, junction
    // saturation and junction head of its Brooks and Corey curve.
    array_1d<double> richards_curve_exponent, richards_curve_sc, richards_curve_junction;
    int richards_bottom_fixed = 0;
    // The columns' own flows where the ledger does not carry them (their bottom
    // flux into the percolation the aquifer takes later; with soil-moisture
    // accounting, whose stores own the soil water, also their ET and limits).
    double richards_clip_total = 0.0, richards_bottom_total = 0.0;  // m summed over cells
    double richards_et_volume = 0.0;  // m3
    // Hydro-meteorological record: the current hour, the records used so far, and
    // what a scan of the file finds (line count; SAMSON station and position).
    hmet_hour_record hmet_hour;
    int hmet_record_count = 0, hmet_line_count = 0;
    std::string hmet_station;
    double hmet_latitude = 0.0, hmet_longitude = 0.0;
    hmet_reader_state hmet_reader;
    // Per cell: surface temperature (K) and ground heat flux (kW/m2) of the
    // energy balance, evaporated ponding (cm). Run totals (m summed over cells):
    // infiltration taken into the root zone, ET of saturated-flagged cells.
    array_1d<double> surface_temperature, ground_heat_flux, ponded_evaporation;
    double root_zone_infiltration_total = 0.0, flagged_cell_et_total = 0.0;
    // Snowmelt constants: latent heat of fusion (cal/g) and the outgoing longwave
    // term of a melting snow surface (cal/cm2/h).
    double snow_fusion_heat = 80.0, snow_longwave_out = 27.0;
    // Evapotranspiration: the two potential rates of every cell (cm/s), the ET of
    // the last step (m summed over cells); the frozen-ground index and the
    // root-zone bottom-flux store (cm) of every cell.
    array_1d<double> potential_et, potential_et2, frozen_ground_index, root_zone_bottom_flux;
    double et_step_depth = 0.0;
    // Sums over the current hour for the meteorological lines: ET and infiltration
    // (m summed over cells), and the average soil moisture of the last hour.
    double hour_et_depth = 0.0, hour_infiltration_depth = 0.0, average_soil_moisture = 0.0;
    // Soil-moisture accounting: the basin, its first-call flag, the initial total
    // storage (mm), the infiltration volume the stores have taken in (m3), the
    // potential ET over the run (mm), the runoff rate of the last step (mm/h) and
    // the discharge to the channels (m3/s).
    sacramento_basin sac_basin;
    int sac_first_call = 1;
    double sac_initial_storage = 0.0, sac_infiltration_used = 0.0;
    double sac_pet_total = 0.0;
    double sac_last_runoff_rate = 0.0, sac_discharge = 0.0, sac_outflow_volume = 0.0;
    // The runoff the stores gave off that has not yet reached the channels, or
    // the outlet where no channel takes it (m3).
    double sac_owed_volume = 0.0;
    // ---- end soils ----

    // ---- precip ----
    // The TIME_SERIES_INDEX table has been read in this run.
    int time_series_index_read = 0;
    // Corners of the watershed mask's own header: the map-header fields above are
    // overwritten by every later map, so the radar and gauge mapping use these.
    double mask_north = 0.0, mask_south = 0.0, mask_east = 0.0, mask_west = 0.0;
    int mask_header_read = 0;
    // The precipitation file: events found so far by read_precip_file, the event
    // being rained, the start date of every event found by the set-up (entry k
    // the event after k events, as event_start_times), and the radar grid.
    int precip_events_found = 0;
    precip_event rain_event;
    std::vector<precip_date> event_start_dates;
    radar_grid radar;
    int radar_event_seen = 0;
    // First and last hydro-meteorological dates (year, month, day, hour) and the
    // packed forms of the first: hour * 100 and (year * 100 + month) * 100 + day.
    std::array<int, 4> hmet_first{}, hmet_last{};
    int hmet_first_packed_hour = 0, hmet_first_packed_date = 0;
    int longterm_year_format = 1;  // cleared when the first and last years differ
    // Calibration output file and its two value vectors (entries 1..100).
    owned_file optim_file;
    array_1d<double> optim_values1, optim_values2;
    // Record clock of the event: index of the next record to use.
    int record_index = 0;
    // Current event: time the rain started, date of its first record, end of its
    // rain (Julian days); event-found, rain-data-present, no-more-events flags.
    double rain_start_days = 0.0, rain_end_days = 0.0;
    precip_date first_record_date;
    int event_found = 0, rain_data_present = 0, no_more_events = 0;
    int rainborne_constituent_flag = 0;
    // Uniform rain: steps of rain and the rain steps taken.
    int uniform_rain_steps = 0, uniform_rain_counter = 0;
    // Per cell (N+1 entries): rain rate after interception (mm/h), interception
    // store (mm), nearest gauge, snow store (m of water), point inflow (m3/s) and
    // the rain rate of the step for the map writers (mm/h).
    array_1d<double> net_rain_rate, interception_store;
    array_1d<int> nearest_gauge;
    array_1d<double> snow_store, point_inflow, step_rain_rate;
    // Snow fallen on each cell since the rain-borne constituents last took theirs (m).
    array_1d<double> constituent_snowfall;
    // Channel lakes: lake of each cell (0 none; filled by the channel set-up) and
    // the rain of each channel lake in the step (m3) with its rain-borne mass.
    array_1d<int> cell_channel_lake;
    int channel_lake_count = 0;
    // Channel-lake extent: per cell the change of the last update (0, 1 taken,
    // -1 released) and the once-per-run maximum-extent warning.
    array_1d<int> lake_change_flag;
    int lake_extent_warned = 0;
    std::vector<double> channel_lake_rain, channel_lake_rain_mass;
    // Rain totals (m3): the whole run's rain, interception and the two
    // point-inflow totals; the sum of cell rates of the step (mm/h); rain steps
    // with rain and the minute the rain began.
    double global_rain_volume = 0.0, interception_total = 0.0;
    // Intercepted water evaporated from the canopy stores in long-term runs (m3).
    double interception_evaporation_total = 0.0;
    double point_inflow_total1 = 0.0, point_inflow_total2 = 0.0;
    double step_rate_sum = 0.0;
    int rain_steps_with_rain = 0;
    double rain_began_minutes = 0.0;
    // Snow is lying on some cell (long-term runs).
    int snow_flag = 0;
    // Seconds of the current hour whose snow melt the rain piece has done; the
    // hourly piece melts the rest of the hour.
    double rain_melt_seconds = 0.0;
    // Set by rain on an overland lake (and by the overland step); read by the
    // lake update.
    int lake_update_flag = 0;
    // ---- end precip ----

    // ---- overland ----
    // Overland routing per cell (N+1 entries): depth change of one sweep pair (m),
    // discharge across the right and down faces (m3/s after a scheme call), and
    // the largest depth so far (maximum-depth output).
    array_1d<double> depth_change, discharge_x, discharge_y, max_depth;
    int flow_present_switch = 0;  // some cell outside lakes and channels has flow
    // The overland scheme chosen once from OVERTYPE, and the schemes' own state.
    double (*overland_route)(model_state &, double) = nullptr;
    explicit_step_control explicit_control;
    ade_scheme_state ade_state;
    overland_step_record overland_steps;
    richards_substep_record richards_substeps;
    // Volumes of the overland step (m3): water added by lifting negative depths to
    // zero; moved by the boundary cells; the outlet volume of the event (the
    // calibration's); the overland inflow into channel lakes.
    double negative_depth_volume = 0.0;
    double boundary_free_outflow = 0.0, boundary_inflow = 0.0, boundary_outflow = 0.0;
    double outflow_volume = 0.0;
    // Stream-cell coupling with non-orthogonal channels, filled by the channel
    // set-up: the stream-cell number of each cell (0 on land) and per stream cell
    // (1..count) its water surface (m) and the exchange sums of the overland step
    // (m3), which the channel step reads and resets.
    int stream_cell_count = 0;
    array_1d<int> stream_cell_id;
    array_1d<double> stream_cell_level, stream_net_exchange, stream_inflow_sum, stream_outflow_sum;
    // Groundwater piece: the sweep direction handed to the solver (1 or 2), the
    // last channel-groundwater exchange result (0 none, 1 or 2, -1 after a
    // routing failure), the exchange-ended flag, the lake-loss flag of the channel
    // input, the time the rain clock was last restarted (days).
    int gw_sweep_direction = 1, exchange_result = 0, exchange_ended = 0, lake_loss_flag = 0;
    double rain_restart_days = 0.0;
    // Per cell (N+1 entries, made by the groundwater set-up, each only where the
    // options in force use it; empty otherwise): storage coefficient (a
    // redistribution run without soil columns forms it from the start heads);
    // channel seepage and lake loss
    // volumes (m3, positive into the aquifer; filled by explicit channel routing);
    // the river exchange value (m3; made when a river cell, code 2, is first met);
    // the surface exchange depth of the redistribution scheme (cm); the last
    // Richards sub-step (h); the well rates (wells or static fluxes) and leakage
    // rates (a leakage rate given) that the groundwater solver leaves (m/s).
    array_1d<double> gw_storage_coefficient;
    array_1d<double> channel_seepage_volume, lake_loss_volume, river_exchange;
    array_1d<double> surface_exchange_depth, richards_last_substep;
    array_1d<double> gw_well_rate, gw_leakage_rate_cell;
    // Groundwater step work, sized by N once by the groundwater set-up: heads at
    // the start of the sub-step (with redistribution and no Richards columns the
    // step is one sub-step: the heads at its start) and the Picard iterate (m), the net sink (m/s,
    // positive removes water), the coefficients of each cell's right and down
    // faces (shared with the neighbour across them); the line vectors of the
    // solver (longest grid row or column, with the cells of the line). The
    // transmissivities are formed from the iterate where needed, the diagonal and
    // right-hand side of a cell by the solver for its line.
    array_1d<double> gw_substep_head, gw_iterate, gw_net_sink;
    array_1d<double> gw_coef_right, gw_coef_down;
    array_1d<double> gw_line_sub, gw_line_diag, gw_line_super, gw_line_rhs;
    array_1d<int> gw_line_cells;
    // Wells of the well table placed on their cells (id: the cell number), newest
    // first, kept for the run.
    std::vector<well_record> placed_wells;
    // Run totals (m3): water the floor at bottom + 0.001 m added to the aquifer,
    // and the water the fixed-head cells (codes 2 and 5) passed to their solved
    // neighbours through the faces of the solve. Picard iterations and solver
    // sweeps of the run.
    double gw_floor_volume = 0.0, gw_boundary_flux_volume = 0.0;
    // The aquifer's water (m3): the start volume (saturated thickness x porosity)
    // plus every head change times the storage coefficient that the solve used
    // for it, so that the printed volumes store water as the solve does.
    double gw_stored_volume = 0.0;
    // Run total (m3) of the positive sinks that the floor held back: the cap of a
    // sink at the saturated thickness left above the floor, and the rest of a
    // step's sink once the floor has lifted the cell.
    double gw_withheld_volume = 0.0;
    // Run total (m3) that tile drains took from the aquifer into the pipes.
    double gw_tile_volume = 0.0;
    // The first cell whose well met the aquifer floor (0: none), for the warnings.
    int gw_dry_well_cell = 0;
    long long gw_picard_count = 0, gw_sweep_count = 0;
    // Exchange and storage totals (m3): the aquifer's exchange volume, the river
    // exchange, the well and leakage volumes. (The seepage, lake-bed, percolation
    // and soil exchange volumes are in the water ledger.)
    double gw_exchange_volume = 0.0;
    double river_exchange_total = 0.0, gw_well_volume = 0.0, gw_leakage_volume = 0.0;
    // Channel piece: lateral inflow moved into the channels (m3), the routed
    // outflow volume of the step that ex_flow_route leaves (m3; booked and cleared
    // by the channel piece), the outlet volume of the last channel step, kept for
    // the channel constituents' outlet slot (m3), routing calls, channel steps and
    // the dry-spell counter of long-term runs.
    double routed_outflow_volume = 0.0;
    double channel_step_outlet_volume = 0.0;
    int channel_route_calls = 0, channel_step_count = 0, dry_spell_count = 0;
    // ---- end overland ----

    // ---- channels ----
    // Working arrays of the channel set-up and routing (model/channel/channel_network.h).
    channel_work chan;
    // Per-cell topographic index (N+1 entries) that the Sacramento reader fills with
    // TOPO_INDEX; the channel set-up weighs the channel cells by it.
    array_1d<double> topo_index;
    // ---- end channels ----

    // ---- outputs ----
    // Data-set streams by data-set index (model/output/dataset_writer.h): the grid outputs
    // 0..11 and the overland nutrient outputs 12..41, opened after the inputs are
    // read; in per-time map mode slot 6 holds the groundwater output stream.
    std::array<owned_file, 56> dataset_files;
    // Link/node series of the channel nutrient species: four files per species.
    std::array<std::array<owned_file, 4>, nutrient_species_count> species_series_files;
    int map_file_counter = 0;          // per-time map files written so far
    // Soil-moisture output locations (IN_THETA_LOCATION, read_theta_locations):
    // the cell of each location 1..count; with Richards infiltration also the
    // number of depths of each location and the column node of each depth,
    // [location][depth] ("cell_num").
    int theta_location_count = 0;
    array_1d<int> theta_location_cell, theta_location_depths;
    array_2d<int> theta_location_nodes;
    // Saturated-source map and channel sediment state at the end of a run: no
    // card switches them on in this system.
    int satsource_output_on = 0;
    array_1d<int> saturated_source;    // per cell
    std::string channel_sediment_output_name;
    // ---- end outputs ----

    // ---- channel-run ----
    // Blocks written so far into the CHAN_DEPTH, CHAN_DISCHARGE and CHAN_VELOCITY
    // series; block k holds the state k output intervals after the start.
    int channel_series_blocks = 0;
    // ---- end channel-run ----
};

// The yield factor of the unsaturated-saturated exchange of cell i: its aquifer
// porosity times the run's single_unsat_sat, 0 without the aquifer.
inline double surface_exchange_factor(const model_state &s, std::size_t i) {
    if (!s.groundwater_on || s.gw_porosity.empty() || i > s.gw_porosity.last()) return 0.0;
    return s.gw_porosity[i] * s.single_unsat_sat;
}

// Zeroes an erosion record (the model_state constructor then sets its fifth integer).
void init_location_record(erosion_record &e);
// Zeroes one soil table row.
void init_soil_layer_record(soil_layer_record &r);

// The ledger's soil store of the run's infiltration scheme.
inline ledger_node soil_store_of(const model_state &s) {
    if (s.inf_redist) return ledger_node::root_zone;
    if (s.inf_richards) return ledger_node::soil_columns;
    return ledger_node::front_soil;
}
// The store that infiltrated water enters: the Sacramento stores own it when they
// run, else the soil of the scheme.
inline ledger_node infiltration_store_of(const model_state &s) {
    return s.sacramento_on ? ledger_node::sacramento : soil_store_of(s);
}
// The infiltration (m3) the Sacramento stores have not yet taken in: theirs, waiting.
inline double sacramento_pending_volume(const model_state &s) {
    return s.infiltration_volume_total - s.sac_infiltration_used;
}
