#!/usr/bin/env bash
# Benchmark of karvel-import: a pair of 10000 × 10000 float32 GeoTIFFs (the
# sample data upsampled with GDAL, kept under build/bench-import/, 800 MB)
# imported into build/images/bench-import/, side by side with gdal_translate
# converting the same two files to raw 32-bit samples (ENVI, values × 1000,
# as the import stores millimetres). The two take turns, BENCH_REPS runs each
# (default 5); it prints the best run of each: wall-clock seconds and peak
# resident memory, and the import's time over gdal_translate's.
#
# With --align, for each SIZE (default 2500 and 5000): a pair of SIZE × SIZE
# float32 GeoTIFFs of the sample data a third of a cell apart, imported with
# --align --crop, side by side with GDAL's own warp of the second onto the
# first's grid (gdalwarp -r bilinear, to a GeoTIFF) followed by a plain
# import (--crop) of the first and the warped second; the latter pair's
# seconds are added up, its peak is the larger of the two.
#
# With --coregister, for SIZE (default 10000): the first of that pair and a
# copy of it a third of a cell away and 1.5 m higher, imported with
# --coregister --crop and with --coregister --deramp --crop side by side
# with --align --crop alone (best of BENCH_REPS, default 3), the
# co-registration's time over the alignment's, and the tilt's over the
# co-registration's.
#
#   bash bench/import.sh [SIZE]                  (default 10000)
#   bash bench/import.sh --align [SIZE ...]      (default 2500 5000)
#   bash bench/import.sh --coregister [SIZE]     (default 10000)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
bench_build
reps=${BENCH_REPS:-5}
src=build/bench-import
mkdir -p "$src"
mb() { awk -v k="$1" 'BEGIN{print k/1024}'; }

# The sample data's extent, rounded inwards; the second survey's grid is
# moved by a third of a cell east and north.
te=(-126 48.01 -122 49.99)
shifted_pair() {
  local n=$1 a=$src/align-a-$1.tif b=$src/align-b-$1.tif
  if [ ! -f "$b" ]; then
    read -r -a moved <<<"$(awk -v n="$n" -v x0="${te[0]}" -v y0="${te[1]}" -v x1="${te[2]}" -v y1="${te[3]}" \
      'BEGIN{dx=(x1-x0)/n/3; dy=(y1-y0)/n/3; printf "%.17g %.17g %.17g %.17g", x0+dx, y0+dy, x1+dx, y1+dy}')"
    gdalwarp -q -overwrite -te "${te[@]}" -ts "$n" "$n" -r bilinear -ot Float32 data/topobathy.tif "$a"
    gdalwarp -q -overwrite -te "${moved[@]}" -ts "$n" "$n" -r cubicspline -ot Float32 data/topobathy.tif "$b"
  fi
}

if [ "${1:-}" = "--coregister" ]; then
  n=${2:-10000}
  shifted_pair "$n"
  # The second survey: the first moved by a third of a cell east and north
  # and raised by 1.5 m (its georeferencing changed, its cells the same).
  a=$src/align-a-$n.tif b=$src/coreg-b-$n.tif
  if [ ! -f "$b" ]; then
    gdal_translate -q -a_offset 1.5 -a_ullr $(awk -v n="$n" -v x0="${te[0]}" -v y0="${te[1]}" -v x1="${te[2]}" \
      -v y1="${te[3]}" 'BEGIN{dx=(x1-x0)/n/3; dy=(y1-y0)/n/3; printf "%.17g %.17g %.17g %.17g", x0+dx, y1+dy, x1+dx, y0+dy}') \
      "$a" "$b"
  fi
  align="" coreg="" deramp=""
  for _ in $(seq "${BENCH_REPS:-3}"); do
    align=$(faster "$(run_once /dev/null build/import/karvel-import_local --align --crop --names a b "$a" "$b" bench-import-align)" "$align")
    coreg=$(faster "$(run_once /dev/null build/import/karvel-import_local --coregister --crop --names a b "$a" "$b" bench-import-coreg)" "$coreg")
    deramp=$(faster "$(run_once /dev/null build/import/karvel-import_local --coregister --deramp --crop --names a b "$a" "$b" bench-import-deramp)" "$deramp")
  done
  read -r as ak <<<"$align"
  read -r cs ck <<<"$coreg"
  read -r ds dk <<<"$deramp"
  printf '%-43s %6s | %9s %9s\n' program size seconds peak_MB
  printf '%-43s %6d | %9.3f %9.1f\n' "karvel-import --align --crop" "$n" "$as" "$(mb "$ak")"
  printf '%-43s %6d | %9.3f %9.1f\n' "karvel-import --coregister --crop" "$n" "$cs" "$(mb "$ck")"
  printf '%-43s %6d | %9.3f %9.1f\n' "karvel-import --coregister --deramp --crop" "$n" "$ds" "$(mb "$dk")"
  awk -v a="$as" -v c="$cs" 'BEGIN{printf "ratio --coregister / --align: %.2f\n", c / a}'
  awk -v c="$cs" -v d="$ds" 'BEGIN{printf "ratio --coregister --deramp / --coregister: %.2f\n", d / c}'
  exit 0
fi

if [ "${1:-}" = "--align" ]; then
  shift
  printf '%-30s %6s | %9s %9s\n' program size seconds peak_MB
  sizes=("$@")
  [ ${#sizes[@]} -gt 0 ] || sizes=(2500 5000)
  for n in "${sizes[@]}"; do
    shifted_pair "$n"
    a=$src/align-a-$n.tif b=$src/align-b-$n.tif w=$src/align-warped-$n.tif
    warp_then_import() {
      local x y
      x=$(run_once /dev/null gdalwarp -q -overwrite -r bilinear -te "${te[@]}" -ts "$n" "$n" -dstnodata nan "$b" "$w")
      y=$(run_once /dev/null build/import/karvel-import_local --crop --names a b "$a" "$w" bench-import-warped)
      awk -v a="$x" -v b="$y" 'BEGIN{split(a,x," ");split(b,y," ");printf "%.3f %d\n", x[1]+y[1], (x[2]>y[2]?x[2]:y[2])}'
    }
    align="" gdal=""
    for _ in $(seq "$reps"); do
      align=$(faster "$(run_once /dev/null build/import/karvel-import_local --align --crop --names a b "$a" "$b" bench-import-align)" "$align")
      gdal=$(faster "$(warp_then_import)" "$gdal")
    done
    rm -f "$w"
    read -r as ak <<<"$align"
    read -r gs gk <<<"$gdal"
    printf '%-30s %6d | %9.3f %9.1f\n' "karvel-import --align --crop" "$n" "$as" "$(mb "$ak")"
    printf '%-30s %6d | %9.3f %9.1f\n' "gdalwarp + karvel-import" "$n" "$gs" "$(mb "$gk")"
    awk -v a="$as" -v b="$gs" -v n="$n" 'BEGIN{printf "ratio --align / (gdalwarp + import) at %d: %.2f\n", n, a / b}'
  done
  exit 0
fi

n=${1:-10000}
if [ ! -f "$src/b-$n.tif" ]; then
  gdalwarp -q -overwrite -ts "$n" "$n" -r bilinear -ot Float32 data/topobathy.tif "$src/a-$n.tif"
  gdalwarp -q -overwrite -ts "$n" "$n" -r cubicspline -ot Float32 data/topobathy.tif "$src/b-$n.tif"
fi


# gdal_translate of both files, one after the other; its peak is the larger of the two.
translate_both() {
  local out=build/bench-import/translated
  rm -rf "$out" && mkdir -p "$out"
  local a b
  a=$(run_once /dev/null gdal_translate -q -of ENVI -ot Int32 -scale 0 1 0 1000 "$src/a-$n.tif" "$out/a.raw")
  b=$(run_once /dev/null gdal_translate -q -of ENVI -ot Int32 -scale 0 1 0 1000 "$src/b-$n.tif" "$out/b.raw")
  awk -v a="$a" -v b="$b" 'BEGIN{split(a,x," ");split(b,y," ");printf "%.3f %d\n", x[1]+y[1], (x[2]>y[2]?x[2]:y[2])}'
}

import="" translate=""
for _ in $(seq "$reps"); do
  import=$(faster "$(run_once /dev/null build/import/karvel-import_local "$src/a-$n.tif" "$src/b-$n.tif" bench-import)" "$import")
  translate=$(faster "$(translate_both)" "$translate")
done
rm -rf build/bench-import/translated
read -r is ik <<<"$import"
read -r ts tk <<<"$translate"
printf '%-22s %6s | %9s %9s\n' program size seconds peak_MB
printf '%-22s %6d | %9.3f %9.1f\n' karvel-import "$n" "$is" "$(mb "$ik")"
printf '%-22s %6d | %9.3f %9.1f\n' "gdal_translate (x2)" "$n" "$ts" "$(mb "$tk")"
awk -v a="$is" -v b="$ts" 'BEGIN{printf "ratio import / gdal_translate: %.2f\n", a / b}'
