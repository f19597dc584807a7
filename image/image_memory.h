// Memory for the working image. The image is about 1.5 MB and is touched
// once all over; on Linux, where first touches of 4 KiB pages cost a fault
// each, it is placed in one 2 MiB transparent huge page when the system
// allows it, which takes the page faults off a whole run's processor time.
#pragma once

#include <memory>

#include "image/working_image.h"

namespace kovrel {

struct WorkingImageRelease {
  void operator()(WorkingImage* image) const;
};

using WorkingImagePtr = std::unique_ptr<WorkingImage, WorkingImageRelease>;

// A value-initialised WorkingImage (all samples 0, size 0 x 0). Throws
// std::bad_alloc when no memory is left, like new.
WorkingImagePtr newWorkingImage();

}  // namespace kovrel
