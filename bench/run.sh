#!/usr/bin/env bash
# Benchmark: whole comparisons of generated raster pairs by the real program
# (dialogue answered from a script, the three result files written), beside
# the floor program, at several sizes and for the three kinds of raster.
#
#   bash bench/run.sh [SIZE ...]      (default: 1000 4000 10000; SIZE × SIZE rasters)
#
# Prints, per kind and size, the best of five runs (BENCH_REPS) of each,
# karvel and the floor taking turns: seconds, peak resident memory and bytes
# per position for karvel and for the floor, and the ratio of their times.
# The pairs are written under build/images/bench/ and kept for later runs
# (about 1.2 GB at 10000²).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build >/dev/null
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 4000 10000)
reps=${BENCH_REPS:-5}

# run_once INPUT CMD...: "seconds kilobytes" of one run of CMD with INPUT
# on its standard input.
run_once() {
  local input=$1
  shift
  local t0=$EPOCHREALTIME
  /usr/bin/time -f '%M' -o build/bench-time.txt "$@" <"$input" >/dev/null 2>&1
  local t1=$EPOCHREALTIME
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f", b - a}') $(tail -n 1 build/bench-time.txt)"
}

# faster A B: the one of two "seconds kilobytes" with fewer seconds.
faster() {
  if [ -z "$2" ] || awk -v a="$1" -v b="$2" 'BEGIN{split(a,x," ");split(b,y," ");exit !(x[1]<y[1])}'; then
    echo "$1"
  else
    echo "$2"
  fi
}

printf '%-5s %6s | %8s %9s %7s | %8s %9s %7s | %6s\n' kind size karvel_s peak_MB B/pos floor_s peak_MB B/pos ratio
for kind in m2 m4 8; do
  case $kind in
    m2) width=2 suffix=_m2 type=0 w=0 ;;
    m4) width=4 suffix=_m4 type=0 w=1 ;;
    8)  width=1 suffix=    type=1 w= ;;
  esac
  for n in "${sizes[@]}"; do
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
    # karvel and the floor take turns, so that both meet the same state of the machine.
    karvel="" floor=""
    for _ in $(seq "$reps"); do
      karvel=$(faster "$(run_once build/bench-answers.txt setsid -w build/karvel_local)" "$karvel")
      floor=$(faster "$(run_once /dev/null build/floor "$dir/a$suffix.raw" "$dir/b$suffix.raw" "$n" "$n" "$width")" "$floor")
    done
    read -r ks kk <<<"$karvel"
    read -r fs fk <<<"$floor"
    awk -v kind="$kind" -v n="$n" -v ks="$ks" -v kk="$kk" -v fs="$fs" -v fk="$fk" 'BEGIN{
      pos = n * n;
      printf "%-5s %6d | %8.3f %9.1f %7.2f | %8.3f %9.1f %7.2f | %6.2f\n",
        kind, n, ks, kk / 1024, kk * 1024 / pos, fs, fk / 1024, fk * 1024 / pos, (fs > 0 ? ks / fs : 0) }'
  done
done
