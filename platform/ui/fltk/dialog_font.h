// The dialog font of every window and the base units measured from it. Templates give
// geometry in dialog units; the pixels come from the font actually drawn, as a dialog
// manager derives them, so the templates stay the only place where geometry is written.
#pragma once

#include <FL/Enumerations.H>

#include "platform/ui/backend.h"

namespace ui::fltk {

// The templates ask for an 8-point sans serif; FLTK sizes are pixels (8 pt at 96 dpi).
inline constexpr Fl_Fontsize kDialogFontPixels = 11;

// The dialog manager's rule: the average width of "A".."Z" "a".."z" rounded to the nearest
// whole pixel (computed in integers from the 52 letters' extent), and the font's height.
BaseUnits base_units_from_metrics(int lettersWidth, int fontHeight);

// The font every window uses: Liberation Sans where fontconfig has it, whose metrics match
// the templates' original font, otherwise whatever sans serif it substitutes. Needs an open
// display.
Fl_Font dialog_font();

// Measures the base units of dialog_font() at kDialogFontPixels.
BaseUnits measure_base_units();

}  // namespace ui::fltk
