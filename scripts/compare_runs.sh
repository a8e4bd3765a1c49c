#!/bin/sh
# Runs two korva builds on the same projects and compares every file they write,
# byte for byte once time stamps and elapsed times are masked. A project is a
# folder with a ".korva_args" file (the arguments, one a line, as the test
# helpers export them with KORVA_PROJECT_EXPORT) or a folder of *.prj files (each
# run on its own, as the bundled examples are).
# Usage: compare_runs.sh REFERENCE_KORVA NEW_KORVA FOLDER...
# Prints one line per differing file and a count at the end; status 1 when any differ.
set -u
[ $# -ge 3 ] || { echo "usage: $0 REFERENCE_KORVA NEW_KORVA FOLDER..." >&2; exit 2; }
ref=$(realpath "$1"); new=$(realpath "$2"); shift 2
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
runs=0; differ=0

# Clock text: dates, times of day, run and set-up times in seconds.
mask() {
    sed -E -e 's/[0-9]{1,2}:[0-9]{2}:[0-9]{2}/HH:MM:SS/g' \
           -e 's/(Run time: *)[0-9.]+/\1T/' -e 's/(time to init\(s\): *)[0-9.]+/\1T/' \
           -e 's/(total time \(s\): *)[0-9.]+/\1T/' -e 's/(Elapsed[^0-9]*)[0-9.]+/\1T/I' \
           -e 's/(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) +[0-9]+/DATE/g' "$1"
}

run_pair() {  # folder, then the arguments of one run
    src=$1; shift
    for side in ref new; do
        rm -rf "$work/$side"; cp -r "$src" "$work/$side"
        exe=$ref; [ $side = new ] && exe=$new
        (cd "$work/$side" && "$exe" "$@" </dev/null >.console 2>&1; echo "status $?" >>.console)
    done
    runs=$((runs + 1))
    (cd "$work/ref" && find . -type f ! -name out_time.dat ! -name .korva-run.lock | sort) >"$work/list"
    while read -r f; do
        if [ ! -f "$work/new/$f" ]; then echo "$src ($*): $f missing in the new run"; differ=$((differ + 1)); continue; fi
        if ! cmp -s "$work/ref/$f" "$work/new/$f"; then
            mask "$work/ref/$f" >"$work/a"; mask "$work/new/$f" >"$work/b"
            if ! cmp -s "$work/a" "$work/b"; then echo "$src ($*): $f differs"; differ=$((differ + 1)); fi
        fi
    done <"$work/list"
}

for dir in "$@"; do
    dir=$(realpath "$dir")
    if [ -f "$dir/.korva_args" ]; then
        # shellcheck disable=SC2046
        set -f; IFS='
'; run_pair "$dir" $(cat "$dir/.korva_args"); unset IFS; set +f
    else
        for prj in "$dir"/*.prj; do [ -f "$prj" ] && run_pair "$dir" "$(basename "$prj")"; done
    fi
done
echo "$runs runs compared, $differ files differ"
[ "$differ" -eq 0 ]
