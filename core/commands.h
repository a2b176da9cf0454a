// Running system commands in the background, as the servers and the countdown ask for them.
// May be called from any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Starts `command` with `parameters` (split on blanks, never through a shell), hidden and
// without waiting for it; commands start in call order, each once the one before has ended,
// so a delete and an add of the same entry keep their order. "arp -s A 02-1A-..." and
// "arp -d A" become the matching neighbour-table commands. Reports nothing.
void exec_command(const char* command, const char* parameters);

// The argument vector that exec_command runs for a command and its parameters; empty when
// there is nothing to run (an "arp" address outside every own network).
std::vector<std::string> command_line_for(const std::string& command,
                                          const std::string& parameters);

// Test seam: while installed, exec_command hands the command and parameters to the recorder
// instead of starting a process. Pass nullptr to remove it.
using CommandRecorder =
    std::function<void(const std::string& command, const std::string& parameters)>;
void set_command_recorder_for_tests(CommandRecorder recorder);
