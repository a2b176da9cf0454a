// The clock that UI timers and the TFTP receive deadline read. Production uses the steady
// clock; the headless backend's tests install a virtual clock that only moves when a test
// advances it, so that time-dependent logic is tested without sleeping.
#pragma once

#include <atomic>
#include <chrono>

namespace platform {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

class TimeSource {
 public:
  virtual ~TimeSource() = default;
  virtual TimePoint now() const = 0;
};

class VirtualTimeSource final : public TimeSource {
 public:
  TimePoint now() const override { return TimePoint(Clock::duration(m_elapsed.load())); }
  void advance(std::chrono::milliseconds step) {
    m_elapsed.fetch_add(std::chrono::duration_cast<Clock::duration>(step).count());
  }

 private:
  // Starts an hour in, so that "no deadline" (the epoch) is never mistaken for a due one.
  std::atomic<Clock::rep> m_elapsed{
      std::chrono::duration_cast<Clock::duration>(std::chrono::hours(1)).count()};
};

// Installs a time source for the whole process (nullptr restores the steady clock). Install
// before any thread that reads the clock starts.
void set_time_source(const TimeSource* source);
TimePoint now();

}  // namespace platform
