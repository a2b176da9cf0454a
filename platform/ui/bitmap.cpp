// Decoding of Windows bitmap files. Every offset and size is checked in 64-bit arithmetic
// against the file's length before a byte is read, so that a hostile header (huge sizes,
// offsets past the end, a palette that is not there) only ever yields "no picture".
#include "platform/ui/bitmap.h"

#include <fstream>

namespace ui {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kV2HeaderBytes = 52;  // with the red, green and blue masks
constexpr std::uint32_t kV3HeaderBytes = 56;  // with the alpha mask too
constexpr std::uint32_t kV4HeaderBytes = 108;
constexpr std::uint32_t kV5HeaderBytes = 124;
constexpr std::uint32_t kCompressionRgb = 0;
constexpr std::uint32_t kCompressionBitFields = 3;
constexpr std::int64_t kMaxSide = 32768;
// Larger files are refused before they are read: a picture within kMaxBitmapPixels at 32 bits
// per pixel fits well below this.
constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t{300} << 20;
constexpr std::uint32_t kOpaque = 0xFF000000u;

// A read-only view whose every load is checked against its length.
class ByteView {
 public:
  explicit ByteView(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
  bool has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
  }
  std::optional<std::uint16_t> le16(std::uint64_t offset) const {
    if (!has(offset, 2)) return std::nullopt;
    return static_cast<std::uint16_t>(m_bytes[offset] | m_bytes[offset + 1] << 8);
  }
  std::optional<std::uint32_t> le32(std::uint64_t offset) const {
    if (!has(offset, 4)) return std::nullopt;
    return static_cast<std::uint32_t>(m_bytes[offset]) |
           static_cast<std::uint32_t>(m_bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(m_bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(m_bytes[offset + 3]) << 24;
  }
  std::uint8_t at(std::uint64_t offset) const { return m_bytes[offset]; }  // checked by has()

 private:
  std::span<const std::uint8_t> m_bytes;
};

struct Header {
  std::int64_t width = 0;
  std::int64_t height = 0;  // always positive here; topDown carries the sign
  bool topDown = false;
  unsigned bitsPerPixel = 0;
  std::uint32_t compression = 0;
  std::uint32_t infoBytes = 0;
  std::uint64_t pixelOffset = 0;
  std::uint32_t colorsUsed = 0;
};

struct ChannelMasks {
  unsigned redShift = 16, greenShift = 8, blueShift = 0;
};

std::optional<Header> read_header(const ByteView& file) {
  if (!file.has(0, kFileHeaderBytes) || file.at(0) != 'B' || file.at(1) != 'M') return {};
  Header header;
  std::optional<std::uint32_t> pixelOffset = file.le32(10);
  std::optional<std::uint32_t> infoBytes = file.le32(14);
  if (!pixelOffset || !infoBytes) return {};
  header.pixelOffset = *pixelOffset;
  header.infoBytes = *infoBytes;
  if (header.infoBytes != kInfoHeaderBytes && header.infoBytes != kV2HeaderBytes &&
      header.infoBytes != kV3HeaderBytes && header.infoBytes != kV4HeaderBytes &&
      header.infoBytes != kV5HeaderBytes)
    return {};
  if (!file.has(kFileHeaderBytes, header.infoBytes)) return {};

  const std::int32_t width = static_cast<std::int32_t>(*file.le32(18));
  const std::int32_t height = static_cast<std::int32_t>(*file.le32(22));
  const std::uint16_t planes = *file.le16(26);
  header.bitsPerPixel = *file.le16(28);
  header.compression = *file.le32(30);
  header.colorsUsed = *file.le32(46);
  header.width = width;
  header.topDown = height < 0;
  header.height = header.topDown ? -static_cast<std::int64_t>(height) : height;
  if (planes != 1 || header.width <= 0 || header.height <= 0) return {};
  if (header.width > kMaxSide || header.height > kMaxSide) return {};
  if (static_cast<std::uint64_t>(header.width * header.height) > kMaxBitmapPixels) return {};
  return header;
}

bool format_supported(const Header& header) {
  switch (header.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 24:
      return header.compression == kCompressionRgb;
    case 32:
      return header.compression == kCompressionRgb || header.compression == kCompressionBitFields;
    default:
      return false;
  }
}

// A mask must select one whole byte of the pixel for the channel to be read as 8 bits.
std::optional<unsigned> byte_shift_of(std::uint32_t mask) {
  for (unsigned shift = 0; shift < 32; shift += 8)
    if (mask == std::uint32_t{0xFF} << shift) return shift;
  return std::nullopt;
}

std::optional<ChannelMasks> read_masks(const ByteView& file, const Header& header) {
  if (header.compression != kCompressionBitFields) return ChannelMasks{};
  // Right after the first 40 header bytes: following the plain header, inside the longer ones.
  const std::uint64_t at = kFileHeaderBytes + kInfoHeaderBytes;
  std::optional<std::uint32_t> red = file.le32(at);
  std::optional<std::uint32_t> green = file.le32(at + 4);
  std::optional<std::uint32_t> blue = file.le32(at + 8);
  if (!red || !green || !blue) return std::nullopt;
  std::optional<unsigned> redShift = byte_shift_of(*red);
  std::optional<unsigned> greenShift = byte_shift_of(*green);
  std::optional<unsigned> blueShift = byte_shift_of(*blue);
  if (!redShift || !greenShift || !blueShift) return std::nullopt;
  return ChannelMasks{*redShift, *greenShift, *blueShift};
}

std::optional<std::vector<std::uint32_t>> read_palette(const ByteView& file, const Header& header) {
  if (header.bitsPerPixel > 8) return std::vector<std::uint32_t>{};
  const std::uint32_t capacity = 1u << header.bitsPerPixel;
  const std::uint32_t count = header.colorsUsed == 0 ? capacity : header.colorsUsed;
  if (count > capacity) return std::nullopt;
  const std::uint64_t start = kFileHeaderBytes + header.infoBytes;
  if (!file.has(start, std::uint64_t{count} * 4)) return std::nullopt;
  std::vector<std::uint32_t> palette(capacity, kOpaque);  // indices past the count: black
  for (std::uint32_t index = 0; index < count; ++index) {
    const std::uint64_t entry = start + std::uint64_t{index} * 4;  // blue, green, red, unused
    palette[index] = kOpaque | std::uint32_t{file.at(entry + 2)} << 16 |
                     std::uint32_t{file.at(entry + 1)} << 8 | file.at(entry);
  }
  return palette;
}

std::uint64_t row_stride(const Header& header) {
  return (static_cast<std::uint64_t>(header.width) * header.bitsPerPixel + 31) / 32 * 4;
}

std::uint32_t indexed_pixel(const ByteView& file, std::uint64_t row, std::int64_t x, unsigned bits,
                            const std::vector<std::uint32_t>& palette) {
  const std::uint64_t bit = static_cast<std::uint64_t>(x) * bits;
  const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);  // leftmost pixel first
  const unsigned index = (file.at(row + bit / 8) >> shift) & ((1u << bits) - 1);
  return palette[index];
}

std::uint32_t direct_pixel(const ByteView& file, std::uint64_t row, std::int64_t x, unsigned bits,
                           const ChannelMasks& masks) {
  const std::uint64_t at = row + static_cast<std::uint64_t>(x) * (bits / 8);
  if (bits == 24)
    return kOpaque | std::uint32_t{file.at(at + 2)} << 16 | std::uint32_t{file.at(at + 1)} << 8 |
           file.at(at);
  const std::uint32_t value = *file.le32(at);
  return kOpaque | ((value >> masks.redShift) & 0xFF) << 16 |
         ((value >> masks.greenShift) & 0xFF) << 8 | ((value >> masks.blueShift) & 0xFF);
}

}  // namespace

std::optional<Bitmap> decode_bitmap(std::span<const std::uint8_t> bytes) {
  const ByteView file(bytes);
  std::optional<Header> header = read_header(file);
  if (!header || !format_supported(*header)) return std::nullopt;
  std::optional<ChannelMasks> masks = read_masks(file, *header);
  std::optional<std::vector<std::uint32_t>> palette = read_palette(file, *header);
  if (!masks || !palette) return std::nullopt;
  const std::uint64_t stride = row_stride(*header);
  // Both factors are bounded (stride < 2^18, height <= 2^15), so the product cannot overflow.
  if (!file.has(header->pixelOffset, stride * static_cast<std::uint64_t>(header->height)))
    return std::nullopt;

  Bitmap bitmap;
  bitmap.width = static_cast<int>(header->width);
  bitmap.height = static_cast<int>(header->height);
  bitmap.pixels.resize(static_cast<std::size_t>(header->width * header->height));
  for (std::int64_t y = 0; y < header->height; ++y) {
    const std::int64_t stored = header->topDown ? y : header->height - 1 - y;
    const std::uint64_t row = header->pixelOffset + static_cast<std::uint64_t>(stored) * stride;
    for (std::int64_t x = 0; x < header->width; ++x) {
      bitmap.pixels[static_cast<std::size_t>(y * header->width + x)] =
          header->bitsPerPixel <= 8 ? indexed_pixel(file, row, x, header->bitsPerPixel, *palette)
                                    : direct_pixel(file, row, x, header->bitsPerPixel, *masks);
    }
  }
  return bitmap;
}

std::optional<Bitmap> load_bitmap_file(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size > kMaxFileBytes) return std::nullopt;
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(stream.gcount()));  // the file may have shrunk meanwhile
  std::optional<Bitmap> bitmap = decode_bitmap(bytes);
  if (bitmap) bitmap->file_name = path.string();
  return bitmap;
}

}  // namespace ui
