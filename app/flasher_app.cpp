// The order of the dialogs. Sockets and the three-dimensional control look need no start-up
// on this platform, so the sockets failure (string 103) cannot arise here.
#include "app/flasher_app.h"

#include <cstdio>

#include "app/flasher_dlg.h"
#include "ui/product_dlg.h"

namespace {

bool catalog_exists() {
  std::FILE* catalog = std::fopen(kCatalogFileName, "r");
  if (catalog == nullptr) return false;
  std::fclose(catalog);
  return true;
}

}  // namespace

bool CFlasherApp::InitInstance() {
  if (catalog_exists()) {
    CProductDlg productDialog;
    if (productDialog.DoModal() == ui::IDCANCEL) return false;
  }
  CFlasherDlg dialog;
  m_pMainWnd = &dialog;
  dialog.DoModal();
  m_pMainWnd = nullptr;
  return false;
}
