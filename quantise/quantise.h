// The quantiser: for every TileLine in raster order, an exhaustive search
// over colour pairs that simulates the error carried along the line, then
// the commitment of the best choice with Floyd-Steinberg diffusion.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/working_image.h"

namespace kovrel {

// Colour pairs (h, o) with 1 <= h < o <= 15.
constexpr int kPairCount = 105;

struct LineChoice {
  std::uint8_t background = 1;  // h, 1 ... 14
  std::uint8_t foreground = 2;  // o, 2 ... 15
  std::uint8_t mask = 0;        // bit k set: pixel x0 + k takes the foreground
  std::uint32_t cost = 0;       // sum of the eight chosen distances
};

// Searches the TileLine at pixels (x0 ... x0 + 7, y) of image; reads only.
// Returns the first pair in visiting order (h ascending, then o) with the
// smallest total cost, its mask and cost.
LineChoice searchLinePair(const WorkingImage& image, int x0, int y);

// Pairs likely to do well on a line, tried first to speed the search up:
// the choices of the neighbouring lines already searched. They never change
// the result; a pair that is not 1 <= h < o <= 15 is ignored, as kNoChoice.
constexpr LineChoice kNoChoice = {0, 0, 0, 0};
struct SearchHints {
  LineChoice above = kNoChoice;
  LineChoice left = kNoChoice;
};

// searchLinePair, trying the hinted pairs first. Same result for any hints.
LineChoice searchLinePair(const WorkingImage& image, int x0, int y, const SearchHints& hints);

// Where a TileLine starts: pixels (x0 ... x0 + 7, y).
struct LinePlace {
  int x0;
  int y;
};

// searchLinePair on two TileLines at once, neither of which reads pixels the
// other's commit would change: faster than one after the other, with the
// same results.
void searchTwoLinePairs(const WorkingImage& image, const LinePlace (&places)[2], const SearchHints (&hints)[2],
                        LineChoice (&choices)[2]);

// Overwrites the eight pixels with the chosen palette colours and spreads
// each pixel's error, in whole sixteenths, to the pixel right (7/16), below
// right (1/16), below left (3/16) and below (5/16).
void commitLine(WorkingImage& image, int x0, int y, const LineChoice& choice);

// The progress figure printed after TileLine n (0-based) of total, or -1
// when completing it does not raise the integer percentage.
int progressFigure(std::uint32_t n, std::uint32_t total);

// Searches and commits every TileLine of the padded area, with the result of
// raster order (it works two pixel rows at a time, in an order that gives
// every pixel the same shares in the same order). When progress is not null, writes "\b\b\b%2i%%" to it each time the
// percentage rises, flushing each figure. Returns the number of TileLines
// processed (runCount): tile columns x tile rows x 8.
std::uint32_t quantiseImage(WorkingImage& image, std::FILE* progress);

// The same, also keeping each TileLine's choice: the line at tile column c
// of pixel row y in choices[y * tile columns + c].
std::uint32_t quantiseImage(WorkingImage& image, std::FILE* progress, LineChoice* choices);

}  // namespace kovrel
