// Grid partition balancing: the per-row and per-column active cell counts of the
// mask, the SCE-UA search for part weights that split rows and columns into parts
// of nearly equal load, and the per-cell flags of each split. setup_partitions is
// called by the watershed mask reader; with one part it does nothing.
#include "model/calibration/partitions.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "model/calibration/calibration_services.h"
#include "model/calibration/sce_optimizer.h"
#include "model/core/globals.h"

namespace {

// The searched weights stay in [0.01, 5]; the change limit of the stop test.
constexpr double weight_lower = 0.01, weight_upper = 5.0, change_limit = 0.0001;

// One direction: search the weights, keep each line's part, mark the cells.
void balance_direction(int direction, int seed, const array_1d<double> &line_cells, int line_count) {
    parallel_layout_record &p = parallel_layout;
    const int parts = p.partition_count;
    std::vector<double> initial(static_cast<std::size_t>(parts) + 1, 0.0);
    std::vector<double> lower(initial.size(), weight_lower), upper(initial.size(), weight_upper);
    for (int k = 1; k <= parts; ++k)
        initial[static_cast<std::size_t>(k)] = (k - 1) * static_cast<double>(p.cell_count) / parts;

    std::unique_ptr<sce_optimizer> opt(new (std::nothrow) sce_optimizer);
    if (!opt) return;
    sce_init(*opt);
    sce_setup(*opt, parts, seed, change_limit, initial.data(), lower.data(), upper.data());
    sce_set_data(*opt, line_count, line_cells.data(), p.line_doubles.data());
    opt->data_objective = partition_imbalance;
    std::vector<double> best(initial.size(), 0.0);
    const bool searched = SCEUA(*opt) > 0;
    if (searched) sce_best_point(*opt, best.data());
    sce_free(*opt);
    if (!searched) return;

    assign_partition_lines(best.data(), parts, line_count, p.line_ints.data());
    mark_split_lines(direction);
}

}  // namespace

double partition_imbalance(const double *w, int part_count, const double *line_cells, double *lines,
                           int line_count) {
    // The work storage holds one entry per line; more parts than lines cannot split.
    if (part_count < 1 || part_count > line_count) return HUGE_VAL;
    double total = 0.0;
    for (int k = 1; k <= part_count; ++k) total += w[k];
    if (!(total > 0.0)) return HUGE_VAL;
    // Entry k of the work storage takes part k's cumulative fraction, then its load.
    double running = 0.0;
    int line = 1;
    for (int k = 1; k <= part_count; ++k) {
        running += w[k];
        lines[k] = running / total;
        const int limit = static_cast<int>(static_cast<double>(line_count) * lines[k]);
        double load = 0.0;
        for (; line <= line_count && line <= limit; ++line)
            if (line <= line_count - 1) load += line_cells[line];
        lines[k] = load;
    }
    double largest = -1000.0, smallest = 9999999.99;
    for (int k = 1; k <= part_count; ++k) {
        largest = std::max(largest, lines[k]);
        smallest = std::min(smallest, lines[k]);
    }
    return largest - smallest;
}

void assign_partition_lines(const double *w, int part_count, int line_count, int *parts) {
    double total = 0.0;
    for (int k = 1; k <= part_count; ++k) total += w[k];
    double running = 0.0;
    int line = 1;
    for (int k = 1; k <= part_count && total > 0.0; ++k) {
        running += w[k];
        const int limit = static_cast<int>(static_cast<double>(line_count) * (running / total));
        for (; line <= line_count && line <= limit; ++line) parts[line] = k;
    }
    // A line past every limit (rounding of the last fraction) belongs to no part.
    for (; line <= line_count; ++line) parts[line] = 0;
}

void mark_split_lines(int direction) {
    parallel_layout_record &p = parallel_layout;
    if (!p.cell_map) return;
    const array_2d<int> &map = *p.cell_map;
    const bool rows = direction == 1;
    const int lines = rows ? p.grid_rows : p.grid_cols;
    const int along = rows ? p.grid_cols : p.grid_rows;
    array_1d<int> &flags = rows ? p.row_split_flags : p.col_split_flags;
    for (int line = 1; line <= lines - 1; ++line) {
        const bool own = int_at(p.line_ints, line) == p.suppress_output + 1;
        for (int pos = 1; pos <= along - 1; ++pos) {
            const int cell = rows ? cell_at(map, line, pos) : cell_at(map, pos, line);
            if (cell < 1 || static_cast<std::size_t>(cell) > flags.last() || flags.empty()) continue;
            flags[static_cast<std::size_t>(cell)] = own ? 1 : 0;
        }
    }
}

void balance_partitions() {
    parallel_layout_record &p = parallel_layout;
    if (p.suppress_output != 0) return;
    balance_direction(1, 456, p.row_cell_counts, p.grid_rows);
    balance_direction(2, 37, p.col_cell_counts, p.grid_cols);
}

void setup_partitions(int cols, int cell_count, int rows, const array_2d<int> &cell_number_grid) {
    parallel_layout_record &p = parallel_layout;
    if (p.partition_count <= 1) return;
    p.grid_rows = rows;
    p.grid_cols = cols;
    p.cell_count = cell_count;
    p.cell_map = &cell_number_grid;
    const long long line_entries = std::max(rows, cols) + 1;
    if (alloc_1d_double(p.line_doubles, line_entries) != 0 || alloc_1d_int(p.line_ints, line_entries) != 0 ||
        alloc_1d_double(p.row_cell_counts, rows) != 0 || alloc_1d_double(p.col_cell_counts, cols) != 0 ||
        alloc_1d_int(p.row_split_flags, cell_count) != 0 || alloc_1d_int(p.col_split_flags, cell_count) != 0)
        return;
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c)
            if (cell_at(cell_number_grid, r, c) != 0) {
                p.row_cell_counts[static_cast<std::size_t>(r)] += 1.0;
                p.col_cell_counts[static_cast<std::size_t>(c)] += 1.0;
            }
    balance_partitions();
}
