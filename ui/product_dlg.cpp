// The product dialog: one radio button per catalog entry; OK copies the chosen product's
// image over flash.bin, then asks for confirmation; View Picture shows its bitmap.
#include "ui/product_dlg.h"

#include <cstdio>

#include "core/file_names.h"
#include "platform/exit.h"
#include "platform/file_copy.h"
#include "res/resource.h"
#include "res/templates.h"
#include "ui/picture_dlg.h"
#include "ui/product_catalog.h"

namespace {

// Radio rows inside the group box, in pixels: indented 25, the first 40 down, 20 high, one
// every 25. They are placed by the group box's own client rectangle, as they always were.
constexpr int kRowIndent = 25;
constexpr int kFirstRowTop = 40;
constexpr int kFirstRowBottom = 60;
constexpr int kRowPitch = 25;

ui::Rect radio_rectangle(const ui::Rect& group, std::size_t index) {
  const int offset = kRowPitch * static_cast<int>(index);
  return ui::Rect{group.left + kRowIndent, group.top + kFirstRowTop + offset, group.right,
                  group.top + kFirstRowBottom + offset};
}

[[noreturn]] void report_missing_image(const std::string& imageFile) {
  char text[1200];
  std::snprintf(text, sizeof text, "Cannot find file %s!", imageFile.c_str());
  ui::AfxMessageBox(text);
  platform::exit_process(1);
}

std::string confirmation_text(std::size_t optionNumber, const std::string& name) {
  return ui::format_message(res::load_string(IDS_PRODUCT_CONFIRMATION),
                            {static_cast<long long>(optionNumber), name});
}

}  // namespace

CProductDlg::CProductDlg(ui::CWnd* parent) : ui::CDialog(res::kProductDialog, parent) {}

void CProductDlg::DoDataExchange(ui::CDataExchange& dx) {
  ui::CDialog::DoDataExchange(dx);
  ui::DDX_Control(dx, IDC_PRODUCT_GROUP, m_productGroup);
}

bool CProductDlg::OnInitDialog() {
  ui::CDialog::OnInitDialog();
  std::FILE* catalog = std::fopen(kCatalogFileName, "r");
  if (catalog == nullptr) return false;
  const std::vector<CatalogEntry> entries = read_catalog(catalog);
  std::fclose(catalog);
  for (std::size_t k = 0; k < entries.size(); ++k)
    AddProduct(k, entries[k].name, entries[k].caption);
  return true;
}

void CProductDlg::AddProduct(std::size_t index, const std::string& name,
                             const std::string& caption) {
  const ui::Rect group = m_productGroup != nullptr ? m_productGroup->GetClientRect() : ui::Rect{};
  ui::CButton* button =
      CreateButton(caption, ui::ControlKind::RadioButton, radio_rectangle(group, index),
                   IDC_FIRST_PRODUCT + static_cast<int>(index));
  m_radioButtons.push_back(button);
  m_productNames.push_back(name);
  if (index == 0) button->SetCheck(1);
}

std::optional<std::size_t> CProductDlg::FindChosenEntry() const {
  for (std::size_t k = 0; k < m_radioButtons.size(); ++k)
    if (m_radioButtons[k]->GetCheck() == 1) return k;
  return std::nullopt;
}

// The copy comes before the question, so flash.bin already holds the image while the user
// reads the confirmation; a Cancel there keeps that copy and the next OK copies again.
void CProductDlg::OnOK() {
  const std::optional<std::size_t> chosen = FindChosenEntry();
  if (!chosen) return;  // an empty catalog: nothing to copy
  const std::string& name = m_productNames[*chosen];
  const std::string imageFile = name + ".bin";
  if (!platform::copy_file_replacing(imageFile, kImageFileName)) report_missing_image(imageFile);
  const int answer =
      ui::AfxMessageBox(confirmation_text(*chosen + 1, name), ui::MessageBoxType::OkCancel);
  if (answer == ui::IDCANCEL) return;
  DestroyRadioButtons();
  ui::CDialog::OnOK();
}

void CProductDlg::OnCancel() {
  DestroyRadioButtons();
  ui::CDialog::OnCancel();
}

void CProductDlg::OnCommand(int controlId) {
  if (controlId == IDC_VIEW_PICTURE) OnViewPicture();
  ui::CDialog::OnCommand(controlId);
}

void CProductDlg::OnViewPicture() {
  const std::optional<std::size_t> chosen = FindChosenEntry();
  if (!chosen) return;
  const std::string& name = m_productNames[*chosen];
  const std::string pictureFile = name + ".bmp";
  CPictureDlg picture(this);
  picture.m_pictureFile = pictureFile;
  picture.m_caption = name;
  picture.DoModal();
}

void CProductDlg::DestroyRadioButtons() {
  for (ui::CButton* button : m_radioButtons) DestroyControl(button);
  m_radioButtons.clear();
}
