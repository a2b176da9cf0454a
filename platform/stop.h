// Cooperative stop for the server threads. A StopSource owns a descriptor that becomes
// readable once stop is requested, so a thread blocked in poll() on its socket wakes at
// once; nothing ever closes a descriptor that another thread may still be waiting on.
#pragma once

#include <atomic>
#include <memory>

namespace platform {

class StopToken {
 public:
  StopToken() = default;
  bool stop_requested() const;
  // Readable (never read from) once a stop has been requested; -1 for a token that can
  // never be stopped.
  int wait_fd() const;
  // Blocks until a stop has been requested; for ever for a token that can never be stopped.
  void wait() const;

 private:
  friend class StopSource;
  struct State;
  explicit StopToken(std::shared_ptr<State> state) : m_state(std::move(state)) {}
  std::shared_ptr<State> m_state;
};

class StopSource {
 public:
  StopSource();
  void request_stop();
  bool stop_requested() const { return token().stop_requested(); }
  StopToken token() const { return StopToken(m_state); }

 private:
  std::shared_ptr<StopToken::State> m_state;
};

}  // namespace platform
