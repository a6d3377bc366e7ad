#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Usage: scripts/fuzz.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETLOOM_FUZZ=ON \
  -DNETLOOM_TESTS=OFF -DNETLOOM_GUI=OFF -DNETLOOM_SANITIZE=ON >/dev/null
shopt -s nullglob
targets=()
for src in fuzz/*.cpp; do targets+=("$(basename "$src" .cpp)"); done
cmake --build build-fuzz --target "${targets[@]}"
for src in fuzz/*.cpp; do
  name=$(basename "$src" .cpp)
  seeds=fuzz/corpus/$name
  work=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "fuzzing $name for ${secs}s"
  ./build-fuzz/"$name" -max_total_time="$secs" -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 "$work" 2>&1 | tail -n 12
  rm -rf "$work"
done
