// Child processes: started without a shell and with nothing of ours but the descriptors
// named, waited for with a bound or reaped in the background so that none is left a zombie.
// Also the process's own command line.
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
struct ChildStreams {
  int output = kNullDevice;
  int error = kNullDevice;
};

// Starts argv[0] (searched on the PATH when it has no slash) with the given arguments,
// standard input on the null device, output and error as given, no other descriptor of ours
// and the default signal handling (the caller may ignore SIGPIPE or block signals in its
// thread; the child should not). Returns the child's process id, or nothing when it could
// not be started.
std::optional<pid_t> start_child(const std::vector<std::string>& argv, ChildStreams streams = {});

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

// Runs argv (as start_child does) to its end, at most `limit`, after which it is killed.
// Its exit code, or nothing when it could not start, died by a signal or was killed.
std::optional<int> run_and_wait(const std::vector<std::string>& argv,
                                std::chrono::milliseconds limit, ChildStreams streams = {});

// Starts argv like start_child with output and error on the null device, hidden, and does
// not wait for it: a waiter of its own reaps it. Nothing when it could not be started.
std::optional<pid_t> spawn_detached(const std::vector<std::string>& argv);

// Starts argv like spawn_detached, but only once every command handed here before it has
// ended (or has run longer than kOrderedCommandPatience), so that "delete, then add" on the
// neighbour table cannot run as "add, then delete". The caller never waits: a worker thread
// keeps the queue. A command that cannot be started is skipped without a word.
void spawn_in_order(std::vector<std::string> argv);
inline constexpr std::chrono::milliseconds kOrderedCommandPatience{5000};

// The command line this process was started with, its words joined by blanks.
std::string process_command_line();

}  // namespace platform
