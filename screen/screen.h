// A whole Graphics II screen from a conversion: the picture's tiles placed on
// the 32 x 24 tile screen, the three tables as they go into video memory, and
// the files made of them. Everything here works on bytes in memory only.
//
// Video memory as MSX BASIC's SCREEN 2 sets it up (R2 = 0x06, R3 = 0xFF,
// R4 = 0x03, R5 = 0x36, R6 = 0x07):
//   0x0000-0x17FF  pattern table: 3 thirds x 256 patterns x 8 bytes
//   0x1800-0x1AFF  name table: 768 bytes, one per tile, row by row
//   0x1B00-0x1B7F  sprite attribute table (a Y of 0xD0 ends the list)
//   0x2000-0x37FF  colour table: 3 thirds x 256 patterns x 8 bytes
// Each third (tile rows 0-7, 8-15, 16-23) takes its patterns from its own
// 2 KiB of the pattern and colour tables; a name byte picks one of them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/status.h"
#include "colour/colour.h"
#include "compress/compress.h"
#include "core/conversion.h"
#include "image/working_image.h"

namespace kovrel {

constexpr int kScreenColumns = 32;
constexpr int kScreenRows = 24;
constexpr int kThirds = 3;
constexpr int kThirdRows = kScreenRows / kThirds;                // 8
constexpr int kTilesPerThird = kScreenColumns * kThirdRows;      // 256
constexpr std::size_t kTileBytes = kTileSide;                    // one byte per tile line
constexpr std::size_t kThirdBytes = kTilesPerThird * kTileBytes;  // 2048
constexpr std::size_t kScreenTableBytes = kThirds * kThirdBytes;  // 6144
constexpr std::size_t kNameTableBytes = kThirds * kTilesPerThird;  // 768

// Where the picture's tiles go on the screen.
enum class Placement {
  kTopLeft,  // tile (0, 0) of the picture at screen tile (0, 0)
  kCentre,   // (32 - columns) / 2 and (24 - rows) / 2 tiles in, rounded down
};

struct ScreenSettings {
  Placement placement = Placement::kTopLeft;
  // The colour byte of every tile line outside the picture, whose pattern
  // byte is 0: 0x11 shows black (colour 1) with either bit.
  std::uint8_t backgroundColour = 0x11;
};

// The three tables of one screen. Laid out plainly (layOutScreen) the
// pattern and colour tables hold all 768 tiles in name-table order and the
// name table 0 ... 255 in each third. After dedupeTiles, third t's patterns
// are its first uniqueTiles[t] slots, written one third after the other.
struct ScreenTables {
  std::vector<std::uint8_t> pattern;  // 8 bytes per pattern
  std::vector<std::uint8_t> colour;   // 8 bytes per pattern, as pattern
  std::vector<std::uint8_t> name;     // kNameTableBytes
  std::array<int, kThirds> uniqueTiles{};  // patterns of each third in the tables
};

// The colour byte that shows the usable palette colour (1 ... 15) nearest
// to rgb (by colourDistance; the lowest index on a tie) in both nibbles, so
// that either pattern bit shows it: black in the default palette gives 0x11.
std::uint8_t backgroundColourByte(const Palette& palette, const std::array<std::uint8_t, 3>& rgb);

// kOk when a picture of width x height fits on the screen (at most 256 x
// 192), else kLargerThanScreen.
Status checkScreenFits(int width, int height);

// Lays the conversion's tiles (its CHR and CLR bodies) on the screen under
// settings into tables. Refuses, with kLargerThanScreen and tables left
// unchanged, a picture that does not fit.
Status layOutScreen(const Conversion& conversion, const ScreenSettings& settings, ScreenTables& tables);

// The plainly laid out tables with tiles whose 8 pattern and 8 colour bytes
// are alike within a third sharing one pattern: within each third, patterns
// are numbered in the order their first tile appears in the name table, so
// third t's name bytes are 0 ... uniqueTiles[t] - 1 and its highest name
// byte plus one is its pattern count.
ScreenTables dedupeTiles(const ScreenTables& plain);

// tables with, on every line, the choices that change no pixel made alike
// for alike lines: a line of one colour as pattern 0x00 or 0xFF with a
// colour byte its neighbours in the tile use, foreground and background
// swapped (and the pattern inverted) to match the line above. Each
// pattern's bytes follow from its own bytes only, so alike tiles stay alike.
ScreenTables evenedTables(const ScreenTables& tables);

// The tables the raw, C and asm files hold: plain, or dedupeTiles' when
// dedupe; and with dedupe or a packing, evenedTables' instead when they
// pack shorter (packing) or share into fewer patterns (dedupe alone).
ScreenTables sharedTables(const ScreenTables& plain, bool dedupe, Packing packing);

// The SC2 file (kSc2FileSize bytes) of plainly laid out tables: the BSAVE
// header FE 00 00 FF 37 00 00 (start 0x0000, end 0x37FF, run 0x0000), then
// video memory 0x0000-0x37FF: pattern table, name table 0 ... 255 in each
// third, 0xD0 at 0x1B00 (no sprites), zeros up to 0x1FFF, colour table.
constexpr std::size_t kSc2FileSize = 7 + 0x3800;  // 14 343
std::vector<std::uint8_t> sc2File(const ScreenTables& plain);

// The three tables, each packed on its own (packTable), in the order
// pattern, colour, name.
struct PackedTables {
  Packing packing = Packing::kNone;
  std::array<std::vector<std::uint8_t>, 3> bytes;
};
PackedTables packTables(const ScreenTables& tables, Packing packing);

// C source for tables: a header guard, macros IDENT_PATTERN_SIZE,
// IDENT_COLOUR_SIZE, IDENT_NAME_SIZE and IDENT_THIRD0_PATTERNS ... 2 (IDENT
// in upper case), then `const unsigned char ident_pattern[]`,
// ident_colour[] and ident_name[], 16 bytes a line in hexadecimal.
// identifier must be a valid C identifier (sourceIdentifier's). With
// packed tables the arrays hold packed's bytes, whose sizes are the macros
// IDENT_PATTERN_PACKED_SIZE ... (the _SIZE macros stay the unpacked sizes).
std::string cHeaderText(const ScreenTables& tables, const std::string& identifier, const PackedTables* packed = nullptr);

// Assembler source for tables: `ident_pattern:`, `ident_colour:` and
// `ident_name:` labels each followed by `db` lines of 16 bytes as $XX, and
// `ident_..._size: equ N` lines; accepted by sjasmplus, pasmo and z80asm.
// With packed tables, as cHeaderText: `ident_..._packed_size: equ N` too.
std::string asmSourceText(const ScreenTables& tables, const std::string& identifier, const PackedTables* packed = nullptr);

// The MSX cartridge (kRomSize bytes, for 0x4000-0x7FFF) that shows plainly
// laid out tables: the header "AB" with the loader's start, the loader,
// then the tables, packed with ZX0 when packing is kZx0 and as they are
// otherwise. The loader sets Graphics II with the display off and
// interrupts off, clears video memory, puts 0xD0 at 0x1B00 (no sprites),
// unpacks or copies the tables, sets the backdrop to backdrop's low
// nibble, turns the display on and stays there.
constexpr std::size_t kRomSize = 0x4000;
std::vector<std::uint8_t> romFile(const ScreenTables& plain, Packing packing, std::uint8_t backdrop);

// --- TI-99/4A -------------------------------------------------------------

// A PC copy of a TI disk file: the 128-byte TIFILES header, then body padded
// with zeros to whole 256-byte sectors. The file is a PROGRAM image (a
// memory image, as TI Artist saves its pictures):
//   0x00      0x07, then "TIFILES"
//   0x08-09   sectors of the body, big-endian
//   0x0A      flags: 0x01, PROGRAM
//   0x0B      records per sector: 0
//   0x0C      bytes used in the last sector, 0 when it is full
//   0x0D      record length: 0
//   0x0E-0F   record count: 0
//   0x10-19   tiName, upper case, padded with spaces
// and zeros up to 0x7F. tiName holds at most 10 characters, none a space or
// a '.' (tiDiskName's).
constexpr std::size_t kTiFilesHeaderBytes = 128;
constexpr std::size_t kTiSectorBytes = 256;
std::vector<std::uint8_t> tiFilesFile(const std::vector<std::uint8_t>& body, const std::string& tiName);

// The name on a TI disk for a file at path: its file name (after the last
// '/') in upper case with only letters, digits, '_' and '-' kept, the part
// before suffix cut so that the whole is at most 10 characters ("PIC" when
// nothing is left): tiDiskName("out/my pic_P", "_P") is "MYPIC_P".
std::string tiDiskName(const std::string& path, const std::string& suffix);

// TMS9900 assembler source for tables, for the Editor/Assembler and xdt99's
// xas99: lines of at most 80 characters; labels of at most 6 characters in
// column 1, prefix (1 to 3 letters and digits, a letter first) followed by
// PAT, COL and NAM, each on the first of its `BYTE >XX,...` lines of 16
// bytes; PSZ, CSZ and NSZ the tables' sizes, T0 ... T2 each third's pattern
// count, as EQUs. No END, so that it can be COPYed into a program.
std::string tiAssemblerText(const ScreenTables& tables, const std::string& prefix);

// The label prefix for tiAssemblerText from an output path: the first three
// letters and digits of its file name less the extension, in upper case;
// "PIC" when that is empty or starts with a digit.
std::string tiLabelPrefix(const std::string& outputPath);

// Which whole-screen files a run writes.
struct ScreenFileChoice {
  bool sc2 = false;
  bool raw = false;
  bool c = false;
  bool assembler = false;
  bool rom = false;
  Packing packing = Packing::kNone;  // for raw, c and asm; zx0 also for rom
  std::uint8_t romBackdrop = 1;      // the rom's backdrop colour (register 7)
};

// One file's path and bytes.
struct NamedBytes {
  std::string path;
  std::vector<std::uint8_t> bytes;
};

// The chosen whole-screen files, in the order they are written, each named
// pathOf(extension): "SC2" from the plainly laid out tables, then "pat",
// "col", "nam", "h" and "asm" from shared (plain, or dedupeTiles' tables),
// then "rom" from plain. The C and assembler symbols are sourceIdentifier's
// of their files' paths. With a packing the raw files are pathOf("pat")
// ".EXT" ... (EXT from packingExtension) holding the packed tables, the
// source files hold them packed, and packedSizes (when given) gets the
// packed sizes of shared's pattern, colour and name tables.
std::vector<NamedBytes> screenFiles(const std::function<std::string(const std::string&)>& pathOf,
                                    const ScreenTables& plain, const ScreenTables& shared,
                                    const ScreenFileChoice& choice,
                                    std::array<std::size_t, 3>* packedSizes = nullptr);

// An identifier for the source formats from an output path: its file name up
// to the last '.', with every character other than a letter, digit or '_'
// made '_', and "picture_" put in front of a leading digit or an empty name.
std::string sourceIdentifier(const std::string& outputPath);

// True when the file name of path (after the last folder separator) loads by that name
// on an MSX: at most 8 characters, a '.', at most 3 more, each a letter, a
// digit or one of ! # $ % & ' ( ) - @ ^ _ ` { } ~. Otherwise suggestion is
// set to such a name: the characters it can keep, in upper case, cut to 8
// and 3 ("PICTURE" when none are left).
bool isMsxFileName(const std::string& path, std::string& suggestion);

}  // namespace kovrel
