#!/usr/bin/env bash
# Benchmark of karvel-report at each SIZE given (default 10000 20000
# 40000): a pair of SIZE × SIZE 16-bit DEMs of synthetic terrain
# (build/mkraster, under build/images/bench-report/, 400 MB at 10000²,
# 6.4 GB at 40000²) compared by karvel (dialogue answered from a script,
# units in decimeters), then reported by karvel-report (JSON, both
# GeoTIFFs, every figure and the PDF, and, as for every DEM, the figures by
# slope class of the first DEM: Horn's slope of every cell as GDAL's DEM
# processing gives it), the programs taking turns, BENCH_REPS runs each
# (default 5; BENCH_REPS_LARGE, default 1, above 20000²). It prints, for
# each size, the best run of each: wall-clock seconds and peak resident
# memory, and the report's time over karvel's. Up to 10000² (at every size
# with BENCH_OPTIONS=all), the report is also run with --uncertainty (the
# variogram of all cells) and, on the georeferenced pair below, with the
# change budget and zones, each printed with its time over the report's
# without it.
#
# Side by side, the same pair georeferenced (an ENVI header beside each
# raster, under build/images/bench-report-geo/: UTM zone 10, cells of 10 m)
# reported with a raster of 20 classes (--classes: blocks of 500 × 500
# cells, classes 1 to 20, about 5 % of the cells each), and with the change
# budget and zones (--change --lod 0.2 --zones, a triangle over about a
# quarter of the grid and a square over a twentieth). BENCH_GDAL_WRITER=1 adds the report built (under
# build/bench-gdal/) with KARVEL_REPORT_GDAL_GEOTIFF=ON, its GeoTIFFs
# written by GDAL's GTiff writer instead of ISA-L's strips.
#
# The rasters of a size are made when missing and deleted once it is
# measured, unless BENCH_KEEP=1 (or they were there before). Before making
# them, the free space of build/ is checked.
#
#   bash bench/report.sh [SIZE ...]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
bench_build
gdal_writer=""
if [ "${BENCH_GDAL_WRITER:-0}" != 0 ]; then
  cmake -S . -B build/bench-gdal -G Ninja -DCMAKE_BUILD_TYPE=Release -DKARVEL_TESTS=OFF \
    -DKARVEL_REPORT_GDAL_GEOTIFF=ON -DKARVEL_IMAGES_ROOT="$PWD/build/images" >/dev/null
  cmake --build build/bench-gdal -j 2 --target karvel-report >/dev/null
  gdal_writer=build/bench-gdal/report/karvel-report
fi
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 20000 40000)
options=${BENCH_OPTIONS:-upto10000}
dir=build/images/bench-report
geo=build/images/bench-report-geo
mkdir -p "$dir" "$geo"
wkt=$(gdalsrsinfo -o wkt1 EPSG:32610 | tr -d '\n')
mb() { awk -v k="$1" 'BEGIN{printf "%.1f", k/1024}'; }

# The ENVI header of a SIZE² raster of data type TYPE on the benchmark's grid.
envi_header() {
  printf 'ENVI\nsamples = %d\nlines = %d\nbands = 1\nheader offset = 0\ndata type = %d\nbyte order = 0\n' "$1" "$1" "$2"
  printf 'map info = {UTM, 1, 1, 500000, 5400000, 10, 10, 10, North, WGS-84}\n'
  printf 'coordinate system string = {%s}\n' "$wkt"
}

# Makes the pair of SIZE, its georeferenced twin and its raster of
# classes; karvel's results of both. Prints "made" when it made the pair.
make_size() {
  local n=$1
  if [ ! -f "$dir/t${n}_m2.raw" ]; then
    local need=$((n * n * 5 / 1000000 + 2000)) free
    free=$(df -m --output=avail build | tail -1)
    if [ "$free" -lt "$need" ]; then
      echo "bench/report.sh: $n² needs about $need MB in build/, $free MB free" >&2
      exit 1
    fi
    build/mkraster "$dir" "s$n" m2 "$n" "$n" 1 0 0 >/dev/null
    build/mkraster "$dir" "t$n" m2 "$n" "$n" 2 1.5 0.4 >/dev/null
    echo made
  fi
  for r in "s$n" "t$n"; do
    ln -f "$dir/${r}_m2.raw" "$geo/${r}_m2.raw"
    cp "$dir/${r}_m2.txt" "$geo/${r}_m2.txt"
    envi_header "$n" 12 >"$geo/${r}_m2.hdr"
  done
  if [ ! -f "build/bench-classes-$n.raw" ]; then
    perl -e '($n) = @ARGV; for $r (0 .. $n - 1) { $b = int($r / 500) * 7;
      print pack("C*", map { ($b + int($_ / 500)) % 20 + 1 } 0 .. $n - 1) }' "$n" >"build/bench-classes-$n.raw"
    envi_header "$n" 1 >"build/bench-classes-$n.hdr"
  fi
  printf 'bench-report\n0\ns%d\n0\nt%d\n0\nr%d\n1\n1\n' "$n" "$n" "$n" >build/bench-report-answers.txt
  printf 'bench-report-geo\n0\ns%d\n0\nt%d\n0\nr%d\n1\n1\n' "$n" "$n" "$n" >build/bench-report-geo-answers.txt
  setsid -w build/karvel_local <build/bench-report-geo-answers.txt >/dev/null 2>&1
  if [ "$options" = all ] || [ "$n" -le 10000 ]; then
    awk -v n="$n" 'BEGIN {
      e = 500000; s = 5400000 - 10 * n; w = 10 * n
      printf "{\"type\": \"FeatureCollection\", \"crs\": {\"type\": \"name\", \"properties\": {\"name\": \"urn:ogc:def:crs:EPSG::32610\"}}, \"features\": ["
      printf "{\"type\": \"Feature\", \"properties\": {\"name\": \"large\"}, \"geometry\": {\"type\": \"Polygon\", \"coordinates\": [[[%.1f, %.1f], [%.1f, %.1f], [%.1f, %.1f], [%.1f, %.1f]]]}}, ", e + 0.1 * w, s + 0.1 * w, e + 0.7 * w, s + 0.1 * w, e + 0.4 * w, s + 0.9 * w, e + 0.1 * w, s + 0.1 * w
      printf "{\"type\": \"Feature\", \"properties\": {\"name\": \"small\"}, \"geometry\": {\"type\": \"Polygon\", \"coordinates\": [[[%.1f, %.1f], [%.1f, %.1f], [%.1f, %.1f], [%.1f, %.1f], [%.1f, %.1f]]]}}]}\n", e + 0.7 * w, s + 0.7 * w, e + 0.92 * w, s + 0.7 * w, e + 0.92 * w, s + 0.92 * w, e + 0.7 * w, s + 0.92 * w, e + 0.7 * w, s + 0.7 * w
    }' >build/bench-report-zones.geojson
  fi
}

# The pair of SIZE and everything made of it, gone.
remove_size() {
  local n=$1
  rm -rf "$dir"/{s,t,r}"$n"_* "$dir"/r"$n"_report "$geo"/{s,t,r}"$n"_* "$geo"/r"$n"_report
  rm -f "build/bench-classes-$n".{raw,hdr}
}

printf '%-26s %6s | %9s %9s | %s\n' program size seconds peak_MB "× karvel"
for n in "${sizes[@]}"; do
  made=$(make_size "$n")
  reps=${BENCH_REPS:-5}
  [ "$n" -le 20000 ] || reps=${BENCH_REPS_LARGE:-1}
  karvel="" report="" classes="" gdal="" plain="" budget="" uncertain=""
  for _ in $(seq "$reps"); do
    karvel=$(faster "$(run_once build/bench-report-answers.txt setsid -w build/karvel_local)" "$karvel")
    report=$(faster "$(run_once /dev/null build/report/karvel-report_local bench-report "r$n")" "$report")
    if [ "$options" = all ] || [ "$n" -le 10000 ]; then
      uncertain=$(faster "$(run_once /dev/null build/report/karvel-report_local --uncertainty bench-report "r$n")" \
        "$uncertain")
    fi
    classes=$(faster "$(run_once /dev/null build/report/karvel-report_local --classes "build/bench-classes-$n.raw" \
      bench-report-geo "r$n")" "$classes")
    if [ -n "$gdal_writer" ]; then
      gdal=$(faster "$(run_once /dev/null "$gdal_writer" bench-report "r$n")" "$gdal")
    fi
    if [ "$options" = all ] || [ "$n" -le 10000 ]; then
      plain=$(faster "$(run_once /dev/null build/report/karvel-report_local bench-report-geo "r$n")" "$plain")
      budget=$(faster "$(run_once /dev/null build/report/karvel-report_local --change --lod 0.2 \
        --zones build/bench-report-zones.geojson:name bench-report-geo "r$n")" "$budget")
    fi
  done
  read -r ks kk <<<"$karvel"
  # Each row: its time over karvel's and, for an option, over the report's
  # without it on the same pair.
  row() {
    read -r s k <<<"$2"
    local over=""
    if [ -n "${3:-}" ]; then read -r bs _ <<<"$3"; over=$(awk -v a="$s" -v b="$bs" 'BEGIN{printf "   (%.2f × without)", a / b}'); fi
    printf '%-26s %6d | %9.3f %9s | %.2f%s\n' "$1" "$n" "$s" "$(mb "$k")" "$(awk -v a="$s" -v b="$ks" 'BEGIN{print a / b}')" "$over"
  }
  row karvel "$karvel"
  row karvel-report "$report"
  row "  --classes (20, georef)" "$classes"
  [ -z "$gdal" ] || row "  GDAL's GeoTIFF writer" "$gdal"
  [ -z "$uncertain" ] || row "  --uncertainty" "$uncertain" "$report"
  [ -z "$plain" ] || row "  karvel-report (georef)" "$plain"
  [ -z "$budget" ] || row "  --change --zones (georef)" "$budget" "$plain"
  echo "  (load average when done: $(cut -d' ' -f1-3 /proc/loadavg))"
  if [ "$made" = made ] && [ "${BENCH_KEEP:-0}" = 0 ]; then remove_size "$n"; fi
done
