// Ending the program on a condition it cannot go on from, once the user has been told why.
// Core shows no box itself: the application installs the hook that shows it, so that the
// servers can ask for a box without knowing anything of windows.
#pragma once

#include <string>

// Shows the message with an OK button and returns once the user has closed it. It may be
// called on any thread; a hook that cannot return (its thread is being stopped) unwinds
// that thread instead.
using FatalBoxHook = void (*)(const std::string& message);
// Installed once at start-up, before any thread that may call fatal_box starts. Without a
// hook the message goes to the standard error stream.
void install_fatal_box_hook(FatalBoxHook hook);

// Shows the message through the hook, then ends the process with exit code 1. Does not
// return, whatever thread calls it.
[[noreturn]] void fatal_box(const char* message);

// The text for a server port the process may not bind (it lacks the privilege), which must not
// read as if another program held the port.
std::string port_permission_text(const char* server, int port);
