#!/bin/sh
# Runs the aquifer and well example in a fresh folder and prints where its
# outputs are. Usage: run.sh [folder of korva] [work folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/example_folder.sh"
korva aquifer_well.prj </dev/null >korva.log 2>&1 || { tail -n 20 korva.log; exit 1; }
echo "Water levels of the well's cell and of a cell 60 m east (minutes, m): $work/well_levels.txt"
tail -n 1 well_levels.txt | sed 's/^/  at the end: /'
echo "Water-table maps every 6 hours: $work/water_table"
echo "Run summary with the groundwater balance: $work/aquifer_well.sum"
grep -E "^(Volume in groundwater at (start|end)|Pumping volume|Mass Balance error)" aquifer_well.sum | sed 's/^/  /'
