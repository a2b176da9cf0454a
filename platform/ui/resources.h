// What a program's resources give the framework: dialog templates (geometry in dialog units,
// texts as shown) and the application icon as pixels. The framework and every backend build
// their windows from these types; which dialogs, texts and icon there are is the program's.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace ui {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

enum class ControlKind : std::uint8_t {
  PushButton,
  DefPushButton,
  GroupBox,
  RadioButton,  // automatic: checking one unchecks its siblings
  Static,
  ComboBoxDropDown,  // editable drop-down
  ProgressBar,
};

struct ControlTemplate {
  int id;  // -1 for a static label without an id
  ControlKind kind;
  std::string_view text;
  Rect units;  // x, y, x + width, y + height in dialog units
};

struct DialogTemplate {
  int id;
  std::string_view caption;
  int widthUnits;
  int heightUnits;
  std::string_view fontName;
  int fontPoints;
  bool hasCaptionBar;  // false: borderless popup with a thin border
  std::span<const ControlTemplate> controls;
};

struct IconImage {
  int width;
  int height;
  std::span<const std::uint8_t> rgba;  // width * height pixels, 4 bytes each, rows top down
};

}  // namespace ui
