#!/usr/bin/env bash
# Builds karvel, writes two sample 16-bit DEMs of the same terrain (a survey
# and a noisier, slightly raised resurvey) with their description files, and
# compares them, answering the dialogue from a script. Everything is written
# inside build/: the program used here takes build/images as its images
# directory, so the folder answer "demo" means build/images/demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
dir=build/images/demo
mkdir -p "$dir"
#                 folder name    kind lines cols seed noise(m) shift(m)
build/mkraster "$dir" survey   m2   300   400  1    0        0
build/mkraster "$dir" resurvey m2   300   400  2    1.5      0.4

# folder, data type DEM, first DEM and its width (16 bits), second DEM and
# its width, result name, unit of each DEM (decimeters).
answers='demo
0
survey
0
resurvey
0
demo
1
1
'
# setsid: no controlling terminal, so the pause before the summary does not wait.
printf '%s' "$answers" | setsid -w build/karvel_local
echo
for f in "$dir"/demo_karvel.txt "$dir"/demo_karvel.xls "$dir"/demo_karvel_regres_lin.xls; do
  echo
  echo "===== $f ($(wc -l < "$f") lines; first 25 shown)"
  head -n 25 "$f" | tr -d '\r'
done
