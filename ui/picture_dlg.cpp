// The picture dialog: the product's bitmap stretched over the whole window, its name drawn on
// top without a background, the window dragged by a press anywhere on it.
#include "ui/picture_dlg.h"

#include <string>

#include "res/resource.h"
#include "res/templates.h"

CPictureDlg::CPictureDlg(ui::CWnd* parent) : ui::CDialog(res::kPictureDialog, parent) {}

CPictureDlg::~CPictureDlg() {
  FreePicture();
}

bool CPictureDlg::OnInitDialog() {
  ui::CDialog::OnInitDialog();
  LoadPictureFile(m_pictureFile);
  SetDlgItemText(IDC_PICTURE_CAPTION, std::string(m_caption));
  // Only now: a press before the dialog is set up must not start a move.
  m_dragAnywhere = true;
  return true;
}

bool CPictureDlg::LoadPictureFile(std::string_view name) {
  FreePicture();
  std::optional<ui::Bitmap> loaded = ui::load_bitmap_file(std::string(name));
  if (!loaded) return false;
  CopyPicture(*loaded);
  return true;
}

bool CPictureDlg::CopyPicture(const ui::Bitmap& source) {
  FreePicture();
  m_pBitmap = std::make_unique<ui::Bitmap>(source);
  ResetWindowRegion();
  return true;
}

void CPictureDlg::FreePicture() {
  m_pBitmap.reset();
}

// The window keeps its full rectangular shape; what changes is what is drawn in it.
void CPictureDlg::ResetWindowRegion() {
  Invalidate();
}

bool CPictureDlg::OnEraseBkgnd(ui::CDC& dc) {
  if (!m_pBitmap) return ui::CDialog::OnEraseBkgnd(dc);
  dc.StretchBlt(GetClientRect(), *m_pBitmap);  // aspect ratio deliberately not kept
  return true;
}

void CPictureDlg::OnLButtonDown(unsigned flags, ui::Point point) {
  ui::CDialog::OnLButtonDown(flags, point);
  // The dialog has no caption bar to drag, so a press anywhere moves it.
  if (m_dragAnywhere) BeginWindowDrag(point);
}

// Static text is drawn straight onto the picture. Our templates hold no trackbar, the one
// kind of static-coloured control that keeps its own background.
bool CPictureDlg::IsTransparentStatic(const ui::CWnd& control) const {
  return control.kind() == ui::ControlKind::Static;
}
