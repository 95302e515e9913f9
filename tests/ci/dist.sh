#!/bin/sh
# SPDX-License-Identifier: MIT
# Every release artifact in DIST (the dist preset) as a user gets it: the
# checksums hold, the packages pass deb.sh, the static builds are
# statically linked and run the sample with nothing else present (x86_64
# in a chroot of an otherwise empty folder, as root; aarch64 through qemu
# with no system root), the zip's program runs it under Wine; every
# artifact lists the sample alike and writes the sample's files.
#   dist.sh DIST VERSION EXAMPLES_DIR
set -eu
dist=$1 version=$2 examples=$3
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
expected="extractor_${version}_amd64.deb extractor_${version}_arm64.deb
extractor-${version}-linux-aarch64.tar.gz extractor-${version}-linux-x86_64.tar.gz
extractor-${version}-windows-x86_64.zip SHA256SUMS"
[ "$(ls "$dist" | sort)" = "$(echo $expected | tr ' ' '\n' | sort)" ] ||
  { echo "build/dist holds: $(ls "$dist")"; exit 1; }
(cd "$dist" && sha256sum -c SHA256SUMS)

for arch in amd64 arm64; do
  sh "$here/deb.sh" "$dist/extractor_${version}_$arch.deb" "$examples" "$scratch/$arch.listing"
done

check_files() {  # check_files DIR: the sample's files, byte for byte
  for f in "$examples"/sample/*; do cmp "$f" "$1/$(basename "$f")"; done
}
for arch in x86_64 aarch64; do
  top=extractor-$version-linux-$arch
  tar -xzf "$dist/$top.tar.gz" -C "$scratch"
  [ "$(cd "$scratch/$top" && ls | sort | tr '\n' ' ')" = "LICENSE README.md changelog extractor extractor.1 " ] ||
    { echo "$top.tar.gz holds: $(ls "$scratch/$top")"; exit 1; }
  file "$scratch/$top/extractor" | tee "$scratch/file"
  grep -q 'statically linked' "$scratch/file"
  box=$scratch/box-$arch
  mkdir "$box"
  cp "$scratch/$top/extractor" "$examples/sample.MDT" "$box/"
  if [ "$arch" = aarch64 ]; then
    qemu=$(command -v qemu-aarch64)
    (cd "$box" && env -i QEMU_LD_PREFIX=/nonexistent "$qemu" ./extractor sample.MDT) > "$scratch/$arch.listing"
  elif [ "$(id -u)" = 0 ] && chroot=$(command -v chroot); then
    env -i "$chroot" "$box" /extractor /sample.MDT > "$scratch/$arch.listing"
  else
    (cd "$box" && env -i ./extractor sample.MDT) > "$scratch/$arch.listing"
  fi
  check_files "$box"
done

mkdir "$scratch/zip" "$scratch/wine"
(cd "$scratch/zip" && cmake -E tar xf "$dist/extractor-$version-windows-x86_64.zip")
for f in extractor.exe README.txt LICENSE.txt extractor.txt; do
  test -s "$scratch/zip/$f" || { echo "the zip lacks $f"; exit 1; }
done
(cd "$scratch/wine" && WINEDEBUG=-all WINEPREFIX="$scratch/wineprefix" \
  wine "$scratch/zip/extractor.exe" "$examples/sample.MDT" </dev/null 2>/dev/null) |
  tr -d '\r' > "$scratch/windows.listing"
WINEPREFIX="$scratch/wineprefix" wineserver -k 2>/dev/null || true
check_files "$scratch/wine"

for listing in arm64 x86_64 aarch64 windows; do
  diff "$scratch/amd64.listing" "$scratch/$listing.listing"
done
cat "$scratch/amd64.listing"
echo "all artifacts of $version checked"
