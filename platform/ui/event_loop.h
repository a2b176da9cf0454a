// Timers and posted work for the UI thread, shared by every backend. Backends call
// run_pending() whenever they wake and wait no longer than until next_due().
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/clock.h"

namespace ui {

class CDialog;

class EventLoop {
 public:
  using TimerCallback = std::function<void(std::uintptr_t timerId)>;

  // Any thread; never blocks on the UI thread.
  void post(std::function<void()> work);

  // A timer fires once per period at most: when the loop falls behind, missed periods are
  // merged into one, as window timers are. No callback: the owner's OnTimer runs.
  void set_timer(CDialog* owner, std::uintptr_t timerId, std::chrono::milliseconds period,
                 TimerCallback callback);
  bool kill_timer(CDialog* owner, std::uintptr_t timerId);
  void kill_timers_of(CDialog* owner);

  // Runs posted work, then every timer due at platform::now(). UI thread only; handlers may
  // run nested modal loops, which call it again.
  void run_pending();
  std::optional<platform::TimePoint> next_due() const;
  bool has_posted_work() const;

  // Forgets every timer and posted item (between tests).
  void clear();

 private:
  struct Timer {
    platform::TimePoint due;
    std::chrono::milliseconds period{};
    TimerCallback callback;
    std::uint64_t generation = 0;
  };
  using Key = std::pair<CDialog*, std::uintptr_t>;

  bool run_one_posted();
  void fire_due_timers();

  mutable std::mutex m_postMutex;
  std::deque<std::function<void()>> m_posted;
  std::map<Key, Timer> m_timers;
  std::uint64_t m_nextGeneration = 1;
};

EventLoop& event_loop();

}  // namespace ui
