#!/usr/bin/env bash
# Times whole runs of kovrel variants side by side: each VARIANT is
# NAME=PROGRAM or NAME=PROGRAM:OPTIONS (OPTIONS split at spaces), run on each
# of the timing pictures REPEATS times, alternating, and reports the median
# processor time (user + system) of each and its ratio to the first
# variant's. Variants with the same options must write byte-identical files
# (checked with cmp); the script fails when they do not.
# Usage: bench/compare_variants.sh REPEATS VARIANT [VARIANT ...]
# Example, the landed program against this tree's, and this tree's with a
# palette file and half-strength dithering:
#   bench/compare_variants.sh 21 before=old/kovrel after=build/kovrel \
#     "palette=build/kovrel:--palette=pal.txt" "dither50=build/kovrel:--dither=50"
# The pictures and the timer come from the build in build-compare-fast/
# (bench/compare_runs.sh makes it) or from $KOVREL_BENCH_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
repeats="$1"
shift
bench="${KOVREL_BENCH_BUILD:-build-compare-fast}"
if [ ! -x "$bench/bench/kovrel_cpu_time" ]; then
  cmake -S . -B "$bench" -DCMAKE_BUILD_TYPE=Release -DKOVREL_BUILD_TESTS=OFF >/dev/null
  cmake --build "$bench" -j2 --target kovrel_make_pictures kovrel_cpu_time >/dev/null
fi
cpuTime="$PWD/$bench/bench/kovrel_cpu_time"

names=()
programs=()
options=()
for variant in "$@"; do
  names+=("${variant%%=*}")
  rest="${variant#*=}"
  program="${rest%%:*}"
  [ "$rest" = "$program" ] && opts="" || opts="${rest#*:}"
  programs+=("$(realpath "$program")")
  options+=("$opts")
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"./$bench/bench/kovrel_make_pictures" "$work" examples/chelsea.tga examples/coffee.tga

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "processor: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; $repeats runs each, median user+sys"
printf '%-10s' picture
for name in "${names[@]}"; do printf ' %14s' "$name ms"; done
echo
for picture in photo256 noise256 photo512 noise512; do
  for i in "${!names[@]}"; do
    mkdir -p "$work/$i"
    cp "$work/$picture.tga" "$work/$i/"
    : >"$work/times-$i"
  done
  for ((r = 0; r < repeats; r++)); do
    for i in "${!names[@]}"; do
      # shellcheck disable=SC2086
      (cd "$work/$i" && "$cpuTime" "${programs[$i]}" ${options[$i]} "$picture.tga") >>"$work/times-$i"
    done
  done
  printf '%-10s' "$picture"
  first="$(median <"$work/times-0")"
  for i in "${!names[@]}"; do
    us="$(median <"$work/times-$i")"
    awk -v u="$us" -v f="$first" 'BEGIN { printf " %8.1f %4.2fx", u / 1000, u / f }'
  done
  echo
  for i in "${!names[@]}"; do
    for j in "${!names[@]}"; do
      [ "$j" -gt "$i" ] && [ "${options[$i]}" = "${options[$j]}" ] || continue
      for file in "$picture.CHR" "$picture.CLR" "${picture}_tms.tga"; do
        if ! cmp -s "$work/$i/$file" "$work/$j/$file"; then
          echo "${names[$i]} and ${names[$j]} differ in $file" >&2
          exit 1
        fi
      done
    done
  done
done
echo "variants with the same options wrote byte-identical files"
