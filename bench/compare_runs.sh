#!/usr/bin/env bash
# Times whole runs of kovrel against a build of the plain search, side by
# side: builds both (build-compare-fast/, build-compare-plain/), makes the
# pictures (a photograph and random noise at 256 x 192 and 512 x 512), runs
# each build on each picture REPEATS times, alternating, and prints the
# median processor time (user + system) of each and their ratio. Checks that
# both builds write byte-identical files.
# Usage: bench/compare_runs.sh [REPEATS]   (default 15)
set -euo pipefail
cd "$(dirname "$0")/.."
repeats="${1:-15}"

for kind in fast plain; do
  plain=OFF
  [ "$kind" = plain ] && plain=ON
  cmake -S . -B "build-compare-$kind" -DCMAKE_BUILD_TYPE=Release -DKOVREL_BUILD_TESTS=OFF \
    -DKOVREL_PLAIN_SEARCH="$plain" >/dev/null
  cmake --build "build-compare-$kind" -j2 --target kovrel kovrel_make_pictures kovrel_cpu_time >/dev/null
done
fast="$PWD/build-compare-fast/kovrel"
plain="$PWD/build-compare-plain/kovrel"
cpuTime="$PWD/build-compare-fast/bench/kovrel_cpu_time"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/fast" "$work/plain"
./build-compare-fast/bench/kovrel_make_pictures "$work" examples/chelsea.tga examples/coffee.tga

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "processor: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; $repeats runs each, median user+sys"
printf '%-14s %12s %12s %8s  %s\n' picture "plain ms" "fast ms" ratio outputs
for picture in photo256 noise256 photo512 noise512; do
  cp "$work/$picture.tga" "$work/fast/" && cp "$work/$picture.tga" "$work/plain/"
  : >"$work/times-fast"
  : >"$work/times-plain"
  for ((i = 0; i < repeats; i++)); do
    (cd "$work/plain" && "$cpuTime" "$plain" "$picture.tga") >>"$work/times-plain"
    (cd "$work/fast" && "$cpuTime" "$fast" "$picture.tga") >>"$work/times-fast"
  done
  same=identical
  for file in "$picture.CHR" "$picture.CLR" "${picture}_tms.tga"; do
    cmp -s "$work/fast/$file" "$work/plain/$file" || same="DIFFER ($file)"
  done
  plainUs="$(median <"$work/times-plain")"
  fastUs="$(median <"$work/times-fast")"
  awk -v p="$plainUs" -v f="$fastUs" -v n="$picture" -v s="$same" \
    'BEGIN { printf "%-14s %12.1f %12.1f %7.1fx  %s\n", n, p / 1000, f / 1000, p / f, s }'
  [ "$same" = identical ] || exit 1
done
