// Children through posix_spawnp, which reports a program that cannot be executed as an error
// of its own rather than as exit code 127. A child that nobody waits for is collected by a
// short-lived waiter thread of its own, since one never waited for stays a zombie for as
// long as Kalvex runs.
#include "platform/process.h"

#include "platform/command_queue.h"
#include "platform/posix/child.h"
#include "platform/posix/fd_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <iterator>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Without a pidfd (old kernels) a wait looks for the child's end this often.
constexpr std::chrono::milliseconds kChildPollInterval{50};

// A descriptor of ours moved into place, or the null device opened there.
void place_stream(posix_spawn_file_actions_t& actions, int fd, int target, int nullMode) {
  if (fd == kNullDevice)
    posix_spawn_file_actions_addopen(&actions, target, "/dev/null", nullMode, 0);
  else
    posix_spawn_file_actions_adddup2(&actions, fd, target);
}

// How long one poll may sleep: until the deadline (for ever without one), but only a short
// look when no pidfd can tell of the child's end.
int poll_milliseconds(std::optional<Clock::duration> left, bool havePidFd) {
  std::optional<std::chrono::milliseconds> step;
  if (left) step = std::chrono::ceil<std::chrono::milliseconds>(*left);
  if (!havePidFd) step = std::min(step.value_or(kChildPollInterval), kChildPollInterval);
  if (!step) return -1;
  return static_cast<int>(std::min<std::chrono::milliseconds::rep>(step->count(), INT_MAX));
}

int descriptor_for(ChildOutput output, int ours) {
  return output == ChildOutput::Shared ? ours : kNullDevice;
}

void reap_in_background(pid_t pid) {
  std::thread([pid] { wait_for_child(pid, std::nullopt); }).detach();
}

// One still running after the patience is left to a background waiter, so that the queue
// moves on.
void run_with_patience(const std::vector<std::string>& argv) {
  const auto pid = start_child(argv);
  if (pid && wait_for_child(*pid, kOrderedCommandPatience).state == ChildEnd::State::Running)
    reap_in_background(*pid);
}

}  // namespace

std::optional<pid_t> start_child(const std::vector<std::string>& argv, ChildDescriptors streams) {
  if (argv.empty() || argv[0].empty()) return std::nullopt;
  std::vector<char*> words;
  words.reserve(argv.size() + 1);
  for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
  words.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Hidden: the child never reads our input (the console dialogs read it).
  place_stream(actions, kNullDevice, STDIN_FILENO, O_RDONLY);
  place_stream(actions, streams.output, STDOUT_FILENO, O_WRONLY);
  place_stream(actions, streams.error, STDERR_FILENO, O_WRONLY);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = 0;
  const int error = ::posix_spawnp(&pid, words[0], &actions, &attributes, words.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return std::nullopt;
  return pid;
}

ChildEnd wait_for_child(pid_t pid, std::optional<std::chrono::milliseconds> limit) {
  // Readable once the child has ended; poll passes over a descriptor of -1.
  const UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  const auto deadline = limit ? std::optional(Clock::now() + *limit) : std::nullopt;
  for (;;) {
    int status = 0;
    const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped == pid) {
      ChildEnd end{ChildEnd::State::Exited, std::nullopt};
      if (WIFEXITED(status)) end.exit_code = WEXITSTATUS(status);
      return end;
    }
    if (reaped < 0 && errno != EINTR) return {};
    std::optional<Clock::duration> left;
    if (deadline) {
      left = *deadline - Clock::now();
      if (*left <= Clock::duration::zero()) return {ChildEnd::State::Running, std::nullopt};
    }
    pollfd ended{pidFd.get(), POLLIN, 0};
    ::poll(&ended, 1, poll_milliseconds(left, pidFd.valid()));
  }
}

std::optional<int> run_and_wait(const std::vector<std::string>& argv,
                                std::chrono::milliseconds limit, ChildStreams streams) {
  const auto pid = start_child(argv, {descriptor_for(streams.output, STDOUT_FILENO),
                                      descriptor_for(streams.error, STDERR_FILENO)});
  if (!pid) return std::nullopt;
  const ChildEnd end = wait_for_child(*pid, limit);
  if (end.state != ChildEnd::State::Running) return end.exit_code;
  ::kill(*pid, SIGKILL);
  wait_for_child(*pid, std::nullopt);
  return std::nullopt;
}

bool spawn_detached(const std::vector<std::string>& argv) {
  const auto pid = start_child(argv);
  if (pid) reap_in_background(*pid);
  return pid.has_value();
}

void spawn_in_order(std::vector<std::string> argv) {
  if (argv.empty() || argv[0].empty()) return;
  queue_in_order(std::move(argv), run_with_patience);
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
