// Dialog templates and the string table as data: the only place where the dialogs' texts
// and geometry are written. Every UI backend builds its windows from these.
#pragma once

#include <string_view>

#include "platform/ui/resources.h"

namespace res {

extern const ui::DialogTemplate kFlasherDialog;  // IDD_FLASHER_DIALOG
extern const ui::DialogTemplate kProductDialog;  // IDD_PRODUCT_DIALOG
extern const ui::DialogTemplate kPictureDialog;  // IDD_PICTURE_DIALOG

// The string with that IDS_ id; empty for an id the table does not hold.
std::string_view load_string(int id);

}  // namespace res
