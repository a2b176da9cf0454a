// The product dialog: one radio button per entry of product.ini; OK copies the chosen
// product's image over flash.bin, then asks for confirmation naming the option number;
// "View Picture ..." shows the chosen product's picture.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/framework.h"

class CProductDlg : public ui::CDialog {
 public:
  explicit CProductDlg(ui::CWnd* parent = nullptr);

  void DoDataExchange(ui::CDataExchange& dx) override;
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnCommand(int controlId) override;

  const std::vector<ui::CButton*>& radio_buttons() const { return m_radioButtons; }
  const std::vector<std::string>& product_names() const { return m_productNames; }

 private:
  void OnViewPicture();
  // The index of the checked radio button; none only when the catalog gave no entry.
  std::optional<std::size_t> FindChosenEntry() const;
  void DestroyRadioButtons();
  void AddProduct(std::size_t index, const std::string& name, const std::string& caption);

  ui::CWnd* m_productGroup = nullptr;
  std::vector<ui::CButton*> m_radioButtons;  // owned by the dialog's control list
  std::vector<std::string> m_productNames;   // parallel to m_radioButtons
};
