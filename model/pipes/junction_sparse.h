// The junction system of the pipe-network step in sparse form. The junctions are
// ordered once by minimum degree on the graph the superlinks draw, the pattern of
// the factors (with the fill that order makes) is laid once, and every step
// assembles, factorises and solves within it: the cost follows the junctions
// and their links, not the square of the junctions. Called by the pipe-network step.
#pragma once

#include <vector>

struct junction_sparse {
    int n = 0;  // junctions 1..n
    // position[j]: the place of junction j in the elimination order; order[k]
    // the junction at place k (both 1-based).
    std::vector<int> position, order;
    // The later neighbours of place k (ascending places): slots start[k] ..
    // start[k + 1] - 1 of neighbour.
    std::vector<int> start, neighbour;
    // Values: the diagonal of place k at value[k]; the entry below it in row
    // neighbour[t] at value[lower + t], the entry right of it in column
    // neighbour[t] at value[upper + t]. The factors are formed in `factor`, laid
    // out alike, so the assembled system stays for a dense solve.
    std::vector<double> value, factor;
    int lower = 0, upper = 0;
    // Every update of the elimination, grouped by place: the value it changes
    // and the two slots whose product it takes off.
    std::vector<int> update_start, update_target, update_l, update_u;
    std::vector<double> rhs;        // by junction, the solution replaces it
    std::vector<double> work;       // by place
    std::vector<double> row_scale;  // by place
};

// Lays the order and the pattern for n junctions joined by links (us[l], ds[l]),
// l = 1..links (a link from a junction to itself adds no entry).
void lay_junction_pattern(junction_sparse &m, int n, const int *us, const int *ds, int links);

// Clears every value and the right-hand side for the next step's assembly.
void clear_junction_system(junction_sparse &m);

// Adds v to the entry of row i, column j (junctions); the entry must be a
// diagonal or lie on a link of the pattern.
void add_junction_entry(junction_sparse &m, int i, int j, double v);

// Factorises and solves: rhs holds the solution afterwards. 0 when solved; 1
// when a pivot is small against its column (rhs and the assembled values are
// unchanged: the caller solves the system densely); -1 after the
// singular-matrix message (a row without a non-zero value).
int solve_junction_sparse(junction_sparse &m);

// The entry of row i, column j of the assembled system (0 off the pattern).
double junction_entry(const junction_sparse &m, int i, int j);
