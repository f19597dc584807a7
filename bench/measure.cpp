// kovrel_measure ORIGINAL CONVERTED [PPD]...: the perceived difference
// between two pictures of the same size (TGA, PNG or JPEG), at each viewing
// distance given (default 24 and 48 pixels per degree), and the processor
// time each measure took.

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/conversion.h"
#include "quality/perceptual.h"

namespace {

double userSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: kovrel_measure ORIGINAL CONVERTED [PPD]...\n", stderr);
    return 2;
  }
  kovrel::Picture first;
  kovrel::Picture second;
  for (int i = 1; i <= 2; ++i) {
    const kovrel::Outcome read = kovrel::readPicture(argv[i], i == 1 ? first : second);
    if (read.status != kovrel::Status::kOk) {
      std::fputs(kovrel::statusMessage(read).c_str(), stderr);
      return 1;
    }
  }
  if (first.image->width != second.image->width || first.image->height != second.image->height) {
    std::fputs("the pictures differ in size\n", stderr);
    return 1;
  }
  std::vector<double> distances;
  for (int i = 3; i < argc; ++i) {
    distances.push_back(std::atof(argv[i]));
  }
  if (distances.empty()) {
    distances = {kovrel::kNearSamplesPerDegree, kovrel::kFarSamplesPerDegree};
  }
  for (const double ppd : distances) {
    if (!(ppd >= 1 && ppd <= 256)) {
      std::fputs("a distance is 1 to 256 pixels per degree\n", stderr);
      return 2;
    }
    const double start = userSeconds();
    const kovrel::PerceptualError e = kovrel::perceptualError(*first.image, *second.image, ppd);
    std::printf("ppd %g: dE76 %.4f dE2000 %.4f (%.1f ms processor time)\n", ppd, e.deltaE76, e.deltaE2000,
                (userSeconds() - start) * 1000);
  }
  return 0;
}
