// The order of the dialogs. Socket support needs no start-up on this platform; what can still
// fail is the socket itself (no IPv4, a sandbox), which is checked once before any dialog.
#include "app/flasher_app.h"

#include "app/flasher_dlg.h"
#include "platform/net.h"
#include "res/resource.h"
#include "res/templates.h"
#include "ui/product_dlg.h"

bool CFlasherApp::InitInstance() {
  if (!platform::sockets_available()) {
    ui::AfxMessageBox(std::string(res::load_string(IDS_SOCKETS_INIT_FAILED)));
    return false;
  }
  if (catalog_can_be_opened()) {
    CProductDlg productDialog;
    if (productDialog.DoModal() == ui::IDCANCEL) return false;
  }
  CFlasherDlg dialog;
  m_pMainWnd = &dialog;
  dialog.DoModal();
  m_pMainWnd = nullptr;
  return false;
}
