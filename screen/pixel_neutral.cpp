// Choices that change no pixel: which pair and mask encode a line of one
// colour, and which of a line's two colours is the foreground. Made alike
// for alike lines, so that the tables repeat more for a packer and alike
// tiles become alike bytes for sharing.
#include <cstddef>
#include <cstdint>

#include "screen/screen.h"

namespace kovrel {
namespace {

constexpr std::uint8_t kNoPixelSet = 0x00;
constexpr std::uint8_t kAllPixelsSet = 0xFF;

std::uint8_t foreground(std::uint8_t colour) { return static_cast<std::uint8_t>(colour >> 4); }
std::uint8_t background(std::uint8_t colour) { return static_cast<std::uint8_t>(colour & 0x0F); }
std::uint8_t swapped(std::uint8_t colour) { return static_cast<std::uint8_t>(colour << 4 | colour >> 4); }

// The colour a line shows everywhere, or -1 when it shows two.
int singleColour(std::uint8_t pattern, std::uint8_t colour) {
  if (pattern == kNoPixelSet || foreground(colour) == background(colour)) {
    return background(colour);
  }
  return pattern == kAllPixelsSet ? foreground(colour) : -1;
}

// A line of one colour x written with a colour byte it can share with
// `other` (another line's, or -1): pattern 0 with x as background, or 0xFF
// with x as foreground; false when other holds x in neither half.
bool shareColourByte(int x, int other, std::uint8_t& pattern, std::uint8_t& colour) {
  if (other < 0) {
    return false;
  }
  const auto byte = static_cast<std::uint8_t>(other);
  if (background(byte) == x) {
    pattern = kNoPixelSet;
    colour = byte;
    return true;
  }
  if (foreground(byte) == x) {
    pattern = kAllPixelsSet;
    colour = byte;
    return true;
  }
  return false;
}

// One pattern's eight lines, from its pixels alone (so alike tiles stay
// alike): a two-colour line is turned over when that gives the colour
// byte of the two-colour line above (the converter's own orientation
// follows from the pixels too); a
// one-colour line shares the colour byte of the nearest line above, else
// of the nearest below, that holds its colour, else is 0x00 on x x.
void evenPattern(std::uint8_t* pattern, std::uint8_t* colour) {
  int above = -1;
  for (std::size_t l = 0; l < kTileBytes; ++l) {
    if (singleColour(pattern[l], colour[l]) >= 0) {
      continue;
    }
    const bool swap = above >= 0 && swapped(colour[l]) == above;
    if (swap) {
      pattern[l] = static_cast<std::uint8_t>(~pattern[l]);
      colour[l] = swapped(colour[l]);
    }
    above = colour[l];
  }
  for (std::size_t l = 0; l < kTileBytes; ++l) {
    const int x = singleColour(pattern[l], colour[l]);
    if (x < 0) {
      continue;
    }
    const int previous = l > 0 ? colour[l - 1] : -1;
    int next = -1;
    for (std::size_t below = l + 1; below < kTileBytes && next < 0; ++below) {
      if (singleColour(pattern[below], colour[below]) < 0 || background(colour[below]) == x ||
          foreground(colour[below]) == x) {
        next = colour[below];
      }
    }
    if (!shareColourByte(x, previous, pattern[l], colour[l]) && !shareColourByte(x, next, pattern[l], colour[l])) {
      pattern[l] = kNoPixelSet;
      colour[l] = static_cast<std::uint8_t>(x << 4 | x);
    }
  }
}

std::size_t packedSize(const ScreenTables& tables, Packing packing) {
  std::size_t size = 0;
  for (const std::vector<std::uint8_t>& bytes : packTables(tables, packing).bytes) {
    size += bytes.size();
  }
  return size;
}

}  // namespace

ScreenTables evenedTables(const ScreenTables& tables) {
  ScreenTables evened = tables;
  for (std::size_t at = 0; at + kTileBytes <= evened.pattern.size(); at += kTileBytes) {
    evenPattern(&evened.pattern[at], &evened.colour[at]);
  }
  return evened;
}

ScreenTables sharedTables(const ScreenTables& plain, bool dedupe, Packing packing) {
  if (!dedupe && packing == Packing::kNone) {
    return plain;
  }
  ScreenTables base = dedupe ? dedupeTiles(plain) : plain;
  ScreenTables evened = evenedTables(plain);
  if (dedupe) {
    evened = dedupeTiles(evened);
  }
  const bool shorter = packing != Packing::kNone ? packedSize(evened, packing) < packedSize(base, packing)
                                                 : evened.pattern.size() < base.pattern.size();
  return shorter ? evened : base;
}

}  // namespace kovrel
