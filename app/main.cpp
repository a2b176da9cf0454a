// The kalvex program: picks the UI backend, runs the application object and ends the
// process in the one place where it ends on purpose.
#include "app/fatal_box_ui.h"
#include "app/flasher_app.h"
#include "core/commands.h"
#include "platform/exit.h"
#include "platform/ui/console/console_backend.h"
#include "res/icon.h"
#ifdef KALVEX_HAVE_FLTK
#include "platform/ui/fltk/fltk_backend.h"
#endif

namespace {

// The application object, constructed during static initialisation before anything runs.
CFlasherApp theApp;

// Windows wherever a display opens ($DISPLAY names it), the console otherwise; the program
// has no option for it.
std::unique_ptr<ui::Backend> select_backend() {
#ifdef KALVEX_HAVE_FLTK
  if (std::unique_ptr<ui::Backend> windows = ui::fltk::FltkBackend::create(res::application_icon()))
    return windows;
#endif
  return std::make_unique<ui::ConsoleBackend>();
}

}  // namespace

int main() {
  std::unique_ptr<ui::Backend> backend = select_backend();
  ui::set_backend(backend.get());
  install_fatal_box_ui();
  platform::set_exit_hook(remove_neighbour_entries_made);
  const int code = theApp.Run();
  platform::exit_process(code);
}
