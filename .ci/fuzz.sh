#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer included) and runs each for SECONDS seconds,
# starting from its committed seed corpus and kept crashing inputs. Fails on
# any finding; the crashing input is left in build-fuzz/findings/<target>/
# for moving into fuzz/regressions/<target>/ with the fix.
#
# Usage: .ci/fuzz.sh [SECONDS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build=build-fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DKOVREL_FUZZ=ON -DKOVREL_BUILD_TESTS=OFF -DKOVREL_WERROR=ON
cmake --build "$build" -j2 --target fuzz_tga_reader fuzz_conversion fuzz_picture_reader

status=0
for target in tga_reader conversion picture_reader; do
  work="$build/corpus-run/$target"   # grows as the fuzzer finds new inputs
  findings="$build/findings/$target"
  mkdir -p "$work" "$findings"
  echo "== fuzz_$target for ${seconds}s"
  # Pictures up to 64 x 64 plus sample records fit in 16 KiB; the readers get
  # room for headers, ID fields and colour maps around small pictures. The
  # picture reader gets 64 KiB: room for the shapes that once cost far more
  # than their pictures (runs of chunks, compressed text and image data that
  # inflate a thousandfold, a JPEG's scans repeated past the limit). A GIF
  # or WebP of a few dozen bytes can declare a picture at the readers' limit
  # (64 million pixels), and that too decodes and fits within the limits
  # below.
  max_len=16384
  if [ "$target" = picture_reader ]; then
    max_len=65536
  fi
  # A unit slower than 30 s or holding over 1 GiB (a single allocation over
  # 512 MiB) is a finding, and so is libFuzzer's own report of a slow unit
  # (from 10 s by default), held here to the same 30 s. The slowest unit
  # known is a 30-byte GIF whose screen is 2048 x 32768, letterboxed to
  # 40 x 24: about 3.5 s here, as in the program, with the resampler built
  # uninstrumented (CMakeLists.txt); instrumented, it took 73 s.
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=30 -report_slow_units=30 \
      -rss_limit_mb=1024 -malloc_limit_mb=512 \
      -print_final_stats=1 -artifact_prefix="$findings/" \
      "$work" "fuzz/corpus/$target" "fuzz/regressions/$target"; then
    echo "fuzz_$target: finding kept in $findings" >&2
    status=1
  fi
  if [ -n "$(ls -A "$findings")" ]; then
    status=1
  fi
done
exit "$status"
