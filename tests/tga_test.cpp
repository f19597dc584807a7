#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "image/tga.h"
#include "test_pictures.h"

namespace kovrel {
namespace {

using test::makeTga;
using test::Rgb;

Status decode(const std::vector<std::uint8_t>& bytes, WorkingImage& image, TgaHeader& header) {
  return decodeTga(bytes.data(), bytes.size(), image, header);
}

TEST(TgaReader, RejectsOtherFormatsAndSizes) {
  auto image = std::make_unique<WorkingImage>();
  TgaHeader header;
  const std::vector<std::uint8_t> good = test::uniformTga(4, 4, {1, 2, 3});
  ASSERT_EQ(decode(good, *image, header), Status::kOk);

  struct Case {
    std::size_t offset;
    std::uint8_t value;
    Status expected;
  };
  const Case cases[] = {
      {2, 10, Status::kUnsupportedFormat},    // run-length encoded
      {2, 1, Status::kUnsupportedFormat},     // colour-mapped
      {16, 32, Status::kUnsupportedFormat},   // 32 bits per pixel
      {17, 0x20, Status::kUnsupportedFormat}, // top-left origin
      {17, 8, Status::kUnsupportedFormat},    // alpha bits
      {12, 0, Status::kUnsupportedSize},      // width 0 (4 -> 0)
      {14, 0, Status::kUnsupportedSize},      // height 0
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = good;
    bytes[c.offset] = c.value;
    EXPECT_EQ(decode(bytes, *image, header), c.expected) << c.offset << "=" << int(c.value);
  }
  // A header cut short reads -1 and fails the format tests.
  for (std::size_t size : {0u, 1u, 16u, 17u}) {
    EXPECT_EQ(decodeTga(good.data(), size, *image, header), Status::kUnsupportedFormat) << size;
  }
  // 512 is accepted, 513 rejected, in either direction; the header alone
  // decides (the pixels are missing).
  std::vector<std::uint8_t> big(good.begin(), good.begin() + 18);
  big[12] = 0x00, big[13] = 0x02, big[14] = 0x00, big[15] = 0x02;
  EXPECT_EQ(decode(big, *image, header), Status::kOk);
  EXPECT_EQ(image->width, 512);
  EXPECT_EQ(image->height, 512);
  big[12] = 0x01;
  EXPECT_EQ(decode(big, *image, header), Status::kUnsupportedSize);
  big[12] = 0x00, big[14] = 0x01;
  EXPECT_EQ(decode(big, *image, header), Status::kUnsupportedSize);
}

TEST(TgaReader, LoadsBottomUpWithBlueFirst) {
  auto image = std::make_unique<WorkingImage>();
  TgaHeader header;
  // 3 x 2: red at the top left, blue at the bottom left, others white.
  const auto bytes = makeTga(3, 2, [](int x, int y) {
    if (x == 0 && y == 0) return Rgb{255, 0, 0};
    if (x == 0 && y == 1) return Rgb{0, 0, 255};
    return Rgb{255, 255, 255};
  });
  // The first pixel triple in the file is the bottom-left pixel, blue first.
  EXPECT_EQ(bytes[18], 255);
  EXPECT_EQ(bytes[20], 0);
  ASSERT_EQ(decode(bytes, *image, header), Status::kOk);
  EXPECT_EQ(image->pixel(0, 0)[0], 4080);
  EXPECT_EQ(image->pixel(0, 0)[2], 0);
  EXPECT_EQ(image->pixel(0, 1)[0], 0);
  EXPECT_EQ(image->pixel(0, 1)[2], 4080);
  EXPECT_EQ(image->pixel(2, 1)[1], 4080);
  // The padded area starts black.
  EXPECT_EQ(image->pixel(3, 0)[0], 0);
  EXPECT_EQ(image->pixel(0, 2)[1], 0);
  EXPECT_EQ(header.bytes, (std::array<std::uint8_t, 18>{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2,
                                                        0, 24, 0}));
}

TEST(TgaReader, TruncatedPixelsReadAsMinusSixteen) {
  auto image = std::make_unique<WorkingImage>();
  TgaHeader header;
  auto bytes = test::uniformTga(2, 1, {10, 20, 30});
  bytes.resize(18 + 4);  // one pixel and the blue of the next
  ASSERT_EQ(decode(bytes, *image, header), Status::kOk);
  EXPECT_EQ(image->pixel(0, 0)[0], 10 * 16);
  EXPECT_EQ(image->pixel(1, 0)[2], 30 * 16);
  EXPECT_EQ(image->pixel(1, 0)[1], -16);
  EXPECT_EQ(image->pixel(1, 0)[0], -16);
}

TEST(TgaReader, SkipsImageIdAndColourMap) {
  auto image = std::make_unique<WorkingImage>();
  TgaHeader header;
  const std::vector<std::uint8_t> plain = test::uniformTga(2, 2, {200, 100, 50});
  const std::vector<std::uint8_t> withId = makeTga(2, 2, [](int, int) { return Rgb{200, 100, 50}; }, 7);
  // A colour map of 3 entries of 15 bits: 3 x 2 bytes.
  std::vector<std::uint8_t> withMap = plain;
  withMap[1] = 1;
  withMap[5] = 3;
  withMap[7] = 15;
  withMap.insert(withMap.begin() + 18, {9, 9, 9, 9, 9, 9});
  for (const std::vector<std::uint8_t>* bytes : {&plain, &withId, static_cast<const std::vector<std::uint8_t>*>(&withMap)}) {
    ASSERT_EQ(decode(*bytes, *image, header), Status::kOk);
    for (int i = 0; i < 4; ++i) {
      const Sample* p = image->pixel(i % 2, i / 2);
      EXPECT_EQ(p[0], 200 * 16);
      EXPECT_EQ(p[1], 100 * 16);
      EXPECT_EQ(p[2], 50 * 16);
    }
  }
}

TEST(TgaWriter, PreviewHeaderPixelsAndPath) {
  auto image = std::make_unique<WorkingImage>();
  TgaHeader header;
  auto bytes = makeTga(3, 2, [](int x, int y) { return Rgb{static_cast<std::uint8_t>(x), 0,
                                                           static_cast<std::uint8_t>(y)}; }, 2);
  bytes[8] = 5;  // x origin: kept
  ASSERT_EQ(decode(bytes, *image, header), Status::kOk);
  // Out-of-range samples are limited; division truncates toward zero.
  image->pixel(0, 0)[0] = 5000;
  image->pixel(1, 0)[0] = -20;
  image->pixel(2, 0)[0] = 47;
  std::vector<std::uint8_t> out(previewTgaSize(*image));
  encodePreviewTga(*image, header, out.data());
  ASSERT_EQ(out.size(), 18u + 3 * 2 * 3);
  EXPECT_EQ(out[0], 0);  // the ID field is not written
  EXPECT_EQ(out[2], 2);
  EXPECT_EQ(out[8], 5);
  EXPECT_EQ(out[12], 3);
  EXPECT_EQ(out[14], 2);
  EXPECT_EQ(out[16], 24);
  // Bottom row first (y = 1): blue 1, green 0, red x.
  EXPECT_EQ((std::vector<std::uint8_t>(out.begin() + 18, out.begin() + 27)),
            (std::vector<std::uint8_t>{1, 0, 0, 1, 0, 1, 1, 0, 2}));
  // Top row: red 255 (from 5000), 0 (from -20), 2 (from 47).
  EXPECT_EQ((std::vector<std::uint8_t>(out.begin() + 27, out.end())),
            (std::vector<std::uint8_t>{0, 0, 255, 0, 0, 0, 0, 0, 2}));

  EXPECT_EQ(previewPath("pic.tga"), "pic_tms.tga");
  EXPECT_EQ(previewPath("dir.v2/PIC.TGA"), "dir.v2/PIC_tms.tga");
  EXPECT_EQ(previewPath("abcd"), "_tms.tga");
  EXPECT_EQ(previewPath("abc"), "abc_tms.tga");
  // Only the file name's own characters are removed.
  EXPECT_EQ(previewPath("sub/cat"), "sub/cat_tms.tga");
  EXPECT_EQ(previewPath("sub/ab"), "sub/ab_tms.tga");
  EXPECT_EQ(previewPath("a/b/"), "a/b/_tms.tga");
  EXPECT_EQ(previewPath("sub/abcd"), "sub/_tms.tga");
  EXPECT_EQ(previewPath("/x.tga"), "/x_tms.tga");
}

}  // namespace
}  // namespace kovrel
