// What a UI backend provides to the framework: showing dialogs and controls, running modal
// loops (nested ones too), message boxes, and waking its loop when work is posted from
// another thread. Timers and posted work are kept by the shared EventLoop; a backend only
// waits for input until the next timer is due or until it is woken.
#pragma once

#include <string>

#include "platform/ui/framework.h"

namespace ui {

// Pixels per dialog unit come from the dialog font's average character width and height
// (4 horizontal and 8 vertical dialog units per base unit), as a dialog manager converts.
struct BaseUnits {
  int x = 6;
  int y = 13;
};
Rect dialog_units_to_pixels(const Rect& units, BaseUnits base);

class Backend {
 public:
  virtual ~Backend() = default;

  virtual BaseUnits base_units() const = 0;
  // Shows the dialog, calls OnInitDialog, then runs timers, posted work and user input until
  // the dialog has ended, and hides it. May be called while another dialog runs modally.
  virtual void run_modal(CDialog& dialog) = 0;
  virtual int message_box(const std::string& text, const std::string& caption,
                          MessageBoxType type) = 0;
  // The model of a control (or of the dialog itself) changed: redraw it.
  virtual void control_changed(CDialog& dialog, CWnd& control) = 0;
  virtual void control_created(CDialog& dialog, CWnd& control) = 0;
  virtual void control_destroyed(CDialog& dialog, CWnd& control) = 0;
  virtual void invalidate(CDialog& dialog) = 0;
  virtual void begin_window_drag(CDialog& dialog, Point point) = 0;
  // Called from any thread after work was posted; must not block.
  virtual void wake() = 0;
};

// The backend in use; set once at start on the UI thread, before any dialog runs. The thread
// that sets it becomes the UI thread.
void set_backend(Backend* backend);
bool has_backend();
Backend& backend();

}  // namespace ui
