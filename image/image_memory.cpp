#include "image/image_memory.h"

#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kovrel {

#if defined(__linux__)
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Whole huge pages, so that the kernel may back all of the block with them.
constexpr std::size_t kMappedBytes = (sizeof(WorkingImage) + kHugePage - 1) / kHugePage * kHugePage;

}  // namespace

WorkingImagePtr newWorkingImage() {
  // Map one huge page more than needed, then unmap the slack before and
  // after the first huge-page boundary.
  const std::size_t reserved = kMappedBytes + kHugePage;
  void* mapped = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) {
    throw std::bad_alloc();
  }
  const auto base = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (base + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > base) {
    munmap(mapped, aligned - base);
  }
  const std::size_t tail = base + reserved - (aligned + kMappedBytes);
  if (tail > 0) {
    munmap(reinterpret_cast<void*>(aligned + kMappedBytes), tail);
  }
  void* block = reinterpret_cast<void*>(aligned);
  // Only a hint: without huge pages the block is ordinary memory.
  madvise(block, kMappedBytes, MADV_HUGEPAGE);
  return WorkingImagePtr(new (block) WorkingImage());
}

void WorkingImageRelease::operator()(WorkingImage* image) const {
  image->~WorkingImage();
  munmap(image, kMappedBytes);
}

#else

WorkingImagePtr newWorkingImage() { return WorkingImagePtr(new WorkingImage()); }

void WorkingImageRelease::operator()(WorkingImage* image) const { delete image; }

#endif

}  // namespace kovrel
