#!/usr/bin/env bash
# CI for the web page: builds kovrel and the site (the core compiled to
# WebAssembly with clang 14), then drives the page in Debian's chromium
# through playwright-core (web/test/page.test.mjs). Screenshots and the
# downloaded files are left in build/web-test/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-packages.sh build tests web  # the browser tests use netpbm and cwebp too

echo "== web page: kovrel and the site"
cmake -S . -B build -DKOVREL_WERROR=ON
cmake --build build -j2 --target kovrel web

echo "== web page: browser tests in chromium"
(cd web && npm ci --no-audit --no-fund)
(cd web && npm test)
