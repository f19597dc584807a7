#!/bin/sh
# Writes screen/rom_loader.inc, the cartridge loader's bytes, from
# z80/rom_loader.asm (run from the source folder; needs pasmo and xxd).
# The tests check that the file matches the source.
set -e
out=$(mktemp)
trap 'rm -f "$out"' EXIT
pasmo --bin -I z80 z80/rom_loader.asm "$out"
{
  echo "// The cartridge loader assembled from z80/rom_loader.asm by"
  echo "// z80/make_loader_bytes.sh; do not edit."
  xxd -i < "$out"
} > screen/rom_loader.inc
