#include <algorithm>
#include <climits>
#include <cstring>

#include "image/picture_formats.h"

namespace kovrel {
namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

}  // namespace

PictureStream::PictureStream(const std::uint8_t* head, std::size_t headSize, std::FILE* rest)
    : head_(head), rest_(rest), at_(head), end_(head) {
  const std::size_t kept = std::min(headSize, kMaxPictureFileBytes);
  end_ = head + kept;
  tooLarge_ = headSize > kMaxPictureFileBytes;
}

// Moves on to the next buffer of the file; false at its end (or its limit).
bool PictureStream::refill() {
  if (inHead_) {
    passed_ = static_cast<std::size_t>(end_ - head_);
    inHead_ = false;
  } else {
    passed_ += buffer_.size();
  }
  buffer_.clear();
  at_ = end_ = nullptr;
  if (rest_ == nullptr || tooLarge_) {
    return false;
  }
  if (passed_ >= kMaxPictureFileBytes) {
    // Only a byte beyond the limit makes the file too large.
    tooLarge_ = std::fgetc(rest_) != EOF;
    return false;
  }
  buffer_.resize(std::min(kBufferBytes, kMaxPictureFileBytes - passed_));
  const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), rest_);
  buffer_.resize(got);
  at_ = buffer_.data();
  end_ = at_ + got;
  return got > 0;
}

const std::uint8_t* PictureStream::next(std::size_t most, std::size_t& got) {
  if (at_ == end_ && !refill()) {
    got = 0;
    return nullptr;
  }
  got = std::min(most, static_cast<std::size_t>(end_ - at_));
  const std::uint8_t* bytes = at_;
  at_ += got;
  return bytes;
}

bool PictureStream::read(std::uint8_t* out, std::size_t n) {
  while (n > 0) {
    std::size_t got = 0;
    const std::uint8_t* bytes = next(n, got);
    if (got == 0) {
      return false;
    }
    std::memcpy(out, bytes, got);
    out += got;
    n -= got;
  }
  return true;
}

bool PictureStream::skip(std::size_t n) {
  for (;;) {
    const std::size_t here = std::min(n, static_cast<std::size_t>(end_ - at_));
    at_ += here;
    n -= here;
    if (n == 0) {
      return true;
    }
    if (!inHead_ && n > kBufferBytes && seekOver(n)) {
      return true;
    }
    if (!refill()) {
      return false;
    }
  }
}

// Passes over the next n bytes of a seekable file without reading them,
// short of the last, which must be there. False, with nothing passed, when
// the file cannot seek or the stretch ends beyond the limit.
bool PictureStream::seekOver(std::size_t n) {
  const std::size_t fileAt = passed_ + buffer_.size();
  if (rest_ == nullptr || fileAt + n > kMaxPictureFileBytes || n - 1 > static_cast<std::size_t>(LONG_MAX) ||
      std::fseek(rest_, static_cast<long>(n - 1), SEEK_CUR) != 0) {
    return false;
  }
  passed_ = fileAt + n - 1;
  buffer_.clear();
  at_ = end_ = nullptr;
  std::uint8_t last = 0;
  if (std::fread(&last, 1, 1, rest_) != 1) {
    return false;  // the file ends within the stretch: the next read finds its end
  }
  passed_ += 1;
  return true;
}

}  // namespace kovrel
