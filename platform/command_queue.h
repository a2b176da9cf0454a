// The queue behind spawn_in_order, the same on every system: one worker thread runs the
// commands one after another, each through the system's own start-and-wait step. Only the
// platform's implementation files include it.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Starts the command and waits for it, at most kOrderedCommandPatience.
using RunWithPatience = void (*)(const std::vector<std::string>& argv);

// Queues the command; the worker (started on first use) runs it once every command queued
// before it has had its turn. Never waits.
void queue_in_order(std::vector<std::string> argv, RunWithPatience run);

}  // namespace platform
