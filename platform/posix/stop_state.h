// What a stop token holds on POSIX systems: the flag and an eventfd that becomes readable, and
// stays so, once a stop is requested. Only the platform's own implementation files see it.
#pragma once

#include <atomic>

#include <sys/eventfd.h>

#include "platform/posix/fd_io.h"
#include "platform/stop.h"

namespace platform {

struct StopToken::State {
  std::atomic<bool> stopped{false};
  UniqueFd fd{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
};

}  // namespace platform
