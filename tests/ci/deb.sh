#!/bin/sh
# SPDX-License-Identifier: MIT
# A Debian package as a user gets it: linted (no error or warning),
# unpacked, its program (through qemu-user for another architecture) run
# on the bundled sample, the files compared with the sample's, needing the
# C library alone. With INSTALL_DEB=1 (CI, as root), a package for this
# machine is also installed with apt-get, run from /usr/bin, its man page
# found, and removed. The listing goes to LISTING, and must be the same as
# that of REFERENCE, another build of the program, if one is named.
#   deb.sh DEB EXAMPLES_DIR LISTING [REFERENCE]
set -eu
deb=$1 examples=$2 listing=$3 reference=${4:-}
[ -f "$deb" ] || { echo "no package $deb"; exit 1; }
lint=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges' || true)
echo "${lint:-lintian: no tags} ($deb)"
if echo "$lint" | grep -q '^[EW]:'; then exit 1; fi
arch=$(dpkg-deb -f "$deb" Architecture)
echo "Architecture: $arch; Depends: $(dpkg-deb -f "$deb" Depends)"
case $arch in
  "$(dpkg --print-architecture)") runner= ;;
  arm64) runner="qemu-aarch64 -L /usr/aarch64-linux-gnu" ;;
  *) echo "no way to run $arch here"; exit 1 ;;
esac
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
test -f "$scratch/root/usr/share/doc/extractor/copyright"
test -f "$scratch/root/usr/share/man/man1/extractor.1.gz"
# The C library, and on some architectures its dynamic loader, alone.
needed=$(readelf -d "$scratch/root/usr/bin/extractor" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
  grep -v -e '^libc\.so\.6$' -e '^ld-linux-.*\.so\.[0-9]$' || true)
[ -z "$needed" ] || { echo "needs $needed"; exit 1; }
run() {  # run DIR PROGRAM...: extracts the sample into DIR, checks the files
  dir=$1; shift
  mkdir "$dir"
  (cd "$dir" && "$@" "$examples/sample.MDT") > "$dir.listing"
  for f in "$examples"/sample/*; do cmp "$f" "$dir/$(basename "$f")"; done
}
# shellcheck disable=SC2086
run "$scratch/unpacked" $runner "$scratch/root/usr/bin/extractor"
cp "$scratch/unpacked.listing" "$listing"
if [ -n "$reference" ]; then
  run "$scratch/reference" "$reference"
  diff "$listing" "$scratch/reference.listing"
fi
if [ "${INSTALL_DEB:-0}" = 1 ] && [ -z "$runner" ]; then
  apt-get install -y -qq "$deb" >/dev/null
  test "$(command -v extractor)" = /usr/bin/extractor
  run "$scratch/installed" /usr/bin/extractor
  diff "$listing" "$scratch/installed.listing"
  man -w extractor
  apt-get remove -y -qq extractor >/dev/null
  test ! -e /usr/bin/extractor
  echo "installed, ran, removed: $deb"
fi
echo "unpacked and ran: $deb"
