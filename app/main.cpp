// The kalvex program: picks the UI backend, runs the application object and ends the
// process in the one place where it ends on purpose.
#include "app/fatal_box_ui.h"
#include "app/flasher_app.h"
#include "core/commands.h"
#include "platform/exit.h"
#include "platform/termination.h"
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

// A kill or a closed terminal ends the program as an error does: the exit hook still takes
// the board's entry out of the neighbour table.
void end_on_request(int signal) {
  platform::exit_process(128 + signal);
}

}  // namespace

int main() {
  // Before the backend: the console takes Ctrl-C as Cancel for the dialog on screen.
  platform::on_termination_request(end_on_request);
  std::unique_ptr<ui::Backend> backend = select_backend();
  ui::set_backend(backend.get());
  install_fatal_box_ui();
  platform::set_exit_hook(remove_neighbour_entries_made);
  const int code = theApp.Run();
  platform::exit_process(code);
}
