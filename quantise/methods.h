// The ways a picture can be quantised, and the error kernels the diffusing
// ones spread their error with. Each has a name the command line and the web
// page use; adding a method means one more enumerator, one more row in
// kMethodNames and one more case where convertPicture picks the pass.
#pragma once

#include <string>

namespace kovrel {

enum class Method {
  kClassic,  // error carried on the gamma-coded samples (the plain behaviour)
  kLinear,   // the same search, with the error carried in linear light
  kOrdered,  // an 8 x 8 Bayer threshold between the best pair's colours
  kOptimise,  // linear, then improved as it is perceived (quantise/optimise.h)
};

enum class ErrorKernel {
  kFloyd,     // Floyd and Steinberg 1976
  kAtkinson,  // Bill Atkinson's, for the Macintosh: 3/4 of the error spread
  kJjn,       // Jarvis, Judice and Ninke 1976
  kStucki,    // Stucki 1981
  kSierra,    // Frankie Sierra's three-row kernel
};

struct MethodName {
  const char* name;
  Method method;
};
inline constexpr MethodName kMethodNames[] = {
    {"classic", Method::kClassic},
    {"linear", Method::kLinear},
    {"ordered", Method::kOrdered},
    {"optimise", Method::kOptimise},
};

struct KernelName {
  const char* name;
  ErrorKernel kernel;
};
inline constexpr KernelName kKernelNames[] = {
    {"floyd", ErrorKernel::kFloyd},   {"atkinson", ErrorKernel::kAtkinson}, {"jjn", ErrorKernel::kJjn},
    {"stucki", ErrorKernel::kStucki}, {"sierra", ErrorKernel::kSierra},
};

// The method or kernel of that name; false when there is none.
bool methodOfName(const std::string& name, Method& method);
bool kernelOfName(const std::string& name, ErrorKernel& kernel);
const char* methodName(Method method);
const char* kernelName(ErrorKernel kernel);

// The names, separated by ", " with "or" before the last (for messages).
std::string methodNameList();
std::string kernelNameList();

// Whether the method spreads its error with a kernel.
constexpr bool methodDiffuses(Method method) { return method != Method::kOrdered; }

// One share of a pixel's error: weight / divisor of it goes to the pixel dx
// to the right (left when negative) and dy rows down.
struct KernelShare {
  int dx;
  int dy;
  int weight;
};

constexpr int kMostShares = 12;

struct KernelWeights {
  int divisor;
  int count;
  KernelShare share[kMostShares];
};

// The published weights. The shares within the pixel's own row come first.
constexpr KernelWeights kernelWeights(ErrorKernel kernel) {
  switch (kernel) {
    case ErrorKernel::kAtkinson:
      return {8, 6, {{1, 0, 1}, {2, 0, 1}, {-1, 1, 1}, {0, 1, 1}, {1, 1, 1}, {0, 2, 1}}};
    case ErrorKernel::kJjn:
      return {48,
              12,
              {{1, 0, 7}, {2, 0, 5}, {-2, 1, 3}, {-1, 1, 5}, {0, 1, 7}, {1, 1, 5}, {2, 1, 3}, {-2, 2, 1},
               {-1, 2, 3}, {0, 2, 5}, {1, 2, 3}, {2, 2, 1}}};
    case ErrorKernel::kStucki:
      return {42,
              12,
              {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}, {-2, 2, 1},
               {-1, 2, 2}, {0, 2, 4}, {1, 2, 2}, {2, 2, 1}}};
    case ErrorKernel::kSierra:
      return {32,
              10,
              {{1, 0, 5}, {2, 0, 3}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 5}, {1, 1, 4}, {2, 1, 2}, {-1, 2, 2},
               {0, 2, 3}, {1, 2, 2}}};
    default:
      return {16, 4, {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}};
  }
}

}  // namespace kovrel
