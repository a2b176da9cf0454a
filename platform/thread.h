// A server thread that is stopped from outside. stop() signals the thread's StopToken and
// joins it; once stop() has returned the thread has ended, so it can send nothing more and
// change no shared state.
#pragma once

#include <functional>
#include <thread>

#include "platform/stop.h"

namespace platform {

class ServerThread {
 public:
  using Body = std::function<void(const StopToken&)>;

  ServerThread() = default;
  ~ServerThread() { stop(); }
  ServerThread(const ServerThread&) = delete;
  ServerThread& operator=(const ServerThread&) = delete;

  void start(Body body);
  // Safe to call on a thread never started or already stopped.
  void stop();
  bool running() const { return m_thread.joinable(); }
  std::thread::id id() const { return m_thread.get_id(); }

 private:
  StopSource m_stop;
  std::thread m_thread;
};

}  // namespace platform
