// The process-wide time source: the steady clock unless a test installed a virtual one.
#include "platform/clock.h"

namespace platform {

namespace {
std::atomic<const TimeSource*> g_source{nullptr};
}

void set_time_source(const TimeSource* source) {
  g_source.store(source);
}

TimePoint now() {
  const TimeSource* source = g_source.load();
  return source != nullptr ? source->now() : Clock::now();
}

}  // namespace platform
