// The framework's model objects: windows and controls as plain data built from their
// dialog's template, dialogs and their modal runs, data exchange, message boxes, message
// formatting and work posted to the UI thread. Showing anything is left to the backend.
#include "platform/ui/framework.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/ui/backend.h"
#include "platform/ui/event_loop.h"

namespace ui {

namespace {

BaseUnits current_base_units() {
  return has_backend() ? backend().base_units() : BaseUnits{};
}

std::unique_ptr<CWnd> make_control(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::GroupBox:
    case ControlKind::RadioButton:
      return std::make_unique<CButton>();
    case ControlKind::ComboBoxDropDown:
      return std::make_unique<CComboBox>();
    case ControlKind::ProgressBar:
      return std::make_unique<CProgressCtrl>();
    case ControlKind::Static:
      break;
  }
  return std::make_unique<CStatic>();
}

}  // namespace

// ---- CWnd and controls ----

CDialog* CWnd::dialog() {
  if (m_owner != nullptr) return m_owner;
  return dynamic_cast<CDialog*>(this);
}

void CWnd::changed() {
  CDialog* shownIn = dialog();
  if (shownIn != nullptr && shownIn->is_running() && has_backend())
    backend().control_changed(*shownIn, *this);
}

void CWnd::SetWindowText(const std::string& text) {
  if (text == m_text) return;
  m_text = text;
  changed();
}

void CWnd::ShowWindow(bool visible) {
  if (visible == m_visible) return;
  m_visible = visible;
  changed();
}

void CWnd::EnableWindow(bool enabled) {
  if (enabled == m_enabled) return;
  m_enabled = enabled;
  changed();
}

void CButton::SetCheck(int state) {
  if (state == 1 && m_kind == ControlKind::RadioButton && m_owner != nullptr) {
    for (const auto& sibling : m_owner->controls()) {
      if (sibling.get() == this || sibling->kind() != ControlKind::RadioButton) continue;
      auto* radio = static_cast<CButton*>(sibling.get());
      if (radio->m_checked != 0) {
        radio->m_checked = 0;
        radio->changed();
      }
    }
  }
  if (state == m_checked) return;
  m_checked = state;
  changed();
}

void CButton::Click() {
  // A user can click only what is shown and enabled.
  if (!m_visible || !m_enabled || m_owner == nullptr) return;
  if (m_kind == ControlKind::RadioButton) SetCheck(1);
  m_owner->SendCommand(m_id);
}

void CProgressCtrl::SetRange(int low, int high) {
  m_low = low;
  m_high = high;
  m_pos = std::clamp(m_pos, std::min(low, high), std::max(low, high));
  changed();
}

int CProgressCtrl::SetPos(int position) {
  // A progress bar keeps its position inside its range.
  const int previous = m_pos;
  m_pos = std::clamp(position, std::min(m_low, m_high), std::max(m_low, m_high));
  if (m_pos != previous) changed();
  return previous;
}

void CComboBox::ResetContent() {
  m_items.clear();
  m_selection = -1;
  m_text.clear();
  changed();
}

int CComboBox::AddString(const std::string& text) {
  m_items.push_back(text);
  changed();
  return GetCount() - 1;
}

int CComboBox::SetCurSel(int index) {
  if (index < 0 || index >= GetCount()) {
    m_selection = -1;
    m_text.clear();
    changed();
    return -1;
  }
  m_selection = index;
  m_text = m_items[static_cast<std::size_t>(index)];
  changed();
  return index;
}

std::string CComboBox::GetLBText(int index) const {
  if (index < 0 || index >= GetCount()) return {};
  return m_items[static_cast<std::size_t>(index)];
}

// ---- Data exchange ----

void DDX_Control(CDataExchange& dx, int id, CWnd*& control) {
  control = dx.dialog().GetDlgItem(id);
  if (control == nullptr) {
    std::fprintf(stderr, "kalvex: dialog %d has no control %d\n", dx.dialog().template_id(), id);
    std::abort();
  }
}

void DDX_Text(CDataExchange& dx, int id, std::string& value) {
  if (dx.saving())
    value = dx.dialog().GetDlgItemText(id);
  else
    dx.dialog().SetDlgItemText(id, value);
}

void DDV_MaxChars(CDataExchange& dx, const std::string& value, int maxChars) {
  if (!dx.saving() || value.size() <= static_cast<std::size_t>(std::max(maxChars, 0))) return;
  AfxMessageBox("Please enter no more than " + std::to_string(maxChars) + " characters.");
  dx.fail();
}

// ---- CDialog ----

CDialog::CDialog(const DialogTemplate& dialogTemplate, CWnd* parent)
    : m_template(&dialogTemplate), m_parent(parent) {
  m_visible = false;
  build_from_template();
}

CDialog::~CDialog() {
  event_loop().kill_timers_of(this);
}

void CDialog::build_from_template() {
  const BaseUnits base = current_base_units();
  m_text = std::string(m_template->caption);
  m_rect =
      dialog_units_to_pixels(Rect{0, 0, m_template->widthUnits, m_template->heightUnits}, base);
  for (const ControlTemplate& entry : m_template->controls) {
    std::unique_ptr<CWnd> control = make_control(entry.kind);
    control->m_owner = this;
    control->m_id = entry.id;
    control->m_kind = entry.kind;
    control->m_text = std::string(entry.text);
    control->m_rect = dialog_units_to_pixels(entry.units, base);
    m_controls.push_back(std::move(control));
  }
}

int CDialog::DoModal() {
  if (m_running) return -1;
  m_running = true;
  m_result = IDCANCEL;
  m_visible = true;
  backend().run_modal(*this);
  m_running = false;
  m_visible = false;
  // A window's timers end with the window.
  event_loop().kill_timers_of(this);
  return m_result;
}

void CDialog::EndDialog(int result) {
  m_result = result;
  m_running = false;
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}
void CDialog::DoDataExchange(CDataExchange&) {}
void CDialog::OnTimer(std::uintptr_t) {}
void CDialog::OnCommand(int) {}
bool CDialog::OnEraseBkgnd(CDC&) {
  return false;
}
void CDialog::OnLButtonDown(unsigned, Point) {}
bool CDialog::IsTransparentStatic(const CWnd&) const {
  return false;
}

void CDialog::PressEnter() {
  const CWnd* defaultButton = default_button();
  if (defaultButton != nullptr && !defaultButton->IsWindowEnabled()) return;
  SendCommand(defaultButton != nullptr ? defaultButton->GetDlgCtrlID() : IDOK);
}

void CDialog::PressEscape() {
  SendCommand(IDCANCEL);
}

void CDialog::SendCommand(int controlId) {
  if (controlId == IDOK)
    OnOK();
  else if (controlId == IDCANCEL)
    OnCancel();
  else
    OnCommand(controlId);
}

bool CDialog::UpdateData(bool saveAndValidate) {
  CDataExchange dx(*this, saveAndValidate);
  DoDataExchange(dx);
  return !dx.failed();
}

CWnd* CDialog::GetDlgItem(int id) const {
  if (id == -1) return nullptr;
  for (const auto& control : m_controls)
    if (control->GetDlgCtrlID() == id) return control.get();
  return nullptr;
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
  if (CWnd* control = GetDlgItem(id)) control->SetWindowText(text);
}

std::string CDialog::GetDlgItemText(int id) const {
  const CWnd* control = GetDlgItem(id);
  return control != nullptr ? control->GetWindowText() : std::string();
}

std::uintptr_t CDialog::SetTimer(std::uintptr_t timerId, std::chrono::milliseconds period,
                                 TimerCallback callback) {
  event_loop().set_timer(this, timerId, period, std::move(callback));
  return timerId;
}

bool CDialog::KillTimer(std::uintptr_t timerId) {
  return event_loop().kill_timer(this, timerId);
}

CButton* CDialog::CreateButton(const std::string& caption, ControlKind kind, const Rect& pixels,
                               int id) {
  auto button = std::make_unique<CButton>();
  button->m_owner = this;
  button->m_id = id;
  button->m_kind = kind;
  button->m_text = caption;
  button->m_rect = pixels;
  CButton* created = button.get();
  m_controls.push_back(std::move(button));
  if (m_running && has_backend()) backend().control_created(*this, *created);
  return created;
}

void CDialog::DestroyControl(CWnd* control) {
  auto found = std::find_if(m_controls.begin(), m_controls.end(),
                            [control](const auto& owned) { return owned.get() == control; });
  if (found == m_controls.end()) return;
  if (m_running && has_backend()) backend().control_destroyed(*this, *control);
  m_controls.erase(found);
}

void CDialog::BeginWindowDrag(Point point) {
  if (m_running && has_backend()) backend().begin_window_drag(*this, point);
}

void CDialog::Invalidate() {
  if (m_running && has_backend()) backend().invalidate(*this);
}

CWnd* CDialog::default_button() const {
  for (const auto& control : m_controls)
    if (control->kind() == ControlKind::DefPushButton) return control.get();
  return nullptr;
}

// ---- Application, message boxes, posting ----

int AfxMessageBox(const std::string& text, MessageBoxType type) {
  if (!has_backend()) {
    std::fprintf(stderr, "%s: %s\n", kApplicationName, text.c_str());
    return IDOK;
  }
  return backend().message_box(text, kApplicationName, type);
}

void post_to_ui(std::function<void()> work) {
  event_loop().post(std::move(work));
  if (has_backend()) backend().wake();
}

int CWinApp::Run() {
  // InitInstance returns false in a dialog-based program: there is no message loop of the
  // application's own, and the program ends normally once it returns.
  InitInstance();
  return 0;
}

// ---- Message formatting ----

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

std::string format_insert(const MessageInsert& insert, std::string_view insertFormat) {
  if (insertFormat.empty()) insertFormat = std::holds_alternative<long long>(insert) ? "d" : "s";
  const char conversion = insertFormat.back();
  std::string flags(insertFormat.substr(0, insertFormat.size() - 1));
  // Only printf's flags, width and precision may come before the conversion.
  if (flags.find_first_not_of("-+ #0123456789.") != std::string::npos) flags.clear();
  char buffer[256];
  if (const auto* number = std::get_if<long long>(&insert)) {
    if (std::string_view("diuxXo").find(conversion) == std::string_view::npos)
      return std::to_string(*number);
    const std::string format = "%" + flags + "ll" + conversion;
    std::snprintf(buffer, sizeof buffer, format.c_str(), *number);
    return buffer;
  }
  const std::string& text = std::get<std::string>(insert);
  if (flags.empty() || conversion != 's') return text;
  const std::string format = "%" + flags + "s";
  std::snprintf(buffer, sizeof buffer, format.c_str(), text.c_str());
  return buffer;
}

}  // namespace

std::string format_message(std::string_view format, const std::vector<MessageInsert>& inserts) {
  std::string out;
  std::size_t i = 0;
  while (i < format.size()) {
    const char c = format[i++];
    if (c != '%' || i >= format.size()) {
      out += c;
      continue;
    }
    const char next = format[i];
    if (next == '0') break;
    if (!is_digit(next)) {
      ++i;
      switch (next) {
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'b':
          out += ' ';
          break;
        default:
          out += next;
          break;  // %. %% %! and any other character stand for themselves
      }
      continue;
    }
    const std::size_t start = i - 1;
    int number = format[i++] - '0';
    if (i < format.size() && is_digit(format[i])) number = number * 10 + (format[i++] - '0');
    std::string_view insertFormat;
    if (i < format.size() && format[i] == '!') {
      const std::size_t close = format.find('!', i + 1);
      if (close != std::string_view::npos) {
        insertFormat = format.substr(i + 1, close - i - 1);
        i = close + 1;
      }
    }
    if (number < 1 || static_cast<std::size_t>(number) > inserts.size()) {
      out += format.substr(start, i - start);
      continue;
    }
    out += format_insert(inserts[static_cast<std::size_t>(number - 1)], insertFormat);
  }
  return out;
}

}  // namespace ui
