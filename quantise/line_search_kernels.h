// The line pair search's implementations, for the dispatcher in
// line_search.cpp, the tests and the benchmarks. Every kernel returns exactly
// what the plain search returns; they differ only in speed.
#pragma once

#include <cstdint>

#include "colour/colour.h"
#include "quantise/quantise.h"

#define KOVREL_ISA_GENERIC 0
#define KOVREL_ISA_AVX2 1
#define KOVREL_ISA_AVX512 2
#define KOVREL_ISA_WASM_SIMD 3

namespace kovrel::search {

struct PairColours {
  std::uint8_t background;  // h
  std::uint8_t foreground;  // o
};

struct PairTable {
  PairColours pair[kPairCount];
};

// The pairs in visiting order: h = 1 ... 14, and for each h, o = h + 1 ... 15.
constexpr PairTable makePairTable() {
  PairTable table{};
  int index = 0;
  for (int h = kFirstUsableColour; h < kLastUsableColour; ++h) {
    for (int o = h + 1; o <= kLastUsableColour; ++o) {
      table.pair[index].background = static_cast<std::uint8_t>(h);
      table.pair[index].foreground = static_cast<std::uint8_t>(o);
      ++index;
    }
  }
  return table;
}
constexpr PairTable kPairTable = makePairTable();
inline constexpr const PairColours (&kPairColours)[kPairCount] = kPairTable.pair;

// Visiting index of pair (h, o), or -1 unless 1 <= h < o <= 15.
constexpr int pairIndex(int h, int o) {
  if (h < kFirstUsableColour || o <= h || o > kLastUsableColour) {
    return -1;
  }
  // Pairs before h: (14 + 13 + ... + (15 - h + 1)).
  const int before = (h - 1) * (2 * kLastUsableColour - h) / 2;
  return before + (o - h - 1);
}

enum class Kernel {
  kPortable,  // any processor
  kAvx2,      // x86-64 with AVX2
  kAvx512,    // x86-64 with AVX-512F
};

// Whether this build holds the kernel and the processor can run it.
bool kernelAvailable(Kernel kernel);

// The fastest available kernel: the one searchLinePair uses.
Kernel fastestKernel();

const char* kernelName(Kernel kernel);

// searchLinePair with the given kernel, which must be available.
LineChoice searchLineWith(Kernel kernel, const Quantiser& q, const WorkingImage& image, int x0, int y,
                          const SearchHints& hints);

// searchTwoLinePairs with the given kernel, which must be available.
void searchTwoLinesWith(Kernel kernel, const Quantiser& q, const WorkingImage& image,
                        const LinePlace (&places)[2], const SearchHints (&hints)[2], LineChoice (&choices)[2]);

namespace portable {
LineChoice searchLine(const Quantiser& q, const WorkingImage& image, int x0, int y, const SearchHints& hints);
void searchTwoLines(const Quantiser& q, const WorkingImage& image, const LinePlace (&places)[2],
                    const SearchHints (&hints)[2], LineChoice (&choices)[2]);
}  // namespace portable
namespace avx2 {
LineChoice searchLine(const Quantiser& q, const WorkingImage& image, int x0, int y, const SearchHints& hints);
void searchTwoLines(const Quantiser& q, const WorkingImage& image, const LinePlace (&places)[2],
                    const SearchHints (&hints)[2], LineChoice (&choices)[2]);
}  // namespace avx2
namespace avx512 {
LineChoice searchLine(const Quantiser& q, const WorkingImage& image, int x0, int y, const SearchHints& hints);
void searchTwoLines(const Quantiser& q, const WorkingImage& image, const LinePlace (&places)[2],
                    const SearchHints (&hints)[2], LineChoice (&choices)[2]);
}  // namespace avx512

}  // namespace kovrel::search
