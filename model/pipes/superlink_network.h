// The pipe network of a run (storm sewers and tile drains), held in the run state:
// super-junctions, superlinks with their pipes and nodes, the grid-pipe
// connections and the step's exchange values and volumes. read_superlink_file
// fills and sizes it during the reading of inputs; the pipe-network step and the
// tile-drain exchange read and update it.
#pragma once

#include "model/core/arrays.h"

// Superlink l runs from super-junction slink_us_junc[l] to slink_ds_junc[l]; it
// has N = link_node_count[l] pipes 1..N and N + 1 nodes 1..N + 1, pipe k joining
// node k (upstream) to node k + 1. Node 1 lies at the upstream super-junction and
// node N + 1 at the downstream one. Item numbers of the files are the indexes.
//
// Sizes (all arrays zeroed, index 0 present):
// - per super-junction and per superlink: superlink_max_dim + 1 entries;
// - [node or pipe][superlink]: rows 0..max_slink_pipes + 2, columns
//   0..num_superlinks + 1, so that row N + 1 (and N + 2) of every superlink exists;
// - junc_coord: rows 0..2, columns as the per-junction arrays;
// - grid-pipe arrays: gpi_npipes 0..gpi_cell_count, the others
//   [0..gpi_cell_count][0..gpi_max_pipes] (at least one column).
struct superlink_network {
    // ---- counts ----
    int num_junctions = 0;      // super-junctions 1..J (SJUNC cards)
    int num_superlinks = 0;     // superlinks 1..L (CONNECT cards)
    int max_slink_pipes = 0;    // largest pipe count N of one superlink (SLINK cards)
    int superlink_max_dim = 0;  // largest of L, J and that N, plus 2
    int tile_drain = 0;         // 1 when some pipe has a tile-drain conductivity > 0
    // ---- end counts ----

    // ---- watershed ----
    // Per super-junction 1..J: its inlet type (1..9 an inlet taking that many
    // ninths of its cell's surface water, above 10 a fixed head, 999 an outlet to
    // the channel network, 888 an outlet onto its own cell) and its grid row and
    // column. Per superlink its pipe count N; per node [node][superlink] its grid
    // row and column.
    array_1d<int> junction_kind, junction_row, junction_col;
    array_1d<int> link_node_count;
    array_2d<int> node_row, node_col;
    // ---- end watershed ----

    // ---- channels ----
    // Channel node and link of each outlet super-junction (kind 999); 0 when none
    // is known.
    array_1d<int> junction_channel_node, junction_channel_link;
    // ---- end channels ----

    // ---- network file ----
    // Per super-junction.
    array_1d<int> junc_fixed_head;      // 1 when the inlet type is above 10
    array_1d<double> junc_ground_elev;  // ground elevation (m)
    array_1d<double> junc_Zinv;         // invert elevation (m)
    array_1d<double> junc_area;         // plan area (m2)
    array_2d<double> junc_coord;        // [1][j] x, [2][j] y
    // Per superlink.
    array_1d<int> slink_us_junc, slink_ds_junc;  // end super-junctions
    // Per node [1..N + 1][superlink].
    array_2d<int> inlet_type;           // 0..9 may spill when surcharged, 1..9 also inlets
    array_2d<double> node_ground_elev;  // m
    array_2d<double> slink_node_Zinv;   // invert elevation (m)
    array_2d<double> As;                // plan (storage) area (m2)
    array_2d<double> node_xcoord, node_ycoord;
    // Per pipe [1..N][superlink].
    array_2d<int> sec_type;                        // 1 circular, 2 arch, 3 rectangular
    array_2d<double> diameter;                     // diameter, or rise of an arch (m)
    array_2d<double> width;                        // width of a rectangle, span of an arch (m)
    array_2d<double> S0;                           // bed slope
    array_2d<double> M_n;                          // Manning n
    array_2d<double> dx;                           // length (m)
    array_2d<double> superlink_pipe_conductivity;  // tile-drain conductivity
    // ---- end network file ----

    // ---- grid-pipe file ----
    // Grid-pipe cells 1..gpi_cell_count in file order, each with connections
    // 1..gpi_npipes[c]: superlink, node of that superlink, the cell's number and
    // the connection's share of the exchange.
    int gpi_cell_count = 0;  // PIPECELLS
    int gpi_max_pipes = 0;   // largest NUMPIPES
    array_1d<int> gpi_npipes;
    array_2d<int> gpi_link, gpi_node, gpi_gnum;  // [cell][connection]
    array_2d<double> gpi_pct;                    // [cell][connection], fraction
    // [cell][connection]: the tile-drain rate the last exchange found (m3/s).
    array_2d<double> gpi_rate;
    // ---- end grid-pipe file ----

    // ---- step ----
    // Values of the pipe-network step, allocated (zeroed) by the reader.
    int exchange_flag = 0;         // result of the last tile-drain exchange (1 computed)
    int superlink_step_count = 0;  // steps taken in this run
    double slink_volume_start = 0.0, slink_volume_in = 0.0;  // m3
    double slink_volume_out = 0.0, slink_volume_end = 0.0;   // m3
    array_1d<double> junc_head;     // water-surface elevation of each super-junction (m)
    array_1d<double> junc_inflow;   // surface inflow into each super-junction (m3/s)
    array_1d<double> junc_outflow;  // flow handed to the channels at kind-999 junctions (m3/s)
    array_1d<double> slink_us_Zinv, slink_ds_Zinv;  // inverts of node 1 and node N + 1
    array_2d<double> slink_node_depth;              // [node][superlink] water depth (m)
    array_2d<double> Q_node;                        // [node][superlink] lateral inflow (m3/s)
    // The cells of the junctions and nodes, the overland flow at the inlets and
    // the tile-drain flows are run-state arrays placed by the tile-drain reader:
    // junction_cell, superlink_node_gnum, flow_to_superlink, superlink_tile_flow
    // and tile_cell_flow.
    // ---- end step ----
};
