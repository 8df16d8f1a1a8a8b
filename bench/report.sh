#!/usr/bin/env bash
# Benchmark of karvel-report: a pair of SIZE × SIZE 16-bit DEMs of synthetic
# terrain (build/mkraster, kept under build/images/bench-report/, 400 MB at
# 10000²) compared by karvel (dialogue answered from a script, units in
# decimeters), then reported by karvel-report (JSON, both GeoTIFFs, every
# figure and the PDF, and, as for every DEM, the figures by slope class of
# the first DEM: Horn's slope of every cell as GDAL's DEM processing
# gives it), the two taking turns,
# BENCH_REPS runs each (default
# 5). It prints the best run of each: wall-clock seconds and peak resident
# memory, and the report's time over karvel's.
#
# The report is run a second way in the same turns: built (under
# build/bench-gdal/, reading build/images) with KARVEL_REPORT_GDAL_GEOTIFF=ON,
# its GeoTIFFs written by GDAL's own GTiff writer (DEFLATE at ZLEVEL=1 on
# every core, line by line through RasterIO) instead of ISA-L's strips;
# BENCH_GDAL_WRITER=0 leaves it out.
#
#   bash bench/report.sh [SIZE]      (default 10000)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
bench_build
gdal_writer=""
if [ "${BENCH_GDAL_WRITER:-1}" != 0 ]; then
  cmake -S . -B build/bench-gdal -G Ninja -DCMAKE_BUILD_TYPE=Release -DKARVEL_TESTS=OFF \
    -DKARVEL_REPORT_GDAL_GEOTIFF=ON -DKARVEL_IMAGES_ROOT="$PWD/build/images" >/dev/null
  cmake --build build/bench-gdal --target karvel-report >/dev/null
  gdal_writer=build/bench-gdal/report/karvel-report
fi
n=${1:-10000}
reps=${BENCH_REPS:-5}
dir=build/images/bench-report
mkdir -p "$dir"
if [ ! -f "$dir/t${n}_m2.raw" ]; then
  build/mkraster "$dir" "s$n" m2 "$n" "$n" 1 0 0 >/dev/null
  build/mkraster "$dir" "t$n" m2 "$n" "$n" 2 1.5 0.4 >/dev/null
fi
printf 'bench-report\n0\ns%d\n0\nt%d\n0\nr%d\n1\n1\n' "$n" "$n" "$n" >build/bench-report-answers.txt

karvel="" report="" gdal=""
for _ in $(seq "$reps"); do
  karvel=$(faster "$(run_once build/bench-report-answers.txt setsid -w build/karvel_local)" "$karvel")
  report=$(faster "$(run_once /dev/null build/report/karvel-report_local bench-report "r$n")" "$report")
  if [ -n "$gdal_writer" ]; then
    gdal=$(faster "$(run_once /dev/null "$gdal_writer" bench-report "r$n")" "$gdal")
  fi
done
read -r ks kk <<<"$karvel"
read -r rs rk <<<"$report"
mb() { awk -v k="$1" 'BEGIN{print k/1024}'; }
printf '%-22s %6s | %9s %9s\n' program size seconds peak_MB
printf '%-22s %6d | %9.3f %9.1f\n' karvel "$n" "$ks" "$(mb "$kk")"
printf '%-22s %6d | %9.3f %9.1f\n' karvel-report "$n" "$rs" "$(mb "$rk")"
if [ -n "$gdal" ]; then
  read -r gs gk <<<"$gdal"
  printf '%-22s %6d | %9.3f %9.1f\n' "karvel-report (GDAL)" "$n" "$gs" "$(mb "$gk")"
fi
awk -v a="$rs" -v b="$ks" 'BEGIN{printf "ratio report / karvel: %.2f\n", a / b}'
[ -z "$gdal" ] || awk -v g="$gs" -v r="$rs" 'BEGIN{printf "GDAL writer / ISA-L writer, whole report: %.3f (%+.1f %%)\n", g / r, (g / r - 1) * 100}'
