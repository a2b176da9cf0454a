// Real windows on Windows: the UI backend on the Win32 API. Dialogs are made by the dialog
// manager from in-memory templates built from the program's own, base units come from the
// dialog font as the dialog manager maps it, message boxes are the system's, and timers and
// work posted by server threads run inside every modal loop, nested ones and the system's
// own too.
#pragma once

#include <memory>

#include "platform/ui/backend.h"

namespace ui::win32 {

// Call once, on the thread that will be the UI thread. Base units are measured in a window
// with fontSource's font; every window carries the icon. Null when the system refuses.
std::unique_ptr<Backend> create_backend(const IconImage& icon, const DialogTemplate& fontSource);

}  // namespace ui::win32
