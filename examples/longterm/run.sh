#!/bin/sh
# Runs the long-term example in a fresh folder and prints where its outputs are.
# Usage: run.sh [folder of korva] [work folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/example_folder.sh"
korva longterm.prj </dev/null >korva.log 2>&1 || { tail -n 20 korva.log; exit 1; }
echo "Outlet hydrograph (decimal year, m3/s, every hour): $work/longterm.otl"
echo "Hourly soil moisture and evapotranspiration: $work/evap_out"
echo "Summary with the storm's event summary and the run's totals: $work/longterm.sum"
grep -E "^(number of timesteps with rain|elapsed time when rain began|volume of total rainfall|volume of infiltrated water|volume of discharge|mass conservation error)" \
    longterm.sum | sed 's/^/  /'
