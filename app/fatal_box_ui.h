// The fatal box as the application shows it: a message box on the UI thread, which owns
// every window. A server thread that asks for one waits for the box, and wakes when the
// thread is stopped meanwhile, so that stopping it never deadlocks.
#pragma once

#include "platform/stop.h"

// Installs the hook that core's fatal_box calls.
void install_fatal_box_ui();

// A server thread registers its stop token for as long as its body runs. When the thread
// is stopped while it waits for a fatal box, it ends by ServerThreadStopped, which its body
// catches: fatal_box never returns to its caller.
class FatalBoxStopScope {
 public:
  explicit FatalBoxStopScope(const platform::StopToken& stop);
  ~FatalBoxStopScope();
  FatalBoxStopScope(const FatalBoxStopScope&) = delete;
  FatalBoxStopScope& operator=(const FatalBoxStopScope&) = delete;
};
struct ServerThreadStopped {};
