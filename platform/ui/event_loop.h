// Timers and posted work for the UI thread, shared by every backend. Backends call
// run_pending() whenever they wake and wait no longer than until next_due().
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/clock.h"

namespace ui {

class CDialog;

class EventLoop {
 public:
  using TimerCallback = std::function<void(std::uintptr_t timerId)>;

  // Any thread; never blocks on the UI thread.
  void post(std::function<void()> work);

  void set_timer(CDialog* owner, std::uintptr_t timerId, std::chrono::milliseconds period,
                 TimerCallback callback);
  bool kill_timer(CDialog* owner, std::uintptr_t timerId);
  void kill_timers_of(CDialog* owner);

  // Runs posted work, then every timer due at platform::now(). UI thread only.
  void run_pending();
  std::optional<platform::TimePoint> next_due() const;
};

EventLoop& event_loop();

}  // namespace ui
