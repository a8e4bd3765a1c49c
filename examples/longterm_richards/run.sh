#!/bin/sh
# Runs the long-term Richards example in a fresh folder and prints where its
# outputs are. Usage: run.sh [folder of korva] [work folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/example_folder.sh"
korva longterm_richards.prj </dev/null >korva.log 2>&1 || { tail -n 20 korva.log; exit 1; }
grep -E "^End of hmet_QAR" korva.log | sed 's/^/  /'
echo "Outlet hydrograph (decimal years, m3/s): $work/longterm_richards.otl"
echo "Hourly soil water and evapotranspiration: $work/evap_out"
echo "Run summary: $work/longterm_richards.sum"
grep -E "^(volume of total rainfall|volume of infiltrated water|volume of discharge|mass conservation error|Richard equation mass balance error)" \
    longterm_richards.sum | sed 's/^/  /'
