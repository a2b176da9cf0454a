// A control's model copied onto its child window: text, check, list entries and selection,
// progress range and position, visibility and whether it is enabled. Only what differs is
// changed, so that an edit field being typed into keeps its caret.
#pragma once

#include "platform/ui/win32/windows_api.h"

#include <string>

#include "platform/ui/framework.h"

namespace ui::win32 {

void sync_control(HWND window, const CWnd& control);

// The window's text, as UTF-8.
std::string window_text(HWND window);

}  // namespace ui::win32
