// The wait at the heart of every modal loop on the UI thread: FLTK's event wait, bounded by
// the next due window timer and cut short by work posted from other threads, followed by
// the shared event loop's posted work and due timers. Nested modal loops all turn this.
#pragma once

namespace ui::fltk {

// UI thread, once, before any other thread may post: lets request_wakeup() reach Fl::wait.
void install_wakeup();

// Any thread; never blocks. At most one wake-up is outstanding however often it is called,
// so that a busy server thread cannot fill FLTK's wake-up queue.
void request_wakeup();

// UI thread: waits for input, a due timer or a wake-up, then runs what is due.
void pump_once();

}  // namespace ui::fltk
