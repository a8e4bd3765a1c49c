// The sparse junction system of the pipe-network step: the minimum-degree order
// and the pattern of the factors laid once from the superlinks, then per step the
// assembly, the factorisation without row exchanges in that order (a pivot small
// against its column hands the step to the dense solver) and the substitutions.
#include "model/pipes/junction_sparse.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <set>
#include <utility>

#include "model/core/arrays.h"
#include "model/pipes/junction_solver.h"

namespace {

// A pivot below this share of the largest entry of its column is not taken.
constexpr double pivot_threshold = 0.1;

// The slot of place j among the later neighbours of place k; -1 when absent.
int slot_of(const junction_sparse &m, int k, int j) {
    const auto first = m.neighbour.begin() + m.start[k];
    const auto last = m.neighbour.begin() + m.start[k + 1];
    const auto it = std::lower_bound(first, last, j);
    if (it == last || *it != j) return -1;
    return static_cast<int>(it - m.neighbour.begin());
}

// The index in `value` of the entry of places (r, c); -1 off the pattern.
int value_index(const junction_sparse &m, int r, int c) {
    if (r == c) return r;
    const int t = r < c ? slot_of(m, r, c) : slot_of(m, c, r);
    if (t < 0) return -1;
    return (r < c ? m.upper : m.lower) + t;
}

}  // namespace

void lay_junction_pattern(junction_sparse &m, int n, const int *us, const int *ds, int links) {
    m = junction_sparse{};
    m.n = n;
    const auto N = n;
    // The graph of the links, then minimum-degree elimination on it: the
    // neighbours left of an eliminated junction become joined to each other.
    std::vector<std::set<int>> graph(N + 1);
    for (int l = 1; l <= links; ++l) {
        const int a = us[l], b = ds[l];
        if (a == b || a < 1 || b < 1 || a > n || b > n) continue;
        graph[a].insert(b);
        graph[b].insert(a);
    }
    std::set<std::pair<int, int>> by_degree;
    for (int j = 1; j <= n; ++j)
        by_degree.insert({static_cast<int>(graph[j].size()), j});
    m.position.assign(N + 1, 0);
    m.order.assign(N + 1, 0);
    std::vector<std::vector<int>> later(N + 1);  // by junction, the neighbours at elimination
    for (int k = 1; k <= n; ++k) {
        const int v = by_degree.begin()->second;
        by_degree.erase(by_degree.begin());
        m.position[v] = k;
        m.order[k] = v;
        std::set<int> &nv = graph[v];
        later[v].assign(nv.begin(), nv.end());
        for (const int a : nv) {
            std::set<int> &na = graph[a];
            by_degree.erase({static_cast<int>(na.size()), a});
            na.erase(v);
            for (const int b : nv)
                if (b != a) na.insert(b);
            by_degree.insert({static_cast<int>(na.size()), a});
        }
        nv.clear();
    }
    // The pattern by place: each place's later neighbours, ascending.
    m.start.assign(N + 2, 0);
    for (int k = 1; k <= n; ++k) {
        std::vector<int> &nb = later[(m.order[k])];
        for (int &j : nb) j = m.position[j];
        std::sort(nb.begin(), nb.end());
        m.start[k + 1] = m.start[k] +
                                                    static_cast<int>(nb.size());
    }
    m.start[N + 1] = m.start[N];
    m.neighbour.reserve((m.start[N + 1]));
    for (int k = 1; k <= n; ++k) {
        const std::vector<int> &nb = later[(m.order[k])];
        m.neighbour.insert(m.neighbour.end(), nb.begin(), nb.end());
    }
    const int entries = m.start[N + 1];
    m.lower = n + 1;
    m.upper = m.lower + entries;
    m.value.assign((m.upper + entries), 0.0);
    m.factor.assign(m.value.size(), 0.0);
    // The updates of eliminating place k: entry (r, c) of its later neighbours
    // loses l(r, k) u(k, c).
    m.update_start.assign(N + 2, 0);
    for (int k = 1; k <= n; ++k) {
        m.update_start[k] = static_cast<int>(m.update_target.size());
        for (int a = m.start[k]; a < m.start[k + 1]; ++a)
            for (int b = m.start[k]; b < m.start[k + 1];
                 ++b) {
                m.update_target.push_back(value_index(m, m.neighbour[a],
                                                      m.neighbour[b]));
                m.update_l.push_back(m.lower + a);
                m.update_u.push_back(m.upper + b);
            }
    }
    m.update_start[N + 1] = static_cast<int>(m.update_target.size());
    m.rhs.assign(N + 1, 0.0);
    m.work.assign(N + 1, 0.0);
    m.row_scale.assign(N + 1, 0.0);
    allocated_bytes += (m.value.size() * 2 + m.rhs.size() * 3) * sizeof(double) +
                       (m.position.size() + m.order.size() + m.start.size() + m.neighbour.size() +
                        m.update_start.size() + 3 * m.update_target.size()) *
                           sizeof(int);
}

void clear_junction_system(junction_sparse &m) {
    std::fill(m.value.begin(), m.value.end(), 0.0);
    std::fill(m.rhs.begin(), m.rhs.end(), 0.0);
}

void add_junction_entry(junction_sparse &m, int i, int j, double v) {
    const int at = value_index(m, m.position[i],
                               m.position[j]);
    if (at >= 0) m.value[at] += v;
}

double junction_entry(const junction_sparse &m, int i, int j) {
    const int at = value_index(m, m.position[i],
                               m.position[j]);
    return at < 0 ? 0.0 : m.value[at];
}

int solve_junction_sparse(junction_sparse &m) {
    const int n = m.n;
    std::vector<double> &f = m.factor;
    std::vector<double> &big = m.row_scale;
    // A row with no non-zero value makes the system singular.
    for (int k = 1; k <= n; ++k) big[k] = std::fabs(m.value[k]);
    for (int k = 1; k <= n; ++k)
        for (int t = m.start[k]; t < m.start[k + 1]; ++t) {
            const auto r = (m.neighbour[t]);
            big[k] =
                std::fmax(big[k], std::fabs(m.value[(m.upper + t)]));
            big[r] = std::fmax(big[r], std::fabs(m.value[(m.lower + t)]));
        }
    for (int k = 1; k <= n; ++k)
        if (big[k] == 0.0) {
            junction_solver_message("Singular matrix in routine ludcmp");
            return -1;
        }
    std::copy(m.value.begin(), m.value.end(), f.begin());
    for (int k = 1; k <= n; ++k) {
        const auto K = k;
        const double pivot = f[K];
        double column = 0.0;
        for (int t = m.start[K]; t < m.start[K + 1]; ++t)
            column = std::fmax(column, std::fabs(f[(m.lower + t)]));
        if (!(std::fabs(pivot) >= pivot_threshold * column) || pivot == 0.0) return 1;
        const double inverse = 1.0 / pivot;
        for (int t = m.start[K]; t < m.start[K + 1]; ++t) f[(m.lower + t)] *= inverse;
        for (int u = m.update_start[K]; u < m.update_start[K + 1]; ++u) {
            const auto U = u;
            f[m.update_target[U]] -=
                f[m.update_l[U]] * f[m.update_u[U]];
        }
    }
    // Forward with the unit lower factor, then back with the upper one.
    std::vector<double> &x = m.work;
    for (int k = 1; k <= n; ++k)
        x[k] = m.rhs[(m.order[k])];
    for (int k = 1; k <= n; ++k) {
        const auto K = k;
        for (int t = m.start[K]; t < m.start[K + 1]; ++t)
            x[(m.neighbour[t])] -=
                f[(m.lower + t)] * x[K];
    }
    for (int k = n; k >= 1; --k) {
        const auto K = k;
        double sum = x[K];
        for (int t = m.start[K]; t < m.start[K + 1]; ++t)
            sum -= f[(m.upper + t)] * x[(m.neighbour[t])];
        x[K] = sum / f[K];
    }
    for (int k = 1; k <= n; ++k)
        m.rhs[(m.order[k])] = x[k];
    return 0;
}
