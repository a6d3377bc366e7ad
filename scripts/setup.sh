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
  xvfb xdotool imagemagick dpkg-dev
  fonts-liberation
)
packages+=("$@")  # extra packages a caller needs (CI adds Wine)
# Wine draws the Windows build's texts with these in place of Consolas and Segoe UI;
# GoogleTest's source is cross-built for the Windows unit tests.
for p in "$@"; do
  if [ "$p" = wine64 ]; then packages+=(fonts-liberation googletest); fi
done
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

# KiCad 9's demos (newer file versions, more designs) come from bookworm-backports.
if grep -qs bookworm /etc/os-release && ! dpkg-query -W -f='${Version}' kicad-demos 2>/dev/null | grep -q '^9'; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  if ! grep -rqs bookworm-backports /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "deb http://deb.debian.org/debian bookworm-backports main" | $SUDO tee /etc/apt/sources.list.d/bookworm-backports.list >/dev/null
  fi
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends -t bookworm-backports kicad-demos
fi
