// The order of the dialogs. Socket support is started (Windows) or checked (no IPv4, a
// sandbox) once before any dialog, and so are the rights the servers need.
#include "app/flasher_app.h"

#include "app/flasher_dlg.h"
#include "platform/net.h"
#include "platform/privileges.h"
#include "res/resource.h"
#include "res/templates.h"
#include "ui/product_dlg.h"

namespace {

constexpr const char* kNeedsAdministrator =
    "Kalvex needs administrator rights to answer the board (UDP ports 67 and 69 and the "
    "board's ARP entry).\nPlease run it as administrator.";

}  // namespace

bool CFlasherApp::InitInstance() {
  if (!platform::sockets_available()) {
    ui::AfxMessageBox(std::string(res::load_string(IDS_SOCKETS_INIT_FAILED)));
    return false;
  }
  // Without them the ports and the board's entry would be refused only once a board asks.
  if (!platform::has_administrator_rights()) {
    ui::AfxMessageBox(kNeedsAdministrator);
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
