#include "quantise/optimise.h"

#include <algorithm>
#include <vector>

#include "quality/perceptual.h"
#include "quality/perceptual_field.h"

namespace kovrel {
namespace {

// A change must gain at least this much (in summed Delta E) to be kept, so
// that rounding noise never flips a pixel back and forth.
constexpr double kLeastGain = 1e-3;

// The weight of the line's mean error against its pixels' own in choosing
// the pair tried besides the neighbouring lines' (trying the best two or
// four instead cost time and gained little).
constexpr float kMeanWeight = 4.0f;
// The weight of the error seen from afar against that from near, below
// one: from near is where the picture stays furthest from the original,
// while from afar it stays well within linear's error (at 0.5 the cat's
// fur seen from afar came out no better than linear's).
constexpr double kFarWeight = 0.7;

struct Optimiser {
  const Quantiser& q;
  int width;   // the picture's
  int height;
  int columns;  // tile columns
  Opponent colour[kPaletteSize];
  std::vector<std::uint8_t> index;  // each picture pixel's colour
  std::vector<Opponent> target;     // each picture pixel's colour before quantising
  PerceptualField near;
  PerceptualField far;

  Opponent delta(int from, int to) const {
    Opponent d{};
    for (int c = 0; c < 3; ++c) {
      d.o[c] = colour[to].o[c] - colour[from].o[c];
    }
    return d;
  }

  // Tries giving the line's pixels the colours wanted (kTileLinePixels of
  // them); keeps them when the perceived difference falls enough.
  bool tryColours(int x0, int y, const std::uint8_t* wanted) {
    PixelChange changes[kTileLinePixels];
    int count = 0;
    for (int k = 0; k < kTileLinePixels && x0 + k < width; ++k) {
      const std::uint8_t now = index[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                     static_cast<std::size_t>(x0 + k)];
      if (now != wanted[k]) {
        changes[count++] = {x0 + k, y, delta(now, wanted[k])};
      }
    }
    if (count == 0) {
      return false;
    }
    const double nearFirst = near.firstOrder(changes, count);
    const double farFirst = far.firstOrder(changes, count);
    // The exact part near the changes mostly adds error (the error is
    // close to convex there), so a change that gains nothing to first
    // order is not worth it.
    if (!(-(nearFirst + kFarWeight * farFirst) > 0)) {
      return false;
    }
    // Each step below replaces an estimate by a truer, dearer one, and
    // the change is kept only on the exact figures. The error seen from
    // afar, the dearer of the two, is refined after the near one; until
    // then its estimate stands in, which is low as a rule (the error is
    // close to convex), so that few changes are dropped that would gain.
    const double nearCore = nearFirst + near.correction();
    if (!(-(nearCore + kFarWeight * farFirst) > kLeastGain)) {
      return false;
    }
    const double farCore = farFirst + far.correction();
    if (!(-(nearCore + kFarWeight * farCore) > kLeastGain)) {
      return false;
    }
    const double nearExact = near.exact();
    if (!(-(nearExact + kFarWeight * farCore) > kLeastGain)) {
      return false;
    }
    if (!(-(nearExact + kFarWeight * far.exact()) > kLeastGain)) {
      return false;
    }
    near.commitTrial();
    far.commitTrial();
    for (int k = 0; k < kTileLinePixels && x0 + k < width; ++k) {
      index[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x0 + k)] =
          wanted[k];
    }
    return true;
  }

  // The pair most worth a trial on the line at x0, y, besides current:
  // each pair's pixels are given by carrying the whole error along the
  // line (so that its mix comes out right), and scored on the pixels' own
  // errors and on the line's mean error, in the opponent planes. Writes
  // the pair and its pixels' colours.
  void proposal(int x0, int y, const LineChoice& current, std::uint8_t (&pair)[2],
                std::uint8_t (&colours)[kTileLinePixels]) const {
    const int n = std::min(kTileLinePixels, width - x0);
    const Opponent* t = &target[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                static_cast<std::size_t>(x0)];
    float best = 0;
    bool found = false;
    for (int h = 1; h < kPaletteSize; ++h) {
      for (int f = h + 1; f < kPaletteSize; ++f) {
        if (h == current.background && f == current.foreground) {
          continue;
        }
        float carried[3] = {0, 0, 0};
        float own = 0;
        std::uint8_t picked[kTileLinePixels] = {};
        for (int k = 0; k < n; ++k) {
          float dh = 0, df = 0;
          float v[3];
          for (int c = 0; c < 3; ++c) {
            v[c] = t[k].o[c] + carried[c];
            const float eh = v[c] - colour[h].o[c];
            const float ef = v[c] - colour[f].o[c];
            dh += eh * eh;
            df += ef * ef;
          }
          const int c0 = df < dh ? f : h;
          picked[k] = static_cast<std::uint8_t>(c0);
          for (int c = 0; c < 3; ++c) {
            carried[c] = v[c] - colour[c0].o[c];
            const float e = t[k].o[c] - colour[c0].o[c];
            own += e * e;
          }
        }
        // What is still carried at the end is the line's summed error.
        const float mean = (carried[0] * carried[0] + carried[1] * carried[1] + carried[2] * carried[2]) /
                           static_cast<float>(n);
        const float score = own + kMeanWeight * mean;
        if (found && !(score < best)) {
          continue;
        }
        found = true;
        best = score;
        pair[0] = static_cast<std::uint8_t>(h);
        pair[1] = static_cast<std::uint8_t>(f);
        std::copy_n(picked, kTileLinePixels, colours);
      }
    }
  }

  std::uint8_t nearer(std::uint8_t from, std::uint8_t a, std::uint8_t b) const {
    float da = 0, db = 0;
    for (int c = 0; c < 3; ++c) {
      const float ea = colour[a].o[c] - colour[from].o[c];
      const float eb = colour[b].o[c] - colour[from].o[c];
      da += ea * ea;
      db += eb * eb;
    }
    return db < da ? b : a;
  }
};

std::vector<Opponent> opponentsOf(const WorkingImage& image) {
  std::vector<Opponent> out;
  out.reserve(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height));
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const Sample* p = image.pixel(x, y);
      const std::uint8_t rgb[3] = {static_cast<std::uint8_t>(clampSample(p[0]) / kSampleScale),
                                   static_cast<std::uint8_t>(clampSample(p[1]) / kSampleScale),
                                   static_cast<std::uint8_t>(clampSample(p[2]) / kSampleScale)};
      out.push_back(opponentOfRgb(rgb));
    }
  }
  return out;
}

// 0 ... n - 1 in bit-reversed order: 0, n/2, n/4, 3n/4, ... for a power of
// two, the others skipped.
std::vector<int> scattered(int n) {
  int bits = 0;
  while ((1 << bits) < n) {
    ++bits;
  }
  std::vector<int> order;
  for (int i = 0; i < (1 << bits); ++i) {
    int reversed = 0;
    for (int b = 0; b < bits; ++b) {
      reversed |= ((i >> b) & 1) << (bits - 1 - b);
    }
    if (reversed < n) {
      order.push_back(reversed);
    }
  }
  return order;
}

std::uint8_t colourOf(const LineChoice& choice, int k) {
  return (choice.mask >> k & 1) != 0 ? choice.foreground : choice.background;
}

}  // namespace

std::uint32_t optimiseLines(const Quantiser& q, const WorkingImage& original, WorkingImage& image,
                            LineChoice* choices, int sweeps, OptimiseProgress progress, void* context) {
  const int width = image.width;
  const int height = image.height;
  const int columns = image.tileColumns();
  const int rows = image.tileRows();
  const auto choiceAt = [&](int tx, int y) -> LineChoice& {
    return choices[static_cast<std::size_t>(y) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(tx)];
  };

  std::vector<std::uint8_t> index(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  std::vector<Opponent> current(index.size());
  Opponent colour[kPaletteSize];
  for (int i = 0; i < kPaletteSize; ++i) {
    const std::uint8_t rgb[3] = {static_cast<std::uint8_t>(q.palette.colour[i][0] / kSampleScale),
                                 static_cast<std::uint8_t>(q.palette.colour[i][1] / kSampleScale),
                                 static_cast<std::uint8_t>(q.palette.colour[i][2] / kSampleScale)};
    colour[i] = opponentOfRgb(rgb);
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x);
      index[i] = colourOf(choiceAt(x / kTileLinePixels, y), x % kTileLinePixels);
      current[i] = colour[index[i]];
    }
  }
  std::vector<Opponent> before = opponentsOf(original);
  Optimiser o{q,
              width,
              height,
              columns,
              {},
              std::move(index),
              {},
              PerceptualField(before, current, width, height, kNearSamplesPerDegree),
              PerceptualField(before, current, width, height, kFarSamplesPerDegree)};
  std::copy(std::begin(colour), std::end(colour), std::begin(o.colour));
  o.target = std::move(before);

  // Rows and columns are visited spread out (bit-reversed order), not top
  // to bottom: a greedy pass in raster order settles each region's error
  // before the regions after it have had a say, and leaves streaks.
  const std::vector<int> rowOrder = scattered(height);
  const std::vector<int> columnOrder = scattered(columns);
  std::uint32_t kept = 0;
  bool stopped = false;
  for (int sweep = 0; sweep < sweeps && !stopped; ++sweep) {
    const std::uint32_t keptBefore = kept;
    for (std::size_t n = 0; n < rowOrder.size() && !stopped; ++n) {
      {
        const int y = rowOrder[n];
        for (const int tx : columnOrder) {
          const int x0 = tx * kTileLinePixels;
          LineChoice& choice = choiceAt(tx, y);
          const std::uint8_t* const now = &o.index[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                                   static_cast<std::size_t>(x0)];
          // Other pairs: those of the neighbouring lines.
          const LineChoice* neighbours[4] = {tx > 0 ? &choiceAt(tx - 1, y) : nullptr,
                                             tx + 1 < columns ? &choiceAt(tx + 1, y) : nullptr,
                                             y > 0 ? &choiceAt(tx, y - 1) : nullptr,
                                             y + 1 < height ? &choiceAt(tx, y + 1) : nullptr};
          for (const LineChoice* other : neighbours) {
            if (other == nullptr ||
                (other->background == choice.background && other->foreground == choice.foreground)) {
              continue;
            }
            std::uint8_t wanted[kTileLinePixels] = {};
            for (int k = 0; k < kTileLinePixels && x0 + k < width; ++k) {
              wanted[k] = o.nearer(now[k], other->background, other->foreground);
            }
            if (o.tryColours(x0, y, wanted)) {
              choice.background = other->background;
              choice.foreground = other->foreground;
              ++kept;
            }
          }
          // The pair that suits the line's own pixels best.
          {
            std::uint8_t pair[2] = {choice.background, choice.foreground};
            std::uint8_t colours[kTileLinePixels] = {};
            std::copy_n(now, std::min(kTileLinePixels, width - x0), colours);
            o.proposal(x0, y, choice, pair, colours);
            if (o.tryColours(x0, y, colours)) {
              choice.background = pair[0];
              choice.foreground = pair[1];
              ++kept;
            }
          }
          // Flips between the line's two colours.
          for (int k = 0; k < kTileLinePixels && x0 + k < width; ++k) {
            std::uint8_t wanted[kTileLinePixels] = {};
            for (int j = 0; j < kTileLinePixels && x0 + j < width; ++j) {
              wanted[j] = now[j];
            }
            wanted[k] = now[k] == choice.background ? choice.foreground : choice.background;
            if (o.tryColours(x0, y, wanted)) {
              ++kept;
            }
          }
          // Swaps of neighbouring pixels of different colours: a dot moved
          // by one, which two flips would only make through a worse picture.
          for (int k = 0; k + 1 < kTileLinePixels && x0 + k + 1 < width; ++k) {
            if (now[k] == now[k + 1]) {
              continue;
            }
            std::uint8_t wanted[kTileLinePixels] = {};
            for (int j = 0; j < kTileLinePixels && x0 + j < width; ++j) {
              wanted[j] = now[j];
            }
            std::swap(wanted[k], wanted[k + 1]);
            if (o.tryColours(x0, y, wanted)) {
              ++kept;
            }
          }
          // The mask from the pixels; the padding's pixels take the background.
          std::uint8_t mask = 0;
          for (int k = 0; k < kTileLinePixels && x0 + k < width; ++k) {
            mask = static_cast<std::uint8_t>(mask | (now[k] == choice.foreground ? 1 << k : 0));
          }
          choice.mask = mask;
        }
        o.near.refresh();
        o.far.refresh();
      }
      if (progress != nullptr && ((n + 1) % kTileSide == 0 || n + 1 == rowOrder.size()) &&
          !progress(context, (sweep * height + static_cast<int>(n) + 1) * 100 / (sweeps * height))) {
        stopped = true;
      }
    }
    if (kept == keptBefore) {
      break;
    }
  }

  // The chosen colours into the padded area.
  for (int y = 0; y < rows * kTileSide; ++y) {
    for (int tx = 0; tx < columns; ++tx) {
      const LineChoice& choice = choiceAt(tx, y);
      for (int k = 0; k < kTileLinePixels; ++k) {
        Sample* p = image.pixel(tx * kTileLinePixels + k, y);
        const std::uint8_t c = colourOf(choice, k);
        for (int channel = 0; channel < kChannels; ++channel) {
          p[channel] = q.palette.colour[c][channel];
        }
      }
    }
  }
  return kept;
}

}  // namespace kovrel
