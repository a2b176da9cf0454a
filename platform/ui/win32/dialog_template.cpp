// Extended dialog templates written word by word: header, font, then one item per control,
// each item DWORD aligned. Texts are UTF-16 with their terminating null.
#include "platform/ui/win32/dialog_template.h"

#include <string>
#include <string_view>

#include "platform/win32/system.h"

namespace ui::win32 {

namespace {

// The predefined control classes' ordinals in a template.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kComboBoxAtom = 0x0085;

class Writer {
 public:
  explicit Writer(std::vector<WORD>& words) : m_words(words) {}
  void word(WORD value) { m_words.push_back(value); }
  void dword(DWORD value) {
    word(LOWORD(value));
    word(HIWORD(value));
  }
  void coordinate(int value) { word(static_cast<WORD>(static_cast<short>(value))); }
  void text(std::string_view utf8) {
    for (wchar_t c : platform::win32::widen(utf8)) word(static_cast<WORD>(c));
    word(0);
  }
  void text(const wchar_t* wide) {
    for (; *wide != L'\0'; ++wide) word(static_cast<WORD>(*wide));
    word(0);
  }
  void align_dword() {
    if (m_words.size() % 2 != 0) word(0);
  }

 private:
  std::vector<WORD>& m_words;
};

void write_header(Writer& out, const DialogTemplate& dialog, WORD itemCount) {
  out.word(1);       // dlgVer
  out.word(0xFFFF);  // signature: the extended form
  out.dword(0);      // helpID
  out.dword(dialog_ex_style(dialog));
  out.dword(dialog_style(dialog));
  out.word(itemCount);
  out.coordinate(0);  // placed at 0,0; the window is centred when shown
  out.coordinate(0);
  out.coordinate(dialog.widthUnits);
  out.coordinate(dialog.heightUnits);
  out.word(0);  // no menu
  out.word(0);  // the dialog class
  out.text(dialog.caption);
  out.word(static_cast<WORD>(dialog.fontPoints));
  out.word(FW_NORMAL);
  out.word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // italic, charset
  out.text(dialog.fontName);
}

void write_item(Writer& out, const ControlTemplate& control) {
  out.align_dword();
  const ControlClass type = control_class(control.kind);
  out.dword(0);  // helpID
  out.dword(0);  // extended style
  out.dword(WS_CHILD | WS_VISIBLE | type.style);
  out.coordinate(control.units.left);
  out.coordinate(control.units.top);
  out.coordinate(control.units.width());
  out.coordinate(control.units.height());
  out.dword(static_cast<DWORD>(control.id));  // -1 stays the "no id" of static labels
  if (type.atom != 0) {
    out.word(0xFFFF);
    out.word(type.atom);
  } else {
    out.text(type.name);
  }
  out.text(control.text);
  out.word(0);  // no creation data
}

}  // namespace

DWORD dialog_style(const DialogTemplate& dialog) {
  const DWORD common = WS_POPUP | DS_SETFONT;
  if (dialog.hasCaptionBar) return common | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  return common | WS_BORDER;
}

DWORD dialog_ex_style(const DialogTemplate&) {
  return WS_EX_APPWINDOW;  // every dialog has its own task bar button
}

ControlClass control_class(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
      return {L"BUTTON", kButtonAtom, BS_PUSHBUTTON | WS_TABSTOP};
    case ControlKind::DefPushButton:
      return {L"BUTTON", kButtonAtom, BS_DEFPUSHBUTTON | WS_TABSTOP};
    case ControlKind::GroupBox:
      return {L"BUTTON", kButtonAtom, BS_GROUPBOX};
    case ControlKind::RadioButton:
      return {L"BUTTON", kButtonAtom, BS_AUTORADIOBUTTON};
    case ControlKind::ComboBoxDropDown:
      // The template's height includes the opened list.
      return {L"COMBOBOX", kComboBoxAtom, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP};
    case ControlKind::ProgressBar:
      return {PROGRESS_CLASSW, 0, WS_BORDER};
    case ControlKind::Static:
      break;
  }
  return {L"STATIC", kStaticAtom, SS_LEFT};
}

DialogTemplateBuffer build_dialog_template(const DialogTemplate& dialog, bool withControls) {
  DialogTemplateBuffer buffer;
  Writer out(buffer.m_words);
  const std::size_t count = withControls ? dialog.controls.size() : 0;
  write_header(out, dialog, static_cast<WORD>(count));
  for (std::size_t i = 0; i < count; ++i) write_item(out, dialog.controls[i]);
  return buffer;
}

}  // namespace ui::win32
