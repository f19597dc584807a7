// Memory for the large blocks of a run: the working image (about 1.5 MB) and
// the input file's bytes. Each is touched once all over; on Linux, where the
// first touch of each 4 KiB page costs a fault, they are placed on 2 MiB
// transparent huge pages when the system allows it, which takes most page
// faults off a run's processor time.
#pragma once

#include <cstddef>
#include <cstdint>
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

// size zero bytes, owned by the block. Memory is taken from the system only
// as it is first written. Throws std::bad_alloc when no memory is left. A
// default-constructed or moved-from block holds nothing.
class ByteBlock {
 public:
  ByteBlock() = default;
  explicit ByteBlock(std::size_t size);
  ByteBlock(ByteBlock&& other) noexcept;
  ByteBlock& operator=(ByteBlock&& other) noexcept;
  ~ByteBlock();

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace kovrel
