// Palettes by name and from files.
//
// A palette file takes one of two forms:
// - GIMP's .gpl: a first line "GIMP Palette", then lines of three whole
//   numbers 0 ... 255 (red, green, blue) separated by white space, each
//   optionally followed by a name; lines starting with "#" (comments),
//   "Name:" or "Columns:", and blank lines, are ignored.
// - Otherwise one colour per line as RRGGBB or #RRGGBB in hexadecimal digits
//   of either case; blank lines and lines starting with ";" are ignored.
// Leading and trailing white space (a carriage return included) never
// matters. Either form holds exactly 15 colours, for indices 1 ... 15 (index
// 0 is then black), or 16, for 0 ... 15 (index 0 is read and not used).
#pragma once

#include <cstddef>
#include <string>

#include "base/status.h"
#include "colour/colour.h"

namespace kovrel {

// The preset of that name ("mame", "datasheet" or "v9938"), or null.
const Palette* palettePreset(const std::string& name);

// The preset names, comma-separated, for messages and help.
const char* palettePresetNames();

// The largest palette file read.
constexpr std::size_t kMaxPaletteFileBytes = std::size_t{1} << 20;

// Reads a palette file's text into palette (a UTF-8 byte-order mark first
// is passed over; text over kMaxPaletteFileBytes gives kPaletteTooLarge). On failure returns the problem
// with path (used for the message only) and the line concerned; palette is
// then unchanged.
Outcome parsePalette(const std::string& text, const std::string& path, Palette& palette);

// Reads the file at path and parses it as above; a file that cannot be
// opened or read gives kPaletteUnreadable.
Outcome readPaletteFile(const std::string& path, Palette& palette);

}  // namespace kovrel
