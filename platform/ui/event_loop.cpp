// The shared event loop: a locked queue of work posted from any thread and the window
// timers, kept in one table and fired in order of due time on platform::now().
#include "platform/ui/event_loop.h"

#include <algorithm>
#include <vector>

#include "platform/ui/framework.h"

namespace ui {

namespace {
// The shortest period a window timer runs at; a 0 ms timer would starve the loop.
constexpr std::chrono::milliseconds kMinimumPeriod{10};
}  // namespace

void EventLoop::post(std::function<void()> work) {
  {
    std::lock_guard lock(m_postMutex);
    m_posted.push_back(std::move(work));
  }
}

void EventLoop::set_timer(CDialog* owner, std::uintptr_t timerId, std::chrono::milliseconds period,
                          TimerCallback callback) {
  period = std::max(period, kMinimumPeriod);
  m_timers[Key{owner, timerId}] =
      Timer{platform::now() + period, period, std::move(callback), m_nextGeneration++};
}

bool EventLoop::kill_timer(CDialog* owner, std::uintptr_t timerId) {
  return m_timers.erase(Key{owner, timerId}) > 0;
}

void EventLoop::kill_timers_of(CDialog* owner) {
  std::erase_if(m_timers, [owner](const auto& entry) { return entry.first.first == owner; });
}

bool EventLoop::run_one_posted() {
  std::function<void()> work;
  {
    std::lock_guard lock(m_postMutex);
    if (m_posted.empty()) return false;
    work = std::move(m_posted.front());
    m_posted.pop_front();
  }
  work();
  return true;
}

void EventLoop::fire_due_timers() {
  const platform::TimePoint now = platform::now();
  struct Due {
    platform::TimePoint due;
    Key key;
    std::uint64_t generation;
  };
  std::vector<Due> due;
  for (const auto& [key, timer] : m_timers)
    if (timer.due <= now) due.push_back(Due{timer.due, key, timer.generation});
  std::stable_sort(due.begin(), due.end(),
                   [](const Due& a, const Due& b) { return a.due < b.due; });

  for (const Due& entry : due) {
    // An earlier handler may have killed or replaced this timer.
    auto found = m_timers.find(entry.key);
    if (found == m_timers.end() || found->second.generation != entry.generation) continue;
    Timer& timer = found->second;
    // Rescheduled before the handler runs, so that a nested modal loop does not fire it again.
    timer.due += timer.period;
    if (timer.due <= now) timer.due = now + timer.period;
    TimerCallback callback = timer.callback;  // the handler may kill its own timer
    CDialog* owner = entry.key.first;
    if (callback)
      callback(entry.key.second);
    else if (owner != nullptr)
      owner->OnTimer(entry.key.second);
  }
}

void EventLoop::run_pending() {
  // Only the work already queued: work that posts more work must not starve the timers.
  std::size_t queued = 0;
  {
    std::lock_guard lock(m_postMutex);
    queued = m_posted.size();
  }
  while (queued-- > 0 && run_one_posted()) {
  }
  fire_due_timers();
}

std::optional<platform::TimePoint> EventLoop::next_due() const {
  std::optional<platform::TimePoint> earliest;
  for (const auto& [key, timer] : m_timers)
    if (!earliest || timer.due < *earliest) earliest = timer.due;
  return earliest;
}

bool EventLoop::has_posted_work() const {
  std::lock_guard lock(m_postMutex);
  return !m_posted.empty();
}

void EventLoop::clear() {
  {
    std::lock_guard lock(m_postMutex);
    m_posted.clear();
  }
  m_timers.clear();
}

EventLoop& event_loop() {
  static EventLoop loop;
  return loop;
}

}  // namespace ui
