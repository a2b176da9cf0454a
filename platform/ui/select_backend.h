// The one place where the program chooses how its dialogs are shown.
#pragma once

#include <memory>

#include "platform/ui/backend.h"

namespace ui {

// The backend for this run: windows when a display can be opened, the console otherwise.
std::unique_ptr<Backend> select_backend();

}  // namespace ui
