// The Windows headers as the window backend includes them. <windows.h> defines macros that
// would rewrite the framework's own names: IDOK and IDCANCEL (the framework has the same
// values, 1 and 2) and the A/W switches of window texts, which would rename CWnd's members.
// They are undefined here; the backend calls the wide functions by their own names.
// Window messages carry handles and pointers in their integer parameters: as_handle is the
// one place where the backend turns them back.
#pragma once

#include <windows.h>

// These two build on <windows.h>.
#include <commctrl.h>
#include <windowsx.h>

#undef IDOK
#undef IDCANCEL
#undef SetWindowText
#undef GetWindowText
#undef SetDlgItemText
#undef GetDlgItemText

namespace ui::win32 {

template <class Handle>
Handle as_handle(LONG_PTR parameter) {
  return reinterpret_cast<Handle>(parameter);  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace ui::win32
