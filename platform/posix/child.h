// Starting and reaping one child process by its id, for the POSIX implementations of the
// process and capture modules; the portable face is process.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace platform {

// Where a child's standard output or error goes: a descriptor of ours, or the null device.
inline constexpr int kNullDevice = -1;
struct ChildDescriptors {
  int output = kNullDevice;
  int error = kNullDevice;
};

// Starts argv[0] (searched on the PATH when it has no slash) with the given arguments,
// standard input on the null device, output and error as given, no other descriptor of ours
// and the default signal handling (the caller may ignore SIGPIPE or block signals in its
// thread; the child should not). Returns the child's process id, or nothing when it could
// not be started.
std::optional<pid_t> start_child(const std::vector<std::string>& argv,
                                 ChildDescriptors streams = {});

struct ChildEnd {
  enum class State : std::uint8_t {
    Exited,   // reaped; exit_code holds its code
    Running,  // still running when the wait gave up
    Unknown,  // its status cannot be read (somebody else reaped it)
  };
  State state = State::Unknown;
  std::optional<int> exit_code;  // none after a death by signal
};

// Waits for the child to end, at most `limit` (none: as long as it takes), and reaps it.
ChildEnd wait_for_child(pid_t pid, std::optional<std::chrono::milliseconds> limit);

}  // namespace platform
