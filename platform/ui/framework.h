// Our stand-in for the dialog framework: an application object, modal dialogs built from
// the templates that the program hands them, controls addressed by template id, data
// exchange, message boxes captioned "kalvex", window timers and work posted to the UI thread.
//
// Windows and controls are plain model objects here; the active backend (headless, console
// or fltk) shows them and feeds user input back through the same calls a user would cause.
// Every call on these objects happens on the UI thread, except post_to_ui().
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/ui/resources.h"

namespace ui {

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

enum class MessageBoxType : std::uint8_t { Ok, OkCancel };

struct Point {
  int x = 0, y = 0;
};

class CDialog;
class Backend;

// A control or a dialog. Pixel rectangles are in the parent dialog's client coordinates.
class CWnd {
 public:
  virtual ~CWnd() = default;
  int GetDlgCtrlID() const { return m_id; }
  void SetWindowText(const std::string& text);
  std::string GetWindowText() const { return m_text; }
  void ShowWindow(bool visible);
  bool IsWindowVisible() const { return m_visible; }
  void EnableWindow(bool enabled);
  bool IsWindowEnabled() const { return m_enabled; }
  Rect GetWindowRect() const { return m_rect; }
  // Origin 0,0, the window's own size in pixels.
  Rect GetClientRect() const { return Rect{0, 0, m_rect.width(), m_rect.height()}; }
  ControlKind kind() const { return m_kind; }
  CDialog* owner() const { return m_owner; }
  // The dialog this window belongs to: its owner, or itself for a dialog.
  CDialog* dialog();

 protected:
  friend class CDialog;
  CWnd() = default;
  void changed();  // tells the backend that the model changed

  CDialog* m_owner = nullptr;  // the dialog a control belongs to; null for a dialog
  int m_id = 0;
  ControlKind m_kind = ControlKind::Static;
  std::string m_text;
  Rect m_rect;
  bool m_visible = true;
  bool m_enabled = true;
};

class CButton : public CWnd {
 public:
  void SetCheck(int state);  // 1 = checked; checking a radio button unchecks its siblings
  int GetCheck() const { return m_checked; }
  // A click as the user would make it: radio buttons check themselves, then the dialog's
  // command handler runs.
  void Click();

 private:
  friend class CDialog;
  int m_checked = 0;
};

class CStatic : public CWnd {};

class CProgressCtrl : public CWnd {
 public:
  void SetRange(int low, int high);
  int SetPos(int position);  // returns the previous position
  int GetPos() const { return m_pos; }
  int low() const { return m_low; }
  int high() const { return m_high; }

 private:
  int m_low = 0, m_high = 100, m_pos = 0;
};

class CComboBox : public CWnd {
 public:
  void ResetContent();
  int AddString(const std::string& text);  // index of the new entry
  int SetCurSel(int index);                // also puts the entry's text in the edit field
  int GetCurSel() const { return m_selection; }
  int GetCount() const { return static_cast<int>(m_items.size()); }
  std::string GetLBText(int index) const;
  const std::vector<std::string>& items() const { return m_items; }

 private:
  std::vector<std::string> m_items;
  int m_selection = -1;
};

// Direction and target of a data exchange (DoDataExchange).
class CDataExchange {
 public:
  explicit CDataExchange(CDialog& dialog, bool saveAndValidate)
      : m_dialog(dialog), m_saveAndValidate(saveAndValidate) {}
  CDialog& dialog() const { return m_dialog; }
  bool saving() const { return m_saveAndValidate; }
  // A validation refused the data; UpdateData then reports false.
  void fail() { m_failed = true; }
  bool failed() const { return m_failed; }

 private:
  CDialog& m_dialog;
  bool m_saveAndValidate;
  bool m_failed = false;
};

// Binds a control member to the template's control with that id.
void DDX_Control(CDataExchange& dx, int id, CWnd*& control);
template <class Control>
void DDX_Control(CDataExchange& dx, int id, Control*& control) {
  CWnd* window = control;
  DDX_Control(dx, id, window);
  control = static_cast<Control*>(window);
}
void DDX_Text(CDataExchange& dx, int id, std::string& value);
// Shows the framework's standard message when saving a text longer than maxChars.
void DDV_MaxChars(CDataExchange& dx, const std::string& value, int maxChars);

// The painting surface handed to OnEraseBkgnd; each backend draws with its own.
class Bitmap;
class CDC {
 public:
  virtual ~CDC() = default;
  // Stretches the whole bitmap over the destination rectangle (aspect not kept).
  virtual void StretchBlt(const Rect& destination, const Bitmap& source) = 0;
};

class CDialog : public CWnd {
 public:
  // The template must outlive the dialog (resources are static data).
  explicit CDialog(const DialogTemplate& dialogTemplate, CWnd* parent = nullptr);
  ~CDialog() override;

  // Runs the dialog modally on the active backend; IDOK, IDCANCEL or EndDialog's value.
  int DoModal();
  void EndDialog(int result);
  bool is_running() const { return m_running; }
  int template_id() const { return m_template->id; }
  const DialogTemplate& dialog_template() const { return *m_template; }
  CWnd* parent() const { return m_parent; }

  virtual bool OnInitDialog();
  virtual void OnOK();      // base: UpdateData(true), then EndDialog(IDOK)
  virtual void OnCancel();  // base: EndDialog(IDCANCEL)
  virtual void DoDataExchange(CDataExchange& dx);
  virtual void OnTimer(std::uintptr_t timerId);
  // A button other than IDOK/IDCANCEL was clicked (BN_CLICKED); the message map.
  virtual void OnCommand(int controlId);
  // Painting and mouse hooks, for dialogs that draw their own background.
  virtual bool OnEraseBkgnd(CDC& dc);  // false: default background
  virtual void OnLButtonDown(unsigned flags, Point point);
  // Whether a static control is drawn without a background box over the dialog's own.
  virtual bool IsTransparentStatic(const CWnd& control) const;

  // Keyboard and close box as the dialog manager delivers them: Enter sends the default
  // button's command even when that button is hidden; Esc and the close box cancel.
  void PressEnter();
  void PressEscape();
  // Dispatches a command as a click on the control with that id would: IDOK to OnOK,
  // IDCANCEL to OnCancel, anything else to OnCommand.
  void SendCommand(int controlId);

  bool UpdateData(bool saveAndValidate = true);
  CWnd* GetDlgItem(int id) const;
  void SetDlgItemText(int id, const std::string& text);
  std::string GetDlgItemText(int id) const;

  // Window timers: WM_TIMER to OnTimer, or the callback when one is given. Restarting an id
  // replaces its timer.
  using TimerCallback = std::function<void(std::uintptr_t timerId)>;
  std::uintptr_t SetTimer(std::uintptr_t timerId, std::chrono::milliseconds period,
                          TimerCallback callback = nullptr);
  bool KillTimer(std::uintptr_t timerId);

  // Creates a control at run time (the radio buttons of the product dialog).
  CButton* CreateButton(const std::string& caption, ControlKind kind, const Rect& pixels, int id);
  void DestroyControl(CWnd* control);

  // Moves the window with the mouse as if its caption had been pressed.
  void BeginWindowDrag(Point point);
  // Tells the backend to repaint (e.g. after the picture changed).
  void Invalidate();

  const std::vector<std::unique_ptr<CWnd>>& controls() const { return m_controls; }
  CWnd* default_button() const;

 private:
  friend class CWnd;
  friend class CButton;
  friend class Backend;
  void build_from_template();

  const DialogTemplate* m_template;
  CWnd* m_parent;
  std::vector<std::unique_ptr<CWnd>> m_controls;
  bool m_running = false;
  int m_result = IDCANCEL;
};

// The framework's application message box, captioned with the application name "kalvex".
int AfxMessageBox(const std::string& text, MessageBoxType type = MessageBoxType::Ok);

// Message formatting with numbered inserts: %1 .. %99, optionally with a printf-style
// format between exclamation marks (%1!d!); %. is a period, %% a percent sign, %n a line
// feed, %0 ends the text. An insert with no argument is left as written.
using MessageInsert = std::variant<long long, std::string>;
std::string format_message(std::string_view format, const std::vector<MessageInsert>& inserts);

// Runs work on the UI thread. Callable from any thread; never blocks the caller.
void post_to_ui(std::function<void()> work);
bool on_ui_thread();

// The application object: InitInstance runs the modal dialogs.
class CWinApp {
 public:
  virtual ~CWinApp() = default;
  virtual bool InitInstance() = 0;
  // Runs InitInstance on the active backend; the process's exit code.
  int Run();

  CWnd* m_pMainWnd = nullptr;  // set before the main dialog runs
};

inline constexpr const char* kApplicationName = "kalvex";

}  // namespace ui
