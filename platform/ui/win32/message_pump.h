// The shared event loop's timers and posted work, driven by Windows messages to a hidden
// message-only window: a window timer set for the next due time, and a message posted by
// wake(). Every message loop on the UI thread dispatches them, the system's own too (message
// boxes, a window being dragged), so the 300 ms tick and work posted by the server threads
// go on whatever modal loop runs.
#pragma once

#include "platform/ui/win32/windows_api.h"

namespace ui::win32 {

// UI thread, once, before any other thread may wake it; false when the window cannot be made.
bool install_pump();

// Any thread; never blocks. At most one wake-up message is queued however often it is
// called, so that a busy server thread cannot fill the queue.
void request_wakeup();

// UI thread: arms the window timer for the earliest due timer of the shared loop (or none).
// Called after anything that may have set or killed a timer.
void schedule_next_timer();

// UI thread: waits for one message and dispatches it, keys through the dialog manager of the
// dialog given (Enter, Esc, Tab); then rearms the timer. False when the queue was told to quit.
bool pump_one(HWND dialog);

}  // namespace ui::win32
