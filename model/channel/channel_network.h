// Records of the channel network held in the run state (the pipe network's record
// is in model/pipes/superlink_network.h). The channel input readers and the channel
// set-up fill them once per run; the routing, the cross-section routines and the
// writers read and update them.
#pragma once

#include <array>
#include <cstdio>
#include <vector>

#include "model/core/arrays.h"
#include "model/core/file_opener.h"

struct time_series;
struct elevation_series;
struct pump;

// Link types of the channel network.
enum channel_link_type : int {
    link_trapezoid = 1,
    link_weir = 2,
    link_lake = 4,
    link_breakpoint_table = 8,
    link_floodplain = 9,
    link_trapezoid_slot = 10,
    link_breakpoint_slot = 11,
    link_subsurface_trapezoid = 12,
    link_breakpoint_gw = 13,
    link_breakpoint = 20,
    link_breakpoint_erode = 21,
    link_trapezoid_erode = 30,
    link_trapezoid_erode2 = 31,
    link_structure = 40,
    link_taken_by_lake = 44,
};

// One hydraulic structure element (STRUCTTYPE card and the cards after it).
// Fields that share a row of the card table are written by all of its words.
struct hydraulic_structure {
    int reserved = 0;
    int type = 0;                    // 1 weir, 2 sag weir, 3 round, 4 oval, 5 rect culvert,
                                     // 6 rating curve, 7 scheduled release, 8 rule curve
    double length = 0.0;             // LENGTH, CREST_LENGTH
    double upstream_invert = 0.0;    // UPINVERT, CREST_LOW_ELEV
    double downstream_invert = 0.0;  // DOWNINVERT
    double slope = 0.0;              // SLOPE
    double reserved_value = 0.0;
    double forward_coeff = 0.0;      // INLET_DISCH_COEFF, DISCHARGE_COEFF_FORWARD
    double reverse_coeff = 0.0;      // REV_FLOW_DISCH_COEFF, DISCHARGE_COEFF_REVERSE
    double inlet_coeff = 0.0;        // written by the structure discharge routine
    double shape1 = 0.0;             // WIDTH, DIAMETER, A_VALUE, LEFT_SLOPE
    double shape2 = 0.0;             // HEIGHT, B_VALUE, RIGHT_SLOPE
    double crest_low_loc = 0.0;      // CREST_LOW_LOC
    double roughness = 0.0;          // ROUGH_COEFF
    elevation_series *elevation = nullptr;  // RATING_CURVE, RULE_CURVE
    time_series *series = nullptr;          // SCHEDULED_RELEASE
};

// One lake of the channel network (a LAKE link).
struct channel_lake {
    int link = 0;
    double min_wse = 0.0, init_wse = 0.0, max_wse = 0.0;  // MINWSE, INITWSE, MAXWSE (m)
    double bed_thickness = 0.0;                           // MLAKE (m)
    int loss = 0;                                         // lake losses simulated
    int search_count = 0;                                 // NUMPTS
    std::vector<std::array<int, 2>> search;               // 1..count: (row, column)
    std::vector<double> pct_flooded, lake_elev;           // working, count + 1 entries
    int flooded_cells = 0;
    double initial_volume = 0.0;                          // m3
    double wse = 0.0, wse_old = 0.0;                      // m
    double volume = 0.0, volume_old = 0.0;                // m3
    double area = 0.0;                                    // m2
    double volume_in = 0.0, volume_out = 0.0, volume_start = 0.0;
    double taken_over = 0.0;  // water taken over from flooded cells in the last update (m3)
    double evaporated = 0.0;  // evaporated from the lake during the run (m3)
};

// Ties of grid cells to channel nodes: per stream cell 1..cell_count a list of
// entries 1..entry_count (link, node, grid cell number, share of the cell).
struct grid_stream_data {
    int cell_count = 0;
    int max_entries = 0;
    array_1d<int> entry_count;
    array_2d<int> gst_link, gst_node, gst_gnum;          // [stream cell][entry]
    array_2d<double> gst_pct, gst_sac_weight, gst_Vlat;  // [stream cell][entry]
};

// Work vectors of the cross-section routines, sized from the network's largest
// section and level count.
struct section_work {
    std::vector<double> x, y;             // break points
    std::vector<double> left, right;      // wet-stretch edges
    std::vector<double> moved_y;          // break points being moved by a bed update
    // Trapezoid conveyances k A (A / P)^(2/3) gathered over the network and made
    // in one array call: A / P (then its power), k A, and the conveyance to set.
    std::vector<double> power_base, power_factor;
    std::vector<double *> power_target;
};

// The channel network as read from the channel input file. Per-link arrays have
// link_count + 1 entries; per-node arrays are [node][link] with nodes
// 1..max_node_count and links 1..link_count.
struct channel_network {
    // Header.
    double alpha = 0.0, beta = 0.0, theta = 0.0;  // routing weights
    int link_count = 0;      // LINKS
    int max_node_count = 0;  // MAXNODES
    int max_upstream = 0;    // largest number of upstream links of a link
    int lake_count = 0;
    int structure_count = 0;       // structure elements 1..count
    int table_count = 0;           // break-point tables 1..count
    int max_pairs = 0;             // largest NPAIRS
    int max_interp = 0;            // largest NUM_INTERP
    int erodible_bp_count = 0;     // BREAK_ERODE links
    int lake_loss = 0;             // an MLAKE card is in the file

    // Per link.
    array_1d<int> link_type;
    array_1d<int> node_count;       // NODES (2 for structures)
    array_1d<int> comp_node_count;  // computational nodes; lowered when a lake takes nodes
    array_1d<double> dx;            // node spacing (m)
    array_1d<double> manning_n;     // MANNINGS_N as read
    array_1d<double> kconv;         // 1 / Manning's n
    array_1d<int> ds_link;          // downstream link (0 at the outlet)
    array_1d<int> us_count;
    array_2d<int> uslinks;          // [link][1..max_upstream]
    array_1d<double> dispersion;    // DISPERSION_COEFF
    array_1d<double> decay;         // DECAY_COEFF
    array_1d<double> link_krb, link_mrb;  // GW_BED_CONDUCTIVITY and GW_BED_THICKNESS
    array_1d<int> link_lake;        // lake links: lake number; other card-form links: own number
    array_1d<int> erode_index;      // ordinal of a BREAK_ERODE link among them
    array_1d<int> num_structs, first_struct, last_struct;  // structure list of the link
    // Scheduled releases, per structure link (link_count + 1 entries once a
    // structure link has been stepped): the rate its SCHEDULED_RELEASE elements
    // ask for and the rate of all its elements at the last discharge pass (m3/s),
    // and over the run the release
    // volume asked for and the volume made (m3), which is less where the link
    // above did not hold what was asked.
    std::vector<double> release_rate, structure_rate, release_asked, release_made;
    bool release_short_warned = false;
    // Copy of the network as read, kept when lakes later change links.
    int og_link_count = 0;
    array_1d<int> og_node_count, og_us_count, og_link_type;
    array_2d<int> og_uslinks;

    // Per node [node][link].
    array_2d<double> bel;           // bed elevation (m)
    array_2d<double> bottom;        // bottom width (m)
    array_2d<double> bankfull_dep;  // m
    array_2d<double> sslope, sslope2;  // side slopes (horizontal per vertical)
    array_2d<double> max_eros;      // erodible layer depth (m)
    array_2d<double> yp;            // water-surface elevation (m)
    array_2d<double> qp;            // discharge to the next node (m3/s)
    array_2d<double> Fr, qp_vol;
    array_2d<double> Krb, Mrb;      // river-bed conductivity and thickness
    array_2d<double> slot_wid, slot_dep;  // numeric form, slot types
    array_2d<int> got_xsec;         // link type at a node with an XSEC card
    array_2d<int> table_num;        // break-point table of the node
    array_2d<time_series *> stream_pointsource;
    array_2d<pump *> stream_pumps;

    // Break-point tables 1..table_count.
    array_2d<double> xbp, ybp;      // [table][pair]: station and elevation
    array_1d<int> table_pairs, table_interp;
    array_1d<double> table_dy;      // depth step (m)
    array_1d<double> table_ymin;    // lowest elevation of the section (m)
    // Property rows [table][level 0..max_interp]; level 0 is the empty section.
    array_2d<double> xarea, xtw, xk, xp, xi1, xdkda;
    int extra_tables = 0;           // xi1 and xdkda are made
    // Erodible break-point links: resampled sections [erodible link][node][pair].
    array_3d<double> xbp_lnn, ybp_lnn;
    array_2d<double> max_yp, ch_sand_vol0;  // [erodible link][node]

    std::vector<hydraulic_structure> structures;  // 1..structure_count
    std::vector<channel_lake> lakes;              // 1..lake_count
    grid_stream_data gst;
    section_work work;

    // ---- watershed ----
    // Names the clock pieces were first written against.
    array_2d<double> &water_surface = yp;
    array_2d<double> &bed_elevation = bel;
    array_2d<double> &discharge = qp;
    // ---- end watershed ----
    // ---- routing ----
    // Work arrays of the routing step ([node][link]), sized from this network on
    // its first step: predictor areas and discharges, exchange at the start of a
    // sub-step, lake-cover fraction and held-by-lake marks of each node, the
    // discharges a sub-step starts from, and the share of its outflows that each
    // node can supply over a sub-step.
    array_2d<double> area_iter, qp_iter, qriv_old, lake_cover, qp_start, outflow_share;
    array_2d<int> status_node;
    // sqrt(1 + z^2) of each node's side slope z, brought up to date at the start
    // of each step, and the side slopes it was made from.
    array_2d<double> side_factor, side_factor_slope;
    // Local sub-steps (links that allow longer sub-steps than the network's
    // shortest take them): each link's level (its sub-step is the shortest one
    // times 2^level), the volume through the join below each link since its coarser
    // side last stepped, the links of each level, and the areas and discharges at
    // the start of a cycle of sub-steps with the volume through every node's face
    // over the cycle ([node][link]); the end nodes (link, node) whose sections a
    // level's sub-step makes for the finer links beside it.
    std::vector<int> link_level;
    std::vector<double> join_volume;
    std::vector<std::vector<int>> level_links;
    std::vector<int> end_links, end_nodes;
    array_2d<double> area_cycle, qp_cycle, face_sum;
    // Every link takes the network's shortest sub-step (comparisons with the
    // routing's reference copy).
    bool one_sub_step_for_all = false;
    // ---- end routing ----
};

// Computational nodes of link l as the channel file gave them, before a lake
// takes any over: the nodes that hold state in the hotstart, profile and series
// files (the last point bounding a routed link holds none).
inline int nodes_as_read(const channel_network &net, int l) {
    if (!net.og_node_count.empty()) return int_at(net.og_node_count, l);
    if (!net.comp_node_count.empty()) return int_at(net.comp_node_count, l);
    return int_at(net.node_count, l);
}

// Computational nodes of link l now (a lake may have taken some over).
inline int routed_node_count(const channel_network &net, int l) {
    return net.comp_node_count.empty() ? int_at(net.node_count, l) : int_at(net.comp_node_count, l);
}

// A link whose nodes carry water and constituents (not a weir, structure or lake).
inline bool routed_link(int type) {
    return type != link_weir && type != link_lake && type != link_structure &&
           type != link_taken_by_lake;
}

// A stream that the channel set-up opens and the run state closes.
struct channel_file_slot {
    std::FILE *file = nullptr;
    channel_file_slot() = default;
    channel_file_slot(const channel_file_slot &) = delete;
    channel_file_slot &operator=(const channel_file_slot &) = delete;
    ~channel_file_slot() { close(); }
    void close() { close_run_file(file); }
};

// Per-node working arrays of the routing and the other arrays that the channel
// set-up makes. Per-node arrays are [node][link]; per-constituent ones
// [constituent][node][link]; per-lake ones [constituent][lake].
// A flow (m3/s) that enters one routed node (link, node) from outside the network.
struct node_inflow {
    int link = 0, node = 0;
    double rate = 0.0;
};

struct channel_work {
    array_2d<double> yp_max_flood, chan_depth, area, area_old, conv, dconv, stdummy, topw, qlat;
    // Water the routing step adds by lifting node areas that ended a sub-step
    // slightly below 0 back to 0 (m3, run total).
    double negative_area_volume = 0.0;
    // Sub-steps of the routing (run total), and those whose length the diffusion
    // number of a face flatter than the slope floor of the step control set.
    long long substeps = 0, floor_substeps = 0;
    // Water that point and time-series inflows brought to the nodes, and that
    // negative rates (point sinks) took from them (m3, run totals).
    double point_source_volume = 0.0, point_sink_volume = 0.0;
    // Water that the pipe-network outlets handed to their channel nodes (m3, run total).
    double pipe_outlet_volume = 0.0;
    // Water the routed nodes gave to the channel lakes, and that the lakes gave
    // back (flow into and out of a lake, nodes a lake took over or released; m3,
    // run totals).
    double to_lakes_volume = 0.0, from_lakes_volume = 0.0;
    // Volume that passed each hydrograph location 1..count during the run (m3).
    std::vector<double> hyd_point_volume;
    array_2d<int> con_vect;         // grid cell of each node
    array_2d<double> qriv;          // exchange with the aquifer per unit length
    array_1d<double> cell_lake_exchange;  // per cell, lakes with an exchange option
    array_1d<int> gw_code_copy;     // per cell, copy of the groundwater boundary codes
    double total_lake_volume = 0.0;
    // Per cell (N + 1 entries): link and node of a channel cell (LINKS and NODES maps).
    array_1d<int> cell_link, cell_node;
    int outlet_link_count = 0;      // links without a downstream link

    // Channel sediment.
    array_2d<double> new_bel, qsmax;
    array_3d<double> ch_wash_vol, ch_sand_vol, qlat_sed, qlat_tot_sed;  // [node][link][class]
    double total_initial_sediment = 0.0;  // m3

    // Sediment hydrograph locations 1..count.
    int sed_location_count = 0;
    std::vector<int> sed_location_link, sed_location_node;
    std::FILE *sed_location_file = nullptr;      // input list, opened with the sediment outputs
    std::FILE *sed_location_out_file = nullptr;  // its echo

    // Grid-stream companions [stream cell][entry].
    array_2d<int> gst_row, gst_col;
    array_2d<double> gst_qriv, gst_Vp, gst_qriv_vol;

    // Pipe-network outlets, per super-junction.
    array_1d<int> outlet_node, outlet_link;
    array_1d<double> outlet_flow, outlet_level;
    // The outlets of this step that reach routed nodes (refilled by every
    // routing step; kept so that its storage is reused).
    std::vector<node_inflow> pipe_outlet_inflows;
    // The routed nodes that take a point, time-series or pipe-outlet inflow in
    // this routing step, link by link and node by node (rate unused).
    std::vector<node_inflow> inflow_nodes;

    // Sacramento weights of the channel cells.
    array_1d<double> sac_cell_weight;  // per cell
    int sac_channel_cells = 0;
    double sac_weight_total = 0.0;

    // Channel constituents.
    int constituent_count = 0;
    array_2d<double> chan_point_Q;
    array_3d<double> chan_node_conc, chan_node_mass, q_node_mass, chan_point_mass_flux;
    array_3d<double> conc_qlat, chan_qlat_mass, chan_point_conc, chan_decay_coef;
    array_3d<double> chan_disp_coef, chan_disp, chan_mass, chan_gw_mass, qriv_mass;
    array_2d<double> lake_conc, lake_mass, lake_decay_coef, lake_chan_inflow_mass;
    array_2d<double> lake_ov_inflow_mass, lake_point_mass, lake_decay_mass, lake_precip_mass;
    array_2d<double> lake_gw_mass, lake_chan_outflow_mass, lake_chan_exchange_mass;
    // Two running totals of the initial lake constituent mass, per constituent.
    array_1d<double> lake_mass_initial, lake_mass_total;
    // [node][link]: discharge volume through each node's downstream face since the
    // last constituent routing (m3, added by the routing step), and the flow area
    // at the last constituent routing.
    array_2d<double> face_volume, wq_previous_area;
    // [stream cell][entry]: water the stream cells gave to the nodes since the last
    // constituent routing (m3, added by the lateral inflow), which the routing gives
    // its mass in the step that brought it. Made only with overland constituents.
    array_2d<double> wq_exchange_volume;
    // Work storage of the constituent routing ([node][link]), made on its first call:
    // accepted, predicted and iterated values, interpolated areas, source rates.
    array_2d<double> wq_conc0, wq_mass0, wq_conc, wq_mass, wq_conc_mid, wq_area_adt, wq_delta,
        wq_rate, wq_disp;
    // Mass terms of the channel constituents per constituent 1..count: the step,
    // the run and the current event; the outlet mass gathered for the next routing.
    struct mass_terms {
        double outlet = 0.0, exchange = 0.0, groundwater = 0.0, decay = 0.0, point = 0.0;
        double clipped = 0.0;  // mass added by lifting small negative node masses to 0
        double pipes = 0.0;    // mass the pipe network's outlets handed the nodes
        // Lakes: mass from and to the channels, from the overland cells, from the
        // lake exchange term, rain, the aquifer and point inputs, decayed, and the
        // negative terms a lake could not give because it held less.
        double lake_in = 0.0, lake_out = 0.0, lake_overland = 0.0, lake_exchange = 0.0;
        double lake_rain = 0.0, lake_groundwater = 0.0, lake_point = 0.0, lake_decay = 0.0;
        double lake_refused = 0.0;
    };
    // What one routing moved, per constituent (g); posted to its ledger at the end.
    std::vector<mass_terms> wq_step;
    std::vector<double> wq_outlet_pending;
    // Mass in the routed nodes when the routing started, per constituent; the
    // masses in the routed nodes and in the lakes when the current event began
    // (/ 1000).
    std::vector<double> wq_channel_mass_initial;
    // Set once the wet nodes have taken the initial concentration (first event).
    bool initial_concentration_set = false;
    std::vector<double> wq_event_channel_initial, wq_event_lake_initial;
    // Per lake: volume at the last constituent routing (m3), and the routing's work
    // storage for one constituent: interpolated volume, accepted concentration and
    // mass, source rate, and the mass that the faces of a sub-step carry into and
    // out of the lake.
    array_1d<double> wq_lake_volume0, wq_lake_volume, wq_lake_conc0, wq_lake_mass0, wq_lake_rate;
    array_1d<double> wq_lake_in, wq_lake_out;
    // Per cell: water exchanged between a channel lake and the aquifer since the
    // last constituent exchange (m3, positive into the lake).
    array_1d<double> lake_gw_volume;
    // Per link: nodes open to the constituent routing at the last routing, to find
    // the nodes a lake took over or gave back since.
    std::vector<int> wq_open_nodes;
    // Per constituent, for the run summary: the balance error of the channels and
    // lakes (percent).
    std::vector<double> wq_mass_error;
    channel_file_slot con_input, con_output;
};
