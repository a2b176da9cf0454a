// Message boxes as our own modal window titled with the caption ("kalvex"), with OK or
// OK and Cancel. Each box runs its own modal loop, so boxes nest the way a dialog
// manager's do: a box asked for while another is open shows on top and is answered first.
// (fl_choice would return at once without showing the second box.)
#pragma once

#include <string>

#include "platform/ui/backend.h"

namespace ui::fltk {

// Pixel layout of a box for its measured text, in the box's client coordinates.
struct MessageLayout {
  int width = 0, height = 0;
  Rect text;
  Rect buttons[2];
};
MessageLayout layout_message(int textWidth, int textHeight, int buttonCount, BaseUnits base);

// Shows the box, runs timers and posted work while it is open, and returns IDOK or IDCANCEL.
// Escape answers Cancel, or OK where OK is the only button; Enter answers OK.
int run_message_box(const std::string& text, const std::string& caption, MessageBoxType type,
                    BaseUnits base);

}  // namespace ui::fltk
