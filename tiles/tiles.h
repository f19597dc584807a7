// The two Graphics II tables and their files.
//
// Each file is a BASIC binary-save (BSAVE) image: a 7-byte header, then one
// byte per TileLine.
//   offset 0  0xFE              identifier
//   offset 1  start, LE16       0x0000 pattern table, 0x2000 colour table
//   offset 3  end (inclusive)   0x17FF pattern table, 0x37FF colour table
//   offset 5  run address, LE16 0x0000
// The addresses are those of a full 32 x 24 tile screen whatever the
// picture's size. Body order: tile rows top to bottom, tile columns left to
// right, the tile's eight lines top to bottom; so a tile's eight bytes are
// consecutive.
//   Pattern byte: bit 7 is the leftmost pixel; 1 shows the foreground.
//   Colour byte: foreground index in the high four bits, background in the
//   low four bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/status.h"
#include "image/working_image.h"
#include "quantise/quantise.h"

namespace kovrel {

constexpr std::size_t kTableHeaderSize = 7;

struct TileLineBytes {
  std::uint8_t colour = 0;
  std::uint8_t pattern = 0;
};

// Derives the colour and pattern byte of the TileLine at (x0 ... x0 + 7, y)
// from its (quantised) pixels by an exhaustive search without error over
// q's palette; reads only. Pixel ties go to the background, pair ties to the
// pair visited first.
TileLineBytes encodeTileLine(const Quantiser& q, const WorkingImage& image, int x0, int y);

// The bytes encodeTileLine derives from a TileLine that the pass committed
// with choice, when no two usable colours of the palette are the same: the
// committed pixels hold exact palette colours, and no later commit changes
// them, so its colours are those the mask selects.
TileLineBytes tileLineBytesOf(const LineChoice& choice);

// Each table file's size for image: header and one byte per TileLine.
std::size_t tileTableSize(const WorkingImage& image);

// Both files' complete bytes for the padded area of image, written to
// pattern[0 .. tileTableSize(image)) and colour[0 .. tileTableSize(image)).
// The bytes are encodeTileLine's; for an image just quantised, pass the
// pass's choices (quantiseImage's layout) and they are taken from those
// instead of searched again, or null.
void buildTileTables(const Quantiser& q, const WorkingImage& image, const LineChoice* choices,
                     std::uint8_t* pattern, std::uint8_t* colour);

// inputPath with its last three characters replaced by extension ("CHR" or
// "CLR"); when the file name (after the last '/') is shorter than three
// characters, the path is kept whole and "." and the extension appended (ab
// gives ab.CHR, sub/ab gives sub/ab.CHR).
std::string tableFilePath(const std::string& inputPath, const std::string& extension);

}  // namespace kovrel
