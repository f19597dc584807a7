// The quantiser: for every TileLine in raster order, an exhaustive search
// over colour pairs that simulates the error carried along the line, then
// the commitment of the best choice with Floyd-Steinberg diffusion.
#pragma once

#include <cstdint>
#include <cstdio>

#include "colour/colour.h"
#include "image/working_image.h"

namespace kovrel {

// Colour pairs (h, o) with 1 <= h < o <= 15.
constexpr int kPairCount = 105;

// Dither strength s, 0 ... kFullStrength: the share of the error that is
// carried. s = (P x 256) / 100 for a percentage P. At kFullStrength the
// shares are the plain Floyd-Steinberg ones, at 0 nothing is carried.
constexpr int kFullStrength = 256;
constexpr int strengthOfPercent(int percent) { return percent * kFullStrength / 100; }

// Lanes for all pairs in every kernel: 105 rounded up to whole vectors of
// 16 (and so of 8 and 4) 32-bit lanes.
constexpr int kMaxPairLanes = 112;

// Pairs in lanes with their colours reduced to the 8-bit scale, as the
// search kernels read them.
struct PairLanes {
  alignas(64) std::int32_t index[kMaxPairLanes];
  alignas(64) std::int32_t h[kMaxPairLanes];
  alignas(64) std::int32_t o[kMaxPairLanes];
  alignas(64) std::int32_t hRed[kMaxPairLanes];
  alignas(64) std::int32_t hGreen[kMaxPairLanes];
  alignas(64) std::int32_t hBlue[kMaxPairLanes];
  alignas(64) std::int32_t oRed[kMaxPairLanes];
  alignas(64) std::int32_t oGreen[kMaxPairLanes];
  alignas(64) std::int32_t oBlue[kMaxPairLanes];
};

// The palette's colours reduced to the 8-bit scale, colour c in lane c.
struct PaletteLanes {
  alignas(64) std::int32_t red[kPaletteSize];
  alignas(64) std::int32_t green[kPaletteSize];
  alignas(64) std::int32_t blue[kPaletteSize];
};

// What the quantiser and the tile encoder work with, prepared once from the
// settings: the palette, in the forms each stage reads, and the strength.
struct Quantiser {
  PaletteSampleTable palette;  // Sample scale: the commit's colours, the encoder's
  PairLanes pairs;             // every pair in visiting order, pair i in lane i
  PaletteLanes colours;
  int strength = kFullStrength;   // 0 ... kFullStrength
  bool repeatedColour = false;  // two usable colours share a triple
};

// The quantiser for palette and a dither strength of 0 ... kFullStrength.
Quantiser makeQuantiser(const Palette& palette, int strength);

struct LineChoice {
  std::uint8_t background = 1;  // h, 1 ... 14
  std::uint8_t foreground = 2;  // o, 2 ... 15
  std::uint8_t mask = 0;        // bit k set: pixel x0 + k takes the foreground
  std::uint32_t cost = 0;       // sum of the eight chosen distances
};

// Pairs likely to do well on a line, tried first to speed the search up:
// the choices of the neighbouring lines already searched. They never change
// the result; a pair that is not 1 <= h < o <= 15 is ignored, as kNoChoice.
constexpr LineChoice kNoChoice = {0, 0, 0, 0};
struct SearchHints {
  LineChoice above = kNoChoice;
  LineChoice left = kNoChoice;
};

// Searches the TileLine at pixels (x0 ... x0 + 7, y) of image under q's
// palette and strength; reads only. Returns the first pair in visiting order
// (h ascending, then o) with the smallest total cost, its mask and cost. The
// hinted pairs are tried first; the result is the same for any hints.
LineChoice searchLinePair(const Quantiser& q, const WorkingImage& image, int x0, int y,
                          const SearchHints& hints = {});

// Where a TileLine starts: pixels (x0 ... x0 + 7, y).
struct LinePlace {
  int x0;
  int y;
};

// searchLinePair on two TileLines at once, neither of which reads pixels the
// other's commit would change: faster than one after the other, with the
// same results.
void searchTwoLinePairs(const Quantiser& q, const WorkingImage& image, const LinePlace (&places)[2], const SearchHints (&hints)[2],
                        LineChoice (&choices)[2]);

// Overwrites the eight pixels with the chosen palette colours and spreads
// each pixel's error unit u (whole sixteenths of the error) to the pixel
// right (7 u), below right (1 u), below left (3 u) and below (5 u), each
// share w u scaled to (w u s) / 256 for a strength s below full.
void commitLine(const Quantiser& q, WorkingImage& image, int x0, int y, const LineChoice& choice);

// The progress figure printed after TileLine n (0-based) of total, or -1
// when completing it does not raise the integer percentage.
int progressFigure(std::uint32_t n, std::uint32_t total);

// After TileLine n of total: writes "\b\b\b%2i%%" to progress (when not
// null) and flushes it, each time the integer percentage rises.
inline void reportProgress(std::FILE* progress, std::uint32_t n, std::uint32_t total) {
  const int figure = progressFigure(n, total);
  if (progress != nullptr && figure >= 0) {
    std::fprintf(progress, "\b\b\b%2i%%", figure);
    std::fflush(progress);
  }
}

// Searches and commits every TileLine of the padded area, with the result of
// raster order (it works two pixel rows at a time, in an order that gives
// every pixel the same shares in the same order). When progress is not null,
// writes "\b\b\b%2i%%" to it each time the percentage rises, flushing each
// figure. Returns the number of TileLines processed (runCount): tile
// columns x tile rows x 8. When choices is not null, keeps each TileLine's
// choice there: the line at tile column c of pixel row y in
// choices[y * tile columns + c].
std::uint32_t quantiseImage(const Quantiser& q, WorkingImage& image, std::FILE* progress,
                            LineChoice* choices);

}  // namespace kovrel
