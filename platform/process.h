// Background child processes: started without a shell, not waited for, and reaped by a
// waiter of their own so that none is left a zombie. Also the process's own command line.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace platform {

// Starts argv[0] (searched on the PATH when it has no slash) with the given arguments,
// standard input, output and error on /dev/null and no descriptor of ours beyond those.
// Returns the child's process id, or nothing when it could not be started.
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
