// An icon from RGBA pixels: a 32-bit colour bitmap whose alpha channel is the icon's shape
// (CreateIconIndirect), and an all-zero mask, which such an icon ignores.
#include "platform/ui/win32/app_icon.h"

#include <cstdint>
#include <vector>

namespace ui::win32 {

namespace {

HBITMAP create_colour_bitmap(const IconImage& image) {
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof header;
  header.bV5Width = image.width;
  header.bV5Height = -image.height;  // top-down, as the pixels are
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HDC screen = ::GetDC(nullptr);
  HBITMAP bitmap = ::CreateDIBSection(screen, reinterpret_cast<const BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
  ::ReleaseDC(nullptr, screen);
  if (bitmap == nullptr) return nullptr;
  auto* out = static_cast<std::uint8_t*>(bits);
  const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
  for (std::size_t i = 0; i < pixels && (i + 1) * 4 <= image.rgba.size(); ++i) {
    out[i * 4 + 0] = image.rgba[i * 4 + 2];  // blue
    out[i * 4 + 1] = image.rgba[i * 4 + 1];  // green
    out[i * 4 + 2] = image.rgba[i * 4 + 0];  // red
    out[i * 4 + 3] = image.rgba[i * 4 + 3];  // alpha
  }
  return bitmap;
}

}  // namespace

HICON create_icon(const IconImage& image) {
  HBITMAP colour = create_colour_bitmap(image);
  if (colour == nullptr) return nullptr;
  // Monochrome rows are WORD aligned; all zero, so nothing of the shape comes from the mask.
  const std::vector<std::uint8_t> zeros(
      static_cast<std::size_t>((image.width + 15) / 16 * 2) * image.height, 0);
  HBITMAP mask = ::CreateBitmap(image.width, image.height, 1, 1, zeros.data());
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = colour;
  info.hbmMask = mask;
  HICON icon = mask != nullptr ? ::CreateIconIndirect(&info) : nullptr;
  // The icon keeps copies of both bitmaps.
  ::DeleteObject(colour);
  if (mask != nullptr) ::DeleteObject(mask);
  return icon;
}

}  // namespace ui::win32
