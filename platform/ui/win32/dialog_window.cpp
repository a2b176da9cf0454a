// A dialog's window: made from its template by the dialog manager, its controls tied to the
// model's, and the dialog procedure that turns notifications into the model's calls.
#include "platform/ui/win32/dialog_window.h"

#include <vector>

#include "platform/ui/win32/control_sync.h"
#include "platform/ui/win32/dialog_template.h"
#include "platform/ui/win32/picture_dc.h"
#include "platform/win32/system.h"

namespace ui::win32 {

namespace {

using platform::win32::widen;

bool is_button(ControlKind kind) {
  return kind == ControlKind::PushButton || kind == ControlKind::DefPushButton ||
         kind == ControlKind::RadioButton;
}

// The dialog's direct children in creation order; a combo box's own edit field is not one.
std::vector<HWND> child_windows(HWND dialog) {
  std::vector<HWND> children;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT))
    children.push_back(child);
  return children;
}

RECT centred_on(HWND window, HWND owner) {
  RECT area{};
  if (owner != nullptr && ::IsWindowVisible(owner))
    ::GetWindowRect(owner, &area);
  else
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT rect{};
  ::GetWindowRect(window, &rect);
  const LONG width = rect.right - rect.left, height = rect.bottom - rect.top;
  const LONG left = area.left + (area.right - area.left - width) / 2;
  const LONG top = area.top + (area.bottom - area.top - height) / 2;
  return RECT{left, top, left + width, top + height};
}

}  // namespace

DialogWindow::DialogWindow(CDialog& dialog, HWND owner, HICON icon)
    : m_dialog(dialog), m_owner(owner) {
  const DialogTemplateBuffer buffer = build_dialog_template(dialog.dialog_template());
  // WM_INITDIALOG sets m_window and ties the controls before this returns.
  ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), buffer.get(), owner, procedure,
                               reinterpret_cast<LPARAM>(this));
  if (m_window == nullptr) return;
  ::SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ::SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

DialogWindow::~DialogWindow() {
  if (m_window == nullptr) return;
  ::SetWindowLongPtrW(m_window, DWLP_USER, 0);  // no more notifications into this object
  ::DestroyWindow(m_window);
}

void DialogWindow::tie_template_controls() {
  const std::vector<HWND> children = child_windows(m_window);
  std::vector<bool> taken(children.size(), false);
  for (const auto& control : m_dialog.controls()) {
    // The n-th control with an id is the n-th child with it (labels share the id -1).
    HWND tied = nullptr;
    for (std::size_t i = 0; i < children.size() && tied == nullptr; ++i) {
      if (taken[i] || ::GetDlgCtrlID(children[i]) != control->GetDlgCtrlID()) continue;
      taken[i] = true;
      tied = children[i];
    }
    if (tied == nullptr) {
      add_control(*control);  // made at run time before this run
      continue;
    }
    m_controls[control.get()] = tied;
    update(*control);
  }
}

void DialogWindow::show() {
  const RECT at = centred_on(m_window, m_owner);
  ::SetWindowPos(m_window, nullptr, at.left, at.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::ShowWindow(m_window, SW_SHOW);
  ::SetForegroundWindow(m_window);
  if (HWND first = ::GetNextDlgTabItem(m_window, nullptr, FALSE))
    ::SendMessageW(m_window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
}

void DialogWindow::update(CWnd& control) {
  if (&control == &m_dialog) {
    ::SetWindowTextW(m_window, widen(m_dialog.GetWindowText()).c_str());
    return;
  }
  auto found = m_controls.find(&control);
  if (found == m_controls.end()) return;
  m_syncing = true;
  sync_control(found->second, control);
  m_syncing = false;
  if (control.kind() == ControlKind::Static && m_dialog.IsTransparentStatic(control)) {
    // Nothing of a transparent label's old text goes unless the background under it repaints.
    RECT under{};
    ::GetWindowRect(found->second, &under);
    ::MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&under), 2);
    ::RedrawWindow(m_window, &under, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
}

void DialogWindow::add_control(CWnd& control) {
  const ControlClass type = control_class(control.kind());
  const Rect at = control.GetWindowRect();
  HWND child = ::CreateWindowExW(0, type.name, widen(control.GetWindowText()).c_str(),
                                 WS_CHILD | type.style, at.left, at.top, at.width(), at.height(),
                                 m_window, as_handle<HMENU>(control.GetDlgCtrlID()),
                                 ::GetModuleHandleW(nullptr), nullptr);
  if (child == nullptr) return;
  // The dialog's own font, as the dialog manager gives the controls of its template.
  ::SendMessageW(child, WM_SETFONT, ::SendMessageW(m_window, WM_GETFONT, 0, 0), FALSE);
  m_controls[&control] = child;
  update(control);
}

void DialogWindow::remove_control(CWnd& control) {
  auto found = m_controls.find(&control);
  if (found == m_controls.end()) return;
  HWND child = found->second;
  m_controls.erase(found);
  ::DestroyWindow(child);
}

void DialogWindow::begin_drag(Point point) const {
  POINT screen{point.x, point.y};
  ::ClientToScreen(m_window, &screen);
  ::ReleaseCapture();
  // Posted: the system's move loop starts once the press that asked for it is handled.
  ::PostMessageW(m_window, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(screen.x, screen.y));
}

void DialogWindow::redraw() const {
  ::RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

CWnd* DialogWindow::control_of(HWND child) const {
  for (const auto& [control, window] : m_controls)
    if (window == child) return const_cast<CWnd*>(control);
  return nullptr;
}

void DialogWindow::on_command(int id, int notification, HWND from) {
  CWnd* control = from != nullptr ? control_of(from) : nullptr;
  if (control != nullptr && control->kind() == ControlKind::ComboBoxDropDown) {
    auto& combo = static_cast<CComboBox&>(*control);
    if (notification == CBN_EDITCHANGE) combo.SetWindowText(window_text(from));
    if (notification == CBN_SELCHANGE)
      combo.SetCurSel(static_cast<int>(::SendMessageW(from, CB_GETCURSEL, 0, 0)));
    return;
  }
  if (notification != BN_CLICKED) return;
  // Esc and the close box; Enter sends the default button's id, even for a hidden button.
  if (id == IDCANCEL) {
    m_dialog.PressEscape();
  } else if (control != nullptr && is_button(control->kind()) && control->IsWindowVisible() &&
             control->IsWindowEnabled()) {
    static_cast<CButton*>(control)->Click();
  } else if (id == IDOK) {
    m_dialog.PressEnter();
  }
}

bool DialogWindow::erase_background(HDC dc) {
  PictureDC surface(dc);
  return m_dialog.OnEraseBkgnd(surface);
}

HBRUSH DialogWindow::static_colour(HDC dc, HWND child) {
  const CWnd* control = control_of(child);
  if (control == nullptr || !m_dialog.IsTransparentStatic(*control)) return nullptr;
  ::SetBkMode(dc, TRANSPARENT);
  return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

INT_PTR DialogWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (!m_syncing) on_command(LOWORD(wParam), HIWORD(wParam), as_handle<HWND>(lParam));
      return TRUE;
    case WM_ERASEBKGND:
      if (!erase_background(as_handle<HDC>(static_cast<LONG_PTR>(wParam)))) return FALSE;
      ::SetWindowLongPtrW(m_window, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(
          static_colour(as_handle<HDC>(static_cast<LONG_PTR>(wParam)), as_handle<HWND>(lParam)));
    case WM_LBUTTONDOWN:
      m_dialog.OnLButtonDown(static_cast<unsigned>(wParam),
                             Point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return TRUE;
    default:
      return FALSE;  // the dialog manager's own handling (WM_CLOSE becomes IDCANCEL)
  }
}

INT_PTR CALLBACK DialogWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = as_handle<DialogWindow*>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->m_window = window;
    self->tie_template_controls();
    return FALSE;  // the focus is given when the window shows
  }
  auto* self = as_handle<DialogWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->handle(message, wParam, lParam) : FALSE;
}

}  // namespace ui::win32
