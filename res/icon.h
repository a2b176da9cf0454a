// The application icon (resource 128): a router board with an arrow bringing the image
// down into it. Drawn in code as RGBA pixels so that every backend can hand it to its
// windowing system without an image file.
#pragma once

#include <cstdint>
#include <span>

namespace res {

struct IconImage {
  int width;
  int height;
  std::span<const std::uint8_t> rgba;  // width * height pixels, 4 bytes each, rows top down
};

// The icon of resource IDR_MAINFRAME, 32 x 32 pixels.
const IconImage& application_icon();

}  // namespace res
