// Background child processes: started without a shell, not waited for, and reaped by a
// waiter of their own so that none is left a zombie. Also the process's own command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace platform {

// Starts argv[0] (searched on the PATH when it has no slash) with the given arguments,
// standard input, output and error on /dev/null and no descriptor of ours beyond those.
// Returns the child's process id, or nothing when it could not be started.
std::optional<pid_t> spawn_detached(const std::vector<std::string>& argv);

// The command line this process was started with, its words joined by blanks.
std::string process_command_line();

}  // namespace platform
