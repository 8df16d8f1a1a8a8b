#!/usr/bin/env bash
# Benchmark of karvel-points: 10^6 check points (a CSV file in UTM zone 10N)
# against a 10000 × 10000 float32 DEM in WGS 84 (the sample data upsampled
# with GDAL), both kept under build/bench-points/ (440 MB), the results
# written into build/images/bench-points/; side by side with GDAL reading the
# same DEM once (gdalinfo -checksum: every cell read, a sum formed). The two
# take turns, BENCH_REPS runs each (default 3); it prints the best run of
# each, wall-clock seconds and peak resident memory, and karvel-points' time
# over GDAL's.
#
#   bash bench/points.sh [POINTS]        (default 1000000)
#
# BENCH_NO_BUILD=1 skips the build (the build/ tree must hold a Release build).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
[ -n "${BENCH_NO_BUILD:-}" ] || bench_build
reps=${BENCH_REPS:-3}
n=${1:-1000000}
src=build/bench-points
mkdir -p "$src"
dem=$src/dem-10000.tif pts=$src/points-$n.csv
[ -f "$dem" ] || gdalwarp -q -overwrite -te -126 48.01 -122 49.99 -ts 10000 10000 -r bilinear -ot Float32 \
  data/topobathy.tif "$dem"
if [ ! -f "$pts" ]; then
  # Points spread over the DEM, in another coordinate system, with
  # elevations of their own.
  awk -v n="$n" 'BEGIN{srand(42); for(k=0;k<n;k++) printf "%.7f %.7f\n", -126+4*rand(), 48.01+1.98*rand()}' |
    gdaltransform -s_srs EPSG:4326 -t_srs EPSG:32610 -output_xy |
    awk 'BEGIN{srand(7); print "easting,northing,elevation"} {printf "%s,%s,%.3f\n", $1, $2, 200*rand()-100}' >"$pts"
fi

best_points="" best_gdal=""
for _ in $(seq "$reps"); do
  best_points=$(faster "$(run_once /dev/null build/points/karvel-points_local --srs EPSG:32610 "$dem" "$pts" \
    bench-points)" "$best_points")
  best_gdal=$(faster "$(run_once /dev/null gdalinfo -checksum "$dem")" "$best_gdal")
done
read -r ts ms <<<"$best_points"
read -r tg mg <<<"$best_gdal"
printf "%-40s %8s s %10s MB\n" "karvel-points ($n points)" "$ts" "$(awk -v k="$ms" 'BEGIN{printf "%.0f", k/1024}')"
printf "%-40s %8s s %10s MB\n" "GDAL reading the DEM once" "$tg" "$(awk -v k="$mg" 'BEGIN{printf "%.0f", k/1024}')"
awk -v a="$ts" -v b="$tg" 'BEGIN{printf "karvel-points / GDAL: %.2f (the target: at most 2)\n", a/b}'
