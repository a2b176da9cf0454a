// Ending the process on purpose, from whichever thread: the first caller decides the code.
#include "platform/exit.h"

#include <cstdio>
#include <mutex>

#include <unistd.h>

namespace platform {

[[noreturn]] void exit_process(int code) {
  // Two threads may race to end the process (a fatal box on the BOOTP thread while the TFTP
  // thread sends an ERROR): the first one decides the exit code, the other waits here.
  static std::mutex exitMutex;
  exitMutex.lock();
  std::fflush(nullptr);
  ::_exit(code);
}

}  // namespace platform
