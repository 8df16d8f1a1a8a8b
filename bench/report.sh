#!/usr/bin/env bash
# Benchmark of karvel-report: a pair of SIZE × SIZE 16-bit DEMs of synthetic
# terrain (build/mkraster, kept under build/images/bench-report/, 400 MB at
# 10000²) compared by karvel (dialogue answered from a script, units in
# decimeters), then reported by karvel-report (JSON, both GeoTIFFs, every
# figure and the PDF), the two taking turns, BENCH_REPS runs each (default
# 5). It prints the best run of each: wall-clock seconds and peak resident
# memory, and the report's time over karvel's.
#
#   bash bench/report.sh [SIZE]      (default 10000)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
bench_build
n=${1:-10000}
reps=${BENCH_REPS:-5}
dir=build/images/bench-report
mkdir -p "$dir"
if [ ! -f "$dir/t${n}_m2.raw" ]; then
  build/mkraster "$dir" "s$n" m2 "$n" "$n" 1 0 0 >/dev/null
  build/mkraster "$dir" "t$n" m2 "$n" "$n" 2 1.5 0.4 >/dev/null
fi
printf 'bench-report\n0\ns%d\n0\nt%d\n0\nr%d\n1\n1\n' "$n" "$n" "$n" >build/bench-report-answers.txt


karvel="" report=""
for _ in $(seq "$reps"); do
  karvel=$(faster "$(run_once build/bench-report-answers.txt setsid -w build/karvel_local)" "$karvel")
  report=$(faster "$(run_once /dev/null build/report/karvel-report_local bench-report "r$n")" "$report")
done
read -r ks kk <<<"$karvel"
read -r rs rk <<<"$report"
printf '%-16s %6s | %9s %9s\n' program size seconds peak_MB
printf '%-16s %6d | %9.3f %9.1f\n' karvel "$n" "$ks" "$(awk -v k="$kk" 'BEGIN{print k/1024}')"
printf '%-16s %6d | %9.3f %9.1f\n' karvel-report "$n" "$rs" "$(awk -v k="$rk" 'BEGIN{print k/1024}')"
awk -v a="$rs" -v b="$ks" 'BEGIN{printf "ratio report / karvel: %.2f\n", a / b}'
