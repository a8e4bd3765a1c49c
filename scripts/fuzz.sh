#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang (-DKORVA_FUZZ=ON) into
# build/fuzz and runs each for the given number of seconds (default 60), seeded
# with the seed files of tests/fuzz/seeds and the matching files of the examples
# and tests/data. A crash, a leak, undefined behaviour, an input that runs over
# 10 s or an allocation over 2 GB fails the run (exit status 1); the finding is
# left in build/fuzz/findings/<harness>/. FUZZ_JOBS harnesses run at a time (default 1).
# Usage: scripts/fuzz.sh [seconds] [harness...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/fuzz"
seconds=${1:-60}
shift || true
jobs=${FUZZ_JOBS:-1}
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=(project_file grid_map precip_file channel_cards channel_numeric lake_files
    constituent_inputs hmet_files time_series control_file template_files instruction_files
    korva_calibration_inputs varnock_restart_files outlet_inputs soil_tables pipe_files mapping_inputs)
clangxx=${CLANGXX:-$(command -v clang++ || true)}
if [ -z "$clangxx" ]; then
    echo "fuzz.sh: clang++ is needed for the fuzz harnesses" >&2
    exit 1
fi

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$clangxx" \
    -DKORVA_TESTS=OFF -DKORVA_FUZZ=ON >/dev/null
targets=()
for h in "${harnesses[@]}"; do targets+=("fuzz_$h"); done
cmake --build "$build" -j "${KORVA_JOBS:-$(nproc 2>/dev/null || echo 2)}" --target "${targets[@]}" >/dev/null

# The real input files of the examples and tests/data that each harness reads.
example_seeds() {
    case "$1" in
    project_file) echo "$top"/examples/valley/*.prj ;;
    grid_map) echo "$top"/examples/valley/valley.{mask,elv,man} ;;
    channel_cards) echo "$top"/examples/valley/valley.chn ;;
    control_file) echo "$top"/tests/data/varnock_line/line.pst ;;
    template_files) echo "$top"/tests/data/varnock_line/model.tpl ;;
    instruction_files) echo "$top"/tests/data/varnock_line/model.ins ;;
    esac
}

run_one() {
    local h=$1 corpus="$build/corpus/$1" findings="$build/findings/$1" log="$build/logs/$1.log"
    mkdir -p "$corpus" "$findings" "$build/logs"
    cp "$top/tests/fuzz/seeds/$h"/* "$corpus"/ 2>/dev/null || true
    for f in $(example_seeds "$h"); do [ -f "$f" ] && cp "$f" "$corpus"/; done
    # Leaks are found by LeakSanitizer at the end of each input; -timeout and the
    # memory limits turn a hang or a huge allocation into a failure.
    if (cd "$findings" && ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/tests/fuzz/fuzz_$h" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -malloc_limit_mb=2048 -max_len=65536 -print_final_stats=1 "$corpus" < /dev/null > "$log" 2>&1); then
        local runs cov
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
        cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || echo "cov: ?")
        echo "fuzz_$h: clean, $runs executions, $cov"
    else
        echo "fuzz_$h: FAILED (log $log, inputs in $findings)"
        grep -m 3 -E 'ERROR|SUMMARY|runtime error' "$log" || true
        return 1
    fi
}

status=0
pids=()
for h in "${harnesses[@]}"; do
    run_one "$h" &
    pids+=($!)
    if [ ${#pids[@]} -ge "$jobs" ]; then
        wait "${pids[0]}" || status=1
        pids=("${pids[@]:1}")
    fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
