// The one place where the process ends on purpose: a fatal message, a TFTP ERROR sent, a
// failed start-up step. Server threads may call it while the UI thread runs, so it flushes
// the standard streams and ends the process without running static destructors that
// another thread may still be using.
#pragma once

namespace platform {

[[noreturn]] void exit_process(int code);

}  // namespace platform
