#!/bin/sh
# The end-to-end tests against the Windows build under Wine, then the
# Windows zip's program run on the bundled sample, its listing and files
# compared with the native program's.
#   wine.sh WINDOWS_BUILD EXTRACTOR_TESTS NATIVE_EXTRACTOR EXAMPLES_DIR
set -eu
build=$1 tests=$2 native=$3 examples=$4
exe=$build/extractor/extractor.exe
zip=$(ls "$build"/extractor-*-win64.zip 2>/dev/null | head -1)
if [ ! -f "$exe" ] || [ -z "$zip" ]; then
  echo "no Windows build and zip in $build: run cmake --workflow --preset windows"
  exit 1
fi
export WINEDEBUG=-all WINEPREFIX="$build/wineprefix"
wineboot -i >/dev/null 2>&1 || true
wineserver -w  # let the set-up's server end, then keep one for the whole
wineserver -p  # run, so that no client races a server shutting down
trap 'wineserver -k 2>/dev/null || true' EXIT
wrapper=$build/wine-extractor
printf '#!/bin/sh\nexec wine "%s" "$@"\n' "$exe" > "$wrapper"
chmod +x "$wrapper"
EXTRACTOR_BIN=$wrapper EXTRACTOR_TARGET=windows "$tests" --gtest_brief=1

scratch=$(mktemp -d)
mkdir "$scratch/zip" "$scratch/native" "$scratch/wine"
(cd "$scratch/zip" && cmake -E tar xf "$zip")
for f in extractor.exe README.txt LICENSE.txt extractor.txt; do
  test -s "$scratch/zip/$f" || { echo "the zip lacks $f"; exit 1; }
done
(cd "$scratch/native" && "$native" "$examples/sample.MDT") > "$scratch/expected"
(cd "$scratch/wine" && wine "$scratch/zip/extractor.exe" "$examples/sample.MDT") |
  tr -d '\r' | diff "$scratch/expected" -
for f in "$examples"/sample/*; do cmp "$f" "$scratch/wine/$(basename "$f")"; done
rm -rf "$scratch"
echo "ran extractor.exe from $zip"
