#include "quality/perceptual_field.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kovrel {
namespace {

// The matrices and Gaussians of quality/perceptual.cpp; see there.
constexpr double kRgbToXyz[3][3] = {{0.4124, 0.3576, 0.1805}, {0.2126, 0.7152, 0.0722}, {0.0193, 0.1192, 0.9505}};
constexpr double kXyzToOpponent[3][3] = {{0.2787336, 0.7218031, -0.1065520},
                                         {-0.4487736, 0.2898056, 0.0771569},
                                         {0.0859513, -0.5899859, 0.5011089}};
struct Gaussian {
  double weight;
  double spread;  // degrees
};
constexpr Gaussian kLuminance[] = {{0.921, 0.0283}, {0.105, 0.133}, {-0.108, 4.336}};
constexpr Gaussian kRedGreen[] = {{0.531, 0.0392}, {0.330, 0.494}};
constexpr Gaussian kBlueYellow[] = {{0.488, 0.0536}, {0.371, 0.386}};

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

// The cube root of t > 0 by Newton's method from a guess made of t's bits:
// three steps take the guess's 3 % error below float precision.
inline float cubeRoot(float t) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &t, sizeof bits);
  bits = bits / 3 + 0x2a514067u;
  float y = 0;
  std::memcpy(&y, &bits, sizeof y);
  for (int i = 0; i < 3; ++i) {
    y = (y + y + t / (y * y)) / 3.0f;
  }
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

int reflected(int i, int n) {
  const int period = 2 * n;
  int m = i % period;
  if (m < 0) {
    m += period;
  }
  return m < n ? m : period - 1 - m;
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
    : width_(width), height_(height) {
  const int taps = static_cast<int>(std::ceil(samplesPerDegree / 2)) * 2 - 1;
  radius_ = taps / 2;
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
  for (std::size_t i = 0; i < count; ++i) {
    error_[i] = pixelError(i, filtered_[0][i], filtered_[1][i], filtered_[2][i]);
    total_ += error_[i];
  }
}

void PerceptualField::filterAll(const std::vector<Opponent>& picture, std::vector<float> (&out)[3]) const {
  const std::size_t w = static_cast<std::size_t>(width_);
  const std::size_t count = w * static_cast<std::size_t>(height_);
  std::vector<float> rows(count);
  for (int c = 0; c < 3; ++c) {
    out[c].assign(count, 0.0f);
    for (const Component& component : components_[c]) {
      const float* g = component.taps.data();
      for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
          float v = 0;
          for (int k = -radius_; k <= radius_; ++k) {
            v += g[k + radius_] * picture[static_cast<std::size_t>(y) * w + static_cast<std::size_t>(reflected(x + k, width_))].o[c];
          }
          rows[static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x)] = v;
        }
      }
      for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
          float v = 0;
          for (int k = -radius_; k <= radius_; ++k) {
            v += g[k + radius_] * rows[static_cast<std::size_t>(reflected(y + k, height_)) * w + static_cast<std::size_t>(x)];
          }
          out[c][static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x)] += component.weight * v;
        }
      }
    }
  }
}

float PerceptualField::pixelError(std::size_t i, float o1, float o2, float o3) const {
  float lab[3];
  labOf({o1, o2, o3}, lab);
  const float dl = lab[0] - originalLab_[0][i];
  const float da = lab[1] - originalLab_[1][i];
  const float db = lab[2] - originalLab_[2][i];
  return std::sqrt(dl * dl + da * da + db * db);
}

void PerceptualField::axisWeights(const Component& component, int p, int n, int from, int to, float* weights) const {
  // Filtered pixel q reads source positions q - r ... q + r; those that
  // reflect onto p are p and -1 - p, repeated every 2n.
  const int period = 2 * n;
  for (int q = from; q <= to; ++q) {
    float w = 0;
    for (const int base : {p, -1 - p}) {
      const int low = q - radius_ - base;
      int m = low >= 0 ? (low + period - 1) / period : -((-low) / period);
      for (int i = base + m * period; i <= q + radius_; i += period) {
        w += component.taps[static_cast<std::size_t>(i - q + radius_)];
      }
    }
    weights[q - from] = w;
  }
}

double PerceptualField::trial(const PixelChange* changes, int count) {
  int lowX = width_, highX = -1, lowY = height_, highY = -1;
  for (int i = 0; i < count; ++i) {
    lowX = std::min(lowX, changes[i].x);
    highX = std::max(highX, changes[i].x);
    lowY = std::min(lowY, changes[i].y);
    highY = std::max(highY, changes[i].y);
  }
  x0_ = std::max(0, lowX - radius_);
  x1_ = std::min(width_ - 1, highX + radius_);
  y0_ = std::max(0, lowY - radius_);
  y1_ = std::min(height_ - 1, highY + radius_);
  const int w = x1_ - x0_ + 1;
  const int h = y1_ - y0_ + 1;
  const std::size_t area = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  for (auto& plane : trialFiltered_) {
    plane.resize(area);
  }
  trialError_.resize(area);

  // The weights along each axis of every change, plane and component.
  constexpr int kMostComponents = 3;
  const std::size_t stride = static_cast<std::size_t>(count * 3 * kMostComponents);
  weightsX_.resize(stride * static_cast<std::size_t>(w));
  weightsY_.resize(stride * static_cast<std::size_t>(h));
  const auto slot = [](int change, int plane, int component) {
    return static_cast<std::size_t>((change * 3 + plane) * kMostComponents + component);
  };
  for (int i = 0; i < count; ++i) {
    for (int c = 0; c < 3; ++c) {
      for (std::size_t k = 0; k < components_[c].size(); ++k) {
        const std::size_t s = slot(i, c, static_cast<int>(k));
        axisWeights(components_[c][k], changes[i].x, width_, x0_, x1_, &weightsX_[s * static_cast<std::size_t>(w)]);
        axisWeights(components_[c][k], changes[i].y, height_, y0_, y1_, &weightsY_[s * static_cast<std::size_t>(h)]);
      }
    }
  }

  double delta = 0;
  const std::size_t imageWidth = static_cast<std::size_t>(width_);
  for (int y = y0_; y <= y1_; ++y) {
    const std::size_t row = static_cast<std::size_t>(y - y0_) * static_cast<std::size_t>(w);
    const std::size_t at = static_cast<std::size_t>(y) * imageWidth + static_cast<std::size_t>(x0_);
    for (int c = 0; c < 3; ++c) {
      float* out = &trialFiltered_[c][row];
      std::copy_n(&filtered_[c][at], w, out);
      for (int i = 0; i < count; ++i) {
        for (std::size_t k = 0; k < components_[c].size(); ++k) {
          const std::size_t s = slot(i, c, static_cast<int>(k));
          const float scale =
              changes[i].delta.o[c] * components_[c][k].weight * weightsY_[s * static_cast<std::size_t>(h) + static_cast<std::size_t>(y - y0_)];
          if (scale == 0.0f) {
            continue;
          }
          const float* wx = &weightsX_[s * static_cast<std::size_t>(w)];
          for (int x = 0; x < w; ++x) {
            out[x] += scale * wx[x];
          }
        }
      }
    }
    float rowDelta = 0;
    for (int x = 0; x < w; ++x) {
      const std::size_t r = row + static_cast<std::size_t>(x);
      const float e = pixelError(at + static_cast<std::size_t>(x), trialFiltered_[0][r], trialFiltered_[1][r],
                                 trialFiltered_[2][r]);
      trialError_[r] = e;
      rowDelta += e - error_[at + static_cast<std::size_t>(x)];
    }
    delta += rowDelta;
  }
  trialDelta_ = delta;
  return delta;
}

void PerceptualField::commitTrial() {
  const int w = x1_ - x0_ + 1;
  const std::size_t imageWidth = static_cast<std::size_t>(width_);
  for (int y = y0_; y <= y1_; ++y) {
    const std::size_t row = static_cast<std::size_t>(y - y0_) * static_cast<std::size_t>(w);
    const std::size_t at = static_cast<std::size_t>(y) * imageWidth + static_cast<std::size_t>(x0_);
    for (int c = 0; c < 3; ++c) {
      std::copy_n(&trialFiltered_[c][row], w, &filtered_[c][at]);
    }
    std::copy_n(&trialError_[row], w, &error_[at]);
  }
  total_ += trialDelta_;
}

PerceptualField::Check PerceptualField::recompute(const std::vector<Opponent>& current) const {
  std::vector<float> fresh[3];
  filterAll(current, fresh);
  Check check{0.0f, 0.0};
  for (std::size_t i = 0; i < error_.size(); ++i) {
    for (int c = 0; c < 3; ++c) {
      check.largestFilteredDifference = std::max(check.largestFilteredDifference, std::fabs(fresh[c][i] - filtered_[c][i]));
    }
    check.total += pixelError(i, fresh[0][i], fresh[1][i], fresh[2][i]);
  }
  return check;
}

}  // namespace kovrel
