// Topographic index of every watershed cell: the upslope area accumulated by a
// multiple-flow-direction sweep over the elevation grid, divided by the sum of
// contour length times slope towards the lower neighbours, as a natural
// logarithm. Called by the Sacramento reader when TOPO_INDEX is given.
#include <cmath>
#include <cstdio>

#include "model/core/errors.h"
#include "model/input/sacramento_file.h"

namespace {

constexpr int pass_limit = 1000;

// The eight neighbours in the order they are visited: the column to the left,
// then the cells above and below, then the column to the right.
constexpr int neighbour_row[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
constexpr int neighbour_col[8] = {-1, -1, -1, 0, 0, 1, 1, 1};

bool is_corner(int k) { return neighbour_row[k] != 0 && neighbour_col[k] != 0; }

void stop_lines(const char *const *lines, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) std::fprintf(stderr, "%s", lines[k]);
    raise_printed_error();
}

void pass_limit_stop() {
    static const char *const lines[] = {
        "You have specified TOPO_INDEX in your KORVA project file.\n",
        "After 1000 iterative passes through the DEM to calculate\n",
        "the topographic index map, the routine has not succeeded.\n",
        "This is rediculous.  Your DEM must be of very poor quality.\n",
        "Please make your DEM more representative of nature in terms\n",
        "of flow paths, removing digital dams and pits.  If you do not\n",
        "want to do this, you can remove the TOPO_INDEX card from your\n",
        "KORVA project file, and the KORVA Sacramento Routine will the\n",
        "simply put its output into the channels uniformly.\n",
        "Program terminated.\n"};
    stop_lines(lines, sizeof lines / sizeof lines[0]);
}

void negative_index_stop() {
    static const char *const lines[] = {
        "Warning: topodex routine has computed a negative topodex value\n",
        "Check your input elevation file for large flat areas with\n",
        "either the exact same elevation or nearly so (~0.0000x)\n",
        "If you do not want to do this, you can remove the TOPO_INDEX card from your\n",
        "KORVA project file, and the KORVA Sacramento Routine will the\n",
        "simply put its output into the channels uniformly.\n",
        "Program terminated.\n"};
    stop_lines(lines, sizeof lines / sizeof lines[0]);
}

}  // namespace

int topographic_index_passes(const array_2d<double> &elev, const array_2d<int> &cells,
                             array_2d<double> &topo, array_2d<double> &area, int rows, int cols,
                             double dx, int m, int max_passes) {
    const double root2 = std::sqrt(2.0);
    double distance[8], contour[8];
    for (int k = 0; k < 8; ++k) {
        distance[k] = is_corner(k) ? root2 * dx : dx;
        contour[k] = is_corner(k) ? 0.25 * root2 * dx : 0.5 * dx;
    }
    auto inside = [&](int i, int j) { return i >= 1 && i <= rows && j >= 1 && j <= cols; };

    int computed = 0;  // counted over all passes
    for (int pass = 1;; ++pass) {
        if (pass > max_passes) return 0;
        for (int j = 1; j <= cols; ++j) {
            for (int i = 1; i <= rows; ++i) {
                if (cells[i][j] == 0 || topo[i][j] >= 0.0) continue;
                const double z = elev[i][j];
                // Ready when every higher neighbour has its index.
                bool ready = true;
                for (int k = 0; k < 8 && ready; ++k) {
                    const int ni = i + neighbour_row[k], nj = j + neighbour_col[k];
                    if (inside(ni, nj) && elev[ni][nj] > z && topo[ni][nj] < 0.0) ready = false;
                }
                if (!ready) continue;

                double weight[8] = {}, sum = 0.0;
                bool receives[8] = {};
                int receivers = 0;
                for (int k = 0; k < 8; ++k) {
                    const int ni = i + neighbour_row[k], nj = j + neighbour_col[k];
                    if (!inside(ni, nj) || cells[ni][nj] <= 0 || !(elev[ni][nj] < z)) continue;
                    weight[k] = contour[k] * (z - elev[ni][nj]) / distance[k];
                    receives[k] = true;
                    sum += weight[k];
                    ++receivers;
                }
                ++computed;
                if (receivers > 0) {
                    // The cell's area is shared among the receivers by their weights.
                    const double r = area[i][j] / sum;
                    topo[i][j] = std::log(r);
                    for (int k = 0; k < 8; ++k)
                        if (receives[k])
                            area[i + neighbour_row[k]][j + neighbour_col[k]] += weight[k] * r;
                    continue;
                }
                // No lower neighbour: the mean slope up to the watershed neighbours.
                double slope_sum = 0.0;
                int neighbours = 0;
                for (int k = 0; k < 8; ++k) {
                    const int ni = i + neighbour_row[k], nj = j + neighbour_col[k];
                    if (!inside(ni, nj) || cells[ni][nj] <= 0) continue;
                    slope_sum += (elev[ni][nj] - z) / distance[k];
                    ++neighbours;
                }
                const double mean = neighbours > 0 ? slope_sum / neighbours : 0.0;
                if (neighbours == 0 || mean <= 1e-08) {
                    topo[i][j] = 0.333;
                    continue;
                }
                topo[i][j] = std::log(area[i][j] / (2.0 * dx * mean));
                if (mean < 1e-06) std::printf("sslope<1.0e-6 in read_sacramento : %.10lf\n", mean);
            }
        }
        if (computed >= m) return pass;
    }
}

void topodex(const array_1d<double> &elevation, const array_2d<int> &cell_number_grid,
             array_1d<double> &topo_index, int rows, int cols, double dx) {
    array_2d<double> elev, topo, area;
    if (alloc_2d_double(elev, rows, cols, "elev") != 0 ||
        alloc_2d_double(topo, rows, cols, "topodex") != 0 ||
        alloc_2d_double(area, rows, cols, "area") != 0) {
        raise_printed_error();
        return;
    }
    int m = 0;
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j) {
            const int c = cell_number_grid[i][j];
            elev[i][j] = elevation[static_cast<std::size_t>(c)];
            area[i][j] = dx * dx;
            if (c == 0) continue;
            topo[i][j] = -1.0;
            ++m;
        }
    if (topographic_index_passes(elev, cell_number_grid, topo, area, rows, cols, dx, m,
                                 pass_limit) == 0) {
        pass_limit_stop();
        return;
    }
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j) {
            const int c = cell_number_grid[i][j];
            topo_index[static_cast<std::size_t>(c)] = topo[i][j];
            if (c > 0 && topo[i][j] < 0.0) {
                negative_index_stop();
                return;
            }
        }
}
