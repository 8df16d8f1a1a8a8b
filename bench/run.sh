#!/usr/bin/env bash
# Benchmark: whole comparisons of generated raster pairs by the real program
# (dialogue answered from a script, the three result files written), beside
# the program as it was before it streamed the rasters and beside the
# streaming floor, at several sizes and for the three kinds of raster.
#
#   bash bench/run.sh [SIZE ...]      (default: 1000 4000 10000; SIZE × SIZE rasters)
#
# Prints, per kind and size, the best of five runs (BENCH_REPS) of each, the
# three taking turns: seconds and peak resident memory of karvel, of the
# earlier program and of the floor, karvel's bytes per position, karvel's
# time over the floor's and the earlier program's time over karvel's.
# The pairs are written under build/images/bench/ and kept for later runs
# (about 1.4 GB at 10000²). Sizes above 10000 are run for 16-bit DEMs only
# (6.4 GB at 40000²) unless BENCH_KINDS names the kinds (m2 m4 8).
#
# The earlier program is built from the commit BENCH_BEFORE (default
# 9b63386, the last one that kept whole-raster grids) into build/before,
# with the same images directory; BENCH_BEFORE=none leaves it out. It is
# left out by itself where its grids, 24 bytes a position, would not fit in
# the memory available.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build >/dev/null
before_rev=${BENCH_BEFORE:-9b63386}
before=""
if [ "$before_rev" != none ]; then
  if [ ! -x build/before/build/karvel ] || [ "$(cat build/before/rev 2>/dev/null)" != "$before_rev" ]; then
    rm -rf build/before && mkdir -p build/before/src
    git archive "$before_rev" | tar -x -C build/before/src
    cmake -S build/before/src -B build/before/build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKARVEL_TESTS=OFF \
      -DKARVEL_IMAGES_ROOT="$PWD/build/images" >/dev/null
    cmake --build build/before/build --target karvel >/dev/null
    echo "$before_rev" > build/before/rev
  fi
  before=build/before/build/karvel
fi
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 4000 10000)
reps=${BENCH_REPS:-5}

source bench/timing.sh

printf '%-5s %6s | %8s %9s %7s | %8s %9s | %8s %9s | %8s %8s\n' kind size karvel_s peak_MB B/pos before_s peak_MB \
  floor_s peak_MB k/floor before/k
mem_kb=$(awk '/^MemAvailable:/{print $2}' /proc/meminfo)
for kind in ${BENCH_KINDS:-m2 m4 8}; do
  case $kind in
    m2) width=2 suffix=_m2 type=0 w=0 ;;
    m4) width=4 suffix=_m4 type=0 w=1 ;;
    8)  width=1 suffix=    type=1 w= ;;
  esac
  for n in "${sizes[@]}"; do
    [ -z "${BENCH_KINDS:-}" ] && [ "$n" -gt 10000 ] && [ "$kind" != m2 ] && continue
    earlier_bin=$before
    awk -v n="$n" -v m="$mem_kb" 'BEGIN{exit !(24 * n * n > m * 1024)}' && earlier_bin=""
    folder=bench/$kind-$n
    dir=build/images/$folder
    if [ ! -f "$dir/b$suffix.raw" ]; then
      mkdir -p "$dir"
      build/mkraster "$dir" a "$kind" "$n" "$n" 1 0 0 >/dev/null
      build/mkraster "$dir" b "$kind" "$n" "$n" 2 1.5 0.4 >/dev/null
    fi
    if [ "$type" = 0 ]; then
      answers=$(printf '%s\n0\na\n%s\nb\n%s\nr\n1\n1\n' "$folder" "$w" "$w")
    else
      answers=$(printf '%s\n1\na\nb\nr\n' "$folder")
    fi
    printf '%s\n' "$answers" > build/bench-answers.txt
    # The programs take turns, so that all meet the same state of the machine.
    karvel="" earlier="0 0" floor=""
    for _ in $(seq "$reps"); do
      karvel=$(faster "$(run_once build/bench-answers.txt setsid -w build/karvel_local)" "$karvel")
      if [ -n "$earlier_bin" ]; then
        [ "$earlier" = "0 0" ] && earlier=""
        earlier=$(faster "$(run_once build/bench-answers.txt setsid -w "$earlier_bin")" "$earlier")
      fi
      floor=$(faster "$(run_once /dev/null build/floor "$dir/a$suffix.raw" "$dir/b$suffix.raw" "$n" "$n" "$width")" "$floor")
    done
    read -r ks kk <<<"$karvel"
    read -r bs bk <<<"$earlier"
    read -r fs fk <<<"$floor"
    awk -v kind="$kind" -v n="$n" -v ks="$ks" -v kk="$kk" -v bs="$bs" -v bk="$bk" -v fs="$fs" -v fk="$fk" 'BEGIN{
      pos = n * n;
      before = bs > 0 ? sprintf("%8.3f %9.1f", bs, bk / 1024) : sprintf("%8s %9s", "-", "-");
      speedup = bs > 0 && ks > 0 ? sprintf("%8.2f", bs / ks) : sprintf("%8s", "-");
      printf "%-5s %6d | %8.3f %9.1f %7.3f | %s | %8.3f %9.1f | %8.2f %s\n",
        kind, n, ks, kk / 1024, kk * 1024 / pos, before, fs, fk / 1024, (fs > 0 ? ks / fs : 0), speedup }'
  done
done
