// Font choice and measurement for the FLTK windows.
#include "platform/ui/fltk/dialog_font.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <cmath>

namespace ui::fltk {

namespace {

constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
// A leading blank tells FLTK's Xft layer "regular weight, upright" before the family name.
constexpr const char* kPreferredFamily = " Liberation Sans";

}  // namespace

BaseUnits base_units_from_metrics(int lettersWidth, int fontHeight) {
  return BaseUnits{(lettersWidth / 26 + 1) / 2, fontHeight};
}

Fl_Font dialog_font() {
  static const Fl_Font font = [] {
    Fl::set_font(FL_FREE_FONT, kPreferredFamily);
    return FL_FREE_FONT;
  }();
  return font;
}

BaseUnits measure_base_units() {
  fl_font(dialog_font(), kDialogFontPixels);
  const int lettersWidth = static_cast<int>(std::lround(fl_width(kAlphabet)));
  return base_units_from_metrics(lettersWidth, fl_height());
}

}  // namespace ui::fltk
