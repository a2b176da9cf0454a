// Reading Windows bitmap files: every supported pixel format decodes to the same picture,
// both row orders come out top-down, and malformed or hostile files are refused whole.
#include "platform/ui/bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

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

std::string describe(const BmpSpec& shape) {
  return std::to_string(shape.bits) + " bits, " + std::to_string(shape.width) + "x" +
         std::to_string(shape.height) + (shape.topDown ? " top-down" : " bottom-up") + ", header " +
         std::to_string(shape.headerBytes) + (shape.bitFields ? ", masks" : "");
}

void PrintTo(const BmpSpec& shape, std::ostream* out) {
  *out << describe(shape);
}

class BitmapDecoding : public testing::TestWithParam<BmpSpec> {};

TEST_P(BitmapDecoding, YieldsThePictureTopDownWithItsSize) {
  const BmpSpec shape = GetParam();
  SCOPED_TRACE(describe(shape));
  std::optional<ui::Bitmap> bitmap = ui::decode_bitmap(build_bmp(shape));
  ASSERT_TRUE(bitmap.has_value());
  EXPECT_EQ(bitmap->width, shape.width);
  EXPECT_EQ(bitmap->height, shape.height);
  ASSERT_EQ(bitmap->pixels.size(), static_cast<std::size_t>(shape.width * shape.height));
  for (int y = 0; y < shape.height; ++y)
    for (int x = 0; x < shape.width; ++x)
      EXPECT_EQ(bitmap->pixel(x, y), expected_colour(x, y, shape.bits)) << "at " << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, BitmapDecoding,
    testing::Values(BmpSpec{5, 3, 24, false}, BmpSpec{5, 3, 24, true}, BmpSpec{1, 1, 24, false},
                    BmpSpec{5, 3, 8, false}, BmpSpec{3, 4, 8, true}, BmpSpec{9, 2, 4, false},
                    BmpSpec{33, 2, 1, false}, BmpSpec{7, 3, 1, true}, BmpSpec{4, 2, 32, false},
                    BmpSpec{4, 2, 32, false, 40, true}, BmpSpec{4, 2, 32, true, 124, true},
                    BmpSpec{5, 3, 24, false, 108}, BmpSpec{5, 3, 8, false, 124}));

TEST(BitmapFile, LoadsWithItsFileNameAndSize) {
  char directory[] = "/tmp/kalvex-bitmap-XXXXXX";
  ASSERT_NE(::mkdtemp(directory), nullptr);
  const std::string path = std::string(directory) + "/X10.bmp";
  const Bytes bytes = build_bmp(BmpSpec{6, 4, 8, false});
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));

  std::optional<ui::Bitmap> bitmap = ui::load_bitmap_file(path);
  ASSERT_TRUE(bitmap.has_value());
  EXPECT_EQ(bitmap->file_name, path);
  EXPECT_EQ(bitmap->width, 6);
  EXPECT_EQ(bitmap->height, 4);
  EXPECT_FALSE(ui::load_bitmap_file(std::string(directory) + "/missing.bmp").has_value());
  EXPECT_FALSE(ui::load_bitmap_file(directory).has_value());  // a directory is no picture

  ::unlink(path.c_str());
  ::rmdir(directory);
}

struct Malformation {
  const char* name;
  void (*mutate)(Bytes&);
};

void PrintTo(const Malformation& m, std::ostream* out) {
  *out << m.name;
}

const Malformation kMalformations[] = {
    {"empty file", [](Bytes& b) { b.clear(); }},
    {"file header cut short", [](Bytes& b) { b.resize(10); }},
    {"info header cut short", [](Bytes& b) { b.resize(30); }},
    {"wrong magic", [](Bytes& b) { b[1] = 'A'; }},
    {"core header size", [](Bytes& b) { store_le32(b, 14, 12); }},
    {"header size past the end", [](Bytes& b) { store_le32(b, 14, 0xFFFFFFF0); }},
    {"two planes", [](Bytes& b) { store_le16(b, 26, 2); }},
    {"16 bits per pixel", [](Bytes& b) { store_le16(b, 28, 16); }},
    {"0 bits per pixel", [](Bytes& b) { store_le16(b, 28, 0); }},
    {"run-length compressed", [](Bytes& b) { store_le32(b, 30, 1); }},
    {"masks on 24 bits", [](Bytes& b) { store_le32(b, 30, 3); }},
    {"zero width", [](Bytes& b) { store_le32(b, 18, 0); }},
    {"negative width", [](Bytes& b) { store_le32(b, 18, static_cast<std::uint32_t>(-5)); }},
    {"zero height", [](Bytes& b) { store_le32(b, 22, 0); }},
    {"most negative height", [](Bytes& b) { store_le32(b, 22, 0x80000000u); }},
    {"huge width and height",
     [](Bytes& b) {
       store_le32(b, 18, 0x7FFFFFFF);
       store_le32(b, 22, 0x7FFFFFFF);
     }},
    {"sides that pass alone but not together",
     [](Bytes& b) {
       store_le32(b, 18, 30000);
       store_le32(b, 22, 30000);
     }},
    {"pixel offset past the end", [](Bytes& b) { store_le32(b, 10, 0xFFFFFFFF); }},
    {"pixel data one byte short", [](Bytes& b) { b.pop_back(); }},
    {"height one row too many", [](Bytes& b) { store_le32(b, 22, 4); }},
};

class BitmapRefusal : public testing::TestWithParam<Malformation> {};

TEST_P(BitmapRefusal, YieldsNoPicture) {
  Bytes bytes = build_bmp(BmpSpec{5, 3, 24, false});
  ASSERT_TRUE(ui::decode_bitmap(bytes).has_value());
  GetParam().mutate(bytes);
  EXPECT_FALSE(ui::decode_bitmap(bytes).has_value()) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(HostileHeaders, BitmapRefusal, testing::ValuesIn(kMalformations),
                         [](const testing::TestParamInfo<Malformation>& malformation) {
                           std::string name;
                           for (const char* c = malformation.param.name; *c != '\0'; ++c)
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           return name;
                         });

TEST(BitmapPalette, MissingOrOversizedPaletteIsRefused) {
  Bytes cut = build_bmp(BmpSpec{5, 3, 8, false});
  store_le32(cut, 46, 300);  // more colours than 8 bits can index
  EXPECT_FALSE(ui::decode_bitmap(cut).has_value());

  Bytes tiny = build_bmp(BmpSpec{1, 1, 8, false});
  store_le32(tiny, 46, 256);  // a full palette claimed, 4 entries present
  store_le32(tiny, 10, static_cast<std::uint32_t>(tiny.size() - 4));
  tiny.resize(14 + 40 + 4 * 4 + 4);
  EXPECT_FALSE(ui::decode_bitmap(tiny).has_value());
}

TEST(BitmapPalette, IndexPastTheUsedColoursIsBlack) {
  Bytes bytes = build_bmp(BmpSpec{5, 3, 8, false});
  store_le32(bytes, 46, 2);  // only black and white declared; the pixels use indices up to 3
  std::optional<ui::Bitmap> bitmap = ui::decode_bitmap(bytes);
  ASSERT_TRUE(bitmap.has_value());
  EXPECT_EQ(bitmap->pixel(0, 2), 0xFF000000u);  // index 2 (x 0, y 2)
}

// Random damage to valid files must never read out of bounds (the sanitizer build checks).
TEST(BitmapRobustness, RandomlyDamagedFilesNeverReadOutOfBounds) {
  std::mt19937 random(20240521);
  const BmpSpec shapes[] = {{7, 5, 24, false},
                            {9, 3, 1, true},
                            {6, 6, 4, false},
                            {5, 4, 8, false},
                            {3, 3, 32, false, 40, true}};
  int decoded = 0;
  for (const BmpSpec& shape : shapes) {
    const Bytes original = build_bmp(shape);
    for (int round = 0; round < 400; ++round) {
      Bytes bytes = original;
      const int damage = 1 + static_cast<int>(random() % 4);
      for (int i = 0; i < damage; ++i)
        bytes[random() % std::min<std::size_t>(bytes.size(), 70)] =
            static_cast<std::uint8_t>(random());
      if (random() % 3 == 0) bytes.resize(random() % bytes.size());
      std::optional<ui::Bitmap> bitmap = ui::decode_bitmap(bytes);
      if (!bitmap) continue;
      ++decoded;
      EXPECT_EQ(bitmap->pixels.size(),
                static_cast<std::size_t>(bitmap->width) * static_cast<std::size_t>(bitmap->height));
    }
  }
  EXPECT_GT(decoded, 0);  // damage to colours alone still decodes
}

}  // namespace
