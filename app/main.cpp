// The kalvex program: picks the UI backend, runs the application object and ends the
// process in the one place where it ends on purpose.
#include "app/fatal_box_ui.h"
#include "app/flasher_app.h"
#include "core/commands.h"
#include "platform/exit.h"
#include "platform/termination.h"
#include "res/icon.h"
#ifdef KALVEX_HAVE_WIN32_UI
#include <cstdio>

#include "platform/ui/win32/win32_backend.h"
#include "res/templates.h"
#else
#include "platform/ui/console/console_backend.h"
#endif
#ifdef KALVEX_HAVE_FLTK
#include "platform/ui/fltk/fltk_backend.h"
#endif

namespace {

// The application object, constructed during static initialisation before anything runs.
CFlasherApp theApp;

// On Windows its own windows, which are always there. Elsewhere windows wherever a display
// opens ($DISPLAY names it), the console otherwise; the program has no option for it.
std::unique_ptr<ui::Backend> select_backend() {
#ifdef KALVEX_HAVE_WIN32_UI
  // Every dialog template names the same font; the base units come from it.
  return ui::win32::create_backend(res::application_icon(), res::kFlasherDialog);
#else
#ifdef KALVEX_HAVE_FLTK
  if (std::unique_ptr<ui::Backend> windows = ui::fltk::FltkBackend::create(res::application_icon()))
    return windows;
#endif
  return std::make_unique<ui::ConsoleBackend>();
#endif
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
#ifdef KALVEX_HAVE_WIN32_UI
  if (!backend) {
    std::fputs("kalvex: the windows cannot be created\n", stderr);
    platform::exit_process(1);
  }
#endif
  ui::set_backend(backend.get());
  install_fatal_box_ui();
  platform::set_exit_hook(remove_neighbour_entries_made);
  const int code = theApp.Run();
  platform::exit_process(code);
}
