// The stop flag and its event: set once, signalled for ever after.
#include "platform/stop.h"

#include "platform/win32/stop_state.h"

namespace platform {

bool StopToken::stop_requested() const {
  return m_state && m_state->stopped.load(std::memory_order_acquire);
}

void StopToken::wait() const {
  while (!stop_requested()) {
    const HANDLE event = m_state ? m_state->event.get() : nullptr;
    // A token that can never be stopped (or has no event) waits for ever.
    if (event == nullptr || ::WaitForSingleObject(event, INFINITE) == WAIT_FAILED) ::Sleep(100);
  }
}

StopSource::StopSource() : m_state(std::make_shared<StopToken::State>()) {}

void StopSource::request_stop() {
  if (m_state->stopped.exchange(true, std::memory_order_acq_rel)) return;
  if (m_state->event.valid()) ::SetEvent(m_state->event.get());
}

}  // namespace platform
