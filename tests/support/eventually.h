// Waiting for something another thread or process does, with a bound: a test that would
// otherwise hang until CTest's time-out fails at once with what it was waiting for.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace kalvex::testing {

inline constexpr std::chrono::milliseconds kPatience{10000};

// True as soon as the condition holds; false, with a test failure naming `what`, when it has
// not held within the limit. The limit is only a bound on a failure, never a timing claim.
inline bool eventually(const std::function<bool()>& condition, const std::string& what,
                       std::chrono::milliseconds limit = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << "still waiting, after " << limit.count() << " ms, for " << what;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace kalvex::testing
