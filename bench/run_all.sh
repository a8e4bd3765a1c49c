#!/usr/bin/env bash
# Every figure of the performance targets in one session: builds the benchmarks
# (Release, its own build directory), then runs bench_triad, bench_overland,
# bench_channel_routing, the whole runs of time_large_run.sh and the 1-minute
# memory runs, bench_grid_map, bench_overland_lakes, the erosion runs of
# time_erosion_run.sh, the 1-minute memory run of a groundwater run with
# redistribution on GW_SIDE x GW_SIDE cells (default 400), bench_pipe_network,
# bench_richards, bench_calibration_overhead.sh (10 and 100 parameters),
# bench_triad again, and prints one table of every new / reference
# ratio against its target, the whole runs against their kernels (per step and
# per sweep pair) and the peak memory per cell, with the load average of the
# machine before and after each part. Usage:
#   bench/run_all.sh
# Settings (environment): REPETITIONS (bench_overland, default 4, interleaved),
# CHANNEL_REPETITIONS (default 8, interleaved), OVERLAND_SIZES (a regular
# expression of the grid sides, default 1000|2000), LARGE_SIDE (default 1000),
# ADE_PC_MINUTES (default 30: the ADE-PC run of the large plane stops with a
# negative depth after 34 minutes at 5 s steps, before and after the kernel
# work alike), BENCH_BUILD (default build/bench-all) and BENCH_LOGS (default
# BENCH_BUILD/logs: the full output of every part).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${BENCH_BUILD:-$top/build/bench-all}"
logs="${BENCH_LOGS:-$build/logs}"
reps=${REPETITIONS:-4}
channel_reps=${CHANNEL_REPETITIONS:-8}
sizes=${OVERLAND_SIZES:-1000|2000}
side=${LARGE_SIDE:-1000}
pc_minutes=${ADE_PC_MINUTES:-30}
mkdir -p "$logs"
rm -f "$logs"/*.txt

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_TESTS=OFF -DKORVA_BENCH=ON >/dev/null
if ! cmake --build "$build" >"$logs/build.log" 2>&1; then
    echo "building the benchmarks failed; the last lines of $logs/build.log:"
    tail -n 20 "$logs/build.log"
    exit 1
fi

start_time=$(date +%s)
# part name, then the command; its output goes to $logs/NAME.txt, the load
# average before and after it to $logs/load.txt.
part() {
    local name=$1
    shift
    echo "$name: $(date +%T), load average $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$logs/load.txt" >&2
    "$@" >"$logs/$name.txt" 2>&1 || { echo "$name failed; see $logs/$name.txt" >&2; tail -n 20 "$logs/$name.txt" >&2; exit 1; }
}
large() {  # minutes rows cols scheme
    MINUTES=$1 KORVA_BUILD="$build" KORVA_RUN="$build/large_run" "$top/bench/time_large_run.sh" "$2" "$3" "$4"
}
bench="$build/bench"
part triad_before "$bench/bench_triad" --benchmark_color=false
part overland "$bench/bench_overland" --benchmark_color=false "--benchmark_filter=/($sizes)\$" \
    --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true
part channel "$bench/bench_channel_routing" --benchmark_color=false \
    --benchmark_repetitions="$channel_reps" --benchmark_enable_random_interleaving=true
part run_ade large 60 "$side" "$side" ade
part run_explicit large 60 "$side" "$side" explicit
part run_ade_pc large "$pc_minutes" "$side" "$side" ade-pc
for scheme in ade ade-pc explicit; do
    part "memory_$scheme" large 1 "$side" "$side" "$scheme"
done
gw_side=${GW_SIDE:-400}
part memory_groundwater env GROUNDWATER=redist MINUTES=1 KORVA_BUILD="$build" KORVA_RUN="$build/large_run" \
    "$top/bench/time_large_run.sh" "$gw_side" "$gw_side" explicit
part grid_map "$bench/bench_grid_map" --benchmark_color=false --benchmark_repetitions="$reps" \
    --benchmark_enable_random_interleaving=true
part overland_lakes "$bench/bench_overland_lakes" --benchmark_color=false --benchmark_repetitions="$reps" \
    --benchmark_enable_random_interleaving=true
part erosion env KORVA_BUILD="$build" KORVA_RUN="$build/erosion_run" "$top/bench/time_erosion_run.sh"
part pipes "$bench/bench_pipe_network" --benchmark_color=false
part richards "$bench/bench_richards" --benchmark_color=false --benchmark_repetitions="$reps" \
    --benchmark_enable_random_interleaving=true
part calibration env VARNOCK="$build/varnock" REPEAT=3 "$top/bench/bench_calibration_overhead.sh" 10 100
part triad_after "$bench/bench_triad" --benchmark_color=false
echo "end: $(date +%T), load average $(cut -d' ' -f1-3 /proc/loadavg)" >>"$logs/load.txt"

# ---- the table ----
value() {  # file, awk program printing one value
    awk "$2" "$1"
}
triad_line() {  # benchmark name, file: its rate counter as printed
    awk -v b="$1" '$1 == b { for (i = 1; i <= NF; ++i) if ($i ~ /_per_second=/) { sub(/.*=/, "", $i); print $i } }' "$2"
}
echo
echo "== bench/run_all.sh, $(date -u +'%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(( $(date +%s) - start_time )) s"
echo "load average (1, 5, 15 min) at the start of each part:"
sed 's/^/  /' "$logs/load.txt"
echo
echo "limits (bench_triad before / after; G = 2^30 bytes, M = 10^6 values):"
for b in BM_triad/8388608 BM_pow_two_thirds BM_pow_five_thirds BM_two_thirds_n BM_five_thirds_n BM_sqrt; do
    printf "  %-20s %12s / %s\n" "$b" "$(triad_line "$b" "$logs/triad_before.txt")" "$(triad_line "$b" "$logs/triad_after.txt")"
done
echo
echo "overland kernels, new / reference (fastest of $reps interleaved repetitions, M cell updates/s of processor time):"
printf "  %-22s %9s %9s %7s %7s\n" grid new reference ratio target
awk '/^new \/ reference/ { on = 1; next }
     on && NF == 7 {
         target = "-"
         if ($1 == "explicit/wet/2000") target = ">= 3"
         if ($1 == "ade/wet/2000" || $1 == "ade_pc/wet/2000") target = ">= 2"
         met = target == "-" ? "" : ($7 + 0 >= substr(target, 4) + 0 ? "met" : "NOT MET")
         printf "  %-22s %9s %9s %7s %7s %s\n", $1, $3, $5, $7, target, met
     }' "$logs/overland.txt"
echo
echo "channel routing, new / reference (fastest of $channel_reps interleaved repetitions, M node sub-steps/s):"
awk '/^new \/ reference/ { on = 1; next }
     on && NF == 7 { printf "  %-22s %9s %9s %7s %7s %s\n", $1, $3, $5, $7, ">= 2", ($7 >= 2 ? "met" : "NOT MET") }' \
    "$logs/channel.txt"
echo
echo "whole runs of time_large_run.sh on $side x $side cells against the kernel on the wet ${side}^2 grid"
echo "(rates over processor time, as the kernel benchmark's; target: kernel / whole run <= 1.5):"
printf "  %-9s %7s %7s %9s %14s %11s %9s  %-20s %s\n" scheme minutes "wall s" "process s" "M cell-steps/s" sweeps/step kernel "kernel/run per step" "per sweep pair"
for run in ade explicit ade_pc; do
    f="$logs/run_$run.txt"
    kernel=$(awk -v g="$run/wet/$side" '/^new \/ reference/ { on = 1; next } on && $1 == g { print $3 }' "$logs/overland.txt")
    wall=$(value "$f" '/^  wall time/ { print $3 }')
    cpu=$(value "$f" '/^  processor time/ { print $3 }')
    rate=$(value "$f" '/^  processor time/ { print $5 }')
    steps=$(value "$f" '/^korva on/ { print $(NF - 1) }')
    sweeps=$(value "$f" '/^  ADE sweeps/ { print $3 }')
    pairs=$(value "$f" '/^  ADE sweeps/ { print $9 }')
    awk -v run="$run" -v steps="$steps" -v wall="$wall" -v cpu="$cpu" -v rate="$rate" -v sweeps="$sweeps" \
        -v pairs="$pairs" -v kernel="$kernel" 'BEGIN {
        per_step = kernel / rate
        per_pair = pairs == "" ? "-" : sprintf("%.2f %s", kernel / pairs, kernel / pairs <= 1.5 ? "met" : "NOT MET")
        printf "  %-9s %7d %7s %9s %14s %11s %9s  %-20s %s\n", run, steps / 12, wall, cpu, rate,
               sweeps == "" ? "-" : sweeps, kernel,
               sprintf("%.2f %s", per_step, per_step <= 1.5 ? "met" : "NOT MET"), per_pair
    }'
done
echo
echo "peak resident memory of 1-minute overland-only runs on $side x $side cells (target <= 80 bytes per cell):"
for scheme in ade ade-pc explicit; do
    awk -v s="$scheme" '/peak resident memory/ {
        printf "  %-9s %7s MB %7s bytes per cell %s\n", s, $4, $6, ($6 <= 80 ? "met" : "NOT MET")
    }' "$logs/memory_$scheme.txt"
done
awk -v n=$((gw_side * gw_side)) '/peak resident memory/ {
    printf "  %-9s %7s MB %7s bytes per cell %s\n", "gw redist", $4, $6, ($6 <= 250 ? "(target <= 250: met)" : "(target <= 250: NOT MET)")
}' "$logs/memory_groundwater.txt"
echo
echo "grid maps of 2000 x 2000, new / reference (fastest of $reps interleaved repetitions, M cells/s; target >= 4):"
awk '/^new \/ reference/ { on = 1; next }
     on && NF == 7 { printf "  %-22s %9s %9s %7s %s\n", $1, $3, $5, $7, ($7 >= 4 ? "met" : "NOT MET") }' "$logs/grid_map.txt"
echo
echo "overland lakes, new / reference (fastest of $reps interleaved repetitions, M cells/s; ns per cell new / reference;"
echo "target: the new time per cell flat from 16 to 256 lakes):"
awk '/^new \/ reference/ { on = 1; next } on && NF >= 11 { print "  " $0 }' "$logs/overland_lakes.txt"
echo
echo "erosion (time_erosion_run.sh):"
tail -n +2 "$logs/erosion.txt"
echo
echo "pipe-network step against its junctions (target: at most 2.2 per doubling from 50 to 400):"
awk '/^step time/ { on = 1; next }
     on && $1 ~ /^pipe_step.*:$/ {
         worst = 0
         for (i = 2; i <= NF; ++i)
             if ($i ~ /^J=/ && (i + 2 <= NF) && $(i + 2) ~ /^\(x/ && substr($i, 3) + 0 <= 400) {
                 f = substr($(i + 2), 3) + 0
                 if (f > worst) worst = f
             }
         printf "  %s  worst factor to 400: %.2f %s\n", $0, worst, ($1 == "pipe_step/sparse:" ? (worst <= 2.2 ? "met" : "NOT MET") : "")
     }' "$logs/pipes.txt"
echo
echo "Richards step, new / reference (fastest of $reps interleaved repetitions, M column-steps/s; target >= 2):"
awk '/^new \/ reference/ { on = 1; next }
     on && NF == 7 { printf "  %-22s %9s %9s %7s %s\n", $1, $3, $5, $7, ($7 >= 2 ? "met" : "NOT MET") }' "$logs/richards.txt"
echo
echo "varnock's own processor time per model run of a GML estimation (bench_calibration_overhead.sh,"
echo "least of 3; measured in nanoseconds, printed to 0.1 microseconds; target: resolves 0.1 ms per run):"
sed 's/^/  /' "$logs/calibration.txt"
echo
echo "full outputs: $logs"
