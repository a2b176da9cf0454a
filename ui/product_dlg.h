// The product dialog: one radio button per line of product.ini; OK copies the chosen
// product's image over flash.bin after a confirmation.
#pragma once

#include "platform/ui/framework.h"

class CProductDlg : public ui::CDialog {
 public:
  explicit CProductDlg(ui::CWnd* parent = nullptr);
};
