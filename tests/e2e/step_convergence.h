// Shared by the step-convergence runs: a project run at its ordinary step, a tenth and a
// twentieth of it; the ordinary step must give every outlet hydrograph line within 3 % of the
// converged peak and the outlet volume within 3 %, and the tenth must have converged (within
// 1 % of the twentieth).
#pragma once
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>
#include "e2e/project_text.h"
#include "support/run_program.h"

namespace step_convergence {

struct run_at { std::vector<double> q; std::string summary; };  // q: outlet m3/s, a value per line

// write(dir, step) puts a project of that step into dir; korva runs it and the hydrograph and
// summary files are read back.
using project_writer = std::function<void(const testsupport::scratch_dir &, double)>;
inline run_at run(const project_writer &write, double step, const std::string &hydrograph, const std::string &summary) {
    testsupport::scratch_dir dir;
    write(dir, step);
    const auto r = dir.run(KORVA_EXE, {"project.prj"}, 300);
    EXPECT_EQ(r.exit_status, 0) << r.out;
    run_at out{{}, dir.read(summary)};
    double t = 0.0, v = 0.0;
    for (const std::string &l : testsupport::split_lines(dir.read(hydrograph)))
        if (std::sscanf(l.c_str(), "%lf %lf", &t, &v) == 2) out.q.push_back(v);
    return out;
}

// The largest departure of a's lines from b's, as a share of b's peak.
inline double departure(const run_at &a, const run_at &b) {
    EXPECT_EQ(a.q.size(), b.q.size());
    if (b.q.empty()) return 1.0;
    double worst = 0.0, peak = *std::max_element(b.q.begin(), b.q.end());
    for (std::size_t k = 0; k < std::min(a.q.size(), b.q.size()); ++k) worst = std::max(worst, std::fabs(a.q[k] - b.q[k]));
    return worst / peak;
}

// The runs at step, step / 10 and step / 20, checked as the header says; `volume` labels the
// outlet volume in the summary.
inline std::vector<run_at> expect_converges(const project_writer &write, double step, const std::string &hydrograph,
                                            const std::string &summary, const std::string &volume, const std::string &tag) {
    std::vector<run_at> runs;
    for (double s : {step, step / 10.0, step / 20.0}) runs.push_back(run(write, s, hydrograph, summary));
    EXPECT_LT(departure(runs[1], runs[2]), 0.01) << tag;
    EXPECT_LT(departure(runs[0], runs[1]), 0.03) << tag;
    const double v0 = project_text::value_after(runs[0].summary, volume), v1 = project_text::value_after(runs[1].summary, volume);
    EXPECT_NEAR(v0, v1, 0.03 * v1) << tag;
    return runs;
}

}  // namespace step_convergence
