// The backend's duties on the Win32 API: the modal run of a dialog (its window made, the
// owner disabled, messages pumped until the model ends it), routing model changes to the
// running dialog's window, and the base units of the dialog font.
#include "platform/ui/win32/win32_backend.h"

#include "platform/ui/win32/windows_api.h"

#include <algorithm>
#include <vector>

#include "platform/ui/win32/app_icon.h"
#include "platform/ui/win32/dialog_template.h"
#include "platform/ui/win32/dialog_window.h"
#include "platform/ui/win32/message_pump.h"
#include "platform/win32/system.h"

namespace ui::win32 {

namespace {

INT_PTR CALLBACK measuring_procedure(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

// The dialog manager's own conversion (MapDialogRect) of 4 x 8 dialog units in a window with
// the template's font is one horizontal and one vertical base unit.
BaseUnits measure_base_units(const DialogTemplate& fontSource) {
  DialogTemplate empty = fontSource;
  empty.controls = {};
  const DialogTemplateBuffer buffer = build_dialog_template(empty, false);
  HWND window = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), buffer.get(), nullptr,
                                             measuring_procedure, 0);
  if (window == nullptr) return BaseUnits{};
  RECT units{0, 0, 4, 8};
  ::MapDialogRect(window, &units);
  ::DestroyWindow(window);
  return BaseUnits{static_cast<int>(units.right), static_cast<int>(units.bottom)};
}

bool load_common_controls() {
  INITCOMMONCONTROLSEX classes{};
  classes.dwSize = sizeof classes;
  classes.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  return ::InitCommonControlsEx(&classes) != FALSE;
}

}  // namespace

class Win32Backend final : public Backend {
 public:
  Win32Backend(BaseUnits base, HICON icon);
  ~Win32Backend() override;
  Win32Backend(const Win32Backend&) = delete;
  Win32Backend& operator=(const Win32Backend&) = delete;

  BaseUnits base_units() const override { return m_base; }
  void run_modal(CDialog& dialog) override;
  int message_box(const std::string& text, const std::string& caption,
                  MessageBoxType type) override;
  void control_changed(CDialog& dialog, CWnd& control) override;
  void control_created(CDialog& dialog, CWnd& control) override;
  void control_destroyed(CDialog& dialog, CWnd& control) override;
  void invalidate(CDialog& dialog) override;
  void begin_window_drag(CDialog& dialog, Point point) override;
  void wake() override;

 private:
  DialogWindow* window_of(const CDialog& dialog) const;
  // The window new dialogs and boxes belong to: the innermost running dialog's, or none.
  HWND active_owner() const;

  BaseUnits m_base;
  HICON m_icon;
  std::vector<DialogWindow*> m_running;  // innermost last
};

std::unique_ptr<Backend> create_backend(const IconImage& icon, const DialogTemplate& fontSource) {
  if (!load_common_controls() || !install_pump()) return nullptr;
  return std::make_unique<Win32Backend>(measure_base_units(fontSource), create_icon(icon));
}

Win32Backend::Win32Backend(BaseUnits base, HICON icon) : m_base(base), m_icon(icon) {}

Win32Backend::~Win32Backend() {
  if (m_icon != nullptr) ::DestroyIcon(m_icon);
}

DialogWindow* Win32Backend::window_of(const CDialog& dialog) const {
  for (DialogWindow* window : m_running)
    if (&window->dialog() == &dialog) return window;
  return nullptr;
}

HWND Win32Backend::active_owner() const {
  return m_running.empty() ? nullptr : m_running.back()->window();
}

void Win32Backend::run_modal(CDialog& dialog) {
  const auto* parent = dynamic_cast<const CDialog*>(dialog.parent());
  const DialogWindow* parentWindow = parent != nullptr ? window_of(*parent) : nullptr;
  HWND owner = parentWindow != nullptr ? parentWindow->window() : active_owner();
  DialogWindow window(dialog, owner, m_icon);
  if (window.window() == nullptr) {
    dialog.EndDialog(-1);  // as a dialog box that cannot be created
    return;
  }
  m_running.push_back(&window);

  dialog.OnInitDialog();
  schedule_next_timer();
  // Modal: the owner takes no input while the dialog runs, as with a dialog box.
  const bool ownerWasEnabled = owner != nullptr && ::IsWindowEnabled(owner);
  if (ownerWasEnabled) ::EnableWindow(owner, FALSE);
  if (dialog.is_running()) window.show();
  while (dialog.is_running()) {
    if (!pump_one(window.window())) {
      ::PostQuitMessage(0);  // for the loop outside this one
      dialog.PressEscape();
      break;
    }
  }
  // The owner is enabled before this window goes, so that it, not another program, is
  // activated next.
  if (ownerWasEnabled) ::EnableWindow(owner, TRUE);
  m_running.erase(std::find(m_running.begin(), m_running.end(), &window));
}

int Win32Backend::message_box(const std::string& text, const std::string& caption,
                              MessageBoxType type) {
  const UINT buttons = type == MessageBoxType::OkCancel ? MB_OKCANCEL : MB_OK;
  // Owned by the dialog on screen; a dialog that is not shown yet (the main dialog's warning
  // comes from its initialisation) owns nothing, or the box would not be activated.
  HWND owner = active_owner();
  if (owner != nullptr && !::IsWindowVisible(owner)) owner = nullptr;
  // In front and active, also when a server thread asked for it.
  const int answer =
      ::MessageBoxW(owner, platform::win32::widen(text).c_str(),
                    platform::win32::widen(caption).c_str(), buttons | MB_SETFOREGROUND);
  schedule_next_timer();
  return answer == IDCANCEL ? ui::IDCANCEL : ui::IDOK;
}

void Win32Backend::control_changed(CDialog& dialog, CWnd& control) {
  if (DialogWindow* window = window_of(dialog)) window->update(control);
}

void Win32Backend::control_created(CDialog& dialog, CWnd& control) {
  if (DialogWindow* window = window_of(dialog)) window->add_control(control);
}

void Win32Backend::control_destroyed(CDialog& dialog, CWnd& control) {
  if (DialogWindow* window = window_of(dialog)) window->remove_control(control);
}

void Win32Backend::invalidate(CDialog& dialog) {
  if (DialogWindow* window = window_of(dialog)) window->redraw();
}

void Win32Backend::begin_window_drag(CDialog& dialog, Point point) {
  if (DialogWindow* window = window_of(dialog)) window->begin_drag(point);
}

void Win32Backend::wake() {
  request_wakeup();
}

}  // namespace ui::win32
