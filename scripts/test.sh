#!/usr/bin/env bash
# Builds karvel and runs the whole test suite. KARVEL_CMAKE_ARGS adds
# options to the configuration (CI: warnings as errors).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release ${KARVEL_CMAKE_ARGS:-}
cmake --build build
ctest --test-dir build --output-on-failure -j 2
