#!/usr/bin/env bash
# Times a whole korva run on a large synthetic project: a tilted plane of
# ROWS x COLS cells of 10 m (default 1000 x 1000) under 30 mm/h of uniform rain for
# 30 minutes, one hour simulated with 5 s steps. Builds korva optimised into
# build/bench-release and runs in build/large_run. Usage:
#   bench/time_large_run.sh [rows] [cols] [explicit|ade|ade-pc]
# MINUTES (default 60) sets the simulated time. GROUNDWATER=redist adds
# redistribution infiltration (uniform loam maps) over the groundwater model (the
# table 1 m below the ground over a bottom at 80 m, every cell an active cell,
# one aquifer step a minute). Printed: the wall time and the
# cell steps per second over it; with /usr/bin/time present also the processor
# time (user + system) and the rate over it (the rate the kernel benchmarks
# report), and the peak resident memory; with an ADE scheme the sweeps per step
# from korva's log line (2 when no step was cut into sub-steps or redone) and the
# cell sweep pairs per second of processor time, the unit of bench_overland.
set -euo pipefail
rows=${1:-1000}
cols=${2:-1000}
scheme=${3:-ade}
top=$(cd "$(dirname "$0")/.." && pwd)
build="${KORVA_BUILD:-$top/build/bench-release}"
run="${KORVA_RUN:-$top/build/large_run}"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_TESTS=OFF -DKORVA_WORK_COUNTS=ON >/dev/null
if ! cmake --build "$build" --target korva >"$build/build.log" 2>&1; then
    echo "building korva failed; the last lines of $build/build.log:"
    tail -n 20 "$build/build.log"
    exit 1
fi
rm -rf "$run"
mkdir -p "$run"
cd "$run"

dx=10
header() {
    echo "north: $((rows * dx)).0"
    echo "south: 0.0"
    echo "east: $((cols * dx)).0"
    echo "west: 0.0"
    echo "rows: $rows"
    echo "cols: $cols"
}
# kind: mask (every cell inside), elevation (1 percent down to the last row,
# 0.5 percent toward the middle column), table (1 m below the elevation),
# roughness, or a number (that value everywhere).
grid() {
    awk -v rows="$rows" -v cols="$cols" -v dx="$dx" -v kind="$1" 'BEGIN {
        mid = int((cols + 1) / 2)
        for (r = 1; r <= rows; r++) {
            line = ""
            for (c = 1; c <= cols; c++) {
                side = c - mid; if (side < 0) side = -side
                if (kind == "mask") value = "1"
                else if (kind == "elevation" || kind == "table")
                    value = sprintf("%.3f", 100.0 + 0.01 * (rows - r) * dx + 0.005 * side * dx - (kind == "table"))
                else if (kind == "roughness") value = "0.05"
                else value = kind
                line = line (c > 1 ? " " : "") value
            }
            print line
        }
    }'
}
{ header; grid mask; } > large.mask
{ header; grid elevation; } > large.elv
{ header; grid roughness; } > large.man
gw_cards=""
if [ "${GROUNDWATER:-}" = redist ]; then
    { header; grid table; } > large.wt
    { header; grid 80.0; } > large.bot
    { header; grid 1; } > large.bnd
    for pair in ks:0.65 psi:16.7 phi:0.5 theta:0.16 res:0.05 pi:0.3; do
        { header; grid "${pair#*:}"; } > "large.${pair%%:*}"
    done
    gw_cards="INF_REDIST
CONDUCTIVITY large.ks
CAPILLARY large.psi
POROSITY large.phi
MOISTURE large.theta
RESIDUAL_SAT large.res
PORE_INDEX large.pi
SOIL_MOIST_DEPTH 100
TOP_LAYER_DEPTH 20
GW_SIMULATION
WATER_TABLE large.wt
AQUIFER_BOTTOM large.bot
GW_BOUNDFILE large.bnd
GW_UNIF_HYCOND 5
GW_UNIF_POROSITY 0.3
GW_TIMESTEP 60
GW_LSOR_CON 1e-8"
fi

cat > large.prj <<PRJ
KORVAPROJECT
WATERSHED_MASK large.mask
ELEVATION large.elv
ROUGHNESS large.man
SUMMARY large.sum
OUTLET_HYDRO large.otl
ROWS $rows
COLS $cols
GRIDSIZE $dx
START_DATE 2021 7 12
START_TIME 14 0
TOT_TIME ${MINUTES:-60}
TIMESTEP 5
HYD_FREQ 5
MAP_FREQ 60
OUTROW $rows
OUTCOL $(((cols + 1) / 2))
OUTSLOPE 0.01
OVERTYPE $scheme
PRECIP_UNIF
RAIN_INTENSITY 30
RAIN_DURATION 30
QUIET
$gw_cards
PRJ

steps=$((${MINUTES:-60} * 12))
echo "korva on $rows x $cols cells ($scheme), $steps steps:"
measure=()
if [ -x /usr/bin/time ]; then measure=(/usr/bin/time -v -o korva.time); fi
start=$(date +%s.%N)
"${measure[@]}" "$build/korva" large.prj </dev/null >korva.log 2>&1 || { tail -n 20 korva.log; exit 1; }
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" -v n=$((rows * cols)) -v steps="$steps" 'BEGIN {
    t = e - s
    printf "  wall time %.1f s, %.2f million cell steps per second\n", t, n * steps / t / 1e6
}'
awk '/total time to init/ { printf "  set-up (reading the grids) %.1f s of processor time\n", $NF }' korva.log
if [ -f korva.time ]; then
    cpu=$(awk -F': ' '/User time \(seconds\)|System time \(seconds\)/ { t += $2 } END { printf "%.2f", t }' korva.time)
    awk -v t="$cpu" -v n=$((rows * cols)) -v steps="$steps" 'BEGIN {
        printf "  processor time %.1f s, %.2f million cell steps per second\n", t, n * steps / t / 1e6
    }'
    # korva's line: "ADE overland sweeps: S per step over N cells in C steps"
    awk -v t="$cpu" '/^ADE overland sweeps:/ {
        printf "  ADE sweeps %.2f per step over %d steps, %.2f million cell sweep pairs per second of processor time\n",
               $4, $11, $4 / 2 * $8 * $11 / t / 1e6
    }' korva.log
    awk -v n=$((rows * cols)) '/Maximum resident set size/ {
        printf "  peak resident memory %.1f MB, %.1f bytes per cell\n", $NF / 1024, $NF * 1024 / n
    }' korva.time
fi
grep -E "volume of total rainfall|volume of discharge|mass conservation error" large.sum | sed 's/^/  /'
