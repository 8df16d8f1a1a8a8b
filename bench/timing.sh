# Timing helpers for the benchmark scripts (sourced, not run).

# run_once INPUT CMD...: "seconds kilobytes" of one run of CMD with INPUT
# on its standard input: wall-clock time and peak resident memory.
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

# bench_build: the packages and a Release build of every program.
bench_build() {
  bash scripts/deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j 2 >/dev/null
}
