// The FLTK window of one running dialog: one widget per control of the dialog's model, laid
// out at the control's pixel rectangle, kept in step with the model, and user input turned
// back into the model's own calls (clicks, typed text, Enter, Escape, the close box, a
// press on the background). The backend owns one per dialog while it runs modally.
#pragma once

#include <FL/Fl_Double_Window.H>

#include <map>

#include "platform/ui/backend.h"
#include "platform/ui/fltk/dialog_keys.h"

class Fl_Widget;

namespace ui::fltk {

class DialogWindow : public Fl_Double_Window, public DialogKeyTarget {
 public:
  // Builds the widgets of every control the dialog has now; owner is the window of the
  // dialog's parent, over which this one is centred (the screen when null).
  DialogWindow(CDialog& dialog, BaseUnits base, Fl_Window* owner);
  ~DialogWindow() override;

  CDialog& dialog() const { return m_dialog; }

  // The model changed; control may be the dialog itself (its caption).
  void update(CWnd& control);
  void add_control(CWnd& control);
  void remove_control(CWnd& control);
  // Moves the window with the pointer until the left button is released; point is where
  // the button went down, in client coordinates.
  void begin_drag(Point point);

  // The widget that shows a control, or null.
  Fl_Widget* widget_for(const CWnd& control) const;

  void press_default_button() override;
  void press_cancel() override;
  int handle(int event) override;
  void draw() override;

 private:
  Fl_Widget* create_widget(CWnd& control);
  void update_widget(CWnd& control, Fl_Widget& widget);
  void centre_on(Fl_Window* owner);

  CDialog& m_dialog;
  BaseUnits m_base;
  std::map<const CWnd*, Fl_Widget*> m_widgets;
  bool m_dragging = false;
  Point m_dragAnchor;
};

}  // namespace ui::fltk
