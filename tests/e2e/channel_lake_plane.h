// Shared by the end-to-end channel-lake runs: 5 x 5 cells of 10 m draining to
// column 3 (ground 10 m + 0.5 m per column from the middle + 0.2 m per row from
// the bottom); a channel of three computational nodes down rows 1..3 feeds a lake
// on (5,3) at 10.1 m whose search cells, in flooding order, are (5,3), (4,3),
// (5,2), (5,4), (4,2) and (4,4).
#pragma once

#include <cstdlib>
#include <string>

#include "project_text.h"
#include "support/run_program.h"

namespace channel_lake_plane {

inline double ground(int r, int c) { return 10.0 + 0.5 * std::abs(c - 3) + 0.2 * (5 - r); }

template <class F>
std::string map(F value) {
    return project_text::grid_of(5, 5, 10.0, value);
}

// Writes mask.asc, elev.asc, links.asc, nodes.asc and p.chn; `channel_cards` go
// into the channel link and `lake_cards` into the lake link of p.chn.
inline void write(const testsupport::scratch_dir &d, const std::string &channel_cards = "",
                  const std::string &lake_cards = "") {
    d.write("mask.asc", map([](int, int) { return std::string("1"); }));
    d.write("elev.asc", map([](int r, int c) { return project_text::number(ground(r, c)); }));
    d.write("links.asc", map([](int r, int c) { return std::string(c == 3 && r <= 3 ? "1" : "0"); }));
    d.write("nodes.asc",
            map([](int r, int c) { return c == 3 && r <= 3 ? std::to_string(r) : std::string("0"); }));
    d.write("p.chn", "KORVA_CHAN\nALPHA 1.0\nBETA 1.0\nTHETA 1.0\nLINKS 2\nMAXNODES 4\n"
                     "CONNECT 1 2 0\nCONNECT 2 0 1 1\n"
                     "LINK 1\nDX 10.0\nNODES 4\nTRAPEZOID\nMANNINGS_N 0.035\n" + channel_cards +
                     "NODE 1\nELEV 10.8\nXSEC\nBOTTOM_WIDTH 2.0\nBANKFULL_DEPTH 1.0\nSIDE_SLOPE 1.0\n"
                     "NODE 2\nELEV 10.6\nNODE 3\nELEV 10.4\nNODE 4\nELEV 10.2\n"
                     "LINK 2\nLAKE\nNODES 1\n" + lake_cards +
                     "NODE 1\nELEV 9.5\nMINWSE 9.9\nINITWSE 10.1\nMAXWSE 11.0\n"
                     "NUMPTS 6\n5 3 4 3 5 2 5 4 4 2 4 4\n");
}

// Redistribution infiltration over the groundwater model on the plane: writes
// wt.asc (the table `table_depth` m below the ground), bot.asc (0 m), bound.asc
// and the soil maps, and returns the project cards that name them.
inline std::string write_soil_and_aquifer(const testsupport::scratch_dir &d, double table_depth) {
    const auto uniform = [](const char *v) { return map([v](int, int) { return std::string(v); }); };
    d.write("wt.asc", map([&](int r, int c) { return project_text::number(ground(r, c) - table_depth); }));
    d.write("bot.asc", uniform("0.0"));
    d.write("bound.asc", uniform("1"));
    d.write("ks.asc", uniform("0.65"));
    d.write("psi.asc", uniform("16.7"));
    d.write("phi.asc", uniform("0.3"));
    d.write("theta.asc", uniform("0.16"));
    d.write("res.asc", uniform("0.05"));
    d.write("pi.asc", uniform("0.3"));
    return "INF_REDIST\nCONDUCTIVITY ks.asc\nCAPILLARY psi.asc\nPOROSITY phi.asc\n"
           "MOISTURE theta.asc\nRESIDUAL_SAT res.asc\nPORE_INDEX pi.asc\n"
           "SOIL_MOIST_DEPTH 100\nTOP_LAYER_DEPTH 20\n"
           "GW_SIMULATION\nWATER_TABLE wt.asc\nAQUIFER_BOTTOM bot.asc\nGW_BOUNDFILE bound.asc\n"
           "GW_UNIF_HYCOND 5\nGW_UNIF_POROSITY 0.3\nGW_TIMESTEP 60\nGW_LSOR_CON 1e-8\n";
}

}  // namespace channel_lake_plane
