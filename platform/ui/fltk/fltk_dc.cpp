// Stretching a picture onto the window being drawn.
#include "platform/ui/fltk/fltk_dc.h"

#include <FL/fl_draw.H>

#include <cstdint>
#include <vector>

#include "platform/ui/bitmap.h"

namespace ui::fltk {

namespace {

// The picture scaled to width x height by picking the nearest source pixel, as RGB bytes.
std::vector<unsigned char> stretch_to_rgb(const Bitmap& source, int width, int height) {
  std::vector<unsigned char> rgb;
  if (width <= 0 || height <= 0 || source.width <= 0 || source.height <= 0 ||
      source.pixels.size() < static_cast<std::size_t>(source.width) * source.height)
    return rgb;
  rgb.reserve(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const int sourceY = static_cast<int>(static_cast<std::int64_t>(y) * source.height / height);
    for (int x = 0; x < width; ++x) {
      const int sourceX = static_cast<int>(static_cast<std::int64_t>(x) * source.width / width);
      const std::uint32_t pixel = source.pixel(sourceX, sourceY);
      rgb.push_back(static_cast<unsigned char>(pixel >> 16));
      rgb.push_back(static_cast<unsigned char>(pixel >> 8));
      rgb.push_back(static_cast<unsigned char>(pixel));
    }
  }
  return rgb;
}

}  // namespace

void FltkDC::StretchBlt(const Rect& destination, const Bitmap& source) {
  const std::vector<unsigned char> rgb =
      stretch_to_rgb(source, destination.width(), destination.height());
  if (rgb.empty()) return;
  fl_draw_image(rgb.data(), destination.left, destination.top, destination.width(),
                destination.height(), 3);
}

}  // namespace ui::fltk
