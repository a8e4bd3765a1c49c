// Hydraulic structures of a structure link: weir elements, culverts with their
// six flow types, critical depth in a circular barrel and Brent's root finder.
// Called by the link discharges (link_discharge.cpp) once per routing pass.
#pragma once

#include <functional>

struct hydraulic_structure;

// Flow area, wetted perimeter and top width of a barrel at depth y.
struct barrel_props {
    double area = 0.0, perimeter = 0.0, top_width = 0.0;
};
// kind 3 circular (diameter D), 4 arch (height D, width B), 5 box (height D, width B).
barrel_props barrel_geometry(int kind, double D, double B, double y);

// Brent's root of f in [x1, x2] to tolerance tol. Unbracketed: prints its message
// and returns 0. When the iterations run out it prints a warning and returns the
// last iterate. iterations receives the number used.
double zbrent(const std::function<double(double)> &f, double x1, double x2, double tol,
              int &iterations);

// Critical depth (m) of discharge Q in a circular barrel of diameter D. A Newton
// iteration that does not converge prints its message, stores code 4000 and
// gives -1.
double crit_calc(double Q, double D);

// Discharge over a weir element from water surfaces h1 (upstream) and h2.
double weir_element_flow(const hydraulic_structure &e, double h1, double h2);

// Result of one culvert evaluation.
struct culvert_result {
    double discharge = 0.0;  // m3/s, negative for flow from h4 to h1
    int flow_type = 0;       // 0 no flow, 1..6
    double D = 0.0;          // barrel height
    double area = 0.0;       // flow area used
    double head = 0.0;       // head term of the inlet-control types
};

// Culvert element number `number` (for messages) with water surfaces h1 and h4.
// Returns 0, or -1 after a fatal error (message printed, code 4000).
int culv_flow(hydraulic_structure &e, int number, double h1, double h4, culvert_result &out);

// Sets the element's inlet coefficient from two inlet-control runs, then returns
// the discharge for h1, h2 in q. 0, or -1 after a fatal error.
int culvert_element_flow(hydraulic_structure &e, int number, double h1, double h2, double &q);
