#!/usr/bin/env bash
# Installs from Debian the packages of tools/packages.txt that are missing,
# for the groups named (default: build and tests; "all" for every group),
# and says what it installs. Runs apt-get as root, or through sudo for a
# user; without either it prints the command to run and fails.
#
# Usage: tools/install-packages.sh [GROUP...]    e.g. build tests ci web
set -euo pipefail
list="$(dirname "$0")/packages.txt"

groups=("$@")
if [ "${#groups[@]}" -eq 0 ]; then
  groups=(build tests)
fi
wanted=()
while read -r group package _; do
  case "$group" in ''|'#'*) continue ;; esac
  for g in "${groups[@]}"; do
    if [ "$g" = all ] || [ "$g" = "$group" ]; then
      wanted+=("$package")
    fi
  done
done < "$list"
# npm comes with Debian's nodejs unless another Node.js is there already.
for g in "${groups[@]}"; do
  if { [ "$g" = web ] || [ "$g" = all ]; } && ! command -v npm >/dev/null 2>&1; then
    wanted+=(nodejs npm)
  fi
done

missing=()
for p in $(printf '%s\n' "${wanted[@]}" | awk '!seen[$0]++'); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-packages: every package for ${groups[*]} is installed."
  exit 0
fi
echo "install-packages: installing from Debian: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-packages: not root and no sudo; as root, run:" >&2
  echo "  apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
  echo "(README: Building without root)" >&2
  exit 1
fi
"${as_root[@]}" apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
