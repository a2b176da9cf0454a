// The picture dialog: a borderless popup that stretches a product's ".bmp" over its whole
// client area, writes the product name over it without a background box, and moves with the
// mouse wherever it is pressed. A missing or unreadable picture is no error.
#pragma once

#include <memory>
#include <string_view>

#include "platform/ui/bitmap.h"
#include "platform/ui/framework.h"

class CPictureDlg : public ui::CDialog {
 public:
  explicit CPictureDlg(ui::CWnd* parent = nullptr);
  ~CPictureDlg() override;

  // Set by the caller before DoModal; the texts are the caller's and must outlive the run.
  std::string_view m_pictureFile;
  std::string_view m_caption;

  bool OnInitDialog() override;
  bool OnEraseBkgnd(ui::CDC& dc) override;
  void OnLButtonDown(unsigned flags, ui::Point point) override;
  bool IsTransparentStatic(const ui::CWnd& control) const override;

  bool has_picture() const { return m_pBitmap != nullptr; }
  const ui::Bitmap* picture() const { return m_pBitmap.get(); }

 private:
  bool LoadPictureFile(std::string_view name);
  bool CopyPicture(const ui::Bitmap& source);
  void FreePicture();
  void ResetWindowRegion();

  bool m_dragAnywhere = false;
  std::unique_ptr<ui::Bitmap> m_pBitmap;
};
