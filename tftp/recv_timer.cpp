// The receive time-out: a one-shot deadline per receive, armed and disarmed on the TFTP
// thread and watched from the UI thread. A plain atomic deadline replaces a window timer so
// that arming, which happens around every block, costs a clock read and two stores.
#include <atomic>

#include "app/flash_state.h"
#include "platform/clock.h"
#include "tftp/tftp_server.h"

namespace {

// Ticks of platform::Clock since its epoch; 0 = not armed.
std::atomic<platform::Clock::rep> g_deadline{0};

}  // namespace

void arm_recv_timer(int timerId) {
  if (timerId != kRecvTimerId) return;
  const auto deadline = platform::now() + tftp_config().receiveTimeout;
  g_deadline.store(deadline.time_since_epoch().count(), std::memory_order_relaxed);
  // A datagram that arrived after the time-out fired withdraws the restart, as long as the
  // dialog's tick has not acted on it yet.
  flash_state().restartRequested.store(false);
}

void disarm_recv_timer(int) {
  g_deadline.store(0, std::memory_order_relaxed);
}

void on_recv_timer(int timerId) {
  if (timerId != kRecvTimerId) return;
  flash_state().restartRequested.store(true);
  disarm_recv_timer(kRecvTimerId);
  flash_state().timedOut.store(true);
}

bool recv_timer_armed() {
  return g_deadline.load(std::memory_order_relaxed) != 0;
}

void recv_timer_poll() {
  auto deadline = g_deadline.load(std::memory_order_relaxed);
  if (deadline == 0 || platform::now().time_since_epoch().count() < deadline) return;
  // Claimed by exchange so that one arming fires once, even against a disarm or re-arm
  // from the TFTP thread in between.
  if (!g_deadline.compare_exchange_strong(deadline, 0, std::memory_order_relaxed)) return;
  on_recv_timer(kRecvTimerId);
}
