#!/usr/bin/env bash
# Times one GML estimation iteration of varnock on a trivial model (a shell
# script that copies a prepared output file) and compares it with the time of
# the same number of bare model runs, so that the difference is varnock's own
# work: writing templates, reading instructions and the linear algebra. A
# single model run of the same problem (max_iterations 0) is timed as well, so
# that the start-up (control file, instruction parsing, records) can be taken
# out: per_run_ms is (own work of the estimation - own work of the single run)
# / (model runs - 1). Each time is the least of REPEAT runs (default 3).
# Usage: bench/bench_calibration_overhead.sh [parameter counts...] (default 10 100 1000)
#        VARNOCK=/path/to/varnock bench/... times that program instead of building one.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/bench"
observations=${OBSERVATIONS:-10000}
repeat=${REPEAT:-3}
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(10 100 1000)

if [ -n "${VARNOCK:-}" ]; then
    varnock=$VARNOCK
else
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_TESTS=OFF >/dev/null
    cmake --build "$build" --target varnock -j 3 >/dev/null
    varnock="$build/varnock"
fi

now() { date +%s.%N; }
# The least wall time in seconds of `repeat` runs of the command.
least() {
    local best="" start end t
    for ((i = 1; i <= repeat; i++)); do
        start=$(now); "$@" > /dev/null < /dev/null; end=$(now)
        t=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    done
    echo "$best"
}
bare_runs() { for ((r = 1; r <= $1; r++)); do sh -c "sh model.sh"; done; }

printf "%-11s %-13s %-11s %-12s %-14s %-12s %-12s %-12s\n" parameters observations model_runs total_s bare_runs_s varnock_s single_own_s per_run_ms
for n in "${counts[@]}"; do
    work=$(mktemp -d)
    (
        cd "$work"
        # Template: one parameter per line.
        { echo "ptf #"; for ((p = 1; p <= n; p++)); do echo "p$p #p$p          #"; done; } > model.tpl
        # Instructions and the prepared output: one observation per line.
        { echo "pif $"; for ((k = 1; k <= observations; k++)); do echo "l1 !o$k!"; done; } > model.ins
        awk -v m="$observations" 'BEGIN {for (k = 1; k <= m; k++) printf "%.6f\n", 1 + k / m}' > base.out
        printf 'cat model.in > /dev/null\ncp base.out model.out\n' > model.sh
        {
            echo "pcf"; echo "* control data"; echo "norestart estimation"
            echo "$n $observations 1 0 1"; echo "1 1 single point 1 0 0"
            echo "10.0 2.0 0.3 0.01 1"; echo "3.0 3.0 0.001 0"; echo "0.1"
            echo "none 1 0.01 3 3 0.01 3"; echo "1 1 1"; echo "0 0 0.5 2 0.0"
            echo "* parameter groups"; echo "grp relative 0.01 0.0 always_2 2.0 outside_pts"
            echo "* parameter data"
            for ((p = 1; p <= n; p++)); do echo "p$p none relative 1.0 -10.0 10.0 grp 1.0 0.0 1"; done
            echo "* observation groups"; echo "obsgrp"; echo "* observation data"
            awk -v m="$observations" 'BEGIN {for (k = 1; k <= m; k++) printf "o%d %.6f 1.0 obsgrp\n", k, 1.5 + k / m}'
            echo "* model command line"; echo "sh model.sh"
            echo "* model input/output"; echo "model.tpl model.in"; echo "model.ins model.out"
            echo "* prior information"
        } > case.pst
        sed 's/^none 1 0.01 3 3 0.01 3$/none 0 0.01 3 3 0.01 3/' case.pst > single.pst
        # Initial run, n Jacobian runs, one lambda trial and the final run.
        runs=$((n + 3))
        total=$(least "$varnock" case.pst)
        echo "p1 1.0" > model.in
        bare=$(least bare_runs "$runs")
        own=$(echo "$total - $bare" | bc -l)
        single=$(least "$varnock" single.pst)
        bare_single=$(least bare_runs 1)
        single_own=$(echo "$single - $bare_single" | bc -l)
        per_run=$(echo "1000 * ($own - $single_own) / ($runs - 1)" | bc -l)
        printf "%-11d %-13d %-11d %-12.3f %-14.3f %-12.3f %-12.3f %-12.2f\n" "$n" "$observations" "$runs" \
            "$total" "$bare" "$own" "$single_own" "$per_run"
    )
    rm -rf "$work"
done
