// Waiting for input, timers and posted work with FLTK.
#include "platform/ui/fltk/modal_loop.h"

#include <FL/Fl.H>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/clock.h"
#include "platform/ui/event_loop.h"

namespace ui::fltk {

namespace {

std::atomic<bool> g_wakePending{false};

// Fl::wait's "no deadline": far beyond any timer the program sets.
constexpr double kForeverSeconds = 1e6;

double seconds_until_next_timer() {
  const std::optional<platform::TimePoint> due = event_loop().next_due();
  if (!due) return kForeverSeconds;
  const std::chrono::duration<double> left = *due - platform::now();
  return std::clamp(left.count(), 0.0, kForeverSeconds);
}

}  // namespace

void install_wakeup() {
  // FLTK only delivers Fl::awake once its lock exists; the UI thread keeps it, and
  // Fl::wait releases it while waiting. No other thread ever calls into FLTK.
  Fl::lock();
}

void request_wakeup() {
  if (!g_wakePending.exchange(true)) Fl::awake();
}

void pump_once() {
  Fl::wait(seconds_until_next_timer());
  // Cleared before the work runs: anything posted from now on wakes the next wait.
  g_wakePending.store(false);
  event_loop().run_pending();
}

}  // namespace ui::fltk
