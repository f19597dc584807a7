// Pletter 0.5c without the stored length: the optimal parse, the stream,
// and the unpacker the tests check every packed table with.
//
// Pletter has no last-offset copies, so a match's cost depends only on its
// length and on whether its offset needs the mode's extra bits:
//   literal          1 + 8
//   match            1 + gamma(length - 1) + 8 (+ k extra bits in mode k >= 2
//                    when the offset is above 128)
// For each position the longest match among offsets 1 ... 128 and among the
// farther ones the mode reaches bound every match that is possible there,
// so a shortest-path pass from the end over every literal and every such
// length is exact. Lengths whose gamma code has one size are weighed
// together by the cheapest position they can reach (a segment tree). The first byte is a literal without a flag; the stream
// ends with 34 one bits.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "compress/bit_stream.h"
#include "compress/compress.h"

namespace kovrel {
namespace {

constexpr int kModes = 6;
constexpr int kNearOffset = 128;
constexpr int kEndOnes = 34;

// The farthest offset of mode k (1 ... 6).
int farthestOffset(int mode) { return mode == 1 ? 256 : kNearOffset + (1 << (mode + 7)); }

int extraBits(int mode) { return mode == 1 ? 0 : mode; }

int matchRun(const std::vector<std::uint8_t>& data, int at, int offset) {
  int length = 0;
  while (at + length < static_cast<int>(data.size()) &&
         data[static_cast<std::size_t>(at + length)] == data[static_cast<std::size_t>(at + length - offset)]) {
    ++length;
  }
  return length;
}

// For each position: the longest match at offsets up to 128 ([0]) and at
// offsets 129 ... farthestOffset(k) ([k]).
std::vector<std::array<int, kModes + 1>> longestMatches(const std::vector<std::uint8_t>& data) {
  const int size = static_cast<int>(data.size());
  const int farthest = farthestOffset(kModes);
  std::vector<std::array<int, kModes + 1>> longest(static_cast<std::size_t>(size));
  std::vector<int> run(static_cast<std::size_t>(farthest) + 1, 0);  // from position i + 1, then i
  for (int i = size - 1; i >= 1; --i) {
    std::array<int, kModes + 1>& best = longest[static_cast<std::size_t>(i)];
    best.fill(0);
    int mode = 1;
    int far = 0;
    const int reach = std::min(i, farthest);
    for (int o = 1; o <= reach; ++o) {
      int& length = run[static_cast<std::size_t>(o)];
      length = data[static_cast<std::size_t>(i)] == data[static_cast<std::size_t>(i - o)] ? length + 1 : 0;
      if (o <= kNearOffset) {
        best[0] = std::max(best[0], length);
        continue;
      }
      while (o > farthestOffset(mode)) {
        best[static_cast<std::size_t>(mode)] = far;
        ++mode;
      }
      far = std::max(far, length);
    }
    for (; mode <= kModes; ++mode) {
      best[static_cast<std::size_t>(mode)] = far;
    }
  }
  return longest;
}

struct Step {
  int length;  // 1 for a literal
  bool far;    // a match whose offset is above 128
};

// The cheapest known cost among positions [first, last], and where: a
// segment tree over the positions, filled from the end as the parse goes.
class CheapestAhead {
 public:
  explicit CheapestAhead(std::size_t positions) : size_(1) {
    while (size_ < positions) {
      size_ *= 2;
    }
    tree_.assign(2 * size_, {kNone, 0});
  }
  void set(std::size_t position, std::uint32_t cost) {
    std::size_t at = position + size_;
    tree_[at] = {cost, position};
    for (at /= 2; at >= 1; at /= 2) {
      tree_[at] = std::min(tree_[2 * at], tree_[2 * at + 1]);
    }
  }
  std::pair<std::uint32_t, std::size_t> cheapest(std::size_t first, std::size_t last) const {
    std::pair<std::uint32_t, std::size_t> best{kNone, 0};
    for (std::size_t lo = first + size_, hi = last + size_ + 1; lo < hi; lo /= 2, hi /= 2) {
      if ((lo & 1) != 0) {
        best = std::min(best, tree_[lo++]);
      }
      if ((hi & 1) != 0) {
        best = std::min(best, tree_[--hi]);
      }
    }
    return best;
  }
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

 private:
  std::size_t size_;
  std::vector<std::pair<std::uint32_t, std::size_t>> tree_;
};

std::vector<std::uint8_t> packInMode(const std::vector<std::uint8_t>& data, int mode,
                                     const std::vector<std::array<int, kModes + 1>>& longest) {
  const int size = static_cast<int>(data.size());
  std::vector<std::uint32_t> cost(static_cast<std::size_t>(size) + 1, 0);  // bits from i to the end
  std::vector<Step> step(static_cast<std::size_t>(size) + 1, Step{1, false});
  CheapestAhead ahead(static_cast<std::size_t>(size) + 1);
  ahead.set(static_cast<std::size_t>(size), 0);
  for (int i = size - 1; i >= 1; --i) {
    std::uint32_t best = 9 + cost[static_cast<std::size_t>(i + 1)];
    Step choice{1, false};
    const auto& reach = longest[static_cast<std::size_t>(i)];
    const int near = reach[0];
    const int far = reach[static_cast<std::size_t>(mode)];
    // Lengths whose gamma(length - 1) has one size cost alike but for what
    // follows them: the cheapest position after each such group, near
    // offsets and farther ones apart.
    for (int low = 2, bits = 1; low <= std::max(near, far); low = 2 * low - 1, bits += 2) {
      const int high = 2 * low - 2;  // length - 1 from low - 1 to 2 (low - 1) - 1
      const auto consider = [&](int from, int to, bool isFar) {
        if (from > to) {
          return;
        }
        const auto found = ahead.cheapest(static_cast<std::size_t>(i + from), static_cast<std::size_t>(i + to));
        const std::uint32_t total = found.first + 1 + static_cast<std::uint32_t>(bits) + 8 +
                                    static_cast<std::uint32_t>(isFar ? extraBits(mode) : 0);
        if (total < best) {
          best = total;
          choice = {static_cast<int>(found.second) - i, isFar};
        }
      };
      consider(low, std::min(high, near), false);
      consider(std::max(low, near + 1), std::min(high, far), true);
    }
    cost[static_cast<std::size_t>(i)] = best;
    step[static_cast<std::size_t>(i)] = choice;
    ahead.set(static_cast<std::size_t>(i), best);
  }

  BitStreamWriter out;
  out.bit(((mode - 1) & 4) != 0);
  out.bit(((mode - 1) & 2) != 0);
  out.bit(((mode - 1) & 1) != 0);
  out.byte(data[0]);
  for (int i = 1; i < size;) {
    const Step& s = step[static_cast<std::size_t>(i)];
    if (s.length == 1) {
      out.bit(false);
      out.byte(data[static_cast<std::size_t>(i)]);
      ++i;
      continue;
    }
    out.bit(true);
    const auto value = static_cast<std::uint32_t>(s.length - 1);
    int top = 0;
    while ((value >> (top + 1)) != 0) {
      ++top;
    }
    for (int bit = top - 1; bit >= 0; --bit) {
      out.bit(true);
      out.bit(((value >> bit) & 1u) != 0);
    }
    out.bit(false);
    // The nearest offset of the chosen class that matches as long.
    int offset = s.far ? kNearOffset + 1 : 1;
    while (matchRun(data, i, offset) < s.length) {
      ++offset;
    }
    if (offset <= kNearOffset) {
      out.byte(static_cast<std::uint8_t>(offset - 1));
    } else {
      const int beyond = offset - kNearOffset - 1;
      out.byte(static_cast<std::uint8_t>(0x80 | (beyond & 0x7F)));
      for (int bit = mode + 6; bit >= 7 && mode > 1; --bit) {
        out.bit(((beyond >> bit) & 1) != 0);
      }
    }
    i += s.length;
  }
  for (int k = 0; k < kEndOnes; ++k) {
    out.bit(true);
  }
  return std::move(out.bytes());
}

}  // namespace

std::vector<std::uint8_t> packPletter(const std::vector<std::uint8_t>& data) {
  if (data.empty()) {
    return {};
  }
  const auto longest = longestMatches(data);
  std::vector<std::uint8_t> shortest;
  for (int mode = 1; mode <= kModes; ++mode) {
    std::vector<std::uint8_t> packed = packInMode(data, mode, longest);
    if (shortest.empty() || packed.size() < shortest.size()) {
      shortest = std::move(packed);
    }
  }
  return shortest;
}

bool unpackPletter(const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& out, std::size_t limit) {
  out.clear();
  if (stream.empty()) {
    return true;
  }
  BitStreamReader in(stream);
  const std::uint8_t first = in.byte();
  const int mode = (first >> 5) + 1;
  if (mode > kModes || limit == 0) {
    return false;
  }
  in.setBuffer(first, 0x10);
  out.push_back(in.byte());
  for (;;) {
    if (in.failed()) {
      return false;
    }
    if (!in.bit()) {
      if (out.size() >= limit) {
        return false;
      }
      out.push_back(in.byte());
      continue;
    }
    std::uint32_t value = 1;
    while (in.bit()) {
      value = value << 1 | (in.bit() ? 1u : 0u);
      if (value > 0xFFFF) {
        return !in.failed();
      }
      if (in.failed()) {
        return false;
      }
    }
    const std::uint8_t c = in.byte();
    std::size_t offset = static_cast<std::size_t>(c) + 1;
    if (c >= 0x80) {
      std::size_t beyond = c & 0x7Fu;
      for (int bit = mode + 6; bit >= 7 && mode > 1; --bit) {
        beyond |= static_cast<std::size_t>(in.bit() ? 1 : 0) << bit;
      }
      offset = beyond + kNearOffset + 1;
    }
    const std::size_t length = value + 1;
    if (in.failed() || offset > out.size() || out.size() + length > limit) {
      return false;
    }
    for (std::size_t k = 0; k < length; ++k) {
      out.push_back(out[out.size() - offset]);
    }
  }
}

}  // namespace kovrel
