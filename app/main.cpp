// The kalvex program: picks the UI backend, runs the application object and ends the
// process in the one place where it ends on purpose.
#include "app/fatal_box_ui.h"
#include "app/flasher_app.h"
#include "platform/exit.h"
#include "platform/ui/select_backend.h"

namespace {
// The application object, constructed during static initialisation before anything runs.
CFlasherApp theApp;
}  // namespace

int main() {
  std::unique_ptr<ui::Backend> backend = ui::select_backend();
  ui::set_backend(backend.get());
  install_fatal_box_ui();
  const int code = theApp.Run();
  platform::exit_process(code);
}
