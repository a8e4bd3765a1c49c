#!/usr/bin/env bash
# varnock's own processor time per model run of a GML estimation on a trivial
# model (a shell script that copies a prepared output file and counts its runs).
# Only varnock's own time is measured (bench/own_cpu_time reads the run time of
# the varnock process, not of the model runs it starts), so the model's cost and
# the machine's load do not enter. One estimation (an initial run, n Jacobian
# runs, the lambda trials and the final run) and one single model run of the
# same problem (max_iterations 0) are timed; the model's own count gives the
# runs each made, and per_run_ms = (own time of the estimation - own time of the
# single run) / (runs of the estimation - runs of the single run): templates,
# instruction files and linear algebra per run, start-up taken out. Each time is
# the least of REPEAT runs (default 3).
# Usage: bench/bench_calibration_overhead.sh [parameter counts...] (default 10 100 1000)
#        VARNOCK=/path/to/varnock bench/... times that program instead of building one.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/bench"
observations=${OBSERVATIONS:-10000}
repeat=${REPEAT:-3}
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(10 100 1000)
mkdir -p "$build"
own_cpu_time="$build/own_cpu_time"
c++ -O2 -std=c++20 "$top/bench/own_cpu_time.cpp" -o "$own_cpu_time"

if [ -n "${VARNOCK:-}" ]; then
    varnock=$VARNOCK
else
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_TESTS=OFF >/dev/null
    cmake --build "$build" --target varnock -j 3 >/dev/null
    varnock="$build/varnock"
fi

# The least own processor time in seconds of `repeat` runs of varnock; the
# model runs of the last one are left counted in runs.log.
least_own() {
    local best="" t
    for ((i = 1; i <= repeat; i++)); do
        rm -f runs.log
        t=$("$own_cpu_time" "$varnock" "$@" < /dev/null)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    done
    echo "$best"
}

printf "%-11s %-13s %-11s %-12s %-12s %-14s %-12s\n" parameters observations model_runs own_cpu_s single_runs single_own_s per_run_ms
for n in "${counts[@]}"; do
    work=$(mktemp -d)
    (
        cd "$work"
        # Template: one parameter per line.
        { echo "ptf #"; for ((p = 1; p <= n; p++)); do echo "p$p #p$p          #"; done; } > model.tpl
        # Instructions and the prepared output: one observation per line.
        { echo "pif $"; for ((k = 1; k <= observations; k++)); do echo "l1 !o$k!"; done; } > model.ins
        awk -v m="$observations" 'BEGIN {for (k = 1; k <= m; k++) printf "%.6f\n", 1 + k / m}' > base.out
        printf 'cat model.in > /dev/null\ncp base.out model.out\necho run >> runs.log\n' > model.sh
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
        own=$(least_own case.pst)
        runs=$(wc -l < runs.log)
        single_own=$(least_own single.pst)
        single_runs=$(wc -l < runs.log)
        per_run=$(echo "1000 * ($own - $single_own) / ($runs - $single_runs)" | bc -l)
        printf "%-11d %-13d %-11d %-12.4f %-12d %-14.4f %-12.4f\n" "$n" "$observations" "$runs" \
            "$own" "$single_runs" "$single_own" "$per_run"
    )
    rm -rf "$work"
done
