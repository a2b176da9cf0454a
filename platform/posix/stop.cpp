// The stop flag and its eventfd: set once, readable for ever after.
#include "platform/stop.h"

#include <cerrno>
#include <cstdint>

#include <poll.h>
#include <unistd.h>

#include "platform/posix/stop_state.h"

namespace platform {

bool StopToken::stop_requested() const {
  return m_state && m_state->stopped.load(std::memory_order_acquire);
}

void StopToken::wait() const {
  pollfd readable{m_state ? m_state->fd.get() : -1, POLLIN, 0};
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
