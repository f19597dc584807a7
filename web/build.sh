#!/usr/bin/env bash
# Builds the web page: compiles the converter core and web/kovrel_wasm.cpp
# to a WebAssembly reactor (clang 14, wasm32-wasi, no JavaScript glue) and
# copies the page beside it.
#
#   web/build.sh SOURCE_DIR OUTPUT_DIR [--werror] CORE_SOURCE...
#
# CORE_SOURCE: the core's in-memory sources, relative to SOURCE_DIR; the
# `web` target passes the list the library is built from.
#
# Two modules are built from the same sources: kovrel-simd.wasm with wasm
# SIMD (128-bit vectors, four lanes for the search kernel) and kovrel.wasm
# without, for browsers that lack it; the worker picks one at load.
#
# Needs Debian's clang-14, lld-14, wasi-libc, libc++-14-dev-wasm32,
# libc++abi-14-dev-wasm32 and libclang-rt-14-dev-wasm32, and libstb-dev for
# the resampler (STB_INCLUDE overrides its folder). CXX_WASM overrides the
# compiler. WASM_OPT=wasm-opt (Debian's binaryen) runs binaryen's -O3 over
# each module as well; measured here it made the conversion no faster (see
# the README's Performance section), so it is not the default.
set -euo pipefail

src=$(cd "${1:?source folder}" && pwd)
out=${2:?output folder}
shift 2
werror=()
if [ "${1:-}" = "--werror" ]; then
  werror=(-Werror)
  shift
fi
if [ "$#" -eq 0 ]; then
  echo "web/build.sh: no core sources given" >&2
  exit 1
fi
sources=("$@" web/kovrel_wasm.cpp)

cxx=${CXX_WASM:-}
if [ -z "$cxx" ]; then
  for candidate in clang++-14 /usr/lib/llvm-14/bin/clang++ clang++; do
    if command -v "$candidate" >/dev/null 2>&1; then
      cxx=$candidate
      break
    fi
  done
fi
if [ -z "$cxx" ]; then
  echo "web/build.sh: clang++ 14 not found (apt-get install clang-14 lld-14 wasi-libc" \
       "libc++-14-dev-wasm32 libc++abi-14-dev-wasm32 libclang-rt-14-dev-wasm32)" >&2
  exit 1
fi

mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# KOVREL_PORTABLE selects the plain C++ paths wherever the core has
# processor-specific ones.
flags=(
  --target=wasm32-wasi -std=c++17 -O3 -fno-exceptions
  -DKOVREL_PORTABLE=1 -DNDEBUG
  -Wall -Wextra -Wshadow -Wconversion "${werror[@]}"
  -I "$src"
  -isystem "${STB_INCLUDE:-/usr/include/stb}"
)

optimiser=${WASM_OPT:-none}

# build_module NAME EXTRA_FLAG...: compiles every source with the flags and
# links the reactor as $out/NAME.
build_module() {
  local name=$1
  shift
  local objects=()
  for source in "${sources[@]}"; do
    local object="$tmp/${name%.wasm}_$(echo "$source" | tr / _).o"
    "$cxx" "${flags[@]}" "$@" -c "$src/$source" -o "$object"
    objects+=("$object")
  done
  # A reactor has no main: the page calls _initialize once, then the exports.
  "$cxx" --target=wasm32-wasi -mexec-model=reactor -fno-exceptions "$@" \
    -Wl,--strip-all -Wl,--gc-sections -Wl,-z,stack-size=1048576 \
    -o "$tmp/$name" "${objects[@]}"
  if [ -n "$optimiser" ] && [ "$optimiser" != none ]; then
    # The features the compiler used, and only those (-msimd128 adds SIMD).
    local features=(--enable-mutable-globals --enable-sign-ext)
    if [ "$#" -gt 0 ]; then
      features+=(--enable-simd)
    fi
    "$optimiser" -O3 "${features[@]}" "$tmp/$name" -o "$tmp/$name.opt"
    mv "$tmp/$name.opt" "$tmp/$name"
  fi
  cp "$tmp/$name" "$out/$name"
}

build_module kovrel.wasm
build_module kovrel-simd.wasm -msimd128

for file in index.html style.css app.js worker.js png_decode.js zip.js; do
  cp "$src/web/$file" "$out/$file"
done
echo "web/build.sh: site in $out"
