// The receive time-out: a one-shot deadline per receive, armed and disarmed on the TFTP
// thread and watched from the UI thread. A deadline under an uncontended lock replaces a
// window timer, so arming around every block costs a clock read and a lock, never a round
// trip to the UI thread.
//
// The lock makes "fire" and "re-arm" exclusive: a datagram that arrives after the deadline
// passed re-arms either before the watcher looks (the deadline is then no longer due) or
// after it fired (the arming then clears restartRequested, withdrawing the restart). Without
// it, a re-arm squeezed between claiming the deadline and setting the flags would be undone.
#include <mutex>

#include "core/flash_state.h"
#include "platform/clock.h"
#include "tftp/endpoint.h"
#include "tftp/tftp_server.h"

namespace {

struct RecvTimer {
  std::mutex mutex;
  bool armed = false;
  platform::TimePoint deadline;
};

RecvTimer g_timer;

// The callback's three steps, in their order; the caller holds the lock.
void fire_locked() {
  FlashState& state = flash_state();
  state.restartRequested.store(true);
  g_timer.armed = false;
  state.timedOut.store(true);
}

}  // namespace

void arm_recv_timer(int timerId) {
  if (timerId == kRecvTimerId) arm_recv_timer_from(platform::now());
}

void arm_recv_timer_from(platform::TimePoint start) {
  const platform::TimePoint deadline = start + kReceiveTimeout;
  std::lock_guard lock(g_timer.mutex);
  g_timer.deadline = deadline;
  g_timer.armed = true;
  flash_state().restartRequested.store(false);
}

void disarm_recv_timer(int) {
  std::lock_guard lock(g_timer.mutex);
  g_timer.armed = false;
}

void on_recv_timer(int timerId) {
  if (timerId != kRecvTimerId) return;
  std::lock_guard lock(g_timer.mutex);
  fire_locked();
}

bool recv_timer_armed() {
  std::lock_guard lock(g_timer.mutex);
  return g_timer.armed;
}

void recv_timer_poll() {
  const platform::TimePoint now = platform::now();
  std::lock_guard lock(g_timer.mutex);
  if (g_timer.armed && now >= g_timer.deadline) fire_locked();
}
