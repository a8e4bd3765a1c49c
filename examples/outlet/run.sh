#!/bin/sh
# Runs main on the outlet example in a fresh folder and prints its first lines.
# Usage: run.sh [folder of main] [work folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/example_folder.sh"
main </dev/null >main.log 2>&1 || { cat main.log; exit 1; }
echo "Labelled flows, one line per date: $work/sim_flows_ssf.txt"
head -n 3 sim_flows_ssf.txt | sed 's/^/  /'
