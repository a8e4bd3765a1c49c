// Per-cell work arrays of the run state made on demand: the guard that sizes a
// per-cell array once, and the groundwater step's work arrays, which the set-up
// hook and the groundwater step both make (whichever comes first), and the
// overland-lake update's work storage, made by the lake hook or on a first call.
#include "model/core/cell_arrays.h"

#include <algorithm>
#include <cstdio>

#include "model/core/model_state.h"

bool ensure_cell_array(array_1d<double> &values, int cell_count) {
    if (cell_count < 0) return false;
    if (!values.empty() && values.last() == static_cast<std::size_t>(cell_count)) return true;
    return alloc_1d_double(values, cell_count) == 0;
}

bool ensure_cell_array(array_1d<int> &values, int cell_count) {
    if (cell_count < 0) return false;
    if (!values.empty() && values.last() == static_cast<std::size_t>(cell_count)) return true;
    return alloc_1d_int(values, cell_count) == 0;
}

bool allocate_groundwater_work(model_state &s) {
    const int n = s.cell_count;
    if (n <= 0) {
        std::printf("Error: Attempting to allocate array of size 0\n");
        return false;
    }
    for (array_1d<double> *a :
         {&s.gw_substep_head, &s.gw_iterate, &s.gw_net_sink, &s.gw_coef_right, &s.gw_coef_down}) {
        if (!ensure_cell_array(*a, n)) return false;
    }
    // The arrays of the options in force only: the others stay empty (no page of
    // them is touched) and their readers test for that. The well rates stand for
    // the wells of the table and for the static fluxes; the river exchange is made
    // when the step first meets a river cell.
    const struct {
        array_1d<double> *values;
        bool needed;
    } optional[] = {
        // A redistribution run without soil columns forms the storage coefficients
        // from the start heads.
        {&s.gw_storage_coefficient, !s.inf_redist || s.inf_richards},
        {&s.surface_exchange_depth, s.inf_redist != 0},
        {&s.richards_last_substep, s.inf_richards != 0},
        {&s.channel_seepage_volume, s.chan_explicit != 0},
        {&s.lake_loss_volume, s.chan_explicit != 0},
        {&s.gw_well_rate, s.gw_wells_from_table != 0 || !s.gw_static_flux.empty()},
        {&s.gw_leakage_rate_cell, s.gw_leakage_rate != 0.0},
    };
    for (const auto &a : optional)
        if (a.needed && !ensure_cell_array(*a.values, n)) return false;
    const int rows = s.cell_number_grid.empty() ? 0 : static_cast<int>(s.cell_number_grid.rows());
    const int cols = s.cell_number_grid.empty() ? 0 : static_cast<int>(s.cell_number_grid.cols());
    const int line = std::max(rows, cols) + 1;
    for (array_1d<double> *a : {&s.gw_line_sub, &s.gw_line_diag, &s.gw_line_super, &s.gw_line_rhs})
        if (!ensure_cell_array(*a, line)) return false;
    return ensure_cell_array(s.gw_line_cells, line);
}

int make_overland_lake_work(model_state &s) {
    overland_lake_work &w = s.olake_work;
    const int n = s.cell_count;
    if (w.cells == n && !w.side_mask.empty()) return 0;
    const int limit = n / 8;
    // The candidate lists take up to four entries of one cell before their limit
    // is tested, so they hold at least four.
    const int list = std::max(limit, 4);
    if (alloc_1d_int(w.side_mask, n) != 0 || alloc_1d_int(w.candidate_cell, list) != 0 ||
        alloc_1d_double(w.candidate_level, list) != 0 || alloc_1d_int(w.group_count, list) != 0 ||
        alloc_1d_int(w.group_sum, list) != 0 || alloc_1d_double(w.release_key, n) != 0 ||
        alloc_1d_int(w.member_cells, n) != 0 || alloc_1d_int(w.joined, list) != 0 ||
        alloc_1d_int(w.candidate_mark, n) != 0)
        return -1;
    w.cells = n;
    w.list_size = limit;
    return 0;
}
