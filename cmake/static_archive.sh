#!/bin/sh
# SPDX-License-Identifier: MIT
# static_archive.sh OUT.tar.gz TOP EPOCH STRIP PROGRAM MANUAL README LICENSE CHANGELOG
# The static build's archive: TOP/ holding the stripped program, the
# manual (extractor.1), README.md, LICENSE and changelog; members sorted,
# owned by root, all dated EPOCH, gzip without name or time, so that the
# same inputs give the same bytes.
set -eu
out=$1 top=$2 epoch=$3 strip=$4 program=$5 manual=$6 readme=$7 licence=$8 changelog=$9
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$top"
cp "$program" "$stage/$top/extractor"
"$strip" "$stage/$top/extractor"
cp "$manual" "$stage/$top/extractor.1"
cp "$readme" "$stage/$top/README.md"
cp "$licence" "$stage/$top/LICENSE"
cp "$changelog" "$stage/$top/changelog"
chmod 0755 "$stage/$top" "$stage/$top/extractor"
chmod 0644 "$stage/$top/extractor.1" "$stage/$top/README.md" "$stage/$top/LICENSE" "$stage/$top/changelog"
tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" --format=gnu \
  -C "$stage" -cf - "$top" | gzip -9n > "$out"
