// Hydraulic properties of one pipe section for the pipe-network step: flow area,
// wetted perimeter and top width at a depth, the normal depth of a flow (Manning)
// and its critical depth. Section types: 1 circular, 2 arch, 3 rectangular; D is
// the diameter (the rise of an arch), w the width (the span of an arch).
#pragma once

// Area A (m2), wetted perimeter P (m) and top width T (m) at depth y. For other
// section types the three results are left as they were.
void superlink_pipe_geometry(int type, double D, double y, double w, double &A, double &P,
                             double &T);

// Hydraulic radius A / P; 0 for a section without area or perimeter.
double superlink_hydraulic_radius(double A, double P);

// Normal depth yn of flow Q (m3/s) on bed slope S with Manning n. 0 on success;
// -1 after its messages for an arch section or an iteration that does not
// converge (for a rectangle after 250 passes only a warning: yn holds the last
// iterate). For other section types 0 with yn left as it was. A flow below 1e-12
// gives yn = 0, a slope below 1e-12 (with flow) yn = D. A `start` inside the
// section starts the circular iteration there (the last step's depth, say).
int superlink_norm_calc(int type, double D, double w, double n, double Q, double S, double &yn,
                        double start = 0.0);

// Critical depth yc of flow Q; 0 on success, -1 after its messages (an arch
// section, no convergence); other section types 0 with yc left as it was. A flow
// below 1e-12 gives yc = 0. A `start` inside the section starts the circular
// iteration there.
int superlink_crit_calc(int type, double D, double w, double Q, double &yc, double start = 0.0);
