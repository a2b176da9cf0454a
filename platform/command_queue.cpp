// One worker thread and a queue under a mutex; the worker is never stopped.
#include "platform/command_queue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace platform {

namespace {

class OrderedCommands {
 public:
  void push(std::vector<std::string> argv, RunWithPatience run) {
    std::lock_guard lock(m_mutex);
    m_queue.emplace_back(std::move(argv), run);
    if (!m_workerStarted) {
      m_workerStarted = true;
      // Detached: it idles on the condition for the rest of the process and owns nothing
      // that an exit would need to release.
      std::thread([this] { work(); }).detach();
    }
    m_ready.notify_one();
  }

 private:
  [[noreturn]] void work() {
    for (;;) {
      std::pair<std::vector<std::string>, RunWithPatience> next;
      {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return !m_queue.empty(); });
        next = std::move(m_queue.front());
        m_queue.pop_front();
      }
      next.second(next.first);
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_ready;
  std::deque<std::pair<std::vector<std::string>, RunWithPatience>> m_queue;
  bool m_workerStarted = false;
};

}  // namespace

void queue_in_order(std::vector<std::string> argv, RunWithPatience run) {
  // Never destroyed: the worker may still use it while the process ends.
  static auto* commands = new OrderedCommands;
  commands->push(std::move(argv), run);
}

}  // namespace platform
