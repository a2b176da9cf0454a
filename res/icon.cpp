// The application icon, painted once into a pixel array: a green circuit board with gold
// edge pins, a chip and two status lights, and a blue arrow pointing down into the board.
#include "res/icon.h"

#include <array>
#include <cstdint>

namespace res {

namespace {

constexpr int kSize = 32;

struct Rgba {
  std::uint8_t r, g, b, a;
};

constexpr Rgba kBoardGreen{22, 122, 64, 255};
constexpr Rgba kBoardEdge{12, 74, 38, 255};
constexpr Rgba kPinGold{214, 172, 58, 255};
constexpr Rgba kChip{36, 36, 40, 255};
constexpr Rgba kLedOn{120, 240, 90, 255};
constexpr Rgba kLedAmber{250, 180, 40, 255};
constexpr Rgba kArrowBlue{30, 92, 210, 255};
constexpr Rgba kArrowEdge{14, 48, 130, 255};

class Canvas {
 public:
  void set(int x, int y, Rgba colour) {
    if (x < 0 || y < 0 || x >= kSize || y >= kSize) return;
    const std::size_t at = static_cast<std::size_t>(y * kSize + x) * 4;
    m_pixels[at] = colour.r;
    m_pixels[at + 1] = colour.g;
    m_pixels[at + 2] = colour.b;
    m_pixels[at + 3] = colour.a;
  }
  void fill(int left, int top, int right, int bottom, Rgba colour) {
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) set(x, y, colour);
  }
  void frame(int left, int top, int right, int bottom, Rgba colour) {
    fill(left, top, right, top + 1, colour);
    fill(left, bottom - 1, right, bottom, colour);
    fill(left, top, left + 1, bottom, colour);
    fill(right - 1, top, right, bottom, colour);
  }
  const std::array<std::uint8_t, std::size_t{kSize} * kSize * 4>& pixels() const {
    return m_pixels;
  }

 private:
  std::array<std::uint8_t, std::size_t{kSize} * kSize * 4> m_pixels{};  // transparent
};

void paint_board(Canvas& canvas) {
  canvas.fill(2, 15, 30, 28, kBoardGreen);
  canvas.frame(2, 15, 30, 28, kBoardEdge);
  for (int x = 4; x < 28; x += 3) canvas.fill(x, 28, x + 2, 31, kPinGold);  // edge connector
  canvas.fill(12, 18, 21, 25, kChip);
  for (int y = 19; y < 25; y += 2) {
    canvas.set(11, y, kPinGold);
    canvas.set(21, y, kPinGold);
  }
  canvas.fill(5, 18, 7, 20, kLedOn);
  canvas.fill(5, 22, 7, 24, kLedAmber);
  canvas.fill(25, 18, 28, 25, kBoardEdge);  // the Ethernet socket
}

// A shaft from the top and a head whose point reaches into the board.
void paint_arrow(Canvas& canvas) {
  canvas.fill(13, 1, 19, 10, kArrowBlue);
  canvas.frame(13, 1, 19, 10, kArrowEdge);
  for (int row = 0; row < 8; ++row) {
    const int y = 9 + row;
    const int half = 7 - row;
    canvas.fill(16 - half - 1, y, 16 + half + 1, y + 1, kArrowBlue);
    canvas.set(16 - half - 1, y, kArrowEdge);
    canvas.set(16 + half, y, kArrowEdge);
  }
}

Canvas paint_icon() {
  Canvas canvas;
  paint_board(canvas);
  paint_arrow(canvas);
  return canvas;
}

}  // namespace

const ui::IconImage& application_icon() {
  static const Canvas canvas = paint_icon();
  static const ui::IconImage icon{kSize, kSize, canvas.pixels()};
  return icon;
}

}  // namespace res
