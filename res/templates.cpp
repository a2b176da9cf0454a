// The dialog templates (geometry in dialog units, texts exactly as shown) and the string table.
#include "res/templates.h"

#include <array>

#include "platform/ui/framework.h"
#include "res/resource.h"

namespace res {

namespace {

using ui::ControlKind;
using ui::ControlTemplate;

constexpr ui::Rect at(int x, int y, int width, int height) {
  return ui::Rect{x, y, x + width, y + height};
}

// The main dialog. The OK button and the progress bar overlap: only one is shown at a time.
constexpr std::array kFlasherControls = {
    ControlTemplate{IDC_PROGRESS, ControlKind::ProgressBar, "", at(17, 62, 200, 15)},
    ControlTemplate{IDC_STATUS, ControlKind::Static, "a", at(17, 42, 198, 19)},
    ControlTemplate{IDC_ADDRESS, ControlKind::ComboBoxDropDown, "", at(106, 16, 104, 41)},
    ControlTemplate{ui::IDOK, ControlKind::DefPushButton, "OK", at(92, 71, 50, 14)},
    ControlTemplate{-1, ControlKind::Static, "IP Address:", at(21, 18, 64, 11)},
};

// The product dialog; the radio buttons are added at run time inside the group box.
constexpr std::array kProductControls = {
    ControlTemplate{ui::IDOK, ControlKind::DefPushButton, "OK", at(138, 99, 50, 14)},
    ControlTemplate{IDC_PRODUCT_GROUP, ControlKind::GroupBox,
                    "Please choose the right product: ", at(7, 7, 221, 86)},
    ControlTemplate{IDC_VIEW_PICTURE, ControlKind::PushButton, "View Picture ...",
                    at(46, 99, 60, 14)},
};

// The picture dialog: borderless, the label's text is set at run time.
constexpr std::array kPictureControls = {
    ControlTemplate{ui::IDOK, ControlKind::DefPushButton, "Close", at(186, 135, 50, 14)},
    ControlTemplate{IDC_PICTURE_CAPTION, ControlKind::Static, "", at(7, 7, 48, 8)},
};

struct StringEntry {
  int id;
  std::string_view text;
};

constexpr std::array kStrings = {
    StringEntry{IDS_SOCKETS_INIT_FAILED, "Windows sockets initialization failed."},
    StringEntry{IDS_SERVER_WARNING,
                "Attention:\n\nIf you have any DHCP/bootp/tftp servers running on your PC, "
                "\nplease disable them before running this program.\n"},
    StringEntry{IDS_PRODUCT_CONFIRMATION,
                "Attention:\n\n1. You have chosen option %1!d!, which can only be used for "
                "%2%.\n2. If you have any DHCP/bootp/tftp servers running on your PC, please "
                "disable them before running this program.\n\n Click 'OK' to continue, or "
                "'Cancel' to change the product."},
};

}  // namespace

constexpr ui::DialogTemplate kFlasherDialog{IDD_FLASHER_DIALOG, "Kalvex", 235,  97,
                                            "MS Sans Serif",    8,        true, kFlasherControls};
constexpr ui::DialogTemplate kProductDialog{IDD_PRODUCT_DIALOG, "Kalvex", 235,  125,
                                            "MS Sans Serif",    8,        true, kProductControls};
constexpr ui::DialogTemplate kPictureDialog{IDD_PICTURE_DIALOG, "", 249,   163,
                                            "MS Sans Serif",    8,  false, kPictureControls};

std::string_view load_string(int id) {
  for (const StringEntry& entry : kStrings)
    if (entry.id == id) return entry.text;
  return {};
}

}  // namespace res
