// libFuzzer target for the bitmap reader: the input is a whole ".bmp" file. A picture it
// accepts must hold exactly width x height pixels, each one opaque, so that every backend can
// draw it without reading past the end.
#include <cstdint>
#include <span>

#include "platform/ui/bitmap.h"
#include "tools/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<ui::Bitmap> bitmap =
      ui::decode_bitmap(std::span<const std::uint8_t>(data, size));
  if (!bitmap) return 0;
  if (bitmap->width <= 0 || bitmap->height <= 0) fuzz::fail("a picture without pixels");
  if (bitmap->pixels.size() !=
      static_cast<std::size_t>(bitmap->width) * static_cast<std::size_t>(bitmap->height))
    fuzz::fail("pixel count differs from width x height");
  for (const std::uint32_t pixel : bitmap->pixels)
    if ((pixel >> 24) != 0xFF) fuzz::fail("a pixel that is not opaque");
  return 0;
}
