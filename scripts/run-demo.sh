#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job on the built-in demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target netloom
./build/netloom --summary sample
