// The bit buffer both formats share, seen from the writer's side: a flag
// bit goes into the byte the decoder will take as its next buffer, which is
// reserved in the stream at the moment the decoder would fetch it (when the
// previous buffer's eight bits are used up), so bits and whole bytes land
// in the order the decoder reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kovrel {

class BitStreamWriter {
 public:
  void bit(bool value) {
    if (mask_ == 0) {
      buffer_ = bytes_.size();
      bytes_.push_back(0);
      mask_ = 0x80;
    }
    if (value) {
      bytes_[buffer_] = static_cast<std::uint8_t>(bytes_[buffer_] | mask_);
    }
    mask_ >>= 1;
  }

  void byte(std::uint8_t value) { bytes_.push_back(value); }

  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t buffer_ = 0;
  unsigned mask_ = 0;  // the next bit of the buffer byte; 0 when it is used up
};

// The reader's side, bounds-checked: every read past the end sets failed()
// and gives zeros.
class BitStreamReader {
 public:
  explicit BitStreamReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

  bool bit() {
    if (mask_ == 0) {
      buffer_ = byte();
      mask_ = 0x80;
    }
    const bool value = (buffer_ & mask_) != 0;
    mask_ >>= 1;
    return value;
  }

  std::uint8_t byte() {
    if (at_ >= bytes_.size()) {
      failed_ = true;
      return 0;
    }
    return bytes_[at_++];
  }

  // Makes value the buffer with only its bits below firstMask still unread.
  void setBuffer(std::uint8_t value, unsigned firstMask) {
    buffer_ = value;
    mask_ = firstMask;
  }

  bool failed() const { return failed_; }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t at_ = 0;
  std::uint8_t buffer_ = 0;
  unsigned mask_ = 0;
  bool failed_ = false;
};

// Bits of the Elias gamma code of value >= 1: 2 floor(log2 value) + 1.
inline int gammaBits(std::uint32_t value) {
  int bits = 1;
  while (value > 1) {
    value >>= 1;
    bits += 2;
  }
  return bits;
}

}  // namespace kovrel
