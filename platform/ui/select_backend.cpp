// Backend choice. The console serves every machine; a window backend takes over here once
// one is built in and a display opens.
#include "platform/ui/select_backend.h"

#include "platform/ui/console/console_backend.h"
#ifdef KALVEX_HAVE_FLTK
#include "platform/ui/fltk/fltk_backend.h"
#endif

namespace ui {

std::unique_ptr<Backend> select_backend() {
#ifdef KALVEX_HAVE_FLTK
  // Windows wherever a display opens ($DISPLAY names it); the program has no option for it.
  if (std::unique_ptr<Backend> windows = fltk::FltkBackend::create()) return windows;
#endif
  return std::make_unique<ConsoleBackend>();
}

}  // namespace ui
