// Reading Windows bitmap files: every supported pixel format decodes to the same picture,
// both row orders come out top-down, and malformed or hostile files are refused whole.
#include "platform/ui/bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void store_le16(Bytes& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void store_le32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Four colours that every format can hold (1 bit per pixel uses the first two).
const std::uint32_t kColours[4] = {0xFF000000, 0xFFFFFFFF, 0xFF102030, 0xFFC08040};

std::uint32_t expected_colour(int x, int y, unsigned bits) {
  const unsigned count = bits == 1 ? 2 : 4;
  return kColours[static_cast<unsigned>(x * 3 + y) % count];
}

// A bitmap of the given format whose pixel (x, y) from the top is expected_colour(x, y).
struct BmpSpec {
  int width = 5;
  int height = 3;
  unsigned bits = 24;
  bool topDown = false;
  std::uint32_t headerBytes = 40;
  bool bitFields = false;
};

Bytes build_bmp(const BmpSpec& shape) {
  const std::size_t stride = (static_cast<std::size_t>(shape.width) * shape.bits + 31) / 32 * 4;
  const std::size_t paletteEntries = shape.bits == 1 ? 2 : shape.bits <= 8 ? 4 : 0;
  const std::size_t masksBytes = shape.bitFields && shape.headerBytes == 40 ? 12 : 0;
  const std::size_t pixelOffset = 14 + shape.headerBytes + masksBytes + paletteEntries * 4;
  Bytes bytes(pixelOffset + stride * static_cast<std::size_t>(shape.height), 0);
  bytes[0] = 'B';  // file header: magic, file size, reserved, pixel offset
  bytes[1] = 'M';
  store_le32(bytes, 2, static_cast<std::uint32_t>(bytes.size()));
  store_le32(bytes, 10, static_cast<std::uint32_t>(pixelOffset));
  store_le32(bytes, 14, shape.headerBytes);  // info header
  store_le32(bytes, 18, static_cast<std::uint32_t>(shape.width));
  store_le32(bytes, 22, static_cast<std::uint32_t>(shape.topDown ? -shape.height : shape.height));
  store_le16(bytes, 26, 1);  // planes
  store_le16(bytes, 28, static_cast<std::uint16_t>(shape.bits));
  store_le32(bytes, 30, shape.bitFields ? 3 : 0);
  store_le32(bytes, 46, static_cast<std::uint32_t>(paletteEntries));
  if (shape.bitFields) {  // red in the low byte, then green, then blue: not the default order
    store_le32(bytes, 54, 0x000000FF);
    store_le32(bytes, 58, 0x0000FF00);
    store_le32(bytes, 62, 0x00FF0000);
  }
  for (std::size_t i = 0; i < paletteEntries; ++i)
    store_le32(bytes, 14 + shape.headerBytes + masksBytes + i * 4, kColours[i] & 0xFFFFFF);
  for (int y = 0; y < shape.height; ++y) {
    const int storedRow = shape.topDown ? y : shape.height - 1 - y;
    const std::size_t row = pixelOffset + static_cast<std::size_t>(storedRow) * stride;
    for (int x = 0; x < shape.width; ++x) {
      const std::uint32_t colour = expected_colour(x, y, shape.bits);
      const unsigned index = static_cast<unsigned>(x * 3 + y) % (shape.bits == 1 ? 2 : 4);
      const std::size_t bit = static_cast<std::size_t>(x) * shape.bits;
      if (shape.bits <= 8) {
        bytes[row + bit / 8] |= static_cast<std::uint8_t>(index << (8 - shape.bits - bit % 8));
      } else if (shape.bits == 24) {
        store_le16(bytes, row + bit / 8, static_cast<std::uint16_t>(colour));
        bytes[row + bit / 8 + 2] = static_cast<std::uint8_t>(colour >> 16);
      } else if (shape.bitFields) {
        const std::uint32_t r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
        store_le32(bytes, row + bit / 8, r | g << 8 | b << 16);
      } else {
        store_le32(bytes, row + bit / 8, colour & 0xFFFFFF);
      }
    }
  }
  return bytes;
}

TEST(BitmapDecoding, EveryFormatYieldsThePictureTopDownWithItsSize) {
  const BmpSpec shapes[] = {{5, 3, 24, false},
                            {5, 3, 24, true},
                            {1, 1, 24, false},
                            {5, 3, 8, false},
                            {3, 4, 8, true},
                            {9, 2, 4, false},
                            {33, 2, 1, false},
                            {7, 3, 1, true},
                            {4, 2, 32, false},
                            {4, 2, 32, false, 40, true},
                            {4, 2, 32, true, 124, true},
                            {5, 3, 24, false, 108},
                            {5, 3, 8, false, 124}};
  for (const BmpSpec& shape : shapes) {
    SCOPED_TRACE(testing::Message()
                 << shape.bits << " bits, " << shape.width << "x" << shape.height
                 << (shape.topDown ? " top-down" : "") << ", header " << shape.headerBytes);
    std::optional<ui::Bitmap> bitmap = ui::decode_bitmap(build_bmp(shape));
    ASSERT_TRUE(bitmap.has_value());
    EXPECT_EQ(bitmap->width, shape.width);
    EXPECT_EQ(bitmap->height, shape.height);
    ASSERT_EQ(bitmap->pixels.size(), static_cast<std::size_t>(shape.width * shape.height));
    for (int y = 0; y < shape.height; ++y)
      for (int x = 0; x < shape.width; ++x)
        EXPECT_EQ(bitmap->pixel(x, y), expected_colour(x, y, shape.bits)) << x << "," << y;
  }
}

TEST(BitmapRefusal, HostileOrDamagedHeadersYieldNoPicture) {
  struct Malformation {
    const char* name;
    void (*mutate)(Bytes&);
    unsigned bits = 24;
  };
  const Malformation malformations[] = {
      {"empty file", [](Bytes& b) { b.clear(); }},
      {"file header cut short", [](Bytes& b) { b.resize(10); }},
      {"wrong magic", [](Bytes& b) { b[1] = 'A'; }},
      {"core header size", [](Bytes& b) { store_le32(b, 14, 12); }},
      {"header size past the end", [](Bytes& b) { store_le32(b, 14, 0xFFFFFFF0); }},
      {"16 bits per pixel", [](Bytes& b) { store_le16(b, 28, 16); }},
      {"run-length compressed", [](Bytes& b) { store_le32(b, 30, 1); }},
      {"negative width", [](Bytes& b) { store_le32(b, 18, static_cast<std::uint32_t>(-5)); }},
      {"most negative height", [](Bytes& b) { store_le32(b, 22, 0x80000000u); }},
      {"sides that pass alone but not together",
       [](Bytes& b) {
         store_le32(b, 18, 30000);
         store_le32(b, 22, 30000);
       }},
      {"pixel offset past the end", [](Bytes& b) { store_le32(b, 10, 0xFFFFFFFF); }},
      {"pixel data one byte short", [](Bytes& b) { b.pop_back(); }},
      {"height one row too many", [](Bytes& b) { store_le32(b, 22, 4); }},
      {"more colours than 8 bits index", [](Bytes& b) { store_le32(b, 46, 300); }, 8},
  };
  for (const Malformation& m : malformations) {
    SCOPED_TRACE(m.name);
    Bytes bytes = build_bmp(BmpSpec{5, 3, m.bits, false});
    ASSERT_TRUE(ui::decode_bitmap(bytes).has_value());
    m.mutate(bytes);
    EXPECT_FALSE(ui::decode_bitmap(bytes).has_value());
  }
}

}  // namespace
