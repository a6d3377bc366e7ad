#!/usr/bin/env bash
# Installs the build in build/ into a scratch prefix, builds the Debian package
# and unpacks it into a scratch root (no dpkg database touched), then runs the
# unpacked program. Run after the build (scripts/run-tests.sh does it).
set -euo pipefail
cd "$(dirname "$0")/.."
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

cmake --install build --prefix "$stage/prefix" >/dev/null
for f in bin/netloom share/applications/netloom.desktop share/icons/hicolor/scalable/apps/netloom.svg \
         share/icons/hicolor/256x256/apps/netloom.png share/mime/packages/netloom.xml; do
  [ -f "$stage/prefix/$f" ] || { echo "cmake --install left out $f"; exit 1; }
done

rm -f build/netloom_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/netloom_*.deb)
dpkg-deb --field "$deb" Package Version Depends
dpkg -x "$deb" "$stage/root"
"$stage/root/usr/bin/netloom" --summary sample
# The window and the PDF/PNG writers live in a module the program finds from its own folder.
"$stage/root/usr/bin/netloom" --pdf sample "$stage/sample.pdf"
ldd "$stage/root/usr/bin/netloom" | grep -qE 'libgtk|libcairo' && { echo "the program itself links GTK or Cairo"; exit 1; }
echo "Installed and packaged: $deb"
