// Running system commands as the servers and the countdown ask for them, and the board's
// entry in the PC's neighbour table, which the Windows "arp" command stands for. May be
// called from any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Starts `command` with `parameters` (split on blanks, never through a shell), hidden and
// without waiting for it; commands start in call order, each once the one before has ended.
// "arp -s A 02-1A-2B-3C-4D-5E" and "arp -d A" are not run as programs: they change the
// neighbour table in-process, on the interface whose network holds A, and are done when
// exec_command returns, so a reply sent next finds the board's entry. Reports nothing to the
// caller; a refused change goes to the diagnostics channel.
void exec_command(const char* command, const char* parameters);

// The argument vector that exec_command runs for a command other than "arp".
std::vector<std::string> command_line_for(const std::string& command,
                                          const std::string& parameters);

// Deletes every neighbour entry that "arp -s" made and no "arp -d" has removed yet: the board
// must not stay in the table once the program has gone, whichever way it ends.
void remove_neighbour_entries_made();

// Test seam: while installed, exec_command hands the command and parameters to the recorder
// instead of acting on them. Pass nullptr to remove it.
using CommandRecorder =
    std::function<void(const std::string& command, const std::string& parameters)>;
void set_command_recorder_for_tests(CommandRecorder recorder);
