#!/usr/bin/env bash
# The Windows build: kovrel.exe, a static console program, cross-compiled
# with mingw-w64, then proved under wine: the seam's unit tests
# (tests/os_test.cpp), then kovrel.exe against the Linux build
# (tests/windows_identity.py).
#
#   bash .ci/windows.sh [--no-check]
#
# Installs what it needs from Debian, builds libpng, libjpeg-turbo, giflib
# and libwebp from Debian's source packages, and GoogleTest from
# libgtest-dev's sources, with
# the mingw toolchain as static libraries in build-windows/deps (kept there:
# a second run skips them), then the program
# with cmake/mingw-w64.cmake. Leaves build-windows/kovrel.exe. Unless
# --no-check is given, the identity run needs the Linux program in build/
# (built here when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$root/build-windows
deps=$out/deps
host=x86_64-w64-mingw32

packages=(g++-mingw-w64-x86-64 libz-mingw-w64-dev nasm dpkg-dev wine wine64 cmake ninja-build libstb-dev
          libgtest-dev python3 bsdutils netpbm libjpeg-turbo-progs webp)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Debian's source packages, fetched with apt-get source through a private
# list made from the system's own deb entries (deb-src), so the system's
# apt configuration is left as it was.
fetch_sources() {
  local apt=$out/apt
  rm -rf "$deps/src"
  mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$deps/src"
  local found=0
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >"$apt/sources.list.d/$(basename "$f")"
    found=1
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n -e 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >"$apt/sources.list"
  else
    : >"$apt/sources.list"
  fi
  [ "$found" = 1 ] || [ -s "$apt/sources.list" ] || { echo "windows.sh: no apt sources found" >&2; exit 1; }
  local options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
                 -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache=")
  apt-get "${options[@]}" update
  # The security archive's sources are not always reachable; the release's
  # own version of the package is the fallback.
  local codename
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  for package in "$@"; do
    (cd "$deps/src" && { apt-get "${options[@]}" source "$package" ||
                         apt-get "${options[@]}" source "$package/$codename"; })
  done
}

toolchain=$root/cmake/mingw-w64.cmake
if [ ! -f "$deps/lib/libpng16.a" ] || [ ! -f "$deps/lib/libjpeg.a" ]; then
  echo "== mingw libpng and libjpeg-turbo from Debian's source packages"
  rm -rf "$deps"
  fetch_sources libpng1.6 libjpeg-turbo
  png_src=$(find "$deps/src" -maxdepth 1 -type d -name 'libpng1.6-*' | head -1)
  jpeg_src=$(find "$deps/src" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)
  cmake -S "$png_src" -B "$deps/build-png" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_INCLUDE_DIR=/usr/$host/include -DZLIB_LIBRARY=/usr/$host/lib/libz.a
  cmake --build "$deps/build-png" -j2 --target install
  cmake -S "$jpeg_src" -B "$deps/build-jpeg" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DCMAKE_ASM_NASM_COMPILER=nasm
  cmake --build "$deps/build-jpeg" -j2 --target install
  rm -rf "$deps/src" "$deps/build-png" "$deps/build-jpeg" "$out/apt"
fi

# giflib and libwebp (with libwebpdemux), for the GIF and WebP readers.
# giflib's source package builds with a plain Makefile meant for Unix
# shared libraries, so its eight library files are compiled here directly.
if [ ! -f "$deps/lib/libgif.a" ] || [ ! -f "$deps/lib/libwebpdemux.a" ]; then
  echo "== mingw giflib and libwebp from Debian's source packages"
  fetch_sources giflib libwebp
  gif_src=$(find "$deps/src" -maxdepth 1 -type d -name 'giflib-*' | head -1)
  webp_src=$(find "$deps/src" -maxdepth 1 -type d -name 'libwebp-*' | head -1)
  mkdir -p "$deps/build-gif" "$deps/include" "$deps/lib"
  gif_objects=()
  for c in dgif_lib egif_lib gifalloc gif_err gif_font gif_hash openbsd-reallocarray quantize; do
    $host-gcc -O2 -c "$gif_src/$c.c" -o "$deps/build-gif/$c.o"
    gif_objects+=("$deps/build-gif/$c.o")
  done
  rm -f "$deps/lib/libgif.a"
  $host-ar rcs "$deps/lib/libgif.a" "${gif_objects[@]}"
  cp "$gif_src/gif_lib.h" "$deps/include/"
  cmake -S "$webp_src" -B "$deps/build-webp" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" -DBUILD_SHARED_LIBS=OFF \
    -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF \
    -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF \
    -DWEBP_BUILD_EXTRAS=OFF -DWEBP_BUILD_LIBWEBPMUX=OFF
  cmake --build "$deps/build-webp" -j2 --target install
  rm -rf "$deps/src" "$deps/build-gif" "$deps/build-webp" "$out/apt"
fi

# GoogleTest from Debian's libgtest-dev sources, for the seam's unit tests
# (tests/os_test.cpp) as a Windows program.
if [ ! -f "$deps/lib/libgtest_main.a" ]; then
  echo "== mingw GoogleTest"
  cmake -S /usr/src/googletest -B "$deps/build-gtest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" -DBUILD_GMOCK=OFF
  cmake --build "$deps/build-gtest" -j2 --target install
  rm -rf "$deps/build-gtest"
fi

echo "== kovrel.exe"
cmake -S . -B "$out/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DKOVREL_WINDOWS_DEPS="$deps" -DKOVREL_STB_INCLUDE=/usr/include/stb -DKOVREL_BUILD_TESTS=OFF -DKOVREL_BUILD_BENCHMARKS=OFF \
  -DKOVREL_WERROR="${KOVREL_WERROR:-ON}"
cmake --build "$out/build" -j2 --target kovrel kovrel_hooked kovrel_os_test
cp "$out/build/kovrel.exe" "$out/kovrel.exe"
echo "built $out/kovrel.exe"

if [ "${1:-}" != "--no-check" ]; then
  if [ ! -x build/kovrel ]; then
    cmake -S . -B build && cmake --build build -j2 --target kovrel
  fi
  echo "== the seam's unit tests under wine"
  WINEPREFIX=$out/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine "$out/build/kovrel_os_test.exe"
  echo "== kovrel.exe against the Linux build"
  WINEPREFIX=$out/wine python3 tests/windows_identity.py build/kovrel "$out/kovrel.exe" "$out/build/kovrel_hooked.exe"
fi
