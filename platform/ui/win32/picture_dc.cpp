// Stretching a decoded picture onto a device context. The picture's pixels (0xFFRRGGBB) are
// already in the byte order of a 32-bit device-independent bitmap, top row first.
#include "platform/ui/win32/picture_dc.h"

#include "platform/ui/bitmap.h"

namespace ui::win32 {

void PictureDC::StretchBlt(const Rect& destination, const Bitmap& source) {
  if (source.width <= 0 || source.height <= 0 ||
      source.pixels.size() < static_cast<std::size_t>(source.width) * source.height)
    return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = source.width;
  info.bmiHeader.biHeight = -source.height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  // Whole pixels, no blending of neighbours: the picture as a stretching blit shows it.
  ::SetStretchBltMode(m_dc, COLORONCOLOR);
  ::StretchDIBits(m_dc, destination.left, destination.top, destination.width(),
                  destination.height(), 0, 0, source.width, source.height, source.pixels.data(),
                  &info, DIB_RGB_COLORS, SRCCOPY);
}

}  // namespace ui::win32
