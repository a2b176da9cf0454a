// Placeholder until the product catalog lands.
#include "ui/product_dlg.h"

#include "res/resource.h"

CProductDlg::CProductDlg(ui::CWnd* parent) : ui::CDialog(IDD_PRODUCT_DIALOG, parent) {}
