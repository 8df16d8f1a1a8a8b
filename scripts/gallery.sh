#!/usr/bin/env bash
# Draws the README's gallery of a large pair: the sample data projected onto
# UTM zone 10 and resampled to 5000 × 5000 cells (cubic), against a second
# survey of it a third of a cell away (cubic spline), imported with --align
# --crop, compared by karvel and reported. The figures are copied into
# report/doc/large_*.png. Everything else stays inside build/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build >/dev/null
work=build/gallery-input
mkdir -p "$work"
te=(290000 5320000 570000 5540000)
n=5000
if [ ! -f "$work/second.tif" ]; then
  read -r -a moved <<<"$(awk -v n="$n" -v x0="${te[0]}" -v y0="${te[1]}" -v x1="${te[2]}" -v y1="${te[3]}" \
    'BEGIN{dx=(x1-x0)/n/3; dy=(y1-y0)/n/3; printf "%.17g %.17g %.17g %.17g", x0+dx, y0+dy, x1+dx, y1+dy}')"
  gdalwarp -q -overwrite -t_srs EPSG:32610 -te "${te[@]}" -ts $n $n -r cubic -ot Float32 data/topobathy.tif "$work/first.tif"
  gdalwarp -q -overwrite -t_srs EPSG:32610 -te "${moved[@]}" -ts $n $n -r cubicspline -ot Float32 \
    data/topobathy.tif "$work/second.tif"
fi
build/import/karvel-import_local --align --crop --names first second --result large \
  "$work/first.tif" "$work/second.tif" gallery >/dev/null
setsid -w build/karvel_local < build/images/gallery/large.answers >/dev/null
build/report/karvel-report_local gallery large >/dev/null
for f in diff_map resid_map scatter error_histogram profiles; do
  cp "build/images/gallery/large_report/$f.png" "report/doc/large_$f.png"
done
echo "Drawn: report/doc/large_*.png"
