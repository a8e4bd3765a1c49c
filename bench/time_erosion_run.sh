#!/usr/bin/env bash
# Cost of overland erosion in a whole run: the bundled valley (examples/valley,
# six hours at 5 s steps) as it stands and made an erosion project (SOIL_EROSION
# 1, one erosion index for the whole grid with two soil classes, erodible channel
# links, as the end-to-end erosion test builds it), each run REPEAT times
# alternately (default 3); printed: the least processor time (user + system, from
# /usr/bin/time) of each and their ratio. Builds korva optimised into
# build/bench-release (KORVA_BUILD) and runs in build/erosion_run (KORVA_RUN).
# KORVA_BEFORE=/path/to/korva adds the same pair of runs of another build,
# alternating with this one's.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${KORVA_BUILD:-$top/build/bench-release}"
run="${KORVA_RUN:-$top/build/erosion_run}"
repeat=${REPEAT:-3}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_TESTS=OFF >/dev/null
if ! cmake --build "$build" --target korva >"$build/build.log" 2>&1; then
    echo "building korva failed; the last lines of $build/build.log:"
    tail -n 20 "$build/build.log"
    exit 1
fi
rm -rf "$run"
mkdir -p "$run"
cp "$top"/examples/valley/* "$run"/
cd "$run"
sed -i 's/^TRAPEZOID$/TRAP_ERODE/; s/^SIDE_SLOPE 1.0$/SIDE_SLOPE 1.0\nMAX_EROSION 0.3/' valley.chn
awk '/:/ { print; next } { gsub(/0/, "1"); print }' valley.mask > erosion.idx
{
    printf 'KORVA_INDEX_MAP_TABLES\nINDEX_MAP erosion.idx "E"\nSEDIMENTS\nNUM_SED 2\nID\n'
    printf '%-44s%s\n' "1     silt" "0.01 2.65 silt.out" "2     sand" "0.5 2.65 sand.out"
    printf 'SOIL_EROSION_PROPS "E"\nNUM_IDS 1\nNUM_SED 2\nID\n'
    printf '%-86s%s\n' "1" "60 2e-5 0 1 0 0 0 1 0.5 0.5"
} > valley.cmt
sed 's/valley\.\(sum\|otl\|cdp\|cq\)/plain.\1/' valley.prj > plain.prj
cat >> valley.prj <<'PRJ'
MAPPING_TABLE valley.cmt
SOIL_EROSION 1
OUTLET_SED_FLUX valley.sed
WATER_TEMP 20
SAND_SIZE 0.0625
SED_POROSITY 0.4
PRJ

builds=("$build/korva")
names=(this)
if [ -n "${KORVA_BEFORE:-}" ]; then builds=("$KORVA_BEFORE" "$build/korva"); names=(before this); fi
declare -A best
for ((r = 0; r < repeat; ++r)); do
    for b in "${!builds[@]}"; do
        for p in plain valley; do
            /usr/bin/time -f "%U %S" -o time.txt "${builds[$b]}" $p.prj </dev/null >$p.log 2>&1 ||
                { tail -n 20 $p.log; exit 1; }
            t=$(awk '{ printf "%.2f", $1 + $2 }' time.txt)
            key="${names[$b]}_$p"
            if [ -z "${best[$key]:-}" ] || awk -v a="$t" -v b="${best[$key]}" 'BEGIN { exit !(a < b) }'; then
                best[$key]=$t
            fi
        done
        cp valley.sed "valley.sed.${names[$b]}"
    done
done
echo "the valley with and without SOIL_EROSION, least processor time of $repeat runs (load average $(cut -d' ' -f1-3 /proc/loadavg)):"
for name in "${names[@]}"; do
    awk -v n="$name" -v a="${best[${name}_plain]}" -v b="${best[${name}_valley]}" 'BEGIN {
        printf "  %-7s without %6.2f s  with %6.2f s  ratio %5.2f %s\n", n, a, b, b / a, (b / a <= 3 ? "(target <= 3: met)" : "(target <= 3: NOT MET)")
    }'
done
if [ -n "${KORVA_BEFORE:-}" ]; then
    cmp -s valley.sed.before valley.sed.this && echo "  outlet sediment files: the same byte for byte" ||
        echo "  outlet sediment files differ"
fi
