#!/bin/sh
# Times the whole capture-file run: the Release velk_lzh decodes generated
# captures of about 20 MB and 200 MB with its console going to /dev/null.
# Prints, for each size, MB/s of capture text (1 MB = 1 000 000 bytes,
# wall-clock time), the peak resident set as /usr/bin/time -v reports it,
# and the size of the payload file for scale: most of the time goes into
# decoding, so the rate depends on how much of the capture is messages.
# Each capture is decoded twice: from the file, which is read a second time
# for the decoding, and through a pipe, whose payload bytes beyond memory
# wait in a temporary file in TMPDIR.  The captures and their payload files
# are removed afterwards.
#
#   bench/app/capture_benchmark.sh [MEGABYTES ...]    default: 20 200
set -eu

root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

cmake --preset release >/dev/null
cmake --build --preset release --target velk_lzh make_big_capture

if [ ! -x /usr/bin/time ]; then
    if [ "$(id -u)" -eq 0 ]; then apt-get install -y time >/dev/null; else sudo apt-get install -y time >/dev/null; fi
fi

velk_lzh=$root/build/release/app/velk_lzh
make_big_capture=$root/build/release/bench/app/make_big_capture
work=$(mktemp -d "${TMPDIR:-/tmp}/velk_capture_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

sizes=${*:-20 200}
ln -s /dev/stdin "$work/piped.txt"
printf '%-16s %12s %10s %10s %14s %14s\n' capture bytes seconds 'MB/s' 'peak RSS (KB)' 'payload bytes'
for mb in $sizes; do
  capture=capture_$mb.txt
  "$make_big_capture" "$work/$capture" "$mb" >/dev/null
  bytes=$(wc -c <"$work/$capture")
  for source in file pipe; do
    if [ "$source" = file ]; then
      (cd "$work" && /usr/bin/time -v "$velk_lzh" "$capture" >/dev/null 2>time.txt)
      result=$work/decompressed_$capture
    else
      (cd "$work" && cat "$capture" | /usr/bin/time -v "$velk_lzh" piped.txt >/dev/null 2>time.txt)
      result=$work/decompressed_piped.txt
    fi
    # "Elapsed (wall clock) time (h:mm:ss or m:ss): 0:01.52"
    seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ {
        n = split($2, part, ":"); s = 0
        for (i = 1; i <= n; ++i) s = s * 60 + part[i]
        print s }' "$work/time.txt")
    rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
    payload=$(wc -c <"$result")
    awk -v name="$mb MB $source" -v bytes="$bytes" -v s="$seconds" -v rss="$rss" -v payload="$payload" 'BEGIN {
        printf "%-16s %12d %10.2f %10.1f %14d %14d\n", name, bytes, s, (s > 0 ? bytes / 1e6 / s : 0), rss, payload }'
    rm -f "$result" "$work/time.txt"
  done
  rm -f "$work/$capture"
done
