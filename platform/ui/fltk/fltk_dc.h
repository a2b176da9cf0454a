// The painting surface handed to a dialog's OnEraseBkgnd while its FLTK window draws.
#pragma once

#include "platform/ui/framework.h"

namespace ui::fltk {

class FltkDC final : public CDC {
 public:
  // Scales the whole picture to the rectangle, each direction on its own, and draws it.
  void StretchBlt(const Rect& destination, const Bitmap& source) override;
};

}  // namespace ui::fltk
