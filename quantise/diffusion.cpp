#include "quantise/diffusion.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "quantise/line_search_kernels.h"

namespace kovrel {
namespace {

// y with y^5 = a for 0 < a <= 1: 24 steps of Newton's method from a^(1/4);
// a fixed count keeps it deterministic. The steps settle within a few on a
// value or on two alternating ones, and then the rest are not taken: once a
// step returns to the value of two steps before, the sequence repeats with
// period 2 (or 1), so the 24th value is known.
double fifthRoot(double a) {
  constexpr int kSteps = 24;
  double y = std::sqrt(std::sqrt(a));
  double twoBack = -1;
  for (int i = 0; i < kSteps; ++i) {
    const double y2 = y * y;
    const double next = (4 * y + a / (y2 * y2)) / 5;
    if (next == twoBack) {
      return (kSteps - i - 1) % 2 == 0 ? next : y;
    }
    twoBack = y;
    y = next;
  }
  return y;
}

// IEC 61966-2-1: linear light of the coded value x, 0 ... 1.
double decodeSrgb(double x) {
  if (x <= 0.04045) {
    return x / 12.92;
  }
  const double a = (x + 0.055) / 1.055;
  return a * a * fifthRoot(a * a);  // a^2.4
}

struct LinearTables {
  std::int32_t linear[kFullScale + 1];
  // byteLimit[b]: the linear light where coding rounds up from b to b + 1.
  double byteLimit[255];
};

const LinearTables& linearTables() {
  static const LinearTables tables = [] {
    LinearTables t{};
    for (int s = 0; s <= kFullScale; ++s) {
      t.linear[s] = static_cast<std::int32_t>(decodeSrgb(s / double{kFullScale}) * kStateFull + 0.5);
    }
    for (int b = 0; b < 255; ++b) {
      t.byteLimit[b] = decodeSrgb((b + 0.5) / 255);
    }
    return t;
  }();
  return tables;
}

// (e x fraction) >> 15, flooring (the shift is arithmetic).
inline std::int32_t carried(std::int32_t error, std::int32_t fraction) { return (error * fraction) >> kFractionBits; }

inline std::int32_t carriedValue(std::int32_t v) {
  return v < kLowestCarried ? kLowestCarried : (v > kHighestCarried ? kHighestCarried : v);
}
inline std::int32_t codedIndex(std::int32_t v) { return (v < 0 ? 0 : (v > kStateFull ? kStateFull : v)) >> 4; }

// colourDistance on 8-bit values, 0 ... 255.
inline std::int32_t byteDistance(const std::int32_t* a, std::int32_t r, std::int32_t g, std::int32_t b) {
  const std::int32_t m = (a[0] + r) / 2;
  const std::int32_t dr = a[0] - r;
  const std::int32_t dg = a[1] - g;
  const std::int32_t db = a[2] - b;
  return ((512 + m) * dr * dr + 1024 * dg * dg + (767 - m) * db * db) / 256;
}

}  // namespace

std::int32_t linearOfSample(int sample) {
  return linearTables().linear[std::clamp(sample, 0, int{kFullScale})];
}

std::int32_t byteOfLinear(double linear) {
  const double* limits = linearTables().byteLimit;
  return static_cast<std::int32_t>(std::upper_bound(limits, limits + 255, linear) - limits);
}

Diffuser makeDiffuser(const Palette& palette, Light light, ErrorKernel kernel, int strength) {
  Diffuser d;
  d.light = light;
  d.samples = paletteSamples(palette);
  strength = std::clamp(strength, 0, kFullStrength);
  for (int s = 0; s <= kFullScale; ++s) {
    d.valueOfSample[s] = light == Light::kLinear ? linearOfSample(s) : s * 16;
  }
  for (int i = 0; i < kCodeEntries; ++i) {
    // Index i holds values 16 i ... 16 i + 15: coded from the middle one.
    d.code[i] = light == Light::kLinear ? byteOfLinear((16.0 * i + 8) / kStateFull) : i / kSampleScale;
  }
  for (int c = 0; c < kPaletteSize; ++c) {
    for (int ch = 0; ch < kChannels; ++ch) {
      d.colourByte[c][ch] = palette.colour[c][ch];
      d.colourValue[c][ch] = d.valueOfSample[palette.colour[c][ch] * kSampleScale];
      d.byteOfColour[ch][c] = d.colourByte[c][ch];
      d.valueOfColour[ch][c] = d.colourValue[c][ch];
    }
  }
  for (int i = 0; i < kMaxPairLanes; ++i) {
    // The lanes past the last pair repeat pair 0; the kernels ignore them.
    const int index = i < kPairCount ? i : 0;
    const int h = search::kPairColours[index].background;
    const int o = search::kPairColours[index].foreground;
    d.pairs.index[i] = index;
    d.pairs.h[i] = h;
    d.pairs.o[i] = o;
    for (int ch = 0; ch < kChannels; ++ch) {
      d.pairs.hByte[ch][i] = d.colourByte[h][ch];
      d.pairs.oByte[ch][i] = d.colourByte[o][ch];
      d.pairs.hValue[ch][i] = d.colourValue[h][ch];
      d.pairs.oValue[ch][i] = d.colourValue[o][ch];
    }
  }
  const KernelWeights weights = kernelWeights(kernel);
  d.shareCount = weights.count;
  for (int i = 0; i < weights.count; ++i) {
    const KernelShare& share = weights.share[i];
    const std::int32_t fraction = share.weight * strength * (1 << kFractionBits) / kFullStrength / weights.divisor;
    d.share[i] = CommitShare{share.dx, share.dy, fraction};
    if (share.dy == 0) {
      (share.dx == 1 ? d.right : d.rightTwo) = fraction;
    }
  }
  return d;
}

DiffusionImage diffusionImageOf(const Diffuser& d, const WorkingImage& image) {
  DiffusionImage values;
  values.width = image.tileColumns() * kTileLinePixels;
  values.height = image.tileRows() * kTileSide;
  values.values.assign(static_cast<std::size_t>(values.width + 4) * static_cast<std::size_t>(values.height + 2) *
                           kChannels,
                       0);
  for (int y = 0; y < values.height; ++y) {
    const Sample* from = image.pixel(0, y);
    std::int32_t* to = values.at(0, y);
    for (int i = 0; i < values.width * kChannels; ++i) {
      to[i] = d.valueOfSample[clampSample(from[i])];
    }
  }
  return values;
}

LineChoice diffusedPairCost(const Diffuser& d, const LineValues& line, int index) {
  const int h = search::kPairColours[index].background;
  const int o = search::kPairColours[index].foreground;
  LineChoice choice;
  choice.background = static_cast<std::uint8_t>(h);
  choice.foreground = static_cast<std::uint8_t>(o);
  std::int32_t before[kChannels] = {0, 0, 0};     // the error of the pixel before
  std::int32_t twoBefore[kChannels] = {0, 0, 0};  // and of the one before that
  for (int k = 0; k < kTileLinePixels; ++k) {
    std::int32_t v[kChannels];
    std::int32_t g[kChannels];
    for (int c = 0; c < kChannels; ++c) {
      v[c] = carriedValue(line.value[k][c] + carried(before[c], d.right) + carried(twoBefore[c], d.rightTwo));
      g[c] = d.code[codedIndex(v[c])];
    }
    const std::int32_t dh = byteDistance(d.colourByte[h], g[0], g[1], g[2]);
    const std::int32_t dO = byteDistance(d.colourByte[o], g[0], g[1], g[2]);
    const bool takeO = dh > dO;
    choice.cost += static_cast<std::uint32_t>(takeO ? dO : dh);
    choice.mask = static_cast<std::uint8_t>(choice.mask | (takeO ? 1u << k : 0u));
    const std::int32_t* p = d.colourValue[takeO ? o : h];
    for (int c = 0; c < kChannels; ++c) {
      twoBefore[c] = before[c];
      before[c] = v[c] - p[c];
    }
  }
  return choice;
}

LineChoice plainDiffusedSearch(const Diffuser& d, const LineValues& line) {
  LineChoice best = diffusedPairCost(d, line, 0);
  for (int index = 1; index < kPairCount; ++index) {
    const LineChoice choice = diffusedPairCost(d, line, index);
    if (choice.cost < best.cost) {
      best = choice;
    }
  }
  return best;
}

namespace search {

LineChoice searchDiffusedWith(Kernel kernel, const Diffuser& d, const LineValues& line, const SearchHints& hints) {
  switch (kernel) {
#if defined(KOVREL_X86_KERNELS)
    case Kernel::kAvx2:
      return avx2::searchDiffused(d, line, hints);
    case Kernel::kAvx512:
      return avx512::searchDiffused(d, line, hints);
#endif
    default:
      return portable::searchDiffused(d, line, hints);
  }
}

}  // namespace search

LineChoice searchDiffusedLine(const Diffuser& d, const LineValues& line, const SearchHints& hints) {
#if defined(KOVREL_PLAIN_SEARCH)
  static_cast<void>(hints);
  return plainDiffusedSearch(d, line);
#else
  // AVX2 rather than AVX-512 where both run: the sixteen-lane gathers made
  // the AVX-512 kernel slower here (AMD EPYC, Zen 4: 18 against 16 ms of
  // processor time for the 256 x 192 cat).
  static const search::Kernel kernel =
      search::kernelAvailable(search::Kernel::kAvx2) ? search::Kernel::kAvx2 : search::fastestKernel();
  return search::searchDiffusedWith(kernel, d, line, hints);
#endif
}

namespace {

// commitDiffused for a kernel of kShares shares (0: any), so that the
// shares' loop is unrolled and their offsets and fractions stay in
// registers.
template <int kShares>
void commitWith(const Diffuser& d, DiffusionImage& values, WorkingImage& image, int x0, int y,
                const LineChoice& choice) {
  const int count = kShares > 0 ? kShares : d.shareCount;
  std::ptrdiff_t offset[kMostShares];
  std::int32_t fraction[kMostShares];
  const std::ptrdiff_t row = values.at(0, 1) - values.at(0, 0);
  for (int i = 0; i < count; ++i) {
    offset[i] = d.share[i].dy * row + d.share[i].dx * kChannels;
    fraction[i] = d.share[i].fraction;
  }
  std::int32_t* here = values.at(x0, y);
  Sample* pixel = image.pixel(x0, y);
  for (int k = 0; k < kTileLinePixels; ++k, here += kChannels, pixel += kChannels) {
    const int colour = ((choice.mask >> k) & 1u) != 0 ? choice.foreground : choice.background;
    for (int c = 0; c < kChannels; ++c) {
      const std::int32_t error = carriedValue(here[c]) - d.colourValue[colour][c];
      pixel[c] = d.samples.colour[colour][c];
      for (int i = 0; i < count; ++i) {
        here[offset[i] + c] += carried(error, fraction[i]);
      }
    }
  }
}

}  // namespace

void commitDiffused(const Diffuser& d, DiffusionImage& values, WorkingImage& image, int x0, int y,
                    const LineChoice& choice) {
  switch (d.shareCount) {
    case 4:
      return commitWith<4>(d, values, image, x0, y, choice);
    case 6:
      return commitWith<6>(d, values, image, x0, y, choice);
    case 10:
      return commitWith<10>(d, values, image, x0, y, choice);
    case 12:
      return commitWith<12>(d, values, image, x0, y, choice);
    default:
      return commitWith<0>(d, values, image, x0, y, choice);
  }
}

std::uint32_t quantiseDiffused(const Diffuser& d, WorkingImage& image, std::FILE* progress, LineChoice* choices) {
  DiffusionImage values = diffusionImageOf(d, image);
  const int columns = image.tileColumns();
  const auto total = static_cast<std::uint32_t>(columns * image.tileRows() * kTileSide);
  LineChoice previous[kMaxSide / kTileLinePixels];
  std::fill(std::begin(previous), std::end(previous), kNoChoice);
  std::uint32_t runCount = 0;
  for (int y = 0; y < values.height; ++y) {
    for (int column = 0; column < columns; ++column) {
      const int x0 = column * kTileLinePixels;
      LineValues line;
      for (int k = 0; k < kTileLinePixels; ++k) {
        std::copy_n(values.at(x0 + k, y), kChannels, line.value[k]);
      }
      SearchHints hints;
      hints.above = previous[column];
      hints.left = column > 0 ? previous[column - 1] : kNoChoice;
      const LineChoice choice = searchDiffusedLine(d, line, hints);
      previous[column] = choice;
      commitDiffused(d, values, image, x0, y, choice);
      if (choices != nullptr) {
        choices[y * columns + column] = choice;
      }
      reportProgress(progress, runCount, total);
      ++runCount;
    }
  }
  return runCount;
}

}  // namespace kovrel
