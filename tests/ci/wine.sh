#!/bin/sh
# The Wine side of the wine tests (label wine), with WINEPREFIX and
# WINEDEBUG set by the tests:
#   wine.sh start WINDOWS_BUILD    one Wine server for the whole run
#   wine.sh stop
#   wine.sh zip WINDOWS_BUILD NATIVE_EXTRACTOR EXAMPLES_DIR
#       the Windows zip's program on the bundled sample, its listing and
#       files compared with the native program's
set -eu
case $1 in
  start)
    build=$2
    if [ ! -f "$build/extractor/extractor.exe" ]; then
      echo "no Windows build in $build: run cmake --workflow --preset windows"
      exit 1
    fi
    # The servers let go of the test's output, or CTest waits for them.
    wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w  # let the set-up's server end, then keep one for the whole
    wineserver -p </dev/null >/dev/null 2>&1  # run, so no client races one shutting down
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  zip)
    build=$2 native=$3 examples=$4
    zip=$(ls "$build"/extractor-*-win*.zip 2>/dev/null | head -1)
    [ -n "$zip" ] || { echo "no zip in $build: run cmake --workflow --preset windows"; exit 1; }
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
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
    ;;
esac
