// Build-time tool: writes the application icon, as the program draws it for its windows, into
// PNG files for the desktop's icon theme. Each size is an area-weighted resampling of that one
// drawing (the 256-pixel icon is the drawing exactly, eight pixels for each of its pixels);
// the PNG is written uncompressed (stored deflate blocks), so that nothing but the standard
// library is needed. Where the files are installed is the build's.
//
//   icon_png SIZE OUTPUT.png
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/wire.h"
#include "res/icon.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Pixel {
  double r = 0, g = 0, b = 0, a = 0;  // colour premultiplied by alpha while summing
};

Pixel source_pixel(const ui::IconImage& icon, int x, int y) {
  const std::span<const std::uint8_t> rgba =
      icon.rgba.subspan((static_cast<std::size_t>(y) * icon.width + x) * 4, 4);
  const double alpha = rgba[3] / 255.0;
  return {rgba[0] * alpha, rgba[1] * alpha, rgba[2] * alpha, alpha};
}

// How much of the unit cell [cell, cell + 1) lies inside [from, to).
double overlap(int cell, double from, double to) {
  return std::max(0.0, std::min<double>(cell + 1, to) - std::max<double>(cell, from));
}

// The source area under one destination pixel, averaged.
Pixel resample(const ui::IconImage& icon, int size, int x, int y) {
  const double scale = static_cast<double>(icon.width) / size;
  const double left = x * scale, right = (x + 1) * scale;
  const double top = y * scale, bottom = (y + 1) * scale;
  // Rounding may put an edge a hair past the last source pixel, which has no weight there.
  const int rowEnd = std::min(static_cast<int>(std::ceil(bottom)), icon.height);
  const int columnEnd = std::min(static_cast<int>(std::ceil(right)), icon.width);
  Pixel sum;
  for (int sy = static_cast<int>(top); sy < rowEnd; ++sy) {
    for (int sx = static_cast<int>(left); sx < columnEnd; ++sx) {
      const double weight = overlap(sx, left, right) * overlap(sy, top, bottom);
      const Pixel p = source_pixel(icon, sx, sy);
      sum.r += p.r * weight;
      sum.g += p.g * weight;
      sum.b += p.b * weight;
      sum.a += p.a * weight;
    }
  }
  const double area = scale * scale;
  return {sum.r / area, sum.g / area, sum.b / area, sum.a / area};
}

std::uint8_t to_byte(double value) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
}

// PNG scan lines: a filter byte (0, none) before each row of RGBA pixels.
Bytes scan_lines(const ui::IconImage& icon, int size) {
  Bytes lines;
  for (int y = 0; y < size; ++y) {
    lines.push_back(0);
    for (int x = 0; x < size; ++x) {
      const Pixel p = resample(icon, size, x, y);
      const double alpha = p.a > 0 ? p.a : 1;
      for (double channel : {p.r / alpha, p.g / alpha, p.b / alpha})
        lines.push_back(to_byte(channel));
      lines.push_back(to_byte(p.a * 255));
    }
  }
  return lines;
}

void append_be32(Bytes& out, std::uint32_t value) {
  std::array<std::uint8_t, 4> field{};
  platform::wire::store_be32(field, value);
  out.insert(out.end(), field.begin(), field.end());
}

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::uint32_t adler32(std::span<const std::uint8_t> bytes) {
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : bytes) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// A zlib stream of stored (uncompressed) deflate blocks, each at most 65535 bytes (RFC 1950,
// RFC 1951 section 3.2.4).
Bytes zlib_stored(std::span<const std::uint8_t> data) {
  Bytes out{0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t length = std::min<std::size_t>(data.size() - at, 65535);
    const bool last = at + length == data.size();
    out.push_back(last ? 1 : 0);
    const auto length16 = static_cast<std::uint16_t>(length);
    const auto complement = static_cast<std::uint16_t>(~length16);
    out.insert(out.end(),
               {static_cast<std::uint8_t>(length16), static_cast<std::uint8_t>(length16 >> 8),
                static_cast<std::uint8_t>(complement), static_cast<std::uint8_t>(complement >> 8)});
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
               data.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  } while (at < data.size());
  append_be32(out, adler32(data));
  return out;
}

void append_chunk(Bytes& png, const char (&type)[5], std::span<const std::uint8_t> data) {
  append_be32(png, static_cast<std::uint32_t>(data.size()));
  Bytes typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  png.insert(png.end(), typed.begin(), typed.end());
  append_be32(png, crc32(typed));
}

Bytes png_file(const ui::IconImage& icon, int size) {
  Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  append_be32(header, static_cast<std::uint32_t>(size));
  append_be32(header, static_cast<std::uint32_t>(size));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits per channel, RGBA, no interlace
  append_chunk(png, "IHDR", header);
  append_chunk(png, "IDAT", zlib_stored(scan_lines(icon, size)));
  append_chunk(png, "IEND", {});
  return png;
}

}  // namespace

int main(int argc, char** argv) {
  const long size = argc == 3 ? std::strtol(argv[1], nullptr, 10) : 0;
  if (size < 1 || size > 1024) {
    std::fprintf(stderr, "usage: icon_png SIZE OUTPUT.png (SIZE 1 to 1024)\n");
    return 2;
  }
  const Bytes png = png_file(res::application_icon(), static_cast<int>(size));
  std::FILE* file = std::fopen(argv[2], "wb");
  const bool written =
      file != nullptr && std::fwrite(png.data(), 1, png.size(), file) == png.size();
  if (file == nullptr || std::fclose(file) != 0 || !written) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
