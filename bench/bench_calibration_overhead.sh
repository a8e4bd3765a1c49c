#!/usr/bin/env bash
# Times one GML estimation iteration of varnock on a trivial model (a shell
# script that copies a prepared output file) and compares it with the time of
# the same number of bare model runs, so that the difference is varnock's own
# work: writing templates, reading instructions and the linear algebra.
# Usage: bench/bench_calibration_overhead.sh [parameter counts...] (default 10 100 1000)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/bench"
observations=${OBSERVATIONS:-10000}
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(10 100 1000)

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_TESTS=OFF >/dev/null
cmake --build "$build" --target varnock -j 3 >/dev/null
varnock="$build/varnock"

now() { date +%s.%N; }

printf "%-11s %-13s %-11s %-12s %-14s %-12s\n" parameters observations model_runs total_s bare_runs_s varnock_s
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
        # Initial run, n Jacobian runs, one lambda trial and the final run.
        runs=$((n + 3))
        start=$(now)
        "$varnock" case.pst > screen.txt < /dev/null
        end=$(now)
        total=$(echo "$end - $start" | bc -l)
        echo "p1 1.0" > model.in
        start=$(now)
        for ((r = 1; r <= runs; r++)); do sh -c "sh model.sh"; done
        end=$(now)
        bare=$(echo "$end - $start" | bc -l)
        own=$(echo "$total - $bare" | bc -l)
        printf "%-11d %-13d %-11d %-12.2f %-14.2f %-12.2f\n" "$n" "$observations" "$runs" "$total" "$bare" "$own"
    )
    rm -rf "$work"
done
