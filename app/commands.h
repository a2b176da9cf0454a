// Running system commands in the background and ending the program on a fatal condition.
// Both may be called from any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/stop.h"

// Starts `command` with `parameters` (split on blanks, never through a shell), hidden and
// without waiting for it; commands start in call order, each once the one before has ended,
// so a delete and an add of the same entry keep their order. On Linux "arp -s A 02-1A-..." and "arp
// -d A" become the matching neighbour-table commands. Reports nothing.
void exec_command(const char* command, const char* parameters);

// Shows the message in a message box with an OK button, then ends the process with exit
// code 1. Does not return, whatever thread calls it.
[[noreturn]] void fatal_box(const char* message);

// The argument vector that exec_command runs for a command and its parameters; empty when
// there is nothing to run (an "arp" address outside every own network).
std::vector<std::string> command_line_for(const std::string& command,
                                          const std::string& parameters);

// Test seam: while installed, exec_command hands the command and parameters to the recorder
// instead of starting a process. Pass nullptr to remove it.
using CommandRecorder =
    std::function<void(const std::string& command, const std::string& parameters)>;
void set_command_recorder_for_tests(CommandRecorder recorder);

// A server thread that may call fatal_box registers its stop token for as long as its body
// runs: fatal_box then waits for the UI thread's message box and wakes on that stop, so
// that stopping the thread never deadlocks. The thread then ends by the exception below,
// which its body catches: fatal_box never returns to its caller.
class FatalBoxStopScope {
 public:
  explicit FatalBoxStopScope(const platform::StopToken& stop);
  ~FatalBoxStopScope();
  FatalBoxStopScope(const FatalBoxStopScope&) = delete;
  FatalBoxStopScope& operator=(const FatalBoxStopScope&) = delete;
};
struct ServerThreadStopped {};
