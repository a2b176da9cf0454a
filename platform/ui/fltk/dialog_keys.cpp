// Taking Enter and Escape before FLTK's own dispatch.
#include "platform/ui/fltk/dialog_keys.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>

namespace ui::fltk {

namespace {

bool is_enter(int key) {
  return key == FL_Enter || key == FL_KP_Enter;
}

DialogKeyTarget* active_target(Fl_Window* window) {
  // A modal window takes every key; without one, the window the key was sent to.
  Fl_Window* active = Fl::modal() ? Fl::modal() : window;
  return dynamic_cast<DialogKeyTarget*>(active);
}

int dispatch(int event, Fl_Window* window) {
  // An open drop-down list holds the grab: its own Escape and Enter close it.
  if (event == FL_KEYBOARD && !Fl::grab()) {
    const int key = Fl::event_key();
    if (is_enter(key) || key == FL_Escape) {
      if (DialogKeyTarget* target = active_target(window)) {
        if (key == FL_Escape)
          target->press_cancel();
        else
          target->press_default_button();
        return 1;
      }
    }
  }
  return Fl::handle_(event, window);
}

}  // namespace

void install_dialog_keys() {
  Fl::event_dispatch(dispatch);
}

}  // namespace ui::fltk
