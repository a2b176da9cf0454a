// Termination requests on Windows: the console's control events (Ctrl-C, Ctrl-Break, the
// console closed, log-off, shut-down). Windows runs a console handler on a thread of its own,
// so the handler may do what any thread may.
#include "platform/termination.h"

#include <atomic>
#include <csignal>

#include <windows.h>

namespace platform {

namespace {

std::atomic<void (*)(int)> g_handler{nullptr};

// The POSIX signal numbers the exit status is made from, so that both systems end alike.
int signal_for(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      return SIGTERM;
    default:
      return 1;  // the console or the session went away, as SIGHUP
  }
}

BOOL WINAPI on_console_event(DWORD event) {
  if (auto handler = g_handler.load()) handler(signal_for(event));
  return TRUE;
}

}  // namespace

void on_termination_request(void (*handler)(int signal)) {
  g_handler = handler;
  ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

}  // namespace platform
