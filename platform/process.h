// Child processes: started without a shell, hidden, with nothing of ours but the streams
// named, waited for with a bound or left to run on their own without ever being forgotten
// (none is left a zombie). Also the process's own command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Where a child's standard output or error goes: the null device, or this process's own.
enum class ChildOutput : std::uint8_t { Discarded, Shared };
struct ChildStreams {
  ChildOutput output = ChildOutput::Discarded;
  ChildOutput error = ChildOutput::Discarded;
};

// Runs argv (argv[0] looked up on the system's search path when it names no directory,
// standard input on the null device) to its end, at most `limit`, after which it is killed. Its
// exit code, or nothing when it could not start, died by a signal or was killed.
std::optional<int> run_and_wait(const std::vector<std::string>& argv,
                                std::chrono::milliseconds limit, ChildStreams streams = {});

// Starts argv with every stream on the null device, hidden, and does not wait for it; false
// when it could not be started.
bool spawn_detached(const std::vector<std::string>& argv);

// Starts argv like spawn_detached (on Windows through the shell's "open" verb, hidden), but
// only once every command handed here before it has ended (or has run longer than
// kOrderedCommandPatience), so that "delete, then add" cannot run as "add, then delete". The
// caller never waits: a worker thread keeps the queue. A command that cannot be started is
// skipped without a word.
void spawn_in_order(std::vector<std::string> argv);
inline constexpr std::chrono::milliseconds kOrderedCommandPatience{5000};

// The command line this process was started with, its words joined by blanks.
std::string process_command_line();

}  // namespace platform
