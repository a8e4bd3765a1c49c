// Shared by the end-to-end runs of the bundled example project (examples/valley):
// copying it into a scratch directory and reading its hydrograph and summary.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace valley {

// Cells and cell area of the example.
constexpr double cells = 3696.0;
constexpr double cell_area = 30.0 * 30.0;

// The bundled example project, examples/valley of the source tree.
inline std::filesystem::path example_dir() {
    return std::filesystem::path(TEST_DATA_DIR).parent_path().parent_path() / "examples" / "valley";
}

inline void copy_example(const testsupport::scratch_dir &d) {
    for (const auto &entry : std::filesystem::directory_iterator(example_dir()))
        if (entry.is_regular_file())
            d.write(entry.path().filename().string(), testsupport::read_file(entry.path()));
}

struct point {
    double minutes = 0.0, discharge = 0.0;
};

// The (minutes, discharge) lines of an outlet hydrograph file.
inline std::vector<point> hydrograph(const std::string &text) {
    std::vector<point> points;
    for (const std::string &line : testsupport::split_lines(text)) {
        point p;
        if (std::sscanf(line.c_str(), "%lf %lf", &p.minutes, &p.discharge) == 2) points.push_back(p);
    }
    return points;
}

// The number after a label of the event summary; NaN when the label is missing.
inline double summary_value(const std::string &summary, const std::string &label) {
    const std::size_t at = summary.find(label);
    if (at == std::string::npos) return NAN;
    return std::strtod(summary.c_str() + at + label.size(), nullptr);
}

}  // namespace valley
