// Soil columns of the Richards set-up: the Havercamp and Brooks and Corey curves
// (saturation at zero head, hand values, capacities against the slope of the
// moisture curve, the junction of the Brooks and Corey parabola) and the initial
// soil water of a column with and without a water table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "model/hydrology/layered_soil.h"
#include "model/input/soil_inputs.h"
#include "model/core/soil_hydraulics.h"
#include "tests/model/hydrology/green_ampt_test_support.h"

namespace {

using namespace soiltest;

// Haverkamp's sand: K = Ks A / (A + |h|^B), A = 1.175e6, B = 4.74; moisture with
// alpha = 1.611e6, beta = 3.96, i.e. scale head alpha^(1/beta).
constexpr double sand_a = 1.175e6, sand_b = 4.74, sand_alpha = 1.611e6, sand_beta = 3.96;
constexpr double sand_theta_s = 0.287, sand_theta_r = 0.075;

TEST(HavercampColumn, SaturatedAndUnsaturatedNodes) {
    const double hb = std::pow(sand_alpha, 1.0 / sand_beta);
    double head[3] = {0.0, 0.0, -20.0}, kr[3] = {}, theta[3] = {}, cap[3] = {};
    const double ts[3] = {sand_theta_s, sand_theta_s, sand_theta_s};
    const double tr[3] = {sand_theta_r, sand_theta_r, sand_theta_r};
    const double scale[3] = {hb, hb, hb}, n[3] = {sand_beta, sand_beta, sand_beta};
    const double a[3] = {sand_a, sand_a, sand_a}, b[3] = {sand_b, sand_b, sand_b};
    havercamp_column(head, kr, theta, cap, ts, tr, scale, n, a, b, 2);
    EXPECT_EQ(kr[1], 1.0);
    EXPECT_EQ(cap[1], 0.0);
    EXPECT_EQ(theta[1], sand_theta_s);
    // 20^4.74 = 1.4703e6: Kr = 1.175e6 / 2.6453e6.
    EXPECT_NEAR(kr[2], 0.4442, 5e-4);
    // The capacity is the slope of Haverkamp's moisture curve at -20 cm.
    const auto moisture = [&](double h) {
        return sand_theta_r +
               sand_alpha * (sand_theta_s - sand_theta_r) / (sand_alpha + std::pow(-h, sand_beta));
    };
    const double slope = (moisture(-20.0 + 1e-4) - moisture(-20.0 - 1e-4)) / 2e-4;
    EXPECT_NEAR(cap[2], slope, 1e-6 * std::fabs(slope) + 1e-12);
    EXPECT_EQ(kr[0], kr[1]);
    EXPECT_EQ(cap[0], cap[1]);
    // The moisture and head conversions agree with the same curve.
    EXPECT_NEAR(havercamp_moisture_from_head(-20.0, sand_theta_s, sand_theta_r, hb, sand_beta),
                moisture(-20.0), 1e-12);
    EXPECT_NEAR(havercamp_head_from_moisture(moisture(-35.0), sand_theta_s, sand_theta_r, hb,
                                             sand_beta),
                -35.0, 1e-9);
}

TEST(BrooksCoreyCurve, PowerLawParabolaAndJunction) {
    brooks_corey_curve c;
    c.theta_s = 0.45;
    c.theta_r = 0.05;
    c.hb = -25.0;
    c.lambda = 0.4;
    const double sc = junction_saturation(c.lambda);
    EXPECT_DOUBLE_EQ(sc, 2.0 / 2.4);
    EXPECT_DOUBLE_EQ(junction_moisture(c.theta_s, c.lambda), 0.45 * sc);
    const double hc = junction_head(c.hb, c.lambda);
    EXPECT_LT(hc, c.hb);
    // Both branches meet at the junction with the same moisture and slope.
    const double below = bc_moisture_from_head(hc - 1e-7, c);
    const double above = bc_moisture_from_head(hc + 1e-7, c);
    EXPECT_NEAR(below, above, 1e-8);
    EXPECT_NEAR(bc_moisture_from_head(hc, c), c.theta_r + sc * (c.theta_s - c.theta_r), 1e-12);
    double kr1 = 0, cap1 = 0, kr2 = 0, cap2 = 0;
    bc_conductivity_capacity(hc - 1e-6, c, kr1, cap1);
    bc_conductivity_capacity(hc + 1e-6, c, kr2, cap2);
    EXPECT_NEAR(cap1, cap2, 1e-6 * cap1);
    EXPECT_NEAR(kr1, kr2, 1e-6);
    // Far below: theta = theta_r + (theta_s - theta_r)(hb/h)^lambda, Kr = (h/hb)^-(3 lambda + 2).
    EXPECT_NEAR(bc_moisture_from_head(-100.0, c), 0.05 + 0.4 * std::pow(0.25, 0.4), 1e-12);
    bc_conductivity_capacity(-100.0, c, kr1, cap1);
    EXPECT_NEAR(kr1, std::pow(4.0, -3.2), 1e-12);
    const double slope =
        (bc_moisture_from_head(-100.0 + 1e-4, c) - bc_moisture_from_head(-100.0 - 1e-4, c)) / 2e-4;
    EXPECT_NEAR(cap1, slope, 1e-7);
    // In the parabola the capacity is its slope too.
    const double hp = 0.5 * hc;
    bc_conductivity_capacity(hp, c, kr1, cap1);
    const double pslope =
        (bc_moisture_from_head(hp + 1e-5, c) - bc_moisture_from_head(hp - 1e-5, c)) / 2e-5;
    EXPECT_NEAR(cap1, pslope, 1e-7);
    // Head 0 is saturated; the conversions invert each other on both branches.
    bc_conductivity_capacity(0.0, c, kr1, cap1);
    EXPECT_EQ(kr1, 1.0);
    EXPECT_EQ(cap1, 0.0);
    EXPECT_EQ(bc_moisture_from_head(0.0, c), c.theta_s);
    for (double h : {-300.0, -60.0, 0.9 * hc, 0.3 * hc})
        EXPECT_NEAR(bc_head_from_moisture(bc_moisture_from_head(h, c), c), h, 1e-9 * -h);
}

// One Richards cell over a 30 cm Brooks and Corey soil of three 10 cm layers at
// 2 cm node spacing: 15 layer nodes and the bottom node.
std::unique_ptr<model_state> richards_cell() {
    auto s = make_state(1, 4);
    s->richards_c_option = curve_brooks_corey;
    auto &v = s->soil_layers[3].values;
    const double ks[3] = {2.0, 1.0, 0.5};
    for (int l = 0; l < 3; ++l) {
        v[layer_conductivity_field + l] = ks[l];
        v[layer_porosity_field + l] = 0.45;
        v[richards_residual_field + l] = 0.05;
        v[layer_moisture_field + l] = 0.25;
        v[layer_depth_field + l] = 10.0;
        v[richards_spacing_field + l] = 2.0;
        v[richards_lambda_field + l] = 0.4;
        v[richards_bubbling_field + l] = 25.0;  // stored as minus its size
    }
    s->soil_row_read[3] = 1;
    s->soil_index[1] = 3;
    const int nodes = richards_column_nodes(s->soil_layers[3]);
    s->richards_node_count = nodes;
    for (array_2d<double> *a :
         {&s->richards_head, &s->richards_kr, &s->richards_theta, &s->richards_capacity,
          &s->richards_dz, &s->richards_ks, &s->richards_theta_s, &s->richards_theta_r,
          &s->richards_theta_wp, &s->richards_theta_fc, &s->richards_lambda,
          &s->richards_bubbling, &s->richards_junction_theta, &s->richards_junction_head})
        alloc_2d_double(*a, 1, nodes, "column");
    s->richards_column_depth[1] = 0.07;  // 7 cm roots: nodes 1 to 4
    return s;
}

std::string summary_of(model_state &s) {
    std::rewind(s.summary_file);
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, s.summary_file)) text += buffer;
    std::fclose(s.summary_file);
    s.summary_file = nullptr;
    return text;
}

TEST(InitialSoilWater, ColumnFromItsLayers) {
    auto s = richards_cell();
    s->summary_file = std::tmpfile();
    ASSERT_EQ(richards_column_nodes(s->soil_layers[3]), 16);
    initial_soil_water(*s);
    EXPECT_EQ(s->richards_cell_nodes[1], 16);
    EXPECT_EQ(s->richards_ks[1][3], 2.0);
    EXPECT_EQ(s->richards_ks[1][7], 1.0);
    EXPECT_EQ(s->richards_ks[1][14], 0.5);
    // Equal spacings: the boundary nodes take the harmonic mean of their layers.
    EXPECT_NEAR(s->richards_ks[1][6], 4.0 / 3.0, 1e-12);
    EXPECT_NEAR(s->richards_ks[1][11], 2.0 / 3.0, 1e-12);
    EXPECT_EQ(s->richards_bubbling[1][5], -25.0);
    EXPECT_NEAR(s->richards_theta[1][8], 0.25, 1e-12);
    brooks_corey_curve c{0.45, 0.05, -25.0, 0.4};
    EXPECT_NEAR(s->richards_head[1][8], bc_head_from_moisture(0.25, c), 1e-9);
    EXPECT_NEAR(s->root_zone_moisture[1], 0.25, 1e-12);
    // Root zone: 4 nodes of 2 cm at 0.25; column: 15 nodes of 2 cm at 0.25 (cm),
    // times 100 m2 / 100 gives m3.
    EXPECT_NEAR(s->richards_root_zone_total, 2.0, 1e-12);
    EXPECT_NEAR(s->richards_column_total, 7.5, 1e-12);
    EXPECT_NEAR(s->richards_mean_ks[1], (10 * 2.0 + 10 * 1.0 + 10 * 0.5) / 30.0, 1e-12);
    const std::string text = summary_of(*s);
    EXPECT_NE(text.find("Inital volume of water in root zone= 2.000000 \n \n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Inital volume of water in soil column= 7.500000 \n \n"),
              std::string::npos)
        << text;
}

TEST(InitialSoilWater, GroundUnderTheWaterTableIsOneSaturatedNode) {
    auto s = richards_cell();
    s->water_table_on = 1;
    alloc_1d_double(s->elevation, 1);
    alloc_1d_double(s->water_table_elevation, 1);
    s->elevation[1] = 100.0;
    s->water_table_elevation[1] = 100.3;
    initial_soil_water(*s);
    EXPECT_EQ(s->richards_cell_nodes[1], 1);
    EXPECT_NEAR(s->richards_head[1][1], 0.5 * 2.0 + 30.0, 1e-9);
    EXPECT_EQ(s->richards_theta[1][1], 0.45);
    EXPECT_EQ(s->richards_kr[1][1], 1.0);
}

TEST(InitialSoilWater, HydrostaticHeadsAboveTheWaterTable) {
    auto s = richards_cell();
    s->water_table_on = 1;
    alloc_1d_double(s->elevation, 1);
    alloc_1d_double(s->water_table_elevation, 1);
    s->elevation[1] = 100.0;
    s->water_table_elevation[1] = 99.85;  // 15 cm down: inside node 8
    initial_soil_water(*s);
    // Node 1 spans 0-2 cm: its centre lies 14 cm above the table.
    EXPECT_NEAR(s->richards_head[1][1], -14.0, 1e-9);
    EXPECT_NEAR(s->richards_head[1][4], -8.0, 1e-9);
    // Node 8 (14-16 cm) is cut at the table to 1 cm.
    EXPECT_NEAR(s->richards_dz[1][8], 1.0, 1e-9);
    EXPECT_NEAR(s->richards_head[1][8], -0.5, 1e-9);
    // The column ends with its bottom node, saturated, centred at the table.
    EXPECT_EQ(s->richards_cell_nodes[1], 9);
    EXPECT_EQ(s->richards_theta[1][9], 0.45);
    EXPECT_EQ(s->richards_head[1][9], 0.0);
    brooks_corey_curve c{0.45, 0.05, -25.0, 0.4};
    EXPECT_NEAR(s->richards_theta[1][1], bc_moisture_from_head(-14.0, c), 1e-12);
}

}  // namespace
