#!/usr/bin/env bash
# Benchmark of positions without data: a pair of 32-bit DEMs (SIZE², default
# 10000) compared by karvel as it is and by karvel as it was before it read
# headers (BENCH_BEFORE, default 2ff864e), on the full pair; then by karvel
# on the same pair with headers that declare no value, and on the pair whose
# first raster holds data only within its inscribed ellipse (about a fifth
# of the positions left out), its header declaring the value. The runs take
# turns, BENCH_REPS each (default 5); it prints the best run of each:
# seconds and peak resident memory, and each over the full pair's time.
#
#   bash bench/nodata.sh [SIZE]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timing.sh
bench_build
n=${1:-10000}
reps=${BENCH_REPS:-5}
rev=${BENCH_BEFORE:-2ff864e}
if [ ! -x build/before-nodata/build/karvel ] || [ "$(cat build/before-nodata/rev 2>/dev/null)" != "$rev" ]; then
  rm -rf build/before-nodata && mkdir -p build/before-nodata/src
  git archive "$rev" | tar -x -C build/before-nodata/src
  cmake -S build/before-nodata/src -B build/before-nodata/build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKARVEL_TESTS=OFF \
    -DKARVEL_IMAGES_ROOT="$PWD/build/images" >/dev/null
  cmake --build build/before-nodata/build --target karvel >/dev/null
  echo "$rev" > build/before-nodata/rev
fi
full=build/images/bench-nodata/full-$n
blank=build/images/bench-nodata/blank-$n
round=build/images/bench-nodata/round-$n
if [ ! -f "$round/a_m4.hdr" ]; then
  mkdir -p "$full" "$blank" "$round"
  build/mkraster "$full" a m4 "$n" "$n" 1 0 0 >/dev/null
  build/mkraster "$full" b m4 "$n" "$n" 2 1.5 0.4 >/dev/null
  for f in a_m4.raw a_m4.txt b_m4.raw b_m4.txt; do ln -f "$full/$f" "$blank/$f"; done
  for r in a b; do
    printf 'ENVI\nsamples = %d\nlines = %d\nbands = 1\ndata type = 3\nbyte order = 0\n' "$n" "$n" > "$blank/${r}_m4.hdr"
  done
  build/mkraster "$round" a m4 "$n" "$n" 1 0 0 -2147483648 >/dev/null
  ln -f "$full/b_m4.raw" "$round/b_m4.raw"
  ln -f "$full/b_m4.txt" "$round/b_m4.txt"
fi
for d in full blank round; do
  printf 'bench-nodata/%s-%d\n0\na\n1\nb\n1\nr\n3\n3\n' "$d" "$n" > build/bench-nodata-$d.txt
done
before="" now="" blank_t="" round_t=""
for _ in $(seq "$reps"); do
  before=$(faster "$(run_once build/bench-nodata-full.txt setsid -w build/before-nodata/build/karvel)" "$before")
  now=$(faster "$(run_once build/bench-nodata-full.txt setsid -w build/karvel_local)" "$now")
  blank_t=$(faster "$(run_once build/bench-nodata-blank.txt setsid -w build/karvel_local)" "$blank_t")
  round_t=$(faster "$(run_once build/bench-nodata-round.txt setsid -w build/karvel_local)" "$round_t")
done
read -r bs bk <<<"$before"
printf '%-34s %6s | %9s %9s %8s\n' run size seconds peak_MB "/before"
for row in "karvel before headers, full:$before" "karvel, full pair:$now" "karvel, headers without value:$blank_t" \
  "karvel, round outline:$round_t"; do
  label=${row%%:*}
  read -r s k <<<"${row#*:}"
  awk -v l="$label" -v n="$n" -v s="$s" -v k="$k" -v b="$bs" 'BEGIN{printf "%-34s %6d | %9.3f %9.1f %8.3f\n", l, n, s, k / 1024, s / b}'
done
