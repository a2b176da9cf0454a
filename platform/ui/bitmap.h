// Windows bitmap files (".bmp") read into a plain picture that every UI backend can draw.
// Only uncompressed pictures are read; anything malformed, truncated or too large is refused
// as a whole, never read past its end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ui {

class Bitmap {
 public:
  int width = 0;
  int height = 0;
  // 0xFFRRGGBB, row by row from the top, width * height of them.
  std::vector<std::uint32_t> pixels;
  // The file it was read from, for backends that can only describe the picture.
  std::string file_name;

  std::uint32_t pixel(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

// A picture larger than this many pixels is refused (256 MiB once decoded).
inline constexpr std::uint64_t kMaxBitmapPixels = std::uint64_t{1} << 26;

// Reads BITMAPFILEHEADER + BITMAPINFOHEADER (or its V4/V5 forms) with 1, 4, 8, 24 or 32 bits
// per pixel, uncompressed (32 bits also with byte-aligned colour masks), bottom-up or
// top-down. Anything else yields no picture.
std::optional<Bitmap> decode_bitmap(std::span<const std::uint8_t> bytes);
std::optional<Bitmap> load_bitmap_file(const std::filesystem::path& path);

}  // namespace ui
