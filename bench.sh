#!/usr/bin/env bash
# Builds in release mode and prints the benchmark figures (never asserted as tests).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELARO_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j"$(nproc)"
found=0
for b in build-release/bench/velaro_bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  QT_QPA_PLATFORM=offscreen "$b" "$@"
done
[ "$found" = 1 ] || echo "no benchmarks built yet"
