#!/bin/sh
# SPDX-License-Identifier: MIT
# The wine test (label wine): the end-to-end tests against the Windows
# build through the wrapper CMake writes, then the Windows zip's program
# on the bundled sample, its listing and files compared with the native
# program's. One Wine server serves the whole run.
#   wine.sh WINDOWS_BUILD WRAPPER END_TO_END_TESTS NATIVE_EXTRACTOR EXAMPLES_DIR
set -eu
build=$1 wrapper=$2 tests=$3 native=$4 examples=$5
zip=$(ls "$build"/extractor-*-windows-*.zip 2>/dev/null | head -1)
if [ ! -f "$build/extractor/extractor.exe" ] || [ -z "$zip" ]; then
  echo "skipped: no Windows build and zip in $build (cmake --workflow --preset windows makes them)"
  exit 77
fi
export WINEDEBUG=-all WINEPREFIX="$build/wineprefix"
# A server left by an earlier run would keep `wineserver -w` waiting.
wineserver -k 2>/dev/null || true
wineboot -i </dev/null >/dev/null 2>&1 || true
wineserver -w  # let the set-up's server end, then keep one for the whole
wineserver -p  # run, so that no client races a server shutting down
scratch=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$scratch"' EXIT

EXTRACTOR_BIN=$wrapper EXTRACTOR_TARGET=windows "$tests" --gtest_brief=1

mkdir "$scratch/zip" "$scratch/native" "$scratch/wine"
(cd "$scratch/zip" && cmake -E tar xf "$zip")
for f in extractor.exe README.txt LICENSE.txt extractor.txt; do
  test -s "$scratch/zip/$f" || { echo "the zip lacks $f"; exit 1; }
done
(cd "$scratch/native" && "$native" "$examples/sample.MDT") > "$scratch/expected"
(cd "$scratch/wine" && wine "$scratch/zip/extractor.exe" "$examples/sample.MDT") |
  tr -d '\r' | diff "$scratch/expected" -
for f in "$examples"/sample/*; do cmp "$f" "$scratch/wine/$(basename "$f")"; done
echo "ran extractor.exe from $zip"
