#!/bin/sh
# Runs varnock's MODE cmaes and cmaesrbf on the sphere, Rosenbrock and ellipsoid
# (condition 1e6) functions in 2, 5 and 10 dimensions from seeds 1 to 10, with
# stopFitness 1e-8 and at most 20,000 model runs, through an awk model, and
# prints one line a run and a summary a problem:
#   mode function dimension seed model-runs lowest-phi-returned test.prn-best reached-1e-8
# usage: scripts/cmaes_sweep.sh VARNOCK [work-folder] [jobs]     (by hand; about half an hour with 3 jobs)
set -u
v=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=${2:-$(mktemp -d)}
jobs=${3:-3}
mkdir -p "$work" || exit 1

one() {  # mode function dimension seed
  d="$work/$1-$2-$3-$4"; rm -rf "$d"; mkdir -p "$d"; cd "$d" || return
  n=$3
  {
    printf 'pcf\n* control data\nnorestart %s\n%d 1 1 0 1\n1 1 single point 1 0 0\n' "$1" "$n"
    printf '10.0 2.0 0.3 0.01 10\n3.0 3.0 0.001 0\n0.1 none\n30 0.01 4 4 0.01 4\n1 1 1\n0 0 0.0 0 0.0\n'
    printf '* parameter groups\npg relative 0.01 0.0 always_2 2.0 parabolic\n* parameter data\n'
    i=1; while [ $i -le "$n" ]; do printf 'x%d none relative %s -100 100 pg 1.0 0.0 1\n' $i "$(start $i)"; i=$((i + 1)); done
    printf '* observation groups\nobsgp\n* observation data\nf 0.0 1.0 obsgp\n* model command line\n./model.sh\n'
    printf '* model input/output\nmodel.tpl model.in\nmodel.ins model.out\n* prior information\n'
  } > case.pst
  { echo 'ptf #'; i=1; while [ $i -le "$n" ]; do echo "x$i #x$i                    #"; i=$((i + 1)); done; } > model.tpl
  printf 'pif @\n@RESULTS@\nl1 !f!\n' > model.ins
  { printf ' N %d\n seed %d\n stopMaxFunEvals 20000\n stopFitness 1e-8\n initialX %d\n' "$n" "$4" "$n"
    i=1; while [ $i -le "$n" ]; do printf ' %s' "$(start $i)"; i=$((i + 1)); done
    printf '\n initialStandardDeviations 1\n 1\n maxTimeFractionForEigendecompostion 1\n'; } > initials.par
  printf 'stop TolFun 1e-12\nstop TolFunHist 1e-13\n' > signals.par
  case $2 in
    sphere) f='for (i = 1; i <= n; i++) f += x[i] * x[i]' ;;
    rosenbrock) f='for (i = 1; i < n; i++) f += 100 * (x[i + 1] - x[i] * x[i]) ^ 2 + (1 - x[i]) ^ 2' ;;
    ellipsoid) f='for (i = 1; i <= n; i++) f += 1e6 ^ ((i - 1) / (n - 1)) * x[i] * x[i]' ;;
  esac
  cat > model.awk <<AWK
BEGIN { n = 0; while ((getline line < "model.in") > 0) if (split(line, a, " ") >= 2) { n++; x[n] = a[2] + 0 }
  f = 0; $f
  print "RESULTS" > "model.out"; printf "%.17e\n", sqrt(f) > "model.out"; printf "%.17e\n", f >> "evals.log" }
AWK
  printf '#!/bin/sh\nawk -f model.awk\n' > model.sh; chmod +x model.sh
  "$v" case.pst < /dev/null > screen.txt 2>&1
  runs=$(wc -l < evals.log); low=$(sort -g evals.log | head -1)
  best=$(sed -n 's/^The best function value for iteration 1 is //p' test.prn)
  reached=$(awk 'NR <= 20000 && $1 < 1e-8 { r = 1 } END { print r ? "yes" : "no" }' evals.log)
  printf '%s %s %s %s %s %.6e %s %s\n' "$1" "$2" "$3" "$4" "$runs" "$low" "$best" "$reached"
}
start() { awk -v i="$1" 'BEGIN { printf "%.6f", 3 * sin(1.7 * i + 0.3) }'; }

# Each job re-enters this script with SWEEP_ONE set.
if [ -n "${SWEEP_ONE:-}" ]; then shift 3; one "$@"; exit 0; fi
for m in cmaes cmaesrbf; do for f in sphere rosenbrock ellipsoid; do for n in 2 5 10; do for s in 1 2 3 4 5 6 7 8 9 10; do
  echo "$m $f $n $s"; done; done; done; done > "$work/jobs.txt"
SWEEP_ONE=1 xargs -P "$jobs" -L 1 sh "$0" "$1" "$work" 1 < "$work/jobs.txt" > "$work/results.txt"
sort -k1,1 -k2,2 -k3n -k4n "$work/results.txt" > "$work/sorted.txt"
cat "$work/sorted.txt"
echo "--- mode function dimension: median model runs; runs reaching phi < 1e-8 (of 10); runs whose test.prn best is the lowest phi returned"
for k in $(awk '{ print $1 "-" $2 "-" $3 }' "$work/sorted.txt" | uniq); do
  set -- $(echo "$k" | tr '-' ' ')
  med=$(awk -v m="$1" -v f="$2" -v n="$3" '$1 == m && $2 == f && $3 == n { print $5 }' "$work/sorted.txt" | sort -n |
        awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  awk -v m="$1" -v f="$2" -v n="$3" -v med="$med" '$1 == m && $2 == f && $3 == n { c++; if ($8 == "yes") ok++; if (sprintf("%f", $6) == $7) same++ }
      END { printf "%s %s %s: %s %d %d of %d\n", m, f, n, med, ok, same, c }' "$work/sorted.txt"
done
