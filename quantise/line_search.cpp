// The line pair search: picks the fastest kernel the processor can run.

#include "colour/colour.h"
#include "quantise/line_search_kernels.h"

#if defined(KOVREL_PLAIN_SEARCH)
#include "tests/reference_search.h"
#endif

namespace kovrel {

// Trial values, per channel. The first pixel's value is its stored sample
// limited to 0 ... 4080. Each later one is 0 (stored sample below 0) or
// min(s, 4080) + (7 * e) / 16, where 0 <= min(s, 4080) <= 4080 and e = v - p
// for the chosen palette sample p. Any palette's samples lie within 0 ...
// 4080, and truncation toward zero never reverses an order, so the extremes
// come from a palette sample of 0 (the default's black) and one of 4080 (its
// white): after k carries the value lies within L_k ... H_k with
//   H_0 = 4080, H_k+1 = 4080 + (7 * (H_k - 0)) / 16     (stored 4080, black)
//   L_0 = 0,    L_k+1 = 0 + (7 * (L_k - 4080)) / 16     (stored 0, white)
// for pixels 0 ... 7: H = 4080, 5865, 6645, 6987, 7136, 7202, 7230, 7243
// and L = 0, -1785, -2565, -2907, -3056, -3122, -3150, -3163. (Over ever
// longer lines they would approach the fixed points 7253 and -3173.) The
// stored samples matter only through the limit, so this holds whatever the
// image holds, the commit's -1785 ... 5865 included. Consequences:
// - a Sample holds every trial value, -3163 ... 7243;
// - an error is carried from pixels 0 ... 6 only: |e| <= 7230 - 0 =
//   4080 + 3150, so 7 * e reaches 50 610 in size, beyond 16 bits: the
//   product is formed in int;
// - colourDistance meets -197 ... 452 reduced (see colour/colour.h).
// Below full strength s the carry is (7 * e * s) / 4096, no larger in size
// than (7 * e) / 16 for the same e, so the same bounds hold, and
// |7 * e * s| <= 7 * 7230 * 256 < 2^24 fits in int. The top is reached with
// the default palette at full strength: on a line of full red, the pair
// (1, 2), never abandoned, keeps black at every pixel. The bottom needs a pair that keeps
// choosing white for a channel held at 0, which is soon abandoned; searching
// for such lines found -3085 at most (tests/overflow_test.cpp).
namespace {

// L_7 and H_7 above, from the smallest and largest samples a palette can
// hold.
constexpr int trialBound(bool highest) {
  constexpr int smallest = 0;
  constexpr int largest = kFullScale;
  int low = 0;
  int high = kFullScale;
  for (int k = 1; k < kTileLinePixels; ++k) {
    low = (7 * (low - largest)) / 16;
    high = kFullScale + (7 * (high - smallest)) / 16;
  }
  return highest ? high : low;
}
static_assert(trialBound(false) == -3163 && trialBound(true) == 7243,
              "the trial range derived above and in colour.h no longer holds");

}  // namespace

Quantiser makeQuantiser(const Palette& palette, int strength) {
  Quantiser q{};
  q.palette = paletteSamples(palette);
  q.strength = strength < 0 ? 0 : (strength > kFullStrength ? kFullStrength : strength);
  q.repeatedColour = hasRepeatedColour(palette);
  for (int c = 0; c < kPaletteSize; ++c) {
    q.colours.red[c] = palette.colour[c][0];
    q.colours.green[c] = palette.colour[c][1];
    q.colours.blue[c] = palette.colour[c][2];
  }
  for (int index = 0; index < kPairCount; ++index) {
    const int h = search::kPairColours[index].background;
    const int o = search::kPairColours[index].foreground;
    q.pairs.index[index] = index;
    q.pairs.h[index] = h;
    q.pairs.o[index] = o;
    q.pairs.hRed[index] = palette.colour[h][0];
    q.pairs.hGreen[index] = palette.colour[h][1];
    q.pairs.hBlue[index] = palette.colour[h][2];
    q.pairs.oRed[index] = palette.colour[o][0];
    q.pairs.oGreen[index] = palette.colour[o][1];
    q.pairs.oBlue[index] = palette.colour[o][2];
  }
  return q;
}

namespace search {

bool kernelAvailable(Kernel kernel) {
  switch (kernel) {
    case Kernel::kPortable:
      return true;
#if defined(KOVREL_X86_KERNELS)
    case Kernel::kAvx2:
      return __builtin_cpu_supports("avx2");
    case Kernel::kAvx512:
      return __builtin_cpu_supports("avx512f");
#endif
    default:
      return false;
  }
}

Kernel fastestKernel() {
  static const Kernel fastest = kernelAvailable(Kernel::kAvx512) ? Kernel::kAvx512
                                : kernelAvailable(Kernel::kAvx2) ? Kernel::kAvx2
                                                                 : Kernel::kPortable;
  return fastest;
}

const char* kernelName(Kernel kernel) {
  switch (kernel) {
    case Kernel::kAvx2:
      return "avx2";
    case Kernel::kAvx512:
      return "avx512";
    default:
      return "portable";
  }
}

LineChoice searchLineWith(Kernel kernel, const Quantiser& q, const WorkingImage& image, int x0, int y,
                          const SearchHints& hints) {
  switch (kernel) {
#if defined(KOVREL_X86_KERNELS)
    case Kernel::kAvx2:
      return avx2::searchLine(q, image, x0, y, hints);
    case Kernel::kAvx512:
      return avx512::searchLine(q, image, x0, y, hints);
#endif
    default:
      return portable::searchLine(q, image, x0, y, hints);
  }
}

void searchTwoLinesWith(Kernel kernel, const Quantiser& q, const WorkingImage& image,
                        const LinePlace (&places)[2], const SearchHints (&hints)[2], LineChoice (&choices)[2]) {
  switch (kernel) {
#if defined(KOVREL_X86_KERNELS)
    case Kernel::kAvx2:
      return avx2::searchTwoLines(q, image, places, hints, choices);
    case Kernel::kAvx512:
      return avx512::searchTwoLines(q, image, places, hints, choices);
#endif
    default:
      return portable::searchTwoLines(q, image, places, hints, choices);
  }
}

}  // namespace search

void searchTwoLinePairs(const Quantiser& q, const WorkingImage& image, const LinePlace (&places)[2],
                        const SearchHints (&hints)[2], LineChoice (&choices)[2]) {
#if defined(KOVREL_PLAIN_SEARCH)
  static_cast<void>(hints);
  for (int l = 0; l < 2; ++l) {
    choices[l] = reference::searchLinePair(q, image, places[l].x0, places[l].y);
  }
#else
  static const search::Kernel kernel = search::fastestKernel();
  search::searchTwoLinesWith(kernel, q, image, places, hints, choices);
#endif
}

LineChoice searchLinePair(const Quantiser& q, const WorkingImage& image, int x0, int y, const SearchHints& hints) {
#if defined(KOVREL_PLAIN_SEARCH)
  static_cast<void>(hints);
  return reference::searchLinePair(q, image, x0, y);
#else
  static const search::Kernel kernel = search::fastestKernel();
  return search::searchLineWith(kernel, q, image, x0, y, hints);
#endif
}

}  // namespace kovrel
