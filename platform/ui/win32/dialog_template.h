// The dialog manager's own input, made at run time from the program's templates: an
// extended dialog template (DLGTEMPLATEEX and one DLGITEMTEMPLATEEX per control) in memory,
// for CreateDialogIndirectParam. The templates in res/ stay the only place where the dialogs'
// geometry and texts are written; this file only changes their form.
#pragma once

#include "platform/ui/win32/windows_api.h"

#include <vector>

#include "platform/ui/resources.h"

namespace ui::win32 {

// The bytes of a template, in WORDs so that the buffer is at least WORD aligned; every item
// starts on a DWORD boundary of it, as the dialog manager requires.
class DialogTemplateBuffer {
 public:
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

 private:
  friend DialogTemplateBuffer build_dialog_template(const DialogTemplate&, bool);
  std::vector<WORD> m_words;
};

// The whole template, hidden (the window shows once the dialog is initialised). Without
// controls when withControls is false: the window in which base units are measured.
DialogTemplateBuffer build_dialog_template(const DialogTemplate& dialog, bool withControls = true);

// The window class and styles a control kind is created with, from a template or at run time.
struct ControlClass {
  const wchar_t* name;
  WORD atom;  // the predefined class's ordinal in a template; 0: by name
  DWORD style;
};
ControlClass control_class(ControlKind kind);

// The dialog's own window styles.
DWORD dialog_style(const DialogTemplate& dialog);
DWORD dialog_ex_style(const DialogTemplate& dialog);

}  // namespace ui::win32
