// What a stop token holds on Windows: the flag and a manual-reset event that is set, and
// stays set, once a stop is requested. Only the platform's own implementation files see it.
#pragma once

#include <atomic>

#include "platform/stop.h"
#include "platform/win32/system.h"

namespace platform {

struct StopToken::State {
  std::atomic<bool> stopped{false};
  win32::UniqueHandle event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

}  // namespace platform
