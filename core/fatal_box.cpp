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

void fatal_box(const char* message) {
  const std::string text = message != nullptr ? message : "";
  if (FatalBoxHook hook = g_hook.load()) {
    hook(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  platform::exit_process(1);
}
