#include "os/memory.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kovrel {
namespace os {
namespace {

// Out of memory: std::bad_alloc, as new would; a build without exceptions
// (the web page's) stops, as its new does.
[[noreturn]] void outOfMemory() {
#if defined(__cpp_exceptions)
  throw std::bad_alloc();
#else
  std::abort();
#endif
}

}  // namespace

#if defined(__linux__)
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Whole huge pages, so that the kernel may back all of a block with them.
std::size_t mappedSize(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
}  // namespace

// Zeroed memory starting at a huge-page boundary: one huge page more is
// mapped, then the slack before and after the boundary is unmapped.
void* allocateBlock(std::size_t bytes) {
  const std::size_t size = mappedSize(bytes);
  const std::size_t reserved = size + kHugePage;
  void* mapped = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) {
    outOfMemory();
  }
  const auto base = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (base + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > base) {
    munmap(mapped, aligned - base);
  }
  const std::size_t tail = base + reserved - (aligned + size);
  if (tail > 0) {
    munmap(reinterpret_cast<void*>(aligned + size), tail);
  }
  void* block = reinterpret_cast<void*>(aligned);
  // Only a hint: without huge pages the block is ordinary memory.
  madvise(block, size, MADV_HUGEPAGE);
  return block;
}

void releaseBlock(void* block, std::size_t bytes) { munmap(block, mappedSize(bytes)); }
#else
void* allocateBlock(std::size_t bytes) {
  void* block = std::calloc(bytes == 0 ? 1 : bytes, 1);
  if (block == nullptr) {
    outOfMemory();
  }
  return block;
}

void releaseBlock(void* block, std::size_t) { std::free(block); }
#endif

}  // namespace os
}  // namespace kovrel
