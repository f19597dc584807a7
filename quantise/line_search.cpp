// The line pair search: picks the fastest kernel the processor can run.
//
// Trial values. The first pixel's value is a clamped stored sample, 0 ...
// 4080. Each later one is min(s, 4080) + (7 * e) / 16 with s >= 0 and
// e = v - p, p a palette sample in 0 ... 4080. Starting from 0 ... 4080 the
// value stays within the fixed points of v' = 4080 + 7 v / 16 (7253) and
// v' = 7 (v - 4080) / 16 (-3173), so a Sample holds every trial value and
// 7 * e (at most 7 * 7253) needs only 32 bits; so does the distance's
// numerator (colour.h).
#include "quantise/line_search_kernels.h"

#if defined(KOVREL_PLAIN_SEARCH)
#include "tests/reference_search.h"
#endif

namespace kovrel {
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

}  // namespace search

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
  SearchHints none;
  none.above.background = none.above.foreground = 0;
  none.left = none.above;
  return searchLinePair(image, x0, y, none);
}

}  // namespace kovrel
