// Structure elements, weir links, critical depth and the root finder against
// hand-computed discharges.
#include <gtest/gtest.h>

#include <cmath>

#include "model/channel/channel_network.h"
#include "model/channel/link_discharge.h"
#include "model/channel/structures.h"
#include "model/core/errors.h"
#include "model/core/globals.h"

namespace {

hydraulic_structure weir(double crest, double length, double cf, double cr) {
    hydraulic_structure e;
    e.type = 1;
    e.upstream_invert = crest;
    e.length = length;
    e.forward_coeff = cf;
    e.reverse_coeff = cr;
    return e;
}

TEST(WeirElement, FreeFlowIsBroadCrestedFormula) {
    const hydraulic_structure e = weir(100.0, 8.0, 0.9, 0.8);
    const double H = 0.6;
    EXPECT_NEAR(weir_element_flow(e, 100.0 + H, 99.0), 1.70489 * 0.9 * 8.0 * std::pow(H, 1.5), 1e-4);
    // Reverse flow uses the reverse coefficient and carries a negative sign.
    EXPECT_NEAR(weir_element_flow(e, 99.0, 100.0 + H), -1.70489 * 0.8 * 8.0 * std::pow(H, 1.5), 1e-4);
}

TEST(WeirElement, SubmergedAndEqualSurfaces) {
    const hydraulic_structure e = weir(100.0, 5.0, 1.0, 1.0);
    EXPECT_DOUBLE_EQ(weir_element_flow(e, 100.5, 100.5), 0.0);
    EXPECT_DOUBLE_EQ(weir_element_flow(e, 99.0, 98.0), 0.0);
    // Submerged: Q = C L (Hlo - c) sqrt(2g (Hhi - Hlo)).
    EXPECT_NEAR(weir_element_flow(e, 101.0, 100.8), 5.0 * 0.8 * std::sqrt(19.62 * 0.2), 1e-9);
}

TEST(WeirLink, FreeSubmergedAndTailBelowCrest) {
    // Free flow with the lower surface below the crest, even when close.
    EXPECT_NEAR(weir_link_flow(10.2, 9.99, 10.0, 0.9, 4.0, 0.5),
                0.9 * 4.0 * 1.70489 * std::pow(0.2, 1.5), 1e-5);
    EXPECT_DOUBLE_EQ(weir_link_flow(9.9, 9.5, 10.0, 0.9, 4.0, 0.5), 0.0);
    // Submerged: s W Cs sqrt(2g) sqrt((Hhi - Hlo)(Hlo - c)).
    EXPECT_NEAR(weir_link_flow(11.5, 11.2, 10.0, 0.9, 4.0, 0.5),
                4.0 * 0.5 * std::sqrt(19.62) * std::sqrt(0.3 * 1.2), 1e-9);
    EXPECT_NEAR(weir_link_flow(11.2, 11.5, 10.0, 0.9, 4.0, 0.5),
                -4.0 * 0.5 * std::sqrt(19.62) * std::sqrt(0.3 * 1.2), 1e-9);
    // Small head difference: 4 s W sqrt(2g) (Hlo - c) sqrt(0.25 (Hhi - Hlo)).
    EXPECT_NEAR(weir_link_flow(10.9, 10.8, 10.0, 0.9, 4.0, 0.5),
                4.0 * 4.0 * std::sqrt(19.62) * 0.8 * std::sqrt(0.025), 1e-9);
    EXPECT_DOUBLE_EQ(weir_link_flow(10.5, 10.5, 10.0, 0.9, 4.0, 0.5), 0.0);
}

TEST(RootFinder, FindsRootAndRefusesUnbracketed) {
    int it = 0;
    EXPECT_NEAR(zbrent([](double x) { return x * x - 2.0; }, 0.0, 2.0, 1e-10, it), std::sqrt(2.0), 1e-9);
    EXPECT_GT(it, 0);
    EXPECT_DOUBLE_EQ(zbrent([](double x) { return x * x + 1.0; }, 0.0, 2.0, 1e-10, it), 0.0);
}

TEST(CriticalDepth, CircularBarrelSatisfiesFroudeOne) {
    clear_error_state();
    const double D = 1.2, Q = 0.8;
    const double yc = crit_calc(Q, D);
    ASSERT_GT(yc, 0.0);
    const barrel_props p = barrel_geometry(3, D, D, yc);
    EXPECT_NEAR(Q * Q * p.top_width / (9.81 * p.area * p.area * p.area), 1.0, 1e-6);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST(BarrelGeometry, HalfFullCircleAndBox) {
    const barrel_props c = barrel_geometry(3, 2.0, 2.0, 1.0);
    EXPECT_NEAR(c.area, 3.1415926 * 4.0 / 8.0, 1e-6);
    EXPECT_NEAR(c.perimeter, 3.1415926, 1e-6);
    EXPECT_NEAR(c.top_width, 2.0, 1e-9);
    const barrel_props b = barrel_geometry(5, 1.5, 2.0, 0.5);
    EXPECT_DOUBLE_EQ(b.area, 1.0);
    EXPECT_DOUBLE_EQ(b.perimeter, 3.0);
}

hydraulic_structure culvert(int kind, double D, double B, double L, double up, double down) {
    hydraulic_structure e;
    e.type = kind;
    e.shape1 = kind == 3 ? D : B;
    e.shape2 = D;
    e.length = L;
    e.upstream_invert = up;
    e.downstream_invert = down;
    e.forward_coeff = 1.0;
    e.reverse_coeff = 1.0;
    e.roughness = 0.013;
    return e;
}

TEST(Culvert, SubmergedOutletFullBarrel) {
    clear_error_state();
    hydraulic_structure e = culvert(3, 1.0, 1.0, 30.0, 10.0, 9.9);
    culvert_result r;
    ASSERT_EQ(culv_flow(e, 1, 13.0, 11.4, r), 0);
    EXPECT_EQ(r.flow_type, 4);
    const double A = 3.1415926 / 4.0, R = 0.25, dH = 1.6;
    const double expected =
        A * std::sqrt(19.62 * dH / (1.0 + 19.62 * 0.013 * 0.013 * 30.0 / std::pow(R, 4.0 / 3.0)));
    EXPECT_NEAR(r.discharge, expected, 1e-9);
    // Flow the other way has the other sign.
    ASSERT_EQ(culv_flow(e, 1, 11.4, 13.0, r), 0);
    EXPECT_LT(r.discharge, 0.0);
}

TEST(Culvert, LongBarrelFullFlowUsesLengthNotSquare) {
    clear_error_state();
    // 60 m barrel of 1 m: long on a mild slope; full with a free outfall (type 6).
    hydraulic_structure e = culvert(3, 1.0, 1.0, 60.0, 10.0, 9.97);
    culvert_result r;
    ASSERT_EQ(culv_flow(e, 1, 12.0, 5.0, r), 0);
    EXPECT_EQ(r.flow_type, 6);
    const double A = 3.1415926 / 4.0, R = 0.25, dH = 12.0 - (9.97 + 0.5);
    const double expected =
        A * std::sqrt(19.62 * dH / (1.0 + 19.62 * 0.013 * 0.013 * 60.0 / std::pow(R, 4.0 / 3.0)));
    EXPECT_NEAR(r.discharge, expected, 1e-9);
}

TEST(Culvert, BoxInletControl) {
    clear_error_state();
    hydraulic_structure e = culvert(5, 1.5, 2.0, 10.0, 10.0, 9.95);
    e.inlet_coeff = 0.9;
    culvert_result r;
    ASSERT_EQ(culv_flow(e, 1, 10.8, 5.0, r), 0);
    EXPECT_EQ(r.flow_type, 2);  // mild slope: head above the outlet invert
    const double head = 10.8 - 9.95, yc = 2.0 * head / 3.0;
    EXPECT_NEAR(r.discharge, 0.9 * 2.0 * yc * std::sqrt(19.62) * std::sqrt(head - yc), 1e-9);
}

TEST(Culvert, CircularInletControlMatchesCriticalFlow) {
    clear_error_state();
    hydraulic_structure e = culvert(3, 1.0, 1.0, 10.0, 10.0, 9.8);  // steep
    e.inlet_coeff = 0.0;  // below 0.01: the element coefficient alone
    culvert_result r;
    ASSERT_EQ(culv_flow(e, 1, 10.6, 5.0, r), 0);
    EXPECT_EQ(r.flow_type, 1);
    const double yc = crit_calc(r.discharge, 1.0);
    const double ac = barrel_geometry(3, 1.0, 1.0, yc).area;
    EXPECT_NEAR(r.discharge, ac * std::sqrt(19.62 * (0.6 - yc)), 2e-4);
}

TEST(Culvert, HeadwaterAtTheInletInvertPassesNothing) {
    clear_error_state();
    culvert_result r;
    // Steep 20 m barrel, tailwater 0.1 m deep in its outlet: a headwater 1 mm over
    // the inlet would otherwise give the type-3 discharge of 0.3 m of fall.
    hydraulic_structure steep = culvert(3, 1.0, 1.0, 20.0, 210.0, 209.6);
    steep.inlet_coeff = 0.78;
    ASSERT_EQ(culv_flow(steep, 1, 210.001, 209.7, r), 0);
    EXPECT_EQ(r.flow_type, 0);
    EXPECT_DOUBLE_EQ(r.discharge, 0.0);
    // Mild barrel with a free outfall: type 2 takes its head from the outlet
    // invert, 0.2 m below the inlet.
    hydraulic_structure mild = culvert(3, 1.0, 1.0, 20.0, 210.0, 209.8);
    mild.inlet_coeff = 0.6;
    ASSERT_EQ(culv_flow(mild, 1, 210.001, 209.7, r), 0);
    EXPECT_EQ(r.flow_type, 0);
    EXPECT_DOUBLE_EQ(r.discharge, 0.0);
    // The same from the other side: the tailwater end is now the inlet.
    ASSERT_EQ(culv_flow(steep, 1, 209.7, 209.605, r), 0);
    EXPECT_DOUBLE_EQ(r.discharge, 0.0);
    // A headwater 5 cm over the inlet flows: type 3, c_in A(0.1) sqrt(2g 0.35).
    ASSERT_EQ(culv_flow(steep, 1, 210.05, 209.7, r), 0);
    EXPECT_EQ(r.flow_type, 3);
    EXPECT_NEAR(r.discharge,
                0.78 * barrel_geometry(3, 1.0, 1.0, 0.1).area * std::sqrt(19.62 * 0.35), 1e-9);
}

TEST(Culvert, DryAndZeroLength) {
    clear_error_state();
    hydraulic_structure e = culvert(3, 1.0, 1.0, 10.0, 10.0, 9.9);
    culvert_result r;
    ASSERT_EQ(culv_flow(e, 1, 9.5, 9.0, r), 0);
    EXPECT_EQ(r.flow_type, 0);
    EXPECT_DOUBLE_EQ(r.discharge, 0.0);
    e.length = 0.0;
    EXPECT_EQ(culv_flow(e, 7, 12.0, 9.0, r), -1);
    EXPECT_EQ(error_record.fatal, 1);
    clear_error_state();
}

}  // namespace

namespace {

TEST(Culvert, BoxInletDepthIsRectangularCriticalDepth) {
    clear_error_state();
    hydraulic_structure e = culvert(5, 2.0, 3.0, 10.0, 10.0, 9.95);
    e.inlet_coeff = 1.0;
    culvert_result r;
    ASSERT_EQ(culv_flow(e, 1, 11.2, 5.0, r), 0);
    // With no loss the inlet depth is critical: y_c = (q^2 / g)^(1/3), q = Q / B.
    const double q = r.discharge / 3.0;
    EXPECT_NEAR(std::cbrt(q * q / 9.81), 2.0 * (11.2 - 9.95) / 3.0, 1e-3);
}

}  // namespace
