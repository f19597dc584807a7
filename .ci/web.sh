#!/usr/bin/env bash
# CI for the web page: builds kovrel and the site (the core compiled to
# WebAssembly with clang 14), then drives the page in Debian's chromium
# through playwright-core (web/test/page.test.mjs). Screenshots and the
# downloaded files are left in build/web-test/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ clang-14 lld-14 wasi-libc libc++-14-dev-wasm32
          libc++abi-14-dev-wasm32 libclang-rt-14-dev-wasm32 chromium libstb-dev)
if ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

echo "== web page: kovrel and the site"
cmake -S . -B build -DKOVREL_WERROR=ON
cmake --build build -j2 --target kovrel web

echo "== web page: browser tests in chromium"
(cd web && npm ci --no-audit --no-fund)
(cd web && npm test)
