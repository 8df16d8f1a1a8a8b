#!/usr/bin/env bash
# Benchmark: whole comparisons of generated raster pairs by the real program
# (dialogue answered from a script, the three result files written), beside
# the floor program, at several sizes and for the three kinds of raster.
#
#   bash bench/run.sh [SIZE ...]      (default: 1000 4000 10000; SIZE × SIZE rasters)
#
# Prints, per kind and size, the best of three runs: seconds, peak resident
# memory and bytes per position for karvel and for the floor, and the ratio
# of their times. The pairs are written under build/images/bench/ and kept
# for later runs (about 1.2 GB at 10000²).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build >/dev/null
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 4000 10000)
reps=${BENCH_REPS:-3}

# best_of INPUT CMD...: the smallest "seconds kilobytes" of $reps runs of
# CMD with INPUT on its standard input.
best_of() {
  local input=$1 best="" out
  shift
  for _ in $(seq "$reps"); do
    local t0=$EPOCHREALTIME
    /usr/bin/time -f '%M' -o build/bench-time.txt "$@" <"$input" >/dev/null 2>&1
    local t1=$EPOCHREALTIME
    out="$(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.3f", b - a}') $(tail -n 1 build/bench-time.txt)"
    if [ -z "$best" ] || awk -v a="$out" -v b="$best" 'BEGIN{split(a,x," ");split(b,y," ");exit !(x[1]<y[1])}'; then
      best=$out
    fi
  done
  echo "$best"
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
    read -r ks kk <<<"$(best_of build/bench-answers.txt setsid -w build/karvel_local)"
    read -r fs fk <<<"$(best_of /dev/null build/floor "$dir/a$suffix.raw" "$dir/b$suffix.raw" "$n" "$n" "$width")"
    awk -v kind="$kind" -v n="$n" -v ks="$ks" -v kk="$kk" -v fs="$fs" -v fk="$fk" 'BEGIN{
      pos = n * n;
      printf "%-5s %6d | %8.3f %9.1f %7.2f | %8.3f %9.1f %7.2f | %6.2f\n",
        kind, n, ks, kk / 1024, kk * 1024 / pos, fs, fk / 1024, fk * 1024 / pos, (fs > 0 ? ks / fs : 0) }'
  done
done
