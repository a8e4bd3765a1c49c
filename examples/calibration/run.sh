#!/bin/sh
# Runs the calibration example in a fresh folder: varnock calibrates Manning n and
# Ks of korva through main against nine observed outlet flows, then korva -c
# searches the same two parameters by SCE-UA against the observed peak and volume.
# Usage: run.sh [folder of korva, varnock and main] [work folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/example_folder.sh"

echo "varnock: Gauss-Marquardt-Levenberg estimation of n and ks (plane.pst)"
varnock plane.pst </dev/null >varnock.log 2>&1 || { tail -n 20 varnock.log; exit 1; }
grep -E "^Total Model Calls" varnock.log | sed 's/^/  /'
echo "  calibrated values (plane.par):"
sed 's/^/    /' plane.par

echo "korva -c: SCE-UA search of N and KS against the event peak and volume (sce.in)"
korva -c sce.in </dev/null >sce.log 2>&1 || { tail -n 20 sce.log; exit 1; }
echo "  best values after the search (best.out):"
sed 's/^/    /' best.out
echo "Results are in $work"
