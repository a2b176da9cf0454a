// The stop flag and its eventfd: set once, readable for ever after.
#include "platform/stop.h"

#include "platform/fd_io.h"

#include <cerrno>
#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

struct StopToken::State {
  std::atomic<bool> stopped{false};
  UniqueFd fd{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
};

bool StopToken::stop_requested() const {
  return m_state && m_state->stopped.load(std::memory_order_acquire);
}

int StopToken::wait_fd() const {
  return m_state ? m_state->fd.get() : -1;
}

void StopToken::wait() const {
  pollfd readable{wait_fd(), POLLIN, 0};
  // poll ignores a descriptor of -1: a token that can never be stopped waits for ever.
  while (!stop_requested()) ::poll(&readable, 1, -1);
}

StopSource::StopSource() : m_state(std::make_shared<StopToken::State>()) {}

void StopSource::request_stop() {
  if (m_state->stopped.exchange(true, std::memory_order_acq_rel)) return;
  const std::uint64_t one = 1;
  ssize_t written;
  do {
    written = ::write(m_state->fd.get(), &one, sizeof one);
  } while (written < 0 && errno == EINTR);
}

}  // namespace platform
