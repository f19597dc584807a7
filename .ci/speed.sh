#!/usr/bin/env bash
# CI for the line search's kernels: the portable-only build (what a
# processor without AVX2 runs) with its tests, and the benchmarks built (not
# judged) in the default build.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== portable search kernel only, -Werror"
cmake -S . -B build-ci-portable -G Ninja -DKOVREL_PORTABLE=ON -DKOVREL_WERROR=ON
cmake --build build-ci-portable
ctest --test-dir build-ci-portable --output-on-failure

echo "== plain search build (for timing comparisons), -Werror"
cmake -S . -B build-ci-plain -G Ninja -DKOVREL_PLAIN_SEARCH=ON -DKOVREL_BUILD_TESTS=OFF -DKOVREL_WERROR=ON
cmake --build build-ci-plain

echo "== benchmarks build (figures not judged): a short run checks they agree with the plain code"
# Each benchmark compares its results with the plain code's before timing
# and reports an error when they differ.
for build in build-ci-portable build; do
  if [ -x "$build/bench/kovrel_bench" ]; then
    out="$("./$build/bench/kovrel_bench" --benchmark_filter='TileLine' --benchmark_min_time=0.01 2>&1)"
    echo "$out"
    if grep -q "ERROR OCCURRED" <<<"$out"; then
      echo "$build: a benchmark's results differ from the plain code's" >&2
      exit 1
    fi
  fi
done
