// fatal_box: the hook tells the user, then the process ends in the one place where it ends.
#include "core/fatal_box.h"

#include <atomic>
#include <cstdio>

#include "platform/exit.h"

namespace {
std::atomic<FatalBoxHook> g_hook{nullptr};
}  // namespace

void install_fatal_box_hook(FatalBoxHook hook) {
  g_hook = hook;
}

std::string port_permission_text(const char* server, int port) {
  return std::string(server) + " port " + std::to_string(port) +
         " may not be used by this program: it needs the right to use ports below 1024 and to "
         "change the neighbour table.\nRun it as root (as administrator on Windows), or give it "
         "cap_net_bind_service and cap_net_admin with setcap, and try again.";
}

void fatal_box(const char* message) {
  const std::string text = message != nullptr ? message : "";
  if (FatalBoxHook hook = g_hook.load()) {
    hook(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  platform::exit_process(1);
}
