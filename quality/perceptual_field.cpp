#include "quality/perceptual_field.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "quality/scielab.h"

namespace kovrel {
namespace {

using scielab::Gaussian;
using scielab::kBlueYellow;
using scielab::kLuminance;
using scielab::kRedGreen;
using scielab::kRgbToXyz;
using scielab::kXyzToOpponent;
using scielab::reflected;

// Rounds to whole 2^-bits steps: a value computed by a library function
// that may differ in its last place between machines becomes the same
// float on all of them (barring a tie, which none of ours is near).
float steady(double value, int bits) {
  const double scale = std::ldexp(1.0, bits);
  return static_cast<float>(std::nearbyint(value * scale) / scale);
}

struct Matrices {
  float toOpponent[3][3];  // linear RGB to opponent
  float toXyzOfWhite[3][3];  // opponent to XYZ, each row divided by the white's
};

const Matrices& matrices() {
  static const Matrices m = [] {
    Matrices out{};
    const double(&a)[3][3] = kXyzToOpponent;
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    for (int i = 0; i < 3; ++i) {
      const double white = kRgbToXyz[i][0] + kRgbToXyz[i][1] + kRgbToXyz[i][2];
      for (int j = 0; j < 3; ++j) {
        double p = 0;
        for (int k = 0; k < 3; ++k) {
          p += kXyzToOpponent[i][k] * kRgbToXyz[k][j];
        }
        out.toOpponent[i][j] = steady(p, 30);
        const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
        out.toXyzOfWhite[i][j] = steady((a[r0][c0] * a[r1][c1] - a[r0][c1] * a[r1][c0]) / det / white, 30);
      }
    }
    return out;
  }();
  return m;
}

// The cube root of t > 0 by Newton's method from a guess made of t's bits
// (a third of the exponent, roughly: within 3 %; the bits are scaled as a
// float, exactly rounded everywhere); each step squares the relative error,
// so two leave it near 10^-6 (10^-4 in L*). Plain float operations, so the compiler may run several at
// once.
inline float cubeRoot(float t) {
  std::int32_t bits = 0;
  std::memcpy(&bits, &t, sizeof bits);
  const auto guessBits = static_cast<std::int32_t>(static_cast<float>(bits) * (1.0f / 3.0f) + 709921077.0f);
  float y = 0;
  std::memcpy(&y, &guessBits, sizeof y);
  y = (y + y + t / (y * y)) * (1.0f / 3.0f);
  y = (y + y + t / (y * y)) * (1.0f / 3.0f);
  return y;
}

// CIELAB's f(t), t relative to the white.
inline float labF(float t) {
  constexpr float kEpsilon = 216.0f / 24389.0f;         // (6/29)^3
  constexpr float kSlope = 841.0f / 108.0f;             // 1 / (3 (6/29)^2)
  constexpr float kOffset = 4.0f / 29.0f;
  return t > kEpsilon ? cubeRoot(t) : t * kSlope + kOffset;
}

inline void labOf(const float (&o)[3], float (&lab)[3]) {
  const auto& m = matrices().toXyzOfWhite;
  float f[3];
  for (int c = 0; c < 3; ++c) {
    f[c] = labF(m[c][0] * o[0] + m[c][1] * o[1] + m[c][2] * o[2]);
  }
  lab[0] = 116.0f * f[1] - 16.0f;
  lab[1] = 500.0f * (f[0] - f[1]);
  lab[2] = 200.0f * (f[1] - f[2]);
}

// Delta E of n pixels: the filtered opponent values f0, f1, f2 against the
// original's CIELAB l, a, b. Written without branches so that it runs
// several pixels at a time.
// Four lanes of float, and of int, as GCC and Clang both lay them out: on
// x86-64 and in WebAssembly SIMD one instruction a lane set, elsewhere
// lane by lane; each lane's result is the same IEEE operation either way.
using Floats = float __attribute__((vector_size(16)));
using Ints = std::int32_t __attribute__((vector_size(16)));
constexpr int kLanes = 4;

inline Floats splat(float v) { return Floats{v, v, v, v}; }

// cubeRoot's steps, lane by lane.
inline Floats cubeRoots(Floats t) {
  const Ints bits = (Ints)t;
  const Floats scaled = __builtin_convertvector(bits, Floats) * splat(1.0f / 3.0f) + splat(709921077.0f);
  const Ints guessBits = __builtin_convertvector(scaled, Ints);
  Floats y = (Floats)guessBits;
  for (int i = 0; i < 2; ++i) {
    y = (y + y + t / (y * y)) * splat(1.0f / 3.0f);
  }
  return y;
}

// CIELAB's f(t), lane by lane: the cube root above (6/29)^3, the line
// below; and its slope df/dt there, 1 / (3 f^2) or the line's.
inline Floats labFs(Floats t, Floats& slope) {
  constexpr float kSlope = 841.0f / 108.0f;  // 1 / (3 (6/29)^2)
  const Ints above = t > splat(216.0f / 24389.0f);
  const Floats one = splat(1.0f);
  const Ints safe = ((Ints)t & above) | ((Ints)one & ~above);
  const Floats root = cubeRoots((Floats)safe);
  const Floats line = t * splat(kSlope) + splat(4.0f / 29.0f);
  const Floats rootSlope = one / (splat(3.0f) * root * root);
  slope = (Floats)(((Ints)rootSlope & above) | ((Ints)splat(kSlope) & ~above));
  return (Floats)(((Ints)root & above) | ((Ints)line & ~above));
}

// The filtered pixels of a row against the original's: each one's Delta E,
// and (when gradient is not null) how it changes with each filtered
// opponent value, for estimating small changes.
struct RowIn {
  const float* filtered[3];
  const float* lab[3];  // the original's L, a, b
};
struct RowOut {
  float* error;
  float* gradient[3];  // null: not wanted
};

// Delta E of n pixels, four at a time (the last few through a padded copy).
void rowErrors(const RowIn& in, const RowOut& out, int n) {
  const auto& m = matrices().toXyzOfWhite;
  const bool gradients = out.gradient[0] != nullptr;
  const auto four = [&m, gradients](const float* const (&p)[6], float* const (&po)[4]) {
    Floats v[6];
    for (int k = 0; k < 6; ++k) {
      std::memcpy(&v[k], p[k], sizeof v[k]);
    }
    Floats slope[3];
    Floats f[3];
    for (int c = 0; c < 3; ++c) {
      f[c] = labFs(splat(m[c][0]) * v[0] + splat(m[c][1]) * v[1] + splat(m[c][2]) * v[2], slope[c]);
    }
    const Floats dl = splat(116.0f) * f[1] - splat(16.0f) - v[3];
    const Floats da = splat(500.0f) * (f[0] - f[1]) - v[4];
    const Floats db = splat(200.0f) * (f[1] - f[2]) - v[5];
    const Floats squared = dl * dl + da * da + db * db;
    Floats e;
    for (int k = 0; k < kLanes; ++k) {
      e[k] = std::sqrt(squared[k]);
    }
    std::memcpy(po[0], &e, sizeof e);
    if (!gradients) {
      return;
    }
    // d(Delta E)/d(L, a, b) is the difference's direction; through L, a, b
    // to f, to t = XYZ over the white, to the opponent values.
    const Ints some = e > splat(0.0f);
    const Floats inverse = (Floats)((Ints)(splat(1.0f) / e) & some);
    const Floats ul = dl * inverse, ua = da * inverse, ub = db * inverse;
    const Floats dt[3] = {splat(500.0f) * ua * slope[0],
                          (splat(116.0f) * ul - splat(500.0f) * ua + splat(200.0f) * ub) * slope[1],
                          splat(-200.0f) * ub * slope[2]};
    for (int j = 0; j < 3; ++j) {
      const Floats g = dt[0] * splat(m[0][j]) + dt[1] * splat(m[1][j]) + dt[2] * splat(m[2][j]);
      std::memcpy(po[1 + j], &g, sizeof g);
    }
  };
  int i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    const float* const p[6] = {in.filtered[0] + i, in.filtered[1] + i, in.filtered[2] + i,
                               in.lab[0] + i,      in.lab[1] + i,      in.lab[2] + i};
    float gradientSink[3][kLanes];
    float* const po[4] = {out.error + i, gradients ? out.gradient[0] + i : gradientSink[0],
                          gradients ? out.gradient[1] + i : gradientSink[1],
                          gradients ? out.gradient[2] + i : gradientSink[2]};
    four(p, po);
  }
  if (i < n) {
    float pad[10][kLanes] = {};
    for (int k = 0; i + k < n; ++k) {
      for (int c = 0; c < 3; ++c) {
        pad[c][k] = in.filtered[c][i + k];
        pad[3 + c][k] = in.lab[c][i + k];
      }
    }
    four({pad[0], pad[1], pad[2], pad[3], pad[4], pad[5]}, {pad[6], pad[7], pad[8], pad[9]});
    for (int k = 0; i + k < n; ++k) {
      out.error[i + k] = pad[6][k];
      for (int c = 0; c < 3 && gradients; ++c) {
        out.gradient[c][i + k] = pad[7 + c][k];
      }
    }
  }
}

}  // namespace

float linearOfByteExact(int value) {
  const double v = value / 255.0;
  return steady(v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4), 24);
}

Opponent opponentOfRgb(const std::uint8_t (&rgb)[3]) {
  const auto& m = matrices().toOpponent;
  const float lin[3] = {linearOfByteExact(rgb[0]), linearOfByteExact(rgb[1]), linearOfByteExact(rgb[2])};
  Opponent out{};
  for (int c = 0; c < 3; ++c) {
    out.o[c] = m[c][0] * lin[0] + m[c][1] * lin[1] + m[c][2] * lin[2];
  }
  return out;
}

PerceptualField::PerceptualField(const std::vector<Opponent>& original, const std::vector<Opponent>& current,
                                 int width, int height, double samplesPerDegree)
    : width_(width), height_(height), staleFrom_(height) {
  const int taps = static_cast<int>(std::ceil(samplesPerDegree / 2)) * 2 - 1;
  radius_ = taps / 2;
  coreRadius_ = static_cast<int>(std::ceil(samplesPerDegree / 12));
  const auto build = [&](const Gaussian* gaussians, int count, std::vector<Component>& out) {
    double total = 0;
    for (int i = 0; i < count; ++i) {
      total += gaussians[i].weight;
    }
    for (int i = 0; i < count; ++i) {
      const double s = gaussians[i].spread * samplesPerDegree;
      std::vector<double> g(static_cast<std::size_t>(taps));
      double sum = 0;
      for (int n = -radius_; n <= radius_; ++n) {
        g[static_cast<std::size_t>(n + radius_)] = 0.5 * (std::erf((n + 0.5) / s) - std::erf((n - 0.5) / s));
        sum += g[static_cast<std::size_t>(n + radius_)];
      }
      Component component{steady(gaussians[i].weight / total, 30), {}};
      for (const double v : g) {
        component.taps.push_back(steady(v / sum, 30));
      }
      out.push_back(std::move(component));
    }
  };
  build(kLuminance, 3, components_[0]);
  build(kRedGreen, 2, components_[1]);
  build(kBlueYellow, 2, components_[2]);

  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<float> originalFiltered[3];
  filterAll(original, originalFiltered);
  for (int c = 0; c < 3; ++c) {
    originalLab_[c].resize(count);
  }
  for (std::size_t i = 0; i < count; ++i) {
    float lab[3];
    labOf({originalFiltered[0][i], originalFiltered[1][i], originalFiltered[2][i]}, lab);
    for (int c = 0; c < 3; ++c) {
      originalLab_[c][i] = lab[c];
    }
  }
  filterAll(current, filtered_);
  error_.resize(count);
  for (auto& plane : gradient_) {
    plane.resize(count);
  }
  rowErrors({{filtered_[0].data(), filtered_[1].data(), filtered_[2].data()},
             {originalLab_[0].data(), originalLab_[1].data(), originalLab_[2].data()}},
            {error_.data(), {gradient_[0].data(), gradient_[1].data(), gradient_[2].data()}}, static_cast<int>(count));
  for (const float e : error_) {
    total_ += e;
  }
}

void PerceptualField::filterAll(const std::vector<Opponent>& picture, std::vector<float> (&out)[3]) const {
  const std::size_t w = static_cast<std::size_t>(width_);
  const std::size_t count = w * static_cast<std::size_t>(height_);
  const std::size_t r = static_cast<std::size_t>(radius_);
  std::vector<float> rows(count);
  std::vector<float> padded(w + 2 * r);
  for (int c = 0; c < 3; ++c) {
    out[c].assign(count, 0.0f);
    for (const Component& component : components_[c]) {
      const float* g = component.taps.data();
      const std::size_t taps = component.taps.size();
      for (int y = 0; y < height_; ++y) {
        for (int x = -radius_; x < width_ + radius_; ++x) {
          padded[static_cast<std::size_t>(x + radius_)] =
              picture[static_cast<std::size_t>(y) * w + static_cast<std::size_t>(reflected(x, width_))].o[c];
        }
        float* dst = &rows[static_cast<std::size_t>(y) * w];
        std::fill(dst, dst + w, 0.0f);
        for (std::size_t k = 0; k < taps; ++k) {
          for (std::size_t x = 0; x < w; ++x) {
            dst[x] += g[k] * padded[x + k];
          }
        }
      }
      for (int y = 0; y < height_; ++y) {
        float* dst = &out[c][static_cast<std::size_t>(y) * w];
        for (std::size_t k = 0; k < taps; ++k) {
          const float gk = component.weight * g[k];
          const float* src = &rows[static_cast<std::size_t>(reflected(y + static_cast<int>(k) - radius_, height_)) * w];
          for (std::size_t x = 0; x < w; ++x) {
            dst[x] += gk * src[x];
          }
        }
      }
    }
  }
}

void PerceptualField::axisWeights(const Component& component, int p, int n, int from, int to, float* weights) const {
  // Filtered pixel q reads source positions q - r ... q + r; those that
  // reflect onto p are its images p and -1 - p, repeated every 2n. Each
  // image i within reach gives pixel q the tap at i - q.
  std::fill(weights, weights + (to - from + 1), 0.0f);
  if (p - radius_ >= 0 && p + radius_ < n) {
    // No image but p itself is within anyone's reach.
    const int first = std::max(from, p - radius_);
    const int last = std::min(to, p + radius_);
    for (int q = first; q <= last; ++q) {
      weights[q - from] = component.taps[static_cast<std::size_t>(p - q + radius_)];
    }
    return;
  }
  const int period = 2 * n;
  for (const int base : {p, -1 - p}) {
    const int low = from - radius_ - base;
    const int m = low >= 0 ? (low + period - 1) / period : -((-low) / period);
    for (int i = base + m * period; i <= to + radius_; i += period) {
      const int first = std::max(from, i - radius_);
      const int last = std::min(to, i + radius_);
      for (int q = first; q <= last; ++q) {
        weights[q - from] += component.taps[static_cast<std::size_t>(i - q + radius_)];
      }
    }
  }
}

namespace {

// The sum of a[i] b[i], i < n, four lanes at a time and then the lanes in
// order: a fixed order of float operations.
float dot(const float* a, const float* b, int n) {
  Floats sum = splat(0.0f);
  int i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    Floats va, vb;
    std::memcpy(&va, a + i, sizeof va);
    std::memcpy(&vb, b + i, sizeof vb);
    sum += va * vb;
  }
  float total = (sum[0] + sum[1]) + (sum[2] + sum[3]);
  for (; i < n; ++i) {
    total += a[i] * b[i];
  }
  return total;
}

constexpr int kMostComponents = 3;

std::size_t slotOf(int change, int plane, int component) {
  return static_cast<std::size_t>((change * 3 + plane) * kMostComponents + component);
}

}  // namespace

void PerceptualField::filterWindow(int fromY, int toY, int fromX, int toX) {
  const int w = x1_ - x0_ + 1;
  const int h = y1_ - y0_ + 1;
  const std::size_t imageWidth = static_cast<std::size_t>(width_);
  const int n = toX - fromX + 1;
  for (int y = fromY; y <= toY; ++y) {
    const std::size_t row = static_cast<std::size_t>(y - y0_) * static_cast<std::size_t>(w) + static_cast<std::size_t>(fromX - x0_);
    const std::size_t at = static_cast<std::size_t>(y) * imageWidth + static_cast<std::size_t>(fromX);
    for (int c = 0; c < 3; ++c) {
      // The kept value plus each component's share, in that order.
      float scale[kMostComponents];
      const float* wx[kMostComponents];
      int terms = 0;
      for (std::size_t k = 0; k < components_[c].size(); ++k) {
        const std::size_t s = slotOf(0, c, static_cast<int>(k));
        scale[terms] = weightsY_[s * static_cast<std::size_t>(h) + static_cast<std::size_t>(y - y0_)];
        wx[terms] = &weightsX_[s * static_cast<std::size_t>(w) + static_cast<std::size_t>(fromX - x0_)];
        terms += scale[terms] != 0.0f ? 1 : 0;
      }
      const float* kept = &filtered_[c][at];
      float* out = &trialFiltered_[c][row];
      for (int x = 0; x < n; ++x) {
        float v = kept[x];
        for (int t = 0; t < terms; ++t) {
          v += scale[t] * wx[t][x];
        }
        out[x] = v;
      }
    }
  }
}

void PerceptualField::slopesFor(int y) {
  // slope_[c][p] = d(total)/d(opponent value c of pixel (p, y)): the
  // gradient filtered back through the filter (its transpose), down the
  // column and then along the row, component by component.
  const int from = std::max(0, y - radius_);
  const int to = std::min(height_ - 1, y + radius_);
  const std::size_t imageWidth = static_cast<std::size_t>(width_);
  std::vector<float> down(imageWidth);
  std::vector<float> along(static_cast<std::size_t>(2 * radius_ + 1));
  std::vector<float> column(static_cast<std::size_t>(to - from + 1));
  for (int c = 0; c < 3; ++c) {
    slope_[c].assign(imageWidth, 0.0f);
    for (const Component& component : components_[c]) {
      axisWeights(component, y, height_, from, to, column.data());
      std::fill(down.begin(), down.end(), 0.0f);
      for (int q = from; q <= to; ++q) {
        const float wq = column[static_cast<std::size_t>(q - from)];
        if (wq == 0.0f) {
          continue;
        }
        const float* g = &gradient_[c][static_cast<std::size_t>(q) * imageWidth];
        for (std::size_t x = 0; x < imageWidth; ++x) {
          down[x] += wq * g[x];
        }
      }
      for (int p = 0; p < width_; ++p) {
        const int low = std::max(0, p - radius_);
        const int high = std::min(width_ - 1, p + radius_);
        axisWeights(component, p, width_, low, high, along.data());
        slope_[c][static_cast<std::size_t>(p)] +=
            component.weight * dot(along.data(), &down[static_cast<std::size_t>(low)], high - low + 1);
      }
    }
  }
  slopeRow_ = y;
}

void PerceptualField::spread(int fromY, int toY, int fromX, int toX) {
  // Per plane and component, the change's spread along each axis: down
  // the column the same for every change (one row), along the row the sum
  // of each change's weights times its change of the plane and the
  // component's weight. The filtered change at (x, y) is then
  // wy(y) x wx(x), summed over the components.
  const int w = x1_ - x0_ + 1;
  const int h = y1_ - y0_ + 1;
  const std::size_t slots = 3 * kMostComponents;
  weightsX_.resize(slots * static_cast<std::size_t>(w));
  weightsY_.resize(slots * static_cast<std::size_t>(h));
  const int n = toX - fromX + 1;
  scratch_.resize(static_cast<std::size_t>(n));
  for (int c = 0; c < 3; ++c) {
    for (std::size_t k = 0; k < components_[c].size(); ++k) {
      const std::size_t s = slotOf(0, c, static_cast<int>(k));
      float* wx = &weightsX_[s * static_cast<std::size_t>(w) + static_cast<std::size_t>(fromX - x0_)];
      float* wy = &weightsY_[s * static_cast<std::size_t>(h) + static_cast<std::size_t>(fromY - y0_)];
      axisWeights(components_[c][k], changedY_, height_, fromY, toY, wy);
      std::fill(wx, wx + n, 0.0f);
      for (const PixelChange& change : trial_) {
        const float scale = change.delta.o[c] * components_[c][k].weight;
        if (scale == 0.0f) {
          continue;
        }
        axisWeights(components_[c][k], change.x, width_, fromX, toX, scratch_.data());
        for (int x = 0; x < n; ++x) {
          wx[x] += scale * scratch_[static_cast<std::size_t>(x)];
        }
      }
    }
  }
}

double PerceptualField::firstOrder(const PixelChange* changes, int count) {
  // All the changes lie on one row.
  const int changedY = changes[0].y;
  int lowX = width_, highX = -1;
  for (int i = 0; i < count; ++i) {
    lowX = std::min(lowX, changes[i].x);
    highX = std::max(highX, changes[i].x);
  }
  lowX_ = lowX;
  highX_ = highX;
  changedY_ = changedY;
  x0_ = std::max(0, lowX - radius_);
  x1_ = std::min(width_ - 1, highX + radius_);
  y0_ = std::max(0, changedY - radius_);
  y1_ = std::min(height_ - 1, changedY + radius_);
  trial_.assign(changes, changes + count);
  trialExact_ = false;
  const std::size_t area = static_cast<std::size_t>(x1_ - x0_ + 1) * static_cast<std::size_t>(y1_ - y0_ + 1);
  for (auto& plane : trialFiltered_) {
    plane.resize(area);
  }
  trialError_.resize(area);
  if (slopeRow_ != changedY) {
    slopesFor(changedY);
  }
  // First order over the whole reach: the sum over pixels q of
  // gradient(q) x change of filtered(q), which is each change times the
  // slope at its pixel.
  float linear = 0;
  for (int i = 0; i < count; ++i) {
    const std::size_t x = static_cast<std::size_t>(changes[i].x);
    linear += changes[i].delta.o[0] * slope_[0][x] + changes[i].delta.o[1] * slope_[1][x] +
              changes[i].delta.o[2] * slope_[2][x];
  }
  return static_cast<double>(linear);
}

double PerceptualField::correction() {
  const int lowX = lowX_;
  const int highX = highX_;
  const int lowY = changedY_;
  const int highY = changedY_;
  const std::size_t imageWidth = static_cast<std::size_t>(width_);
  // Near the changes, where the filtered values move most, exactly: the
  // first-order terms there are replaced by the true change.
  const int coreX0 = std::max(0, lowX - coreRadius_);
  const int coreX1 = std::min(width_ - 1, highX + coreRadius_);
  const int coreY0 = std::max(0, lowY - coreRadius_);
  const int coreY1 = std::min(height_ - 1, highY + coreRadius_);
  const int w = x1_ - x0_ + 1;
  spread(coreY0, coreY1, coreX0, coreX1);
  filterWindow(coreY0, coreY1, coreX0, coreX1);
  const int n = coreX1 - coreX0 + 1;
  double core = 0;
  for (int y = coreY0; y <= coreY1; ++y) {
    const std::size_t r = static_cast<std::size_t>(y - y0_) * static_cast<std::size_t>(w) + static_cast<std::size_t>(coreX0 - x0_);
    const std::size_t at = static_cast<std::size_t>(y) * imageWidth + static_cast<std::size_t>(coreX0);
    rowErrors({{&trialFiltered_[0][r], &trialFiltered_[1][r], &trialFiltered_[2][r]},
               {&originalLab_[0][at], &originalLab_[1][at], &originalLab_[2][at]}},
              {&trialError_[r], {nullptr, nullptr, nullptr}}, n);
    const float* now = &error_[at];
    float rowDelta = 0;
    for (int x = 0; x < n; ++x) {
      const std::size_t i = at + static_cast<std::size_t>(x);
      const std::size_t t = r + static_cast<std::size_t>(x);
      rowDelta += trialError_[t] - now[x] -
                  (gradient_[0][i] * (trialFiltered_[0][t] - filtered_[0][i]) +
                   gradient_[1][i] * (trialFiltered_[1][t] - filtered_[1][i]) +
                   gradient_[2][i] * (trialFiltered_[2][t] - filtered_[2][i]));
    }
    core += rowDelta;
  }
  return core;
}

double PerceptualField::estimate(const PixelChange* changes, int count) {
  const double linear = firstOrder(changes, count);
  return linear + correction();
}

double PerceptualField::exact() {
  const int w = x1_ - x0_ + 1;
  const std::size_t imageWidth = static_cast<std::size_t>(width_);
  spread(y0_, y1_, x0_, x1_);
  filterWindow(y0_, y1_, x0_, x1_);
  double change = 0;
  for (int y = y0_; y <= y1_; ++y) {
    const std::size_t r = static_cast<std::size_t>(y - y0_) * static_cast<std::size_t>(w);
    const std::size_t at = static_cast<std::size_t>(y) * imageWidth + static_cast<std::size_t>(x0_);
    rowErrors({{&trialFiltered_[0][r], &trialFiltered_[1][r], &trialFiltered_[2][r]},
               {&originalLab_[0][at], &originalLab_[1][at], &originalLab_[2][at]}},
              {&trialError_[r], {nullptr, nullptr, nullptr}}, w);
    float rowDelta = 0;
    for (int x = 0; x < w; ++x) {
      rowDelta += trialError_[r + static_cast<std::size_t>(x)] - error_[at + static_cast<std::size_t>(x)];
    }
    change += rowDelta;
  }
  exactChange_ = change;
  trialExact_ = true;
  return change;
}

void PerceptualField::commitTrial() {
  if (!trialExact_) {
    exact();
  }
  const int w = x1_ - x0_ + 1;
  const std::size_t imageWidth = static_cast<std::size_t>(width_);
  for (int y = y0_; y <= y1_; ++y) {
    const std::size_t r = static_cast<std::size_t>(y - y0_) * static_cast<std::size_t>(w);
    const std::size_t at = static_cast<std::size_t>(y) * imageWidth + static_cast<std::size_t>(x0_);
    for (int c = 0; c < 3; ++c) {
      std::copy_n(&trialFiltered_[c][r], w, &filtered_[c][at]);
    }
    std::copy_n(&trialError_[r], w, &error_[at]);
  }
  total_ += exactChange_;
  trialExact_ = false;
  staleFrom_ = std::min(staleFrom_, y0_);
  staleTo_ = std::max(staleTo_, y1_);
}

void PerceptualField::refresh() {
  // The errors there are exact already (commitTrial); the gradients come
  // with them.
  const std::size_t imageWidth = static_cast<std::size_t>(width_);
  for (int y = staleFrom_; y <= staleTo_; ++y) {
    const std::size_t at = static_cast<std::size_t>(y) * imageWidth;
    rowErrors({{&filtered_[0][at], &filtered_[1][at], &filtered_[2][at]},
               {&originalLab_[0][at], &originalLab_[1][at], &originalLab_[2][at]}},
              {&error_[at], {&gradient_[0][at], &gradient_[1][at], &gradient_[2][at]}}, width_);
  }
  if (staleFrom_ <= staleTo_) {
    slopeRow_ = -1;
  }
  staleFrom_ = height_;
  staleTo_ = -1;
}

PerceptualField::Check PerceptualField::recompute(const std::vector<Opponent>& current) const {
  std::vector<float> fresh[3];
  filterAll(current, fresh);
  Check check{0.0f, 0.0};
  std::vector<float> errors(error_.size());
  rowErrors({{fresh[0].data(), fresh[1].data(), fresh[2].data()},
             {originalLab_[0].data(), originalLab_[1].data(), originalLab_[2].data()}},
            {errors.data(), {nullptr, nullptr, nullptr}}, static_cast<int>(errors.size()));
  for (std::size_t i = 0; i < error_.size(); ++i) {
    for (int c = 0; c < 3; ++c) {
      check.largestFilteredDifference = std::max(check.largestFilteredDifference, std::fabs(fresh[c][i] - filtered_[c][i]));
    }
    check.total += errors[i];
  }
  return check;
}

}  // namespace kovrel
