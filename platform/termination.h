// A request from outside to end the program (SIGTERM, SIGHUP, and SIGINT where no dialog
// takes Ctrl-C as Cancel): the handler runs on a thread of its own, never in a signal
// handler, so it may do what any thread may (remove the board's neighbour entry, end the
// process).
#pragma once

namespace platform {

// Installs the handler once, at start-up; it is given the signal's number.
void on_termination_request(void (*handler)(int signal));

}  // namespace platform
