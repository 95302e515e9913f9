#!/bin/bash
# Whole-process extraction benchmark: extractor against tar of the same
# files (uncompressed, lz4, zstd), each run into a fresh empty folder.
# Inputs: about 300 MB of the machine's shared libraries and documentation
# (hundreds of entries) plus one synthetic run-heavy entry. Needs
# hyperfine, lz4, zstd and GNU time (apt-get install hyperfine lz4 zstd time).
#   bench/run.sh [WORK_DIR]      (default: build/bench-data)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$root/build/bench-data}
runs=${RUNS:-7}
synthetic_mib=${SYNTHETIC_MIB:-256}

cmake --preset bench -S "$root" >/dev/null
cmake --build --preset bench >/dev/null
extractor=$root/build/bench/extractor/extractor
pack=$root/build/bench/tests/pack

mkdir -p "$work"
cd "$work"
if [ ! -f files.MDT ]; then
  echo "== making inputs in $work"
  rm -rf files && mkdir files
  i=0; total=0
  # Regular files only, named F00001.BIN ... (names have at most 12 bytes).
  while IFS= read -r -d '' f; do
    size=$(stat -c %s "$f")
    [ "$size" -gt 0 ] && [ "$size" -lt 8000000 ] || continue
    i=$((i + 1)); total=$((total + size))
    cp "$f" "files/$(printf 'F%05d.BIN' "$i")"
    [ "$total" -lt 300000000 ] || break
  done < <(find /usr/lib/x86_64-linux-gnu /usr/share/doc -type f -print0 2>/dev/null | sort -z)
  echo "$i real files, $total bytes"
  # Zeros, then repeating patterns with short runs.
  python3 - "$synthetic_mib" > runs.bin <<'PY'
import sys
mib = int(sys.argv[1])
half = mib << 19
sys.stdout.buffer.write(bytes(half))
pattern = b"".join(bytes([i % 256]) * (i % 300 + 1) for i in range(1000))
out = bytearray()
while len(out) < half: out += pattern
sys.stdout.buffer.write(bytes(out[:half]))
PY
  (cd files && "$pack" ../files.MDT *)
  tar -cf files.tar -C files .
  tar -I lz4 -cf files.tar.lz4 -C files .
  tar -I zstd -cf files.tar.zst -C files .
  mkdir -p synth && mv runs.bin synth/RUNS.BIN
  (cd synth && "$pack" ../runs.MDT RUNS.BIN)
  tar -cf runs.tar -C synth .
  head -c 1048576 synth/RUNS.BIN > small.bin
  mkdir -p small && mv small.bin small/SMALL.BIN
  (cd small && "$pack" ../small.MDT SMALL.BIN)
fi
ls -l files.MDT files.tar files.tar.lz4 files.tar.zst runs.MDT

out=$work/out
prep="sh -c 'rm -rf $out && mkdir $out && sync'"
echo "== real files ($runs runs each)"
hyperfine -N --runs "$runs" --prepare "$prep" --export-json real.json \
  -n extractor "sh -c 'cd $out && exec $extractor $work/files.MDT >/dev/null'" \
  -n "tar -xf" "tar -xf $work/files.tar -C $out" \
  -n "tar -I lz4 -xf" "tar -I lz4 -xf $work/files.tar.lz4 -C $out" \
  -n "tar -I zstd -xf" "tar -I zstd -xf $work/files.tar.zst -C $out"
echo "== synthetic run-heavy entry of $synthetic_mib MiB"
hyperfine -N --runs "$runs" --prepare "$prep" --export-json runs.json \
  -n extractor "sh -c 'cd $out && exec $extractor $work/runs.MDT >/dev/null'" \
  -n "tar -xf" "tar -xf $work/runs.tar -C $out"

python3 - "$work" <<'PY'
import json, os, sys
work = sys.argv[1]
for name, src in (("real", "files"), ("runs", "synth")):
    r = json.load(open(f"{work}/{name}.json"))["results"]
    size = sum(os.path.getsize(os.path.join(dp, f)) for dp, _, fs in os.walk(f"{work}/{src}") for f in fs)
    tar = next(x["median"] for x in r if x["command"] == "tar -xf")
    print(f"-- {name}: {size/1e6:.0f} MB of output")
    for x in r:
        print(f"{x['command']:>16}: median {x['median']:.3f} s, {size/1e6/x['median']:.0f} MB/s, x{x['median']/tar:.2f} of tar -xf")
PY

echo "== peak RSS (KiB)"
for archive in small.MDT runs.MDT files.MDT; do
  rm -rf "$out" && mkdir "$out"
  rss=$(cd "$out" && /usr/bin/time -f %M "$extractor" "$work/$archive" 2>&1 >/dev/null | tail -1)
  echo "extractor $archive: $rss"
done
for t in "tar -xf $work/files.tar" "tar -I lz4 -xf $work/files.tar.lz4" "tar -I zstd -xf $work/files.tar.zst"; do
  rm -rf "$out" && mkdir "$out"
  echo "$t: $(/usr/bin/time -f %M $t -C "$out" 2>&1 | tail -1)"
done
rm -rf "$out"
