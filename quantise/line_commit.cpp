#include <cstdint>
#include <cstring>

#include "colour/colour.h"
#include "quantise/quantise.h"

namespace kovrel {
namespace {

// Floyd-Steinberg weights, in sixteenths.
constexpr int kBelowRight = 1;
constexpr int kBelowLeft = 3;
constexpr int kBelow = 5;
constexpr int kRight = 7;

// A neighbour below zero drops the share and becomes 0; otherwise it is
// limited to kFullScale before the share is added.
//
// Stored samples. The reader stores -16 ... 4080 and the padded area starts
// at 0. A pixel at or above 0 spreads the unit u = (min(s, 4080) - p) / 16
// with p in 0 ... 4080 (any palette's), so |u| <= 255 whatever s holds, and
// a share is at most 7 * 255 = 1785 in size; below full strength s it is
// (w * u * s) / 256, no larger (w * u * s stays within 7 * 255 * 256, an
// int). Each addition starts from a limited value, 0 ... 4080, so however
// many shares a pixel receives (up to four), what is stored lies in
// 0 - 1785 ... 4080 + 1785 = -1785 ... 5865. Both ends are
// reached: a run of samples at or above 4080 committed to black passes 5865
// along the line, and a 0 committed to white leaves -1785 on its right. A
// Sample holds them; the sums are formed in int.
static_assert(kFullScale + kRight * (kFullScale / kSampleScale) <= INT16_MAX &&
                  -kRight * (kFullScale / kSampleScale) >= INT16_MIN,
              "a stored sample must fit in a Sample");

// The row below the line, from x0 - 1 to x0 + 8: position j (pixel
// x0 - 1 + j) in entries 3j ... 3j + 2.
constexpr int kBelowPositions = kTileLinePixels + 2;
constexpr int kBelowEntries = kBelowPositions * kChannels;

constexpr int kBelowLanes = 32;  // kBelowEntries rounded up to whole vectors

// Entries (all ones) that pixel k's below right (to position k + 2), below
// (k + 1) and below left (k) shares reach; the positions at the ends take
// only what reaches them from this line.
struct ShareReach {
  std::int16_t fromLeft[kBelowLanes];
  std::int16_t fromAbove[kBelowLanes];
  std::int16_t fromRight[kBelowLanes];
};
constexpr ShareReach makeShareReach() {
  ShareReach reach{};
  for (int i = 0; i < kBelowEntries; ++i) {
    const int j = i / kChannels;
    reach.fromLeft[i] = j >= 2 ? -1 : 0;
    reach.fromAbove[i] = j >= 1 && j <= kBelowPositions - 2 ? -1 : 0;
    reach.fromRight[i] = j <= kBelowPositions - 3 ? -1 : 0;
  }
  return reach;
}
constexpr ShareReach kShareReach = makeShareReach();

// addShare on the entries of reach.
inline void addShares(std::int16_t (&t)[kBelowLanes], const std::int16_t (&share)[kBelowLanes],
                      const std::int16_t (&reach)[kBelowLanes]) {
  for (int i = 0; i < kBelowLanes; ++i) {
    const std::int16_t limited = t[i] < kFullScale ? t[i] : kFullScale;
    const std::int16_t added = static_cast<std::int16_t>(t[i] < 0 ? 0 : limited + share[i]);
    t[i] = static_cast<std::int16_t>((added & reach[i]) | (t[i] & ~reach[i]));
  }
}

// A weighted share w * u as it is spread: whole at full strength, otherwise
// (w * u * s) / 256 for the strength s, truncated toward zero.
template <bool kFull, typename Value>
inline Value scaled(Value weighted, std::int32_t strength) {
  if (kFull) {
    return weighted;
  }
  const Value product = weighted * strength;
  return (product + ((product >> 31) & 255)) >> 8;
}

// The shares reach each neighbour in the order the pixels are committed:
// pixel x + 1 of row y receives its right share before it is committed
// itself, and pixel x of row y + 1 receives below right from x - 1, then
// below from x, then below left from x + 1. The line is worked through pixel
// by pixel for the errors, then the row below takes its shares all at once,
// in that order.
template <bool kFull>
void commitWith(const Quantiser& q, WorkingImage& image, int x0, int y, const LineChoice& choice) {
  Sample* here = image.pixel(x0, y);
  // Pixel k's error units at unit[(k + 2) * 3 ...]; the rest stays 0.
  std::int16_t unit[kBelowLanes + 2 * kChannels] = {};
  // The three channels side by side (a fourth lane idles).
  typedef std::int32_t Channels __attribute__((vector_size(4 * sizeof(std::int32_t))));
  const auto load = [](const Sample* p) { return Channels{p[0], p[1], p[2], 0}; };
  const Channels full = Channels{} + kFullScale;
  Channels s = load(here);
  for (int k = 0; k < kTileLinePixels; ++k) {
    const bool foreground = ((choice.mask >> k) & 1u) != 0;
    const Sample* palette = q.palette.colour[foreground ? choice.foreground : choice.background];
    const Channels p = load(palette);
    // The error unit: whole sixteenths of the limited sample's error; a
    // negative sample spreads nothing. Lies in -255 ... 255.
    const Channels error = (s < full ? s : full) - p;
    const Channels u = ((error + ((error >> 31) & 15)) >> 4) & ~(s < 0);
    const Channels t = load(here + (k + 1) * kChannels);
    for (int c = 0; c < kChannels; ++c) {
      here[k * kChannels + c] = palette[c];
      unit[(k + 2) * kChannels + c] = static_cast<std::int16_t>(u[c]);
    }
    s = ((t < full ? t : full) + scaled<kFull>(kRight * u, q.strength)) & ~(t < 0);
  }
  for (int c = 0; c < kChannels; ++c) {
    here[kTileLinePixels * kChannels + c] = static_cast<Sample>(s[c]);
  }

  Sample* below = image.pixel(x0 - 1, y + 1);
  std::int16_t row[kBelowLanes] = {};
  std::memcpy(row, below, kBelowEntries * sizeof(Sample));
  std::int16_t share[kBelowLanes];
  for (int i = 0; i < kBelowLanes; ++i) {
    share[i] = static_cast<std::int16_t>(scaled<kFull>(kBelowRight * unit[i], q.strength));
  }
  addShares(row, share, kShareReach.fromLeft);
  for (int i = 0; i < kBelowLanes; ++i) {
    share[i] = static_cast<std::int16_t>(scaled<kFull>(kBelow * unit[i + kChannels], q.strength));
  }
  addShares(row, share, kShareReach.fromAbove);
  for (int i = 0; i < kBelowLanes; ++i) {
    share[i] = static_cast<std::int16_t>(scaled<kFull>(kBelowLeft * unit[i + 2 * kChannels], q.strength));
  }
  addShares(row, share, kShareReach.fromRight);
  std::memcpy(below, row, kBelowEntries * sizeof(Sample));
}

}  // namespace

void commitLine(const Quantiser& q, WorkingImage& image, int x0, int y, const LineChoice& choice) {
  if (q.strength == kFullStrength) {
    commitWith<true>(q, image, x0, y, choice);
  } else {
    commitWith<false>(q, image, x0, y, choice);
  }
}

}  // namespace kovrel
