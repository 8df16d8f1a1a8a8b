#!/usr/bin/env bash
# Benchmark of karvel-import: a pair of 10000 × 10000 float32 GeoTIFFs (the
# sample data upsampled with GDAL, kept under build/bench-import/, 800 MB)
# imported into build/images/bench-import/, side by side with gdal_translate
# converting the same two files to raw 32-bit samples (ENVI, values × 1000,
# as the import stores millimetres). The two take turns, BENCH_REPS runs each
# (default 5); it prints the best run of each: wall-clock seconds and peak
# resident memory, and the import's time over gdal_translate's.
#
#   bash bench/import.sh [SIZE]      (default 10000)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
bench_build
n=${1:-10000}
reps=${BENCH_REPS:-5}
src=build/bench-import
mkdir -p "$src"
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
printf '%-22s %6d | %9.3f %9.1f\n' karvel-import "$n" "$is" "$(awk -v k="$ik" 'BEGIN{print k/1024}')"
printf '%-22s %6d | %9.3f %9.1f\n' "gdal_translate (x2)" "$n" "$ts" "$(awk -v k="$tk" 'BEGIN{print k/1024}')"
awk -v a="$is" -v b="$ts" 'BEGIN{printf "ratio import / gdal_translate: %.2f\n", a / b}'
