// ZX0 (version 2): the optimal parse and the stream, and the unpacker the
// tests check every packed table with.
//
// The parse is a shortest path over the positions 0 ... n of the data. A
// way into position i ends either in a literal block (then the next block is
// a last-offset copy or a new offset) or in a copy (then literals or a new
// offset), and carries its last offset; so the states at i are (kind, last
// offset). Costs are in bits:
//   literal block of n bytes   1 + gamma(n) + 8 n     (no flag on the first)
//   copy with the last offset  1 + gamma(n)
//   copy with a new offset     1 + gamma(m) + 8 + gamma(n - 1) - 1
//                              (B's low bit is the length's first bit)
// with m = (offset - 1) / 128 + 1, and 18 bits for the end marker (the same
// for every parse). The total bit count fixes the size: whole bytes are 8
// bits each and the flag bits fill ceil(flags / 8) bytes.
//
// A state whose last offset is o can save at most gamma(m(o)) + 7 bits over
// another of its kind (the first later copy that reuses o would otherwise
// need a new offset, and after that both go on alike), so states dearer
// than the cheapest of their kind by more than that are dropped without
// loss. Three limits keep the work small on tables of long runs, at the
// price of exactness there: at most kStatesPerKind states of each kind per
// position; a new offset is tried for every length only where no nearer
// offset reaches as far from the same position, otherwise only for short
// copies and while a budget per position lasts; and past kAllLengthsUpTo, a copy ends only
// where its gamma code grows or where its match ends. A literal block that
// runs on keeps, per last offset, the way in that is cheapest so far.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "compress/bit_stream.h"
#include "compress/compress.h"

namespace kovrel {
namespace {

constexpr int kMaxOffset = 32640;     // 128 * 255
constexpr std::uint32_t kEndMarker = 256;
constexpr std::size_t kStatesPerKind = 24;
// Copies up to this length are all tried; longer ones at the lengths where
// the gamma code grows and at the longest.
constexpr int kAllLengthsUpTo = 48;
// New offsets that reach no further than a nearer one: tried up to this
// length, at most kShortCopyBudget copies per position.
constexpr int kShortCopy = 16;
constexpr int kShortCopyBudget = 1024;

constexpr std::uint32_t kUnreached = std::numeric_limits<std::uint32_t>::max();

int offsetBlocks(int offset) { return (offset - 1) / 128 + 1; }

// How much cheaper a way in with last offset `offset` can turn out than
// another of its kind.
std::uint32_t lastOffsetWorth(int offset) {
  return static_cast<std::uint32_t>(gammaBits(static_cast<std::uint32_t>(offsetBlocks(offset))) + 7);
}

enum class Block : std::uint8_t { kStart, kLiterals, kLastOffset, kNewOffset };

// A way into position `position`: the block that ends there, and the node
// where that block begins.
struct Node {
  int previous;
  int position;
  int offset;  // the last offset after this block
  Block block;
};

// A copy ending at some later position, not yet compared with the others.
struct Arrival {
  std::uint32_t cost;
  int offset;
  int from;  // node at the copy's start
  Block block;
};

// A literal block still running: begun at `start` after node `from` (the
// start, or a copy) whose cost was base (its flag bit included).
struct OpenLiterals {
  int from;
  int start;
  int offset;
  std::uint32_t base;
  std::uint32_t costAt(int position) const {
    const auto n = static_cast<std::uint32_t>(position - start);
    return base + static_cast<std::uint32_t>(gammaBits(n)) + 8 * n;
  }
};

struct Copied {
  int node;
  std::uint32_t cost;
};

// Lengths tried for a copy that may run from shortest to longest.
template <typename Visit>
void forEachLength(int shortest, int longest, Visit visit) {
  for (int n = shortest; n <= longest; ++n) {
    if (n > kAllLengthsUpTo && n != longest) {
      // Past the short ones: where the gamma code of n or n - 1 grows.
      const int next = n + 1;
      if ((next & n) != 0 && (n & (n - 1)) != 0) {
        continue;
      }
    }
    visit(n);
  }
}

// Keeps, per last offset, the cheapest of the given states, then the ones
// within their offset's worth of the cheapest, at most kStatesPerKind. Ties
// keep the order the states came in (stable sorts), so every standard
// library makes the same stream.
template <typename State, typename CostOf, typename OffsetOf>
void keepBest(std::vector<State>& states, CostOf costOf, OffsetOf offsetOf) {
  if (states.empty()) {
    return;
  }
  std::stable_sort(states.begin(), states.end(), [&](const State& a, const State& b) {
    return offsetOf(a) != offsetOf(b) ? offsetOf(a) < offsetOf(b) : costOf(a) < costOf(b);
  });
  states.erase(std::unique(states.begin(), states.end(),
                           [&](const State& a, const State& b) { return offsetOf(a) == offsetOf(b); }),
               states.end());
  std::stable_sort(states.begin(), states.end(), [&](const State& a, const State& b) { return costOf(a) < costOf(b); });
  const std::uint32_t cheapest = costOf(states.front());
  std::size_t kept = 0;
  for (const State& state : states) {
    if (kept < kStatesPerKind && costOf(state) <= cheapest + lastOffsetWorth(offsetOf(state))) {
      states[kept++] = state;
    }
  }
  states.resize(kept);
}

void writeGamma(BitStreamWriter& out, std::uint32_t value, bool invert) {
  int top = 0;
  while ((value >> (top + 1)) != 0) {
    ++top;
  }
  for (int bit = top - 1; bit >= 0; --bit) {
    out.bit(false);
    out.bit((((value >> bit) & 1u) != 0) != invert);
  }
  out.bit(true);
}

// The bits of gamma(value) in reading order.
std::vector<bool> gammaCode(std::uint32_t value) {
  std::vector<bool> bits;
  int top = 0;
  while ((value >> (top + 1)) != 0) {
    ++top;
  }
  for (int bit = top - 1; bit >= 0; --bit) {
    bits.push_back(false);
    bits.push_back(((value >> bit) & 1u) != 0);
  }
  bits.push_back(true);
  return bits;
}

std::vector<std::uint8_t> writeStream(const std::vector<std::uint8_t>& data, const std::vector<Node>& nodes, int last) {
  std::vector<int> path;
  for (int node = last; nodes[static_cast<std::size_t>(node)].block != Block::kStart;
       node = nodes[static_cast<std::size_t>(node)].previous) {
    path.push_back(node);
  }
  std::reverse(path.begin(), path.end());
  BitStreamWriter out;
  bool first = true;
  for (const int index : path) {
    const Node& node = nodes[static_cast<std::size_t>(index)];
    const int start = nodes[static_cast<std::size_t>(node.previous)].position;
    const auto length = static_cast<std::uint32_t>(node.position - start);
    if (!first) {
      out.bit(node.block == Block::kNewOffset);
    }
    first = false;
    if (node.block == Block::kLiterals) {
      writeGamma(out, length, false);
      for (int i = start; i < node.position; ++i) {
        out.byte(data[static_cast<std::size_t>(i)]);
      }
    } else if (node.block == Block::kLastOffset) {
      writeGamma(out, length, false);
    } else {
      writeGamma(out, static_cast<std::uint32_t>(offsetBlocks(node.offset)), true);
      const std::vector<bool> lengthBits = gammaCode(length - 1);
      const int low = 127 - (node.offset - 1) % 128;
      out.byte(static_cast<std::uint8_t>(low << 1 | (lengthBits[0] ? 1 : 0)));
      for (std::size_t b = 1; b < lengthBits.size(); ++b) {
        out.bit(lengthBits[b]);
      }
    }
  }
  out.bit(true);
  writeGamma(out, kEndMarker, true);
  return std::move(out.bytes());
}

}  // namespace

std::vector<std::uint8_t> packZx0(const std::vector<std::uint8_t>& data) {
  const int size = static_cast<int>(data.size());
  if (size == 0) {
    return {};
  }
  std::vector<Node> nodes;
  nodes.push_back({-1, 0, 1, Block::kStart});
  std::vector<std::vector<Arrival>> arrivals(static_cast<std::size_t>(size) + 1);
  // run[o]: how many bytes from the current position on equal those o back.
  std::vector<int> run(static_cast<std::size_t>(std::min(size, kMaxOffset)) + 1, 0);
  std::vector<Copied> copies;           // ways in ending in a copy, this position
  std::vector<OpenLiterals> literals;   // ways in ending in literals, this position
  std::vector<OpenLiterals> nextLiterals;

  for (int i = 0; i <= size; ++i) {
    // Ways in that end in a copy.
    copies.clear();
    std::vector<Arrival>& here = arrivals[static_cast<std::size_t>(i)];
    keepBest(here, [](const Arrival& a) { return a.cost; }, [](const Arrival& a) { return a.offset; });
    for (const Arrival& arrival : here) {
      nodes.push_back({arrival.from, i, arrival.offset, arrival.block});
      copies.push_back({static_cast<int>(nodes.size()) - 1, arrival.cost});
    }
    std::vector<Arrival>().swap(here);
    if (i == 0) {
      copies.push_back({0, 0});
    }

    // The cheapest way in of either kind; a literal one becomes a node
    // only when a later block starts from it.
    std::uint32_t best = kUnreached;
    int bestCopy = -1;
    int bestLiterals = -1;
    for (std::size_t c = 0; c < copies.size(); ++c) {
      if (copies[c].cost < best) {
        best = copies[c].cost;
        bestCopy = static_cast<int>(c);
      }
    }
    for (std::size_t l = 0; l < literals.size(); ++l) {
      if (literals[l].costAt(i) < best) {
        best = literals[l].costAt(i);
        bestLiterals = static_cast<int>(l);
        bestCopy = -1;
      }
    }
    const auto literalNode = [&](const OpenLiterals& open) {
      nodes.push_back({open.from, i, open.offset, Block::kLiterals});
      return static_cast<int>(nodes.size()) - 1;
    };

    if (i == size) {
      const int last = bestCopy >= 0 ? copies[static_cast<std::size_t>(bestCopy)].node
                                     : literalNode(literals[static_cast<std::size_t>(bestLiterals)]);
      return writeStream(data, nodes, last);
    }

    // Runs at i, kept from i - 1 where one went on.
    const int reach = std::min(i, kMaxOffset);
    for (int o = 1; o <= reach; ++o) {
      int& length = run[static_cast<std::size_t>(o)];
      if (length > 1) {
        --length;
      } else {
        length = 0;
        while (i + length < size && data[static_cast<std::size_t>(i + length)] ==
                                        data[static_cast<std::size_t>(i + length - o)]) {
          ++length;
        }
      }
    }

    // Copies with the last offset, from the literal ways in.
    for (const OpenLiterals& open : literals) {
      const int longest = run[static_cast<std::size_t>(open.offset)];
      if (longest == 0) {
        continue;
      }
      const std::uint32_t cost = open.costAt(i);
      const int from = literalNode(open);
      forEachLength(1, longest, [&](int n) {
        arrivals[static_cast<std::size_t>(i + n)].push_back(
            {cost + 1 + static_cast<std::uint32_t>(gammaBits(static_cast<std::uint32_t>(n))), open.offset, from,
             Block::kLastOffset});
      });
    }

    // Copies with a new offset, from the cheapest way in: each offset for
    // the lengths no nearer (so no dearer) offset reaches.
    if (i > 0) {
      const int from = bestCopy >= 0 ? copies[static_cast<std::size_t>(bestCopy)].node
                                     : literalNode(literals[static_cast<std::size_t>(bestLiterals)]);
      int reached = 1;
      int budget = kShortCopyBudget;
      for (int o = 1; o <= reach; ++o) {
        const int longest = run[static_cast<std::size_t>(o)];
        // A farther offset that reaches no further still brings its own
        // last offset: tried for short matches while the budget lasts.
        const bool shortOnly = longest <= reached;
        if (longest < 2 || (shortOnly && (longest > kShortCopy || budget < longest))) {
          continue;
        }
        const std::uint32_t offsetCost = best + 1 +
                                         static_cast<std::uint32_t>(gammaBits(static_cast<std::uint32_t>(offsetBlocks(o)))) + 7;
        if (shortOnly) {
          budget -= longest - 1;
        }
        forEachLength(shortOnly ? 2 : reached + 1, longest, [&](int n) {
          arrivals[static_cast<std::size_t>(i + n)].push_back(
              {offsetCost + static_cast<std::uint32_t>(gammaBits(static_cast<std::uint32_t>(n - 1))), o, from,
               Block::kNewOffset});
        });
        reached = std::max(reached, longest);
      }
    }

    // Literal ways into i + 1: the running ones one byte longer, and new
    // ones after each copy.
    nextLiterals = literals;
    for (const Copied& copy : copies) {
      const Node& node = nodes[static_cast<std::size_t>(copy.node)];
      const std::uint32_t flag = node.block == Block::kStart ? 0 : 1;
      nextLiterals.push_back({copy.node, i, node.offset, copy.cost + flag});
    }
    const int next = i + 1;
    keepBest(nextLiterals, [next](const OpenLiterals& open) { return open.costAt(next); },
             [](const OpenLiterals& open) { return open.offset; });
    literals.swap(nextLiterals);
  }
  return {};  // not reached: the loop returns at i == size
}

bool unpackZx0(const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& out, std::size_t limit) {
  out.clear();
  if (stream.empty()) {
    return true;
  }
  BitStreamReader in(stream);
  // gamma, its data bits inverted when asked; first is its first bit when
  // it comes from elsewhere (-1: from the buffer). Values past 2^24 are
  // no table's and stop a damaged stream early.
  const auto gamma = [&in](bool invert, int first) {
    std::uint32_t value = 1;
    bool more = first >= 0 ? first == 0 : !in.bit();
    while (more && !in.failed() && value < (1u << 24)) {
      value = value << 1 | ((in.bit() != invert) ? 1u : 0u);
      more = !in.bit();
    }
    return more ? 0 : value;
  };
  const auto copy = [&out, limit](std::size_t offset, std::uint32_t length) {
    if (offset == 0 || offset > out.size() || out.size() + length > limit) {
      return false;
    }
    for (std::uint32_t k = 0; k < length; ++k) {
      out.push_back(out[out.size() - offset]);
    }
    return true;
  };
  std::size_t lastOffset = 1;
  enum { kLiterals, kNewOffset } next = kLiterals;
  for (;;) {
    if (next == kLiterals) {
      const std::uint32_t length = gamma(false, -1);
      if (length == 0 || out.size() + length > limit) {
        return false;
      }
      for (std::uint32_t k = 0; k < length; ++k) {
        out.push_back(in.byte());
      }
      if (in.failed()) {
        return false;
      }
      if (!in.bit()) {
        const std::uint32_t repeat = gamma(false, -1);
        if (repeat == 0 || !copy(lastOffset, repeat)) {
          return false;
        }
        next = in.bit() ? kNewOffset : kLiterals;
        continue;
      }
    }
    const std::uint32_t blocks = gamma(true, -1);
    if (blocks == kEndMarker) {
      return !in.failed();
    }
    if (blocks == 0 || blocks > kEndMarker) {
      return false;
    }
    const std::uint8_t low = in.byte();
    lastOffset = 128 * static_cast<std::size_t>(blocks) - (low >> 1);
    const std::uint32_t length = gamma(false, low & 1);
    if (length == 0 || in.failed() || !copy(lastOffset, length + 1)) {
      return false;
    }
    next = in.bit() ? kNewOffset : kLiterals;
  }
}

}  // namespace kovrel
