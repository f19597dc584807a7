#include "image/image_memory.h"

#include <new>

#include "os/memory.h"

namespace kovrel {

WorkingImagePtr newWorkingImage() {
  return WorkingImagePtr(new (os::allocateBlock(sizeof(WorkingImage))) WorkingImage());
}

void WorkingImageRelease::operator()(WorkingImage* image) const {
  image->~WorkingImage();
  os::releaseBlock(image, sizeof(WorkingImage));
}

ByteBlock::ByteBlock(std::size_t size)
    : data_(static_cast<std::uint8_t*>(os::allocateBlock(size))), size_(size) {}

ByteBlock::ByteBlock(ByteBlock&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

ByteBlock& ByteBlock::operator=(ByteBlock&& other) noexcept {
  if (this != &other) {
    if (data_ != nullptr) {
      os::releaseBlock(data_, size_);
    }
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

ByteBlock::~ByteBlock() {
  if (data_ != nullptr) {
    os::releaseBlock(data_, size_);
  }
}

}  // namespace kovrel
