// Dialog templates and the string table as data: the only place where the dialogs' texts
// and geometry are written. Every UI backend builds its windows from these.
#pragma once

#include <span>
#include <string_view>

#include "platform/ui/framework.h"

namespace res {

struct ControlTemplate {
  int id;  // -1 for a static label without an id
  ui::ControlKind kind;
  std::string_view text;
  ui::Rect units;  // x, y, x + width, y + height in dialog units
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

const DialogTemplate* find_dialog_template(int id);
std::string_view load_string(int id);

}  // namespace res
