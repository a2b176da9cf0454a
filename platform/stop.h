// Cooperative stop for the server threads. A StopSource owns the system's wake-up object,
// which is signalled once stop is requested, so that a thread blocked in a socket's receive
// wakes at once; nothing ever closes an object that another thread may still be waiting on.
#pragma once

#include <atomic>
#include <memory>

namespace platform {

class UdpSocket;

class StopToken {
 public:
  StopToken() = default;
  bool stop_requested() const;
  // Blocks until a stop has been requested; for ever for a token that can never be stopped.
  void wait() const;

 private:
  friend class StopSource;
  friend class UdpSocket;  // waits on the wake-up object together with its socket
  // The flag and the wake-up object; each system's implementation defines it.
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
