// Window messages that bring a child window to its model's state.
#include "platform/ui/win32/control_sync.h"

#include <vector>

#include "platform/win32/system.h"

namespace ui::win32 {

namespace {

using platform::win32::widen;

void sync_text(HWND window, const std::string& text) {
  if (window_text(window) != text) ::SetWindowTextW(window, widen(text).c_str());
}

std::string list_item(HWND combo, int index) {
  const LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
  ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.data()));
  return platform::win32::narrow(text.data());
}

bool same_items(HWND combo, const CComboBox& model) {
  if (::SendMessageW(combo, CB_GETCOUNT, 0, 0) != model.GetCount()) return false;
  for (int i = 0; i < model.GetCount(); ++i)
    if (list_item(combo, i) != model.GetLBText(i)) return false;
  return true;
}

// The edit field is left alone while it already shows the model's text: that is the case
// while the user types, when the list's own selection may follow the typing or not.
void sync_combo(HWND combo, const CComboBox& model) {
  if (!same_items(combo, model)) {
    ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : model.items())
      ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(item).c_str()));
  }
  const std::string text = model.GetWindowText();
  if (window_text(combo) == text) return;
  const int selected = model.GetCurSel();
  if (selected >= 0 && model.GetLBText(selected) == text)
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  else
    ::SetWindowTextW(combo, widen(text).c_str());
}

void sync_progress(HWND bar, const CProgressCtrl& model) {
  ::SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(model.low()), model.high());
  ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(model.GetPos()), 0);
}

bool has_focus(HWND window) {
  HWND focus = ::GetFocus();
  return focus != nullptr && (focus == window || ::IsChild(window, focus));
}

// A control about to be disabled or hidden hands the focus on first, as dialogs must: a focus
// left on it would be lost, and with it Enter and Esc. With no other control to take it, the
// dialog itself keeps it, where the dialog manager still reads both keys.
void hand_focus_on(HWND window) {
  if (!has_focus(window)) return;
  HWND dialog = ::GetParent(window);
  HWND next = ::GetNextDlgTabItem(dialog, window, FALSE);
  if (next != nullptr && next != window && !::IsChild(window, next))
    ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
  else
    ::SetFocus(dialog);
}

void sync_state(HWND window, const CWnd& control) {
  const bool shown = (::GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0;
  const bool enabled = ::IsWindowEnabled(window) != FALSE;
  if ((shown && !control.IsWindowVisible()) || (enabled && !control.IsWindowEnabled()))
    hand_focus_on(window);
  if (shown != control.IsWindowVisible())
    ::ShowWindow(window, control.IsWindowVisible() ? SW_SHOWNA : SW_HIDE);
  if (enabled != control.IsWindowEnabled())
    ::EnableWindow(window, control.IsWindowEnabled() ? TRUE : FALSE);
}

}  // namespace

std::string window_text(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(window, text.data(), length + 1);
  return platform::win32::narrow(text.data());
}

void sync_control(HWND window, const CWnd& control) {
  switch (control.kind()) {
    case ControlKind::RadioButton:
      sync_text(window, control.GetWindowText());
      ::SendMessageW(
          window, BM_SETCHECK,
          static_cast<const CButton&>(control).GetCheck() == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case ControlKind::ComboBoxDropDown:
      sync_combo(window, static_cast<const CComboBox&>(control));
      break;
    case ControlKind::ProgressBar:
      sync_progress(window, static_cast<const CProgressCtrl&>(control));
      break;
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::GroupBox:
    case ControlKind::Static:
      sync_text(window, control.GetWindowText());
      break;
  }
  sync_state(window, control);
}

}  // namespace ui::win32
