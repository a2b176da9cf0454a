// Backend choice. The console serves every machine; a window backend takes over here once
// one is built in and a display opens.
#include "platform/ui/select_backend.h"

#include "platform/ui/console/console_backend.h"

namespace ui {

std::unique_ptr<Backend> select_backend() {
  return std::make_unique<ConsoleBackend>();
}

}  // namespace ui
