// The application icon as a Win32 icon, made from the program's pixels at run time.
#pragma once

#include "platform/ui/win32/windows_api.h"

#include "platform/ui/resources.h"

namespace ui::win32 {

// Null when the system refuses; the caller destroys it (DestroyIcon).
HICON create_icon(const IconImage& image);

}  // namespace ui::win32
