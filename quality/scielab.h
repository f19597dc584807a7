// The constants of the S-CIELAB measure (Zhang and Wandell): the colour
// matrices and each opponent plane's Gaussians, shared by the measure
// (quality/perceptual.cpp) and the optimiser's running account of it
// (quality/perceptual_field.cpp).
#pragma once

namespace kovrel::scielab {

// Linear RGB to CIE XYZ, rows X, Y, Z (IEC 61966-2-1).
inline constexpr double kRgbToXyz[3][3] = {
    {0.4124, 0.3576, 0.1805}, {0.2126, 0.7152, 0.0722}, {0.0193, 0.1192, 0.9505}};

// CIE XYZ (1931, 2 degrees) to the opponent planes O1 (luminance), O2
// (red-green), O3 (blue-yellow), as the authors' own code has it.
inline constexpr double kXyzToOpponent[3][3] = {{0.2787336, 0.7218031, -0.1065520},
                                                {-0.4487736, 0.2898056, 0.0771569},
                                                {0.0859513, -0.5899859, 0.5011089}};

// Per plane, the Gaussians exp(-r^2 / s^2): weight and spread s in degrees.
struct Gaussian {
  double weight;
  double spread;
};
inline constexpr Gaussian kLuminance[] = {{0.921, 0.0283}, {0.105, 0.133}, {-0.108, 4.336}};
inline constexpr Gaussian kRedGreen[] = {{0.531, 0.0392}, {0.330, 0.494}};
inline constexpr Gaussian kBlueYellow[] = {{0.488, 0.0536}, {0.371, 0.386}};

// Index i of a row of n samples extended by half-sample reflection
// (... 2 1 0 | 0 1 2 ... n-1 | n-1 n-2 ...), for any i: how the filters
// treat the picture's edges.
inline int reflected(int i, int n) {
  const int period = 2 * n;
  int m = i % period;
  if (m < 0) {
    m += period;
  }
  return m < n ? m : period - 1 - m;
}

}  // namespace kovrel::scielab
