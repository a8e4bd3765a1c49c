#!/usr/bin/env bash
# Builds the three programs (optimised) into build/release and runs an example.
# Without an argument: korva on the bundled example project examples/valley in
# build/example, one storm over a synthetic valley whose runoff a channel down the
# valley axis carries to the outlet; prints where the outlet hydrograph, the
# channel series and the event summary are. With the name of a worked example
# (longterm, longterm_richards, aquifer_well, calibration, outlet): that example's run.sh, in
# build/examples/<name>.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/release"
run="$top/build/example"
# Parallel jobs: KORVA_JOBS when set (a machine shared with others), else every core.
jobs=${KORVA_JOBS:-$(nproc 2>/dev/null || echo 4)}
case $jobs in ''|*[!0-9]*|0) echo "KORVA_JOBS must be a whole number of 1 or more, not '$jobs'"; exit 1 ;; esac
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target korva varnock main
if [ $# -gt 0 ] && [ "$1" != valley ]; then
    if [ ! -f "$top/examples/$1/run.sh" ]; then
        echo "No worked example named $1; the examples are: valley longterm longterm_richards aquifer_well calibration outlet"
        exit 1
    fi
    exec sh "$top/examples/$1/run.sh" "$build" "$top/build/examples/$1"
fi
rm -rf "$run"
mkdir -p "$run"
cp "$top"/examples/valley/valley.* "$run"/
if ! (cd "$run" && "$build/korva" valley.prj </dev/null >korva.log 2>&1); then
    echo "korva failed; the last lines of $run/korva.log:"
    tail -n 20 "$run/korva.log"
    exit 1
fi
if grep -q "is not available in this build" "$run/korva.log"; then
    echo "korva stopped at a feature not yet built; see $run/korva.log:"
    grep "is not available in this build" "$run/korva.log"
    exit 1
fi
echo "Outlet hydrograph (minutes, m3/s, every 5 minutes): $run/valley.otl"
awk 'NR == 1 || $2 > peak { peak = $2; at = $1 }
     END { printf "  peak discharge %.3f m3/s at %.2f minutes\n", peak, at }' "$run/valley.otl"
echo "Channel depths and discharges per node (every 5 minutes): $run/valley.cdp, $run/valley.cq"
echo "Event summary with the water balance: $run/valley.sum"
grep -E "^(volume of total rainfall|volume of discharge|volume remaining on surface|final volume in channels|mass conservation error)" \
    "$run/valley.sum" | sed 's/^/  /'
echo "Largest overland depth of every cell (data set): $run/valley_max_depth.dat"
echo "Console log: $run/korva.log"
