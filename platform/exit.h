// The one place where the process ends on purpose: a fatal message, a TFTP ERROR sent, a
// failed start-up step. Server threads may call it while the UI thread runs, so it flushes
// the standard streams and ends the process without running static destructors that
// another thread may still be using.
#pragma once

namespace platform {

// Runs the exit hook (once, on the thread that ends the process), flushes the standard
// streams and ends the process.
[[noreturn]] void exit_process(int code);

// What must be undone whichever way the process ends (the board's neighbour entry): set once
// at start-up, before any thread that may end the process starts.
void set_exit_hook(void (*hook)());

}  // namespace platform
