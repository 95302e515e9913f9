#!/bin/bash
# SPDX-License-Identifier: MIT
# Whole-process extraction benchmark: extractor against tar of the same
# files (uncompressed, lz4, zstd), in two places: tmpfs (/dev/shm, where
# the disk does not hide the program) and the disk (build/bench-disk).
# Every run goes into an emptied folder; the tools take turns, one run each
# per round (bench/interleave.py). Then peak RSS, system calls, and
# the decoder microbenchmark. Needs lz4, zstd, GNU time, strace
# and python3 (apt-get install lz4 zstd time strace python3 libbenchmark-dev).
#   bench/run.sh              RUNS=7 by default; PLACES="shm disk" by default;
#                             BEFORE=/path/to/an/older/extractor adds it to
#                             every comparison
# Inputs (made once, in build/bench-src, by bench/make_inputs from fixed
# seeds, so the same bytes on every machine): about 305 MB of binary-like
# files of 192 KiB to 8 MiB each; one 256 MiB run-heavy entry; 2,877
# text-like small files (256 B to 64 KiB); and the bundled 4-entry sample,
# for the cost of starting up. "floor" (bench/floor.c) extracts the
# uncompressed tar with no decoding at all. Before the tmpfs sets, twice
# the inputs' size is written to and deleted from /dev/shm so that its
# memory is touched (TOUCH=0 skips it). System calls an entry (strace -c)
# for the small files close the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-7}
places=${PLACES:-shm disk}

cmake --preset bench -S "$root" >/dev/null
cmake --build --preset bench >/dev/null
extractor=$root/build/bench/extractor/extractor
interleave=$root/bench/interleave.py
pack=$root/build/bench/tests/pack
floor=$root/build/bench/bench/floor

src=$root/build/bench-src
mkdir -p "$src"
cd "$src"
if [ ! -f files.MDT ] || [ ! -f smallfiles.MDT ]; then
  echo "== making inputs in $src"
  rm -rf files smallfiles synth small
  "$root/build/bench/bench/make_inputs" .
  (cd files && "$pack" ../files.MDT *)
  tar -cf files.tar -C files .
  tar -I lz4 -cf files.tar.lz4 -C files .
  tar -I zstd -cf files.tar.zst -C files .
  (cd synth && "$pack" ../runs.MDT RUNS.BIN)
  tar -cf runs.tar -C synth .
  mkdir -p small && head -c 1048576 synth/RUNS.BIN > small/SMALL.BIN
  (cd small && "$pack" ../small.MDT SMALL.BIN)
  (cd smallfiles && "$pack" ../smallfiles.MDT *)
  tar -cf smallfiles.tar -C smallfiles .
fi
# This machine's own files, so not comparable between machines: about
# 300 MB of shared libraries, and about 54 MB of C headers (text and
# code) of 256 B to 64 KiB each, under numbered names.
if [ ! -f libs.MDT ] || [ ! -f code.MDT ]; then
  echo "== gathering this machine's files in $src"
  rm -rf libs code && mkdir libs code
  copy_numbered() {  # copy_numbered DIR PREFIX MIN MAX TOTAL < paths
    local dir=$1 prefix=$2 min=$3 max=$4 limit=$5 i=0 total=0 size f
    while read -r f; do
      size=$(stat -c %s "$f")
      [ "$size" -ge "$min" ] && [ "$size" -le "$max" ] || continue
      i=$((i + 1)); total=$((total + size))
      cp "$f" "$dir/$(printf "%s%05d.BIN" "$prefix" "$i")"
      [ "$total" -lt "$limit" ] || { cat >/dev/null; break; }  # no SIGPIPE upstream
    done
  }
  find /usr/lib/x86_64-linux-gnu /usr/lib/aarch64-linux-gnu -maxdepth 1 -type f \
    -name '*.so*' 2>/dev/null | sort | copy_numbered libs L 4096 999999999 300000000
  find /usr/include -type f 2>/dev/null | sort | copy_numbered code C 256 65536 54000000
  for set in libs code; do
    (cd $set && "$pack" ../$set.MDT *)
    tar -cf $set.tar -C $set .
  done
fi
tar -cf sample.tar -C "$root/examples/sample" .
cp "$root/examples/sample.MDT" sample.MDT
ls -l files.MDT files.tar files.tar.lz4 files.tar.zst runs.MDT smallfiles.MDT \
  smallfiles.tar
echo "small files: $(ls smallfiles | wc -l) files, $(du -sb smallfiles | cut -f1) bytes"

summary() {  # summary JSON OUTPUT_DIR_OF_SOURCES
  python3 - "$1" "$2" <<'PY'
import json, os, sys
r = json.load(open(sys.argv[1]))["results"]
size = sum(os.path.getsize(os.path.join(d, f))
           for d, _, fs in os.walk(sys.argv[2]) for f in fs)
tar = next(x["median"] for x in r if x["command"] == "tar -xf")
floor = next((x["median"] for x in r if x["command"] == "floor"), None)
print(f"-- {size/1e6:.1f} MB of output; times in ms: min / median / max")
for x in r:
    against_floor = f", x{x['median']/floor:.2f} of floor" if floor else ""
    print(f"{x['command']:>16}: {x['min']*1e3:.1f} / {x['median']*1e3:.1f} / "
          f"{x['max']*1e3:.1f}, {size/1e6/x['median']:.0f} MB/s, "
          f"x{x['median']/tar:.2f} of tar -xf{against_floor}, "
          f"user {x['user']*1e3:.1f}, sys {x['system']*1e3:.1f}")
PY
}

for place in $places; do
  case $place in
    shm) dir=/dev/shm/extractor-bench ;;
    disk) dir=$root/build/bench-disk ;;
    *) echo "unknown place $place"; exit 1 ;;
  esac
  rm -rf "$dir" && mkdir -p "$dir"
  cp files.MDT files.tar files.tar.lz4 files.tar.zst runs.MDT runs.tar \
    smallfiles.MDT smallfiles.tar libs.MDT libs.tar code.MDT code.tar \
    sample.MDT sample.tar "$dir"/
  out=$dir/out
  if [ "$place" = shm ] && [ "${TOUCH:-1}" != 0 ]; then
    # Touch the memory first: a never-used tmpfs page costs every tool
    # system time on first use, and swings the timings widely. Twice the
    # inputs: a copy stands there, and every tool's output in turn.
    touch_mb=$(( $(du -sm "$dir" | cut -f1) * 2 ))
    dd if=/dev/zero of=/dev/shm/extractor-touch bs=1M count=$touch_mb status=none
    rm /dev/shm/extractor-touch
  fi
  prep="rm -rf $out && mkdir $out && sync"
  if [ "$place" = disk ]; then
    # Deleting thousands of files and creating as many again at once makes
    # ext4 search through the freed inodes, a cost that grows run after run
    # (2,877 files: 0.12 s, then 0.6, 0.9, ... 2 s, for every tool alike).
    # So each run's output is moved aside, and deleted after each set.
    mkdir "$dir/trash"
    prep="mv $out $dir/trash/\$\$ 2>/dev/null; mkdir $out && sync"
  fi
  inside() { echo "sh -c 'cd $out && exec $*'"; }
  # compare TITLE RUNS SOURCES ARCHIVE TAR [NAME COMMAND]...: the extractor
  # on ARCHIVE (and BEFORE's) against tar -xf TAR and other tools, taking
  # turns; SOURCES is the folder of what they extract, for the output size.
  compare() {
    local title=$1 n=$2 sources=$3 archive=$4 tar=$5
    shift 5
    local tools=(-n extractor "$(inside "$extractor" "$dir/$archive" '>/dev/null')")
    if [ -n "${BEFORE:-}" ]; then
      tools+=(-n before "$(inside "$BEFORE" "$dir/$archive" '>/dev/null')")
    fi
    tools+=(-n "tar -xf" "$(inside tar -xf "$dir/$tar")")
    tools+=(-n floor "$(inside "$floor" "$dir/$tar")")
    while [ $# -gt 0 ]; do tools+=(-n "$1" "$(inside "$2")"); shift 2; done
    echo "== $place: $title ($n runs each, $dir)"
    "$interleave" --runs "$n" --prepare "$prep" --export-json "$dir/set.json" \
      "${tools[@]}" >/dev/null
    rm -rf "$dir/trash" "$out"; mkdir -p "$dir/trash"; sync
    summary "$dir/set.json" "$sources"
  }
  compare "real files" "$runs" files files.MDT files.tar \
    "tar -I lz4 -xf" "tar -I lz4 -xf $dir/files.tar.lz4" \
    "tar -I zstd -xf" "tar -I zstd -xf $dir/files.tar.zst"
  compare "synthetic run-heavy entry of 256 MiB" "$runs" synth runs.MDT runs.tar
  compare "2,877 small files" $((runs * 3)) smallfiles smallfiles.MDT smallfiles.tar
  compare "this machine's shared libraries" "$runs" libs libs.MDT libs.tar
  compare "this machine's C headers" $((runs * 3)) code code.MDT code.tar
  compare "start-up, the 4-entry sample" 100 "$root/examples/sample" \
    sample.MDT sample.tar
  rm -rf "$dir"
done

echo "== peak RSS (KiB)"
out=$src/out
for archive in small.MDT runs.MDT files.MDT; do
  rm -rf "$out" && mkdir "$out"
  rss=$(cd "$out" && /usr/bin/time -f %M "$extractor" "$src/$archive" 2>&1 >/dev/null | tail -1)
  echo "extractor $archive: $rss"
done
for t in "tar -xf $src/files.tar" "tar -I lz4 -xf $src/files.tar.lz4" "tar -I zstd -xf $src/files.tar.zst"; do
  rm -rf "$out" && mkdir "$out"
  echo "$t: $(cd "$out" && /usr/bin/time -f %M $t 2>&1 | tail -1)"
done
rm -rf "$out"

echo "== system calls an entry, 2,877 small files (strace -c)"
out=$src/out
for t in "$extractor $src/smallfiles.MDT" "tar -xf $src/smallfiles.tar"; do
  rm -rf "$out" && mkdir "$out"
  (cd "$out" && strace -f -c -o "$src/strace.txt" $t >/dev/null)
  calls=$(awk '$NF == "total" {print $4}' "$src/strace.txt")
  echo "$t: $calls calls, $(python3 -c "print(f'{$calls / 2877:.2f}')") an entry"
done
rm -rf "$out"
echo "libraries: $(ldd "$extractor" | awk '{print $1}' | tr '\n' ' ')"

echo "== decoder microbenchmark (loops and sets in random turns, 5 rounds)"
"$root/build/bench/bench/decode_bench" --benchmark_min_time=0.3 --benchmark_repetitions=5 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
