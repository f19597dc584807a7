// The plain line pair search and tile line encoder, written step by step as
// the conversion defines them, in integers, with their abandonment and
// nothing else. The differential tests hold the fast code to these, and the
// build option KOVREL_PLAIN_SEARCH compiles them into the program instead of
// the fast code, for timing comparisons.
#pragma once

#include <cstdint>

#include "colour/colour.h"
#include "quantise/quantise.h"
#include "tiles/tiles.h"

namespace kovrel::reference {

// One pair's walk along the line, as the search takes it: the trial value,
// the nearer colour and the running cost, pixel by pixel, until the cost
// passes bound (the pair is abandoned) or the line ends.
struct PairWalk {
  std::uint32_t cost = 0;
  std::uint8_t mask = 0;
  int pixels = 0;  // pixels taken, the one that passed bound included
  bool abandoned = false;
};

inline PairWalk walkPair(const Quantiser& q, const Sample* line, int h, int o, std::uint32_t bound) {
  const PaletteSampleTable& palette = q.palette;
  PairWalk walk;
  Sample v[kChannels];
  for (int c = 0; c < kChannels; ++c) {
    v[c] = clampSample(line[c]);
  }
  for (int k = 0; k < kTileLinePixels; ++k) {
    ++walk.pixels;
    const auto dh = static_cast<std::uint32_t>(colourDistance(v, palette.colour[h]));
    const auto dO = static_cast<std::uint32_t>(colourDistance(v, palette.colour[o]));
    int chosen = h;
    if (dh <= dO) {
      walk.cost += dh;
    } else {
      walk.cost += dO;
      chosen = o;
      walk.mask = static_cast<std::uint8_t>(walk.mask | (1u << k));
    }
    if (walk.cost > bound) {
      walk.abandoned = true;
      return walk;
    }
    if (k + 1 < kTileLinePixels) {
      const Sample* next = line + (k + 1) * kChannels;
      for (int c = 0; c < kChannels; ++c) {
        const int s = next[c];
        if (s < 0) {
          v[c] = 0;
        } else {
          const int e = v[c] - palette.colour[chosen][c];
          v[c] = static_cast<Sample>(clampSample(next[c]) + (7 * e * q.strength) / 4096);
        }
      }
    }
  }
  return walk;
}

inline LineChoice searchLinePair(const Quantiser& q, const WorkingImage& image, int x0, int y) {
  const Sample* line = image.pixel(x0, y);
  LineChoice best;
  std::uint32_t bestCost = 0x7FFFFFFF;
  for (int h = kFirstUsableColour; h < kLastUsableColour; ++h) {
    for (int o = h + 1; o <= kLastUsableColour; ++o) {
      const PairWalk walk = walkPair(q, line, h, o, bestCost);
      if (!walk.abandoned && walk.cost < bestCost) {
        bestCost = walk.cost;
        best.background = static_cast<std::uint8_t>(h);
        best.foreground = static_cast<std::uint8_t>(o);
        best.mask = walk.mask;
        best.cost = walk.cost;
      }
    }
  }
  return best;
}

inline TileLineBytes encodeTileLine(const PaletteSampleTable& palette, const WorkingImage& image, int x0,
                                    int y) {
  Sample v[kTileLinePixels][kChannels];
  const Sample* line = image.pixel(x0, y);
  for (int k = 0; k < kTileLinePixels; ++k) {
    for (int c = 0; c < kChannels; ++c) {
      v[k][c] = clampSample(line[k * kChannels + c]);
    }
  }
  TileLineBytes result;
  std::uint32_t best = 0x7FFFFFFF;
  for (int h = kFirstUsableColour; h < kLastUsableColour; ++h) {
    for (int o = h + 1; o <= kLastUsableColour; ++o) {
      std::uint32_t cost = 0;
      unsigned bits = 0;
      bool abandoned = false;
      for (int k = 0; k < kTileLinePixels; ++k) {
        const auto dh = static_cast<std::uint32_t>(colourDistance(v[k], palette.colour[h]));
        const auto dO = static_cast<std::uint32_t>(colourDistance(v[k], palette.colour[o]));
        bits = 2 * bits + (dh > dO ? 1u : 0u);
        cost += dh > dO ? dO : dh;
        if (cost > best) {
          abandoned = true;
          break;
        }
      }
      if (!abandoned && cost < best) {
        best = cost;
        result.colour = static_cast<std::uint8_t>(16 * o + h);
        result.pattern = static_cast<std::uint8_t>(bits);
      }
    }
  }
  return result;
}

// The line commit pixel by pixel, channel by channel, each share added on
// its own in the order the rules give.
inline void commitLine(const Quantiser& q, WorkingImage& image, int x0, int y, const LineChoice& choice) {
  const auto addShare = [&q](Sample& t, int weighted) {
    t = t < 0 ? Sample{0} : static_cast<Sample>(clampSample(t) + (weighted * q.strength) / 256);
  };
  for (int k = 0; k < kTileLinePixels; ++k) {
    const int x = x0 + k;
    const bool foreground = ((choice.mask >> k) & 1u) != 0;
    const Sample* p = q.palette.colour[foreground ? choice.foreground : choice.background];
    for (int c = 0; c < kChannels; ++c) {
      const int s = image.pixel(x, y)[c];
      const int u = s < 0 ? 0 : (clampSample(static_cast<Sample>(s)) - p[c]) / 16;
      image.pixel(x, y)[c] = p[c];
      addShare(image.pixel(x + 1, y + 1)[c], 1 * u);
      addShare(image.pixel(x - 1, y + 1)[c], 3 * u);
      addShare(image.pixel(x, y + 1)[c], 5 * u);
      addShare(image.pixel(x + 1, y)[c], 7 * u);
    }
  }
}

}  // namespace kovrel::reference
