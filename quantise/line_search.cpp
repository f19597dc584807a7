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
// for the chosen palette sample p. Every channel has palette samples 0
// (black) and 4080 (white), and truncation toward zero never reverses an
// order, so after k carries the value lies within L_k ... H_k with
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
// The top is reached: on a line of full red, the pair (1, 2), never
// abandoned, keeps black at every pixel. The bottom needs a pair that keeps
// choosing white for a channel held at 0, which is soon abandoned; searching
// for such lines found -3085 at most (tests/overflow_test.cpp).
namespace {

// L_7 and H_7 above, from the palette's smallest and largest samples.
constexpr int trialBound(bool highest) {
  int smallest = kFullScale;
  int largest = 0;
  for (int i = kFirstUsableColour; i <= kLastUsableColour; ++i) {
    for (int c = 0; c < kChannels; ++c) {
      smallest = kPaletteSamples.colour[i][c] < smallest ? kPaletteSamples.colour[i][c] : smallest;
      largest = kPaletteSamples.colour[i][c] > largest ? kPaletteSamples.colour[i][c] : largest;
    }
  }
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

LineChoice searchLineWith(Kernel kernel, const WorkingImage& image, int x0, int y,
                          const SearchHints& hints) {
  switch (kernel) {
#if defined(KOVREL_X86_KERNELS)
    case Kernel::kAvx2:
      return avx2::searchLine(image, x0, y, hints);
    case Kernel::kAvx512:
      return avx512::searchLine(image, x0, y, hints);
#endif
    default:
      return portable::searchLine(image, x0, y, hints);
  }
}

void searchTwoLinesWith(Kernel kernel, const WorkingImage& image, const LinePlace (&places)[2],
                        const SearchHints (&hints)[2], LineChoice (&choices)[2]) {
  switch (kernel) {
#if defined(KOVREL_X86_KERNELS)
    case Kernel::kAvx2:
      return avx2::searchTwoLines(image, places, hints, choices);
    case Kernel::kAvx512:
      return avx512::searchTwoLines(image, places, hints, choices);
#endif
    default:
      return portable::searchTwoLines(image, places, hints, choices);
  }
}

}  // namespace search

void searchTwoLinePairs(const WorkingImage& image, const LinePlace (&places)[2], const SearchHints (&hints)[2],
                        LineChoice (&choices)[2]) {
#if defined(KOVREL_PLAIN_SEARCH)
  static_cast<void>(hints);
  for (int l = 0; l < 2; ++l) {
    choices[l] = reference::searchLinePair(image, places[l].x0, places[l].y);
  }
#else
  static const search::Kernel kernel = search::fastestKernel();
  search::searchTwoLinesWith(kernel, image, places, hints, choices);
#endif
}

LineChoice searchLinePair(const WorkingImage& image, int x0, int y, const SearchHints& hints) {
#if defined(KOVREL_PLAIN_SEARCH)
  static_cast<void>(hints);
  return reference::searchLinePair(image, x0, y);
#else
  static const search::Kernel kernel = search::fastestKernel();
  return search::searchLineWith(kernel, image, x0, y, hints);
#endif
}

LineChoice searchLinePair(const WorkingImage& image, int x0, int y) {
  return searchLinePair(image, x0, y, SearchHints{});
}

}  // namespace kovrel
