#!/usr/bin/env bash
# Builds karvel and its companions and runs the whole path on real data: the
# survey data/topobathy.tif (float32 metres, WGS 84) and, as the second
# survey, the same area made three times coarser with GDAL's warper. Both are
# imported with karvel-import (the coarse one resampled back onto the
# survey's grid, both cut to the cells where both have data), then karvel
# compares them from the answers file that karvel-import wrote. Everything is
# written inside build/: the programs used here take build/images as their
# images directory, so the folder answer "demo" means build/images/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
work=build/demo-input
mkdir -p "$work"

# The second survey: the first averaged onto cells three times larger.
read -r dx dy < <(gdalinfo data/topobathy.tif | sed -n 's/^Pixel Size = (\(.*\),\(.*\))$/\1 \2/p')
rm -f "$work/coarse.tif"
gdalwarp -q -overwrite -r average -tr "$(awk -v d="$dx" 'BEGIN{printf "%.15g", 3 * d}')" \
  "$(awk -v d="$dy" 'BEGIN{printf "%.15g", -3 * d}')" data/topobathy.tif "$work/coarse.tif"

echo "== karvel-import"
build/import/karvel-import_local --align --crop --names survey coarse --result demo \
  data/topobathy.tif "$work/coarse.tif" demo

echo
echo "== karvel, answered from build/images/demo/demo.answers"
dir=build/images/demo
# setsid: no controlling terminal, so the pause before the summary does not wait.
setsid -w build/karvel_local < "$dir/demo.answers"
echo
for f in "$dir"/demo_karvel.txt "$dir"/demo_karvel.xls "$dir"/demo_karvel_regres_lin.xls; do
  echo
  echo "===== $f ($(wc -l < "$f") lines; first 25 shown)"
  head -n 25 "$f" | tr -d '\r'
done

echo
echo "== karvel-report: the comparison as figures, headline figures and GeoTIFFs"
build/report/karvel-report_local demo demo
echo
echo "The report:          $dir/demo_report.pdf"
echo "Headline figures:    $dir/demo_report.json"
echo "Difference maps:     $dir/demo_diff.tif and $dir/demo_resid.tif (GeoTIFF, georeferenced as the survey)"
echo "Figures (PNG, with the gnuplot script and data of each): $dir/demo_report/"

echo
echo "== karvel-report --change --lod 20: the change budget (what the coarser survey moved, beyond 20 m)"
build/report/karvel-report_local --change --lod 20 demo demo | sed -n '/Change budget/,/imbalance/p'
echo "Detected change:     $dir/demo_dod.tif; its figures change_*.png in $dir/demo_report/"

echo
echo "== karvel-report --uncertainty: the standard error of the mean difference, the errors correlated in space"
build/report/karvel-report_local --uncertainty demo demo | sed -n '/Uncertainty of the means/,/mean difference:/p'
echo "The variogram:       $dir/demo_report/variogram.png"

echo
echo "== Co-registration: the survey against a copy moved 0.4 cell east and 0.3 cell south, 1.5 m higher"
read -r ox oy < <(gdalinfo data/topobathy.tif | sed -n 's/^Origin = (\(.*\),\(.*\))$/\1 \2/p')
read -r nx ny < <(gdalinfo data/topobathy.tif | sed -n 's/^Size is \(.*\), \(.*\)$/\1 \2/p')
rm -f "$work/moved.tif"
gdal_translate -q -a_offset 1.5 -a_ullr $(awk -v ox="$ox" -v oy="$oy" -v dx="$dx" -v dy="$dy" -v nx="$nx" -v ny="$ny" \
  'BEGIN{x=ox+0.4*dx; y=oy+0.3*dy; printf "%.15g %.15g %.15g %.15g", x, y, x+nx*dx, y+ny*dy}') \
  data/topobathy.tif "$work/moved.tif"
for mode in align coregister; do
  build/import/karvel-import_local --$mode --crop --names survey-$mode moved-$mode --result $mode \
    data/topobathy.tif "$work/moved.tif" demo-coreg >/dev/null
  setsid -w build/karvel_local < build/images/demo-coreg/$mode.answers >/dev/null
done
printf '  RMS error before co-registration (--align):      %s m\n' \
  "$(sed -n 's/^\tRMS_Error = //p' build/images/demo-coreg/align_karvel.txt | tr -d '\r')"
printf '  RMS error after co-registration (--coregister):  %s m\n' \
  "$(sed -n 's/^\tRMS_Error = //p' build/images/demo-coreg/coregister_karvel.txt | tr -d '\r')"
echo "  The shift found (build/images/demo-coreg/coregister_coreg.json):"
sed 's/^/    /' build/images/demo-coreg/coregister_coreg.json
