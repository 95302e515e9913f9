#!/bin/sh
# The Debian package: linted, unpacked and run on the bundled sample (the
# listing and files compared with the release build's), needing the C
# library alone. With INSTALL_DEB=1 (CI, as root) it is also installed with
# apt-get, run from /usr/bin, its man page found, and removed.
#   deb.sh RELEASE_BUILD EXAMPLES_DIR
set -eu
build=$1 examples=$2
deb=$(ls "$build"/extractor_*_amd64.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "no .deb in $build: run cmake --workflow --preset release"; exit 1; }
lint=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges' || true)
echo "${lint:-lintian: no tags}"
if echo "$lint" | grep -q '^E:'; then exit 1; fi
scratch=$(mktemp -d)
dpkg-deb -x "$deb" "$scratch/root"
test -f "$scratch/root/usr/share/doc/extractor/copyright"
test -f "$scratch/root/usr/share/man/man1/extractor.1.gz"
needed=$(readelf -d "$scratch/root/usr/bin/extractor" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ "$needed" = libc.so.6 ] || { echo "needs $needed"; exit 1; }
run() {  # run PROGRAM DIR: extracts the sample into DIR, checks the files
  mkdir "$2"
  (cd "$2" && "$1" "$examples/sample.MDT") > "$2.listing"
  for f in "$examples"/sample/*; do cmp "$f" "$2/$(basename "$f")"; done
}
run "$build/extractor/extractor" "$scratch/built"
run "$scratch/root/usr/bin/extractor" "$scratch/unpacked"
diff "$scratch/built.listing" "$scratch/unpacked.listing"
if [ "${INSTALL_DEB:-0}" = 1 ]; then
  apt-get install -y -qq "$deb" >/dev/null
  test "$(command -v extractor)" = /usr/bin/extractor
  run /usr/bin/extractor "$scratch/installed"
  diff "$scratch/built.listing" "$scratch/installed.listing"
  man -w extractor
  apt-get remove -y -qq extractor >/dev/null
  test ! -e /usr/bin/extractor
  echo "installed, ran, removed: $deb"
fi
rm -rf "$scratch"
echo "unpacked and ran: $deb"
