// Balancing of the grid decomposition: the parts of parallel_layout take runs of
// whole rows (and of whole columns) with nearly equal numbers of active cells,
// chosen by the SCE-UA data form. Called by the watershed mask reader.
#pragma once

// The data objective: part weights w[1..P] hand out lines 1..L in order; the
// spread between the largest and smallest part load (cells of lines 1..L - 1).
// lines[0..L] is work storage.
double partition_imbalance(const double *w, int part_count, const double *line_cells, double *lines,
                           int line_count);

// Part (1..P) of every line 1..L under the weights w[1..P]; parts[0..L].
void assign_partition_lines(const double *w, int part_count, int line_count, int *parts);

// The row and the column optimisation, each followed by its marking.
void balance_partitions();

// Direction 1 rows, 2 columns: the flag of every interior cell of every counted
// line is 1 when the line belongs to the part numbered by the part field plus 1.
void mark_split_lines(int direction);
