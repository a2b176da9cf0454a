// Detached children through posix_spawnp; one short-lived waiter thread per child collects
// its exit status, since nobody else will and a child that is never waited for stays a
// zombie for as long as Kalvex runs.
#include "platform/process.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

void reap_in_background(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

std::optional<pid_t> spawn_child(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return std::nullopt;
  std::vector<char*> words;
  for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
  words.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Hidden: the child neither reads our input (the console dialogs read it) nor writes into
  // our output, and inherits no socket or file of ours.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  pid_t pid = 0;
  const int error = ::posix_spawnp(&pid, words[0], &actions, nullptr, words.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return std::nullopt;
  return pid;
}

// Waits for the child to end, at most `patience`; a child still running then is left to a
// background waiter so that the queue moves on.
void wait_at_most(pid_t pid, std::chrono::milliseconds patience) {
  const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidFd >= 0) {
    pollfd ended{pidFd, POLLIN, 0};
    int ready;
    do {
      ready = ::poll(&ended, 1, static_cast<int>(patience.count()));
    } while (ready < 0 && errno == EINTR);
    ::close(pidFd);
    if (ready > 0) {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return;
    }
  }
  reap_in_background(pid);
}

class OrderedCommands {
 public:
  void push(std::vector<std::string> argv) {
    std::lock_guard lock(m_mutex);
    m_queue.push_back(std::move(argv));
    if (!m_workerStarted) {
      m_workerStarted = true;
      // Detached: it idles on the condition for the rest of the process and owns nothing
      // that an exit would need to release.
      std::thread([this] { run(); }).detach();
    }
    m_ready.notify_one();
  }

 private:
  [[noreturn]] void run() {
    for (;;) {
      std::vector<std::string> argv;
      {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return !m_queue.empty(); });
        argv = std::move(m_queue.front());
        m_queue.pop_front();
      }
      if (const auto pid = spawn_child(argv)) wait_at_most(*pid, kOrderedCommandPatience);
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_ready;
  std::deque<std::vector<std::string>> m_queue;
  bool m_workerStarted = false;
};

}  // namespace

std::optional<pid_t> spawn_detached(const std::vector<std::string>& argv) {
  const auto pid = spawn_child(argv);
  if (pid) reap_in_background(*pid);
  return pid;
}

void spawn_in_order(std::vector<std::string> argv) {
  if (argv.empty() || argv[0].empty()) return;
  // Never destroyed: the worker may still use it while the process ends.
  static auto* commands = new OrderedCommands;
  commands->push(std::move(argv));
}

std::string process_command_line() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!raw.empty() && raw.back() == '\0') raw.pop_back();
  for (char& c : raw)
    if (c == '\0') c = ' ';
  return raw;
}

}  // namespace platform
