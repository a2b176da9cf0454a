// Ending the process on purpose, from whichever thread: the first caller decides the code.
#include "platform/exit.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {

namespace {
std::atomic<void (*)()> g_exitHook{nullptr};
}  // namespace

void set_exit_hook(void (*hook)()) {
  g_exitHook = hook;
}

[[noreturn]] void exit_process(int code) {
  // Two threads may race to end the process (a fatal box on the BOOTP thread while the TFTP
  // thread sends an ERROR): the first one decides the exit code, the other waits here.
  static std::mutex exitMutex;
  exitMutex.lock();
  if (auto hook = g_exitHook.exchange(nullptr)) hook();
  std::fflush(nullptr);
  std::_Exit(code);  // no static destructors: other threads may still use what they destroy
}

}  // namespace platform
