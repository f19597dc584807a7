// The MSX cartridge: the loader (z80/rom_loader.asm, kept assembled in
// rom_loader.inc) with its parameters filled in, then the tables.
//
// Parameters at 0x4010: one byte 1 when the tables are ZX0 streams (0 when
// they are copied as they are), one byte for register 7 (the backdrop),
// then for the pattern, colour and name tables in turn three little-endian
// words: video memory address, address in the cartridge, length.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "screen/screen.h"

namespace kovrel {
namespace {

const std::uint8_t kLoader[] = {
#include "screen/rom_loader.inc"
};

constexpr unsigned kCartridgeStart = 0x4000;
constexpr std::size_t kParameters = 0x10;
constexpr std::uint8_t kEmptyRom = 0xFF;

void putWord(std::vector<std::uint8_t>& rom, std::size_t at, std::size_t value) {
  rom[at] = static_cast<std::uint8_t>(value & 0xFF);
  rom[at + 1] = static_cast<std::uint8_t>(value >> 8 & 0xFF);
}

}  // namespace

std::vector<std::uint8_t> romFile(const ScreenTables& plain, Packing packing, std::uint8_t backdrop) {
  const bool zx0 = packing == Packing::kZx0;
  const PackedTables tables = packTables(plain, zx0 ? Packing::kZx0 : Packing::kNone);
  constexpr unsigned kVideoAddress[3] = {0x0000, 0x2000, 0x1800};  // pattern, colour, name

  std::vector<std::uint8_t> rom(std::begin(kLoader), std::end(kLoader));
  rom[kParameters] = zx0 ? 1 : 0;
  rom[kParameters + 1] = static_cast<std::uint8_t>(backdrop & 0x0F);
  for (std::size_t t = 0; t < tables.bytes.size(); ++t) {
    const std::size_t at = kParameters + 2 + 6 * t;
    putWord(rom, at, kVideoAddress[t]);
    putWord(rom, at + 2, kCartridgeStart + rom.size());
    putWord(rom, at + 4, tables.bytes[t].size());
    rom.insert(rom.end(), tables.bytes[t].begin(), tables.bytes[t].end());
  }
  // The plain tables (13 056 bytes) and the loader fit in 16 KB, and
  // packing never makes a table much larger.
  rom.resize(kRomSize, kEmptyRom);
  return rom;
}

}  // namespace kovrel
