// The painting surface handed to a dialog's OnEraseBkgnd while its window erases its
// background: the device context of WM_ERASEBKGND.
#pragma once

#include "platform/ui/win32/windows_api.h"

#include "platform/ui/framework.h"

namespace ui::win32 {

class PictureDC final : public CDC {
 public:
  explicit PictureDC(HDC dc) : m_dc(dc) {}
  // The whole picture stretched over the rectangle, each direction on its own (StretchDIBits).
  void StretchBlt(const Rect& destination, const Bitmap& source) override;

 private:
  HDC m_dc;
};

}  // namespace ui::win32
