#include "quality/perceptual.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

#include "quality/scielab.h"

namespace kovrel {
namespace {

constexpr int kPlanes = 3;

using scielab::Gaussian;
using scielab::kBlueYellow;
using scielab::kLuminance;
using scielab::kRedGreen;
using scielab::kRgbToXyz;
using scielab::kXyzToOpponent;
using scielab::reflected;

struct Matrix {
  double m[3][3];
};

Matrix product(const double (&left)[3][3], const double (&right)[3][3]) {
  Matrix p{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) {
        p.m[i][j] += left[i][k] * right[k][j];
      }
    }
  }
  return p;
}

Matrix inverse(const double (&a)[3][3]) {
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  Matrix inv{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      // The cofactor of a[j][i], by cyclic indices.
      const int r0 = (j + 1) % 3;
      const int r1 = (j + 2) % 3;
      const int c0 = (i + 1) % 3;
      const int c1 = (i + 2) % 3;
      inv.m[i][j] = (a[r0][c0] * a[r1][c1] - a[r0][c1] * a[r1][c0]) / det;
    }
  }
  return inv;
}

double linearOfByte(int value) {
  const double v = value / 255.0;
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// One Gaussian, integrated over each tap's pixel and normalised to sum 1.
std::vector<float> gaussianTaps(double spreadPixels, int taps) {
  const int r = taps / 2;
  std::vector<double> g(static_cast<std::size_t>(taps));
  double sum = 0;
  for (int n = -r; n <= r; ++n) {
    const double v = 0.5 * (std::erf((n + 0.5) / spreadPixels) - std::erf((n - 0.5) / spreadPixels));
    g[static_cast<std::size_t>(n + r)] = v;
    sum += v;
  }
  std::vector<float> out(g.size());
  for (std::size_t k = 0; k < g.size(); ++k) {
    out[k] = static_cast<float>(g[k] / sum);
  }
  return out;
}

struct Component {
  float weight;
  std::vector<float> taps;
};

template <std::size_t N>
std::vector<Component> planeComponents(const Gaussian (&gaussians)[N], double ppd, int taps) {
  double total = 0;
  for (const Gaussian& g : gaussians) {
    total += g.weight;
  }
  std::vector<Component> out;
  for (const Gaussian& g : gaussians) {
    out.push_back({static_cast<float>(g.weight / total), gaussianTaps(g.spread * ppd, taps)});
  }
  return out;
}

// A picture's three planes, each width x height floats in rows.
struct Planes {
  int width = 0;
  int height = 0;
  std::vector<float> plane[kPlanes];
};

// Filters one plane with the sum of separable components: rows, then
// columns, edges reflected.
std::vector<float> filterPlane(const std::vector<float>& in, int width, int height,
                               const std::vector<Component>& components) {
  const std::size_t w = static_cast<std::size_t>(width);
  std::vector<float> out(in.size(), 0.0f);
  std::vector<float> rows(in.size());
  const int taps = static_cast<int>(components.front().taps.size());
  const int r = taps / 2;
  std::vector<float> padded(w + static_cast<std::size_t>(2 * r));
  std::vector<int> rowOf(static_cast<std::size_t>(height + 2 * r));
  for (int i = -r; i < height + r; ++i) {
    rowOf[static_cast<std::size_t>(i + r)] = reflected(i, height);
  }
  for (const Component& c : components) {
    const float* g = c.taps.data();
    for (int y = 0; y < height; ++y) {
      const float* src = &in[static_cast<std::size_t>(y) * w];
      for (int i = -r; i < width + r; ++i) {
        padded[static_cast<std::size_t>(i + r)] = src[reflected(i, width)];
      }
      float* dst = &rows[static_cast<std::size_t>(y) * w];
      std::fill(dst, dst + w, 0.0f);
      for (int k = 0; k < taps; ++k) {
        const float gk = g[k];
        const float* p = &padded[static_cast<std::size_t>(k)];
        for (std::size_t x = 0; x < w; ++x) {
          dst[x] += gk * p[x];
        }
      }
    }
    for (int y = 0; y < height; ++y) {
      float* dst = &out[static_cast<std::size_t>(y) * w];
      for (int k = 0; k < taps; ++k) {
        const float gk = c.weight * g[k];
        const float* src = &rows[static_cast<std::size_t>(rowOf[static_cast<std::size_t>(y + k)]) * w];
        for (std::size_t x = 0; x < w; ++x) {
          dst[x] += gk * src[x];
        }
      }
    }
  }
  return out;
}

double labF(double t) {
  constexpr double kDelta = 6.0 / 29.0;
  return t > kDelta * kDelta * kDelta ? std::cbrt(t) : t / (3 * kDelta * kDelta) + 4.0 / 29.0;
}

const std::vector<double>& linearOfBytes() {
  static const std::vector<double> table = [] {
    std::vector<double> t(256);
    for (int v = 0; v < 256; ++v) {
      t[static_cast<std::size_t>(v)] = linearOfByte(v);
    }
    return t;
  }();
  return table;
}

// The filtered picture in CIELAB, pixel by pixel, from its pixels in linear
// light: linear(i, c) is channel c of pixel i.
template <typename Linear>
std::vector<Lab> filteredLab(const Linear& linear, int width, int height, double ppd) {
  static const Matrix toOpponent = product(kXyzToOpponent, kRgbToXyz);
  static const Matrix toXyz = inverse(kXyzToOpponent);
  static const double white[3] = {kRgbToXyz[0][0] + kRgbToXyz[0][1] + kRgbToXyz[0][2],
                                  kRgbToXyz[1][0] + kRgbToXyz[1][1] + kRgbToXyz[1][2],
                                  kRgbToXyz[2][0] + kRgbToXyz[2][1] + kRgbToXyz[2][2]};

  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  Planes planes;
  for (std::vector<float>& p : planes.plane) {
    p.resize(count);
  }
  for (std::size_t i = 0; i < count; ++i) {
    const double lin[3] = {linear(i, 0), linear(i, 1), linear(i, 2)};
    for (int c = 0; c < kPlanes; ++c) {
      const double* row = toOpponent.m[c];
      planes.plane[c][i] = static_cast<float>(row[0] * lin[0] + row[1] * lin[1] + row[2] * lin[2]);
    }
  }
  const int taps = perceptualTaps(ppd);
  const std::vector<float> filtered[kPlanes] = {
      filterPlane(planes.plane[0], width, height, planeComponents(kLuminance, ppd, taps)),
      filterPlane(planes.plane[1], width, height, planeComponents(kRedGreen, ppd, taps)),
      filterPlane(planes.plane[2], width, height, planeComponents(kBlueYellow, ppd, taps))};

  std::vector<Lab> lab(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double o[3] = {filtered[0][i], filtered[1][i], filtered[2][i]};
    double f[3];
    for (int c = 0; c < 3; ++c) {
      const double* row = toXyz.m[c];
      f[c] = labF((row[0] * o[0] + row[1] * o[1] + row[2] * o[2]) / white[c]);
    }
    lab[i] = {116 * f[1] - 16, 500 * (f[0] - f[1]), 200 * (f[1] - f[2])};
  }
  return lab;
}

PerceptualError meanDifference(const std::vector<Lab>& first, const std::vector<Lab>& second) {
  double sum76 = 0;
  double sum2000 = 0;
  for (std::size_t i = 0; i < first.size(); ++i) {
    const double dl = first[i].l - second[i].l;
    const double da = first[i].a - second[i].a;
    const double db = first[i].b - second[i].b;
    sum76 += std::sqrt(dl * dl + da * da + db * db);
    sum2000 += ciede2000(first[i], second[i]);
  }
  const double n = static_cast<double>(first.size());
  return {sum76 / n, sum2000 / n};
}

constexpr double kPi = 3.14159265358979323846;
double radians(double degrees) { return degrees * kPi / 180; }
double degrees(double radians) { return radians * 180 / kPi; }

}  // namespace

int perceptualTaps(double samplesPerDegree) {
  return static_cast<int>(std::ceil(samplesPerDegree / 2)) * 2 - 1;
}

double ciede2000(const Lab& first, const Lab& second) {
  const double c1 = std::hypot(first.a, first.b);
  const double c2 = std::hypot(second.a, second.b);
  const double cMean7 = std::pow((c1 + c2) / 2, 7);
  const double twentyFive7 = 6103515625.0;  // 25^7
  const double g = 0.5 * (1 - std::sqrt(cMean7 / (cMean7 + twentyFive7)));
  const double a1 = (1 + g) * first.a;
  const double a2 = (1 + g) * second.a;
  const double c1p = std::hypot(a1, first.b);
  const double c2p = std::hypot(a2, second.b);
  const auto hue = [](double b, double a) {
    if (a == 0 && b == 0) {
      return 0.0;
    }
    const double h = degrees(std::atan2(b, a));
    return h < 0 ? h + 360 : h;
  };
  const double h1 = hue(first.b, a1);
  const double h2 = hue(second.b, a2);
  const bool achromatic = c1p * c2p == 0;
  double dh = h2 - h1;
  if (achromatic) {
    dh = 0;
  } else if (dh > 180) {
    dh -= 360;
  } else if (dh < -180) {
    dh += 360;
  }
  const double dL = second.l - first.l;
  const double dC = c2p - c1p;
  const double dH = 2 * std::sqrt(c1p * c2p) * std::sin(radians(dh / 2));
  const double lMean = (first.l + second.l) / 2;
  const double cpMean = (c1p + c2p) / 2;
  double hMean = h1 + h2;
  if (!achromatic) {
    if (std::fabs(h1 - h2) <= 180) {
      hMean /= 2;
    } else {
      hMean = hMean < 360 ? (hMean + 360) / 2 : (hMean - 360) / 2;
    }
  }
  const double t = 1 - 0.17 * std::cos(radians(hMean - 30)) + 0.24 * std::cos(radians(2 * hMean)) +
                   0.32 * std::cos(radians(3 * hMean + 6)) - 0.20 * std::cos(radians(4 * hMean - 63));
  const double dTheta = 30 * std::exp(-((hMean - 275) / 25) * ((hMean - 275) / 25));
  const double cpMean7 = std::pow(cpMean, 7);
  const double rc = 2 * std::sqrt(cpMean7 / (cpMean7 + twentyFive7));
  const double l50 = (lMean - 50) * (lMean - 50);
  const double sl = 1 + 0.015 * l50 / std::sqrt(20 + l50);
  const double sc = 1 + 0.045 * cpMean;
  const double sh = 1 + 0.015 * cpMean * t;
  const double rt = -std::sin(radians(2 * dTheta)) * rc;
  const double l = dL / sl;
  const double c = dC / sc;
  const double h = dH / sh;
  return std::sqrt(l * l + c * c + h * h + rt * c * h);
}

PerceptualError perceptualError(const std::uint8_t* a, const std::uint8_t* b, int width, int height,
                                double samplesPerDegree) {
  const std::vector<double>& linear = linearOfBytes();
  const auto of = [&linear](const std::uint8_t* rgb) {
    return [&linear, rgb](std::size_t i, int c) { return linear[rgb[3 * i + static_cast<std::size_t>(c)]]; };
  };
  return meanDifference(filteredLab(of(a), width, height, samplesPerDegree),
                        filteredLab(of(b), width, height, samplesPerDegree));
}

PerceptualError perceptualErrorOfLinear(const double* a, const double* b, int width, int height,
                                        double samplesPerDegree) {
  const auto of = [](const double* rgb) {
    return [rgb](std::size_t i, int c) { return rgb[3 * i + static_cast<std::size_t>(c)]; };
  };
  return meanDifference(filteredLab(of(a), width, height, samplesPerDegree),
                        filteredLab(of(b), width, height, samplesPerDegree));
}

namespace {

std::vector<std::uint8_t> bytesOf(const WorkingImage& image, int width, int height) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * kChannels);
  std::size_t i = 0;
  for (int y = 0; y < height; ++y) {
    const Sample* p = image.pixel(0, y);
    for (int x = 0; x < width * kChannels; ++x) {
      out[i++] = static_cast<std::uint8_t>(clampSample(p[x]) / kSampleScale);
    }
  }
  return out;
}

}  // namespace

PerceptualError perceptualError(const WorkingImage& a, const WorkingImage& b, double samplesPerDegree) {
  const std::vector<std::uint8_t> first = bytesOf(a, a.width, a.height);
  const std::vector<std::uint8_t> second = bytesOf(b, a.width, a.height);
  return perceptualError(first.data(), second.data(), a.width, a.height, samplesPerDegree);
}

}  // namespace kovrel

namespace kovrel {

std::string perceptualReport(const WorkingImage& before, const WorkingImage& after) {
  const PerceptualError near = perceptualError(before, after, kNearSamplesPerDegree);
  const PerceptualError far = perceptualError(before, after, kFarSamplesPerDegree);
  char text[200];
  std::snprintf(text, sizeof text,
                "Perceived difference (S-CIELAB mean Delta E 1976 / CIEDE2000): %.2f / %.2f at %.0f pixels per "
                "degree, %.2f / %.2f at %.0f.\n",
                near.deltaE76, near.deltaE2000, kNearSamplesPerDegree, far.deltaE76, far.deltaE2000,
                kFarSamplesPerDegree);
  return text;
}

}  // namespace kovrel
