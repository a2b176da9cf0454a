// The Win32 window of one running dialog: made by the dialog manager from the dialog's
// template, with each of the model's controls tied to its child window, kept in step with
// the model, and user input turned back into the model's own calls (clicks, typed and
// chosen text, Enter and Esc through the dialog manager, the close box, painting of the
// background and presses on it). The backend owns one per dialog while it runs modally.
#pragma once

#include "platform/ui/win32/windows_api.h"

#include <map>

#include "platform/ui/framework.h"

namespace ui::win32 {

class DialogWindow {
 public:
  // Creates the window hidden, owned by owner (may be null), with the icon as its big and
  // small icon. window() is null when the dialog manager refused the template.
  DialogWindow(CDialog& dialog, HWND owner, HICON icon);
  ~DialogWindow();
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  HWND window() const { return m_window; }
  CDialog& dialog() const { return m_dialog; }

  // Centres the window on its owner (the screen without one), shows it and gives the focus
  // to the first control that takes it.
  void show();
  // The model changed; control may be the dialog itself (its caption).
  void update(CWnd& control);
  void add_control(CWnd& control);
  void remove_control(CWnd& control);
  // Starts moving the window as if its caption had been pressed at point (client pixels).
  void begin_drag(Point point) const;
  void redraw() const;

 private:
  static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
  void tie_template_controls();
  void on_command(int id, int notification, HWND from);
  CWnd* control_of(HWND child) const;
  bool erase_background(HDC dc);
  HBRUSH static_colour(HDC dc, HWND child);

  CDialog& m_dialog;
  HWND m_window = nullptr;
  HWND m_owner;
  std::map<const CWnd*, HWND> m_controls;
  bool m_syncing = false;  // model -> window: the notifications this causes are not input
};

}  // namespace ui::win32
