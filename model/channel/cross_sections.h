// Cross-section geometry of the channel nodes: closed formulas for trapezoids
// and floodplain trapezoids, depth-indexed property tables of break-point
// sections (built from the break points, looked up by depth or by area), and the
// bed update of erodible break-point sections. Used by the channel set-up, the
// initial channel state, the groundwater step and the channel routing.
#pragma once

#include <vector>

#include "model/core/arrays.h"

struct model_state;
struct channel_network;

// Hydraulic properties of one section at one water level.
struct section_props {
    double area = 0.0;        // m2
    double top_width = 0.0;   // m
    double perimeter = 0.0;   // wetted perimeter (m)
    double conveyance = 0.0;  // K = k A (A / P)^(2/3)
    double dconv = 0.0;       // dK / dy
};

// Trapezoid of bottom width b and side slope z at depth y (>= 0), conveyance
// factor k (the reciprocal of Manning's n).
section_props trapezoid_from_depth(double b, double z, double y, double k);
// Depth of a trapezoid holding area a (>= 0); a rectangle (z = 0) gives a / b.
// A section without width (b = 0 and z = 0) holding water gives -1.
double trapezoid_depth_from_area(double b, double z, double a);
// Trapezoid with a floodplain of side slope zf above the bankfull depth ybf.
section_props floodplain_from_depth(double b, double z, double ybf, double zf, double y,
                                    double k);

// Lookups in property table t of a network: 0 on success, -1 for a table number
// outside 1..table_count. beyond is set to 1 when the level lies above the table.
int table_props_from_depth(const channel_network &net, int t, double y, section_props &out,
                           int &beyond);
int table_depth_from_area(const channel_network &net, int t, double a, double &y, double &k,
                          int &beyond);

// The per-node state arrays that ex_section reads and writes ([node][link]); the
// water-surface elevations are the network's own (yp) unless given here.
struct section_arrays {
    array_2d<double> *area = nullptr;
    array_2d<double> *depth = nullptr;
    array_2d<double> *wse = nullptr;
    array_2d<double> *topw = nullptr;
    array_2d<double> *conv = nullptr;
    array_2d<double> *dconv = nullptr;
    // sqrt(1 + z^2) of every node's side slope z when the caller keeps them
    // (ex_section_area_to_depth only); else computed where needed.
    const array_2d<double> *side_factor = nullptr;
    // The links to handle (ex_section_area_to_depth only); every link when not given.
    const std::vector<int> *links = nullptr;
    // With links: the one node of each entry of links to handle (a link may appear
    // more than once); every node of the link when not given.
    const std::vector<int> *node_of = nullptr;
};

// Mode 1: depth, water-surface elevation and conveyance of every node of every
// handled link from its area; mode 2: area, top width, conveyance and dK/dy from
// its water-surface elevation. beyond_table is set to 1 when a node lay above the
// top of its property table. A stop prints its message, stores code 4000, runs the
// reporter and ends the call.
void ex_section_arrays(channel_network &net, int mode, section_arrays &arrays, int &beyond_table);

// Mode 1 of ex_section_arrays, node for node the same, in parts: all of it; the
// depths and water surfaces only, leaving the conveyances of trapezoid links as
// they are (the routing's sub-steps recompute them before they are read); or
// those conveyances only, from the depths stored by an earlier depth_only call.
enum class section_parts { all, depth_only, conveyance_only };
void ex_section_area_to_depth(channel_network &net, section_arrays &arrays, section_parts parts);

// Builds the property rows of table t (levels 1..nlevels; level 0 stays empty) from
// the break points x[1..npairs], y[1..npairs] and the conveyance factor k; with
// extra set also the first moment and dK/dA. The depth step is (highest - lowest
// elevation) / nlevels. 0 on success; -1 after a stop (50 or more wet stretches
// at one level: message, code 4000). lead_blank adds the two empty lines that the
// break-point reader puts before the stretch message.
int build_section_table(channel_network &net, int t, const double *x, const double *y,
                        int npairs, int nlevels, double k, int extra, int link, bool lead_blank);

// Bed update of every erodible break-point node from the sediment volume change
// since the last update, with the bed porosity; rebuilds the node's table.
void xsec_update_network(model_state &state, double porosity);
