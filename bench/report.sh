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
# memory, and the report's time over karvel's. In the same turns the report
# is run with --uncertainty (the variogram of all cells), and its time over
# the report's without it printed.
#
# The report is run a second way in the same turns: built (under
# build/bench-gdal/, reading build/images) with KARVEL_REPORT_GDAL_GEOTIFF=ON,
# its GeoTIFFs written by GDAL's own GTiff writer (DEFLATE at ZLEVEL=1 on
# every core, line by line through RasterIO) instead of ISA-L's strips;
# BENCH_GDAL_WRITER=0 leaves it out.
#
# Side by side, the same pair georeferenced (an ENVI header beside each
# raster, under build/images/bench-report-geo/: UTM zone 10, cells of 10 m)
# reported as it is and with the change budget and zones (--change --lod 0.2
# --zones, a triangle over about a quarter of the grid and a square over a
# twentieth);
# BENCH_CHANGE=0 leaves them out.
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

change=${BENCH_CHANGE:-1}
geo=build/images/bench-report-geo
if [ "$change" != 0 ]; then
  mkdir -p "$geo"
  wkt=$(gdalsrsinfo -o wkt1 EPSG:32610 | tr -d '\n')
  for r in "s$n" "t$n"; do
    ln -f "$dir/${r}_m2.raw" "$geo/${r}_m2.raw"
    cp "$dir/${r}_m2.txt" "$geo/${r}_m2.txt"
    printf 'ENVI\nsamples = %d\nlines = %d\nbands = 1\nheader offset = 0\ndata type = 12\nbyte order = 0\n' \
      "$n" "$n" >"$geo/${r}_m2.hdr"
    printf 'map info = {UTM, 1, 1, 500000, 5400000, 10, 10, 10, North, WGS-84}\n' >>"$geo/${r}_m2.hdr"
    printf 'coordinate system string = {%s}\n' "$wkt" >>"$geo/${r}_m2.hdr"
  done
  printf 'bench-report-geo\n0\ns%d\n0\nt%d\n0\nr%d\n1\n1\n' "$n" "$n" "$n" >build/bench-report-geo-answers.txt
  setsid -w build/karvel_local <build/bench-report-geo-answers.txt >/dev/null 2>&1
  awk -v n="$n" 'BEGIN {
    e = 500000; s = 5400000 - 10 * n; w = 10 * n
    printf "{\"type\": \"FeatureCollection\", \"crs\": {\"type\": \"name\", \"properties\": {\"name\": \"urn:ogc:def:crs:EPSG::32610\"}}, \"features\": ["
    printf "{\"type\": \"Feature\", \"properties\": {\"name\": \"large\"}, \"geometry\": {\"type\": \"Polygon\", \"coordinates\": [[[%.1f, %.1f], [%.1f, %.1f], [%.1f, %.1f], [%.1f, %.1f]]]}}, ", e + 0.1 * w, s + 0.1 * w, e + 0.7 * w, s + 0.1 * w, e + 0.4 * w, s + 0.9 * w, e + 0.1 * w, s + 0.1 * w
    printf "{\"type\": \"Feature\", \"properties\": {\"name\": \"small\"}, \"geometry\": {\"type\": \"Polygon\", \"coordinates\": [[[%.1f, %.1f], [%.1f, %.1f], [%.1f, %.1f], [%.1f, %.1f], [%.1f, %.1f]]]}}]}\n", e + 0.7 * w, s + 0.7 * w, e + 0.92 * w, s + 0.7 * w, e + 0.92 * w, s + 0.92 * w, e + 0.7 * w, s + 0.92 * w, e + 0.7 * w, s + 0.7 * w
  }' >build/bench-report-zones.geojson
fi

karvel="" report="" gdal="" plain="" budget="" uncertain=""
for _ in $(seq "$reps"); do
  karvel=$(faster "$(run_once build/bench-report-answers.txt setsid -w build/karvel_local)" "$karvel")
  report=$(faster "$(run_once /dev/null build/report/karvel-report_local bench-report "r$n")" "$report")
  uncertain=$(faster "$(run_once /dev/null build/report/karvel-report_local --uncertainty bench-report "r$n")" "$uncertain")
  if [ -n "$gdal_writer" ]; then
    gdal=$(faster "$(run_once /dev/null "$gdal_writer" bench-report "r$n")" "$gdal")
  fi
  if [ "$change" != 0 ]; then
    plain=$(faster "$(run_once /dev/null build/report/karvel-report_local bench-report-geo "r$n")" "$plain")
    budget=$(faster "$(run_once /dev/null build/report/karvel-report_local --change --lod 0.2 \
      --zones build/bench-report-zones.geojson:name bench-report-geo "r$n")" "$budget")
  fi
done
read -r ks kk <<<"$karvel"
read -r rs rk <<<"$report"
mb() { awk -v k="$1" 'BEGIN{print k/1024}'; }
printf '%-22s %6s | %9s %9s\n' program size seconds peak_MB
printf '%-22s %6d | %9.3f %9.1f\n' karvel "$n" "$ks" "$(mb "$kk")"
printf '%-22s %6d | %9.3f %9.1f\n' karvel-report "$n" "$rs" "$(mb "$rk")"
read -r us uk <<<"$uncertain"
printf '%-22s %6d | %9.3f %9.1f\n' "  --uncertainty" "$n" "$us" "$(mb "$uk")"
if [ -n "$gdal" ]; then
  read -r gs gk <<<"$gdal"
  printf '%-22s %6d | %9.3f %9.1f\n' "karvel-report (GDAL)" "$n" "$gs" "$(mb "$gk")"
fi
if [ -n "$plain" ]; then
  read -r ps pk <<<"$plain"
  read -r bs bk <<<"$budget"
  printf '%-22s %6d | %9.3f %9.1f\n' "karvel-report (georef)" "$n" "$ps" "$(mb "$pk")"
  printf '%-22s %6d | %9.3f %9.1f\n' "  --change --zones" "$n" "$bs" "$(mb "$bk")"
fi
awk -v a="$rs" -v b="$ks" 'BEGIN{printf "ratio report / karvel: %.2f\n", a / b}'
awk -v u="$us" -v r="$rs" 'BEGIN{printf "--uncertainty / without: %.3f\n", u / r}'
[ -z "$gdal" ] || awk -v g="$gs" -v r="$rs" 'BEGIN{printf "GDAL writer / ISA-L writer, whole report: %.3f (%+.1f %%)\n", g / r, (g / r - 1) * 100}'
[ -z "$plain" ] || awk -v b="$bs" -v p="$ps" 'BEGIN{printf "--change --zones / without, georeferenced pair: %.3f\n", b / p}'
