#!/bin/sh
# The 27 published nonlinear least-squares problems from both starts (54 cases),
# calibrated by varnock with each derivative form, in three shards side by side.
# Usage: scripts/nist_whole_set.sh [varnock] [e2e_tests] [form...]
#   varnock:   the program measured (default build/rel/varnock)
#   e2e_tests: the test binary that holds the table (default build/test/tests/e2e_tests)
#   form:      always_3, switch or both (default both)
# Prints one line per case and per form the counts: solved (every parameter
# to four significant digits), ended above the start, and the model runs in total.
VARNOCK=${1:-build/rel/varnock}
TESTS=${2:-build/test/tests/e2e_tests}
shift 2 2>/dev/null
FORMS=${*:-always_3 switch}
case $VARNOCK in /*) ;; *) VARNOCK=$(pwd)/$VARNOCK ;; esac
OUT=$(mktemp -d)
for form in $FORMS; do
    for k in 0 1 2; do
        VARNOCK_PROGRAM=$VARNOCK VARNOCK_NIST_FORM=$form VARNOCK_NIST_SHARD=$k/3 \
            "$TESTS" --gtest_also_run_disabled_tests --gtest_filter='*ReferenceSet.DISABLED_WholeSet' \
            </dev/null >"$OUT/$form.$k" 2>&1 &
    done
    wait
    echo "== derivative form $form"
    cat "$OUT/$form".? | grep -E '  runs ' | sort
    cat "$OUT/$form".? | grep -E '  runs ' | awk -v form="$form" '
        { n++; if ($10 + 0 >= 4) { s++; solved_runs += $4 } runs += $4; if ($8 + 0 > $6 + 0) up++ }
        END { printf "%s: solved %d of %d, above the start %d, model runs %d (on the solved %d)\n",
                     form, s, n, up, runs, solved_runs }'
    grep -h -c 'Failure' "$OUT/$form".? | awk '{ f += $1 } END { printf "failed checks (above the start, no stop line): %d\n", f }'
done
rm -rf "$OUT"
