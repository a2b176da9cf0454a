// The fatal box hook: shown at once on the UI thread; from a server thread, posted to the UI
// thread, which shows it and ends the process, while the server thread waits for its stop.
#include "app/fatal_box_ui.h"

#include <string>

#include "core/fatal_box.h"
#include "platform/exit.h"
#include "platform/ui/backend.h"
#include "platform/ui/framework.h"

namespace {

thread_local const platform::StopToken* t_stopToken = nullptr;

void show_fatal_box(const std::string& message) {
  if (!ui::has_backend() || ui::on_ui_thread()) {
    ui::AfxMessageBox(message, ui::MessageBoxType::Ok);
    return;
  }
  ui::post_to_ui([message] {
    ui::AfxMessageBox(message, ui::MessageBoxType::Ok);
    platform::exit_process(1);
  });
  if (t_stopToken == nullptr) platform::StopToken{}.wait();
  t_stopToken->wait();
  throw ServerThreadStopped{};
}

}  // namespace

void install_fatal_box_ui() {
  install_fatal_box_hook(show_fatal_box);
}

FatalBoxStopScope::FatalBoxStopScope(const platform::StopToken& stop) {
  t_stopToken = &stop;
}
FatalBoxStopScope::~FatalBoxStopScope() {
  t_stopToken = nullptr;
}
