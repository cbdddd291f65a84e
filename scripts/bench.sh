#!/usr/bin/env bash
# Builds the benchmarks in Release and runs each one (or those named: scripts/bench.sh NAME...).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j "$(nproc)"
names=("$@")
[ ${#names[@]} -gt 0 ] || mapfile -t names < <(cd build-bench/bench && ls bench_* 2>/dev/null)
for b in "${names[@]}"; do
  echo "== $b"
  if [ -x "bench/$b.sh" ]; then "bench/$b.sh" build-bench; else "build-bench/bench/$b"; fi
done
