// Enter and Escape as a dialog manager handles them: Enter presses the active window's
// default button and Escape cancels it, wherever the pointer or the focus is. FLTK 1.3 on
// its own offers keys to the widget under the mouse first and turns an unclaimed Enter into
// "next field", so these two keys are taken before FLTK dispatches them.
#pragma once

namespace ui::fltk {

// A window that answers the dialog keys.
class DialogKeyTarget {
 public:
  virtual void press_default_button() = 0;
  virtual void press_cancel() = 0;

 protected:
  ~DialogKeyTarget() = default;
};

// UI thread, once: routes Enter and Escape to the topmost modal DialogKeyTarget.
void install_dialog_keys();

}  // namespace ui::fltk
