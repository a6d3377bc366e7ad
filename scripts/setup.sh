#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, plus any named
# on the command line. Safe to run again.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git python3
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libcurl4-openssl-dev libgtk-3-dev libcairo2-dev
  librsvg2-bin time
  g++-mingw-w64-x86-64
  kicad-demos
)
packages+=("$@")  # extra packages a caller needs (CI adds Wine)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
