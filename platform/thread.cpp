// Server threads: started with a fresh stop source, stopped by signal and join.
#include "platform/thread.h"

namespace platform {

void ServerThread::start(Body body) {
  stop();
  m_stop = StopSource();
  m_thread = std::thread([body = std::move(body), token = m_stop.token()] { body(token); });
}

void ServerThread::stop() {
  if (!m_thread.joinable()) return;
  m_stop.request_stop();
  m_thread.join();
}

}  // namespace platform
