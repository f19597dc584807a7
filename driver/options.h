// kovrel's command line: [OPTION]... PICTURE [ignored]...
//
// Options are the arguments before the picture that begin with "--"; "--"
// alone ends them. The first other argument is the picture, and arguments
// after it are ignored. A path that begins with "--" can be given as
// ./--name; one that begins with a single "-" is an ordinary path.
#pragma once

#include <string>

#include "core/conversion.h"
#include "screen/screen.h"

namespace kovrel::driver {

// The files a run can write (--format), as bits.
enum Format : unsigned {
  kFormatChr = 1u << 0,  // NAME.CHR
  kFormatClr = 1u << 1,  // NAME.CLR
  kFormatTga = 1u << 2,  // NAME_tms.tga
  kFormatSc2 = 1u << 3,  // NAME.SC2
  kFormatRaw = 1u << 4,  // NAME.pat, NAME.col, NAME.nam
  kFormatC = 1u << 5,    // NAME.h
  kFormatAsm = 1u << 6,  // NAME.asm
  kFormatPng = 1u << 7,  // NAME_tms.png
  kFormatRom = 1u << 8,  // NAME.rom, an MSX cartridge
};
constexpr unsigned kDefaultFormats = kFormatChr | kFormatClr | kFormatTga;
// The formats that hold a whole screen (and so refuse a larger picture).
constexpr unsigned kScreenFormats = kFormatSc2 | kFormatRaw | kFormatC | kFormatAsm | kFormatRom;
// The formats whose tables --dedupe shares.
constexpr unsigned kSharedTileFormats = kFormatRaw | kFormatC | kFormatAsm;
// The formats --compress packs (rom with zx0 only).
constexpr unsigned kPackedFormats = kFormatRaw | kFormatC | kFormatAsm | kFormatRom;

struct CommandLine {
  Settings settings;
  std::string paletteName;  // as given: a preset's name or the file's path
  unsigned formats = kDefaultFormats;
  ScreenSettings screen;  // --place
  bool dedupe = false;
  Packing packing = Packing::kNone;  // --compress
  bool help = false;
  bool version = false;
  bool hasPicture = false;
  std::string picture;  // the path exactly as typed
  std::string error;    // the one line that says what is wrong, newline included; empty when none
};

// Parses argv[1 .. argc), reading a palette file when one is named.
CommandLine parseCommandLine(int argc, const char* const* argv);

// The --help text.
std::string helpText();

// The line naming the settings that differ from the defaults, newline
// included; empty when all are the defaults.
std::string settingsLine(const CommandLine& line);

}  // namespace kovrel::driver
