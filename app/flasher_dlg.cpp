// The main dialog's handlers and the flash driver's tick. The dialog meets the server
// threads only in FlashState; it stops a thread (signal and join) before it closes anything
// that thread may still be using.
#include "app/flasher_dlg.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/adapter_discovery.h"
#include "app/fatal_box_ui.h"
#include "bootp/bootpd.h"
#include "core/commands.h"
#include "core/fatal_box.h"
#include "core/file_names.h"
#include "core/flash_state.h"
#include "platform/net.h"
#include "platform/process.h"
#include "res/resource.h"
#include "res/templates.h"
#include "tftp/tftp_server.h"

namespace {

constexpr const char* kStatusChoose =
    "Please select or type the IP address of the network adapter connected to the device, "
    "then click 'OK' button ...";
constexpr const char* kStatusInvalid = "The IP address is invalid, please try again ...";
constexpr const char* kStatusReady = "Server is ready ...";
constexpr const char* kStatusRetransmit = "Preparing to retransmit data, please wait ...";
constexpr const char* kStatusCompleted = "Transfer completed, please wait the board to reboot ...";
constexpr const char* kStatusRebooting = "System on board is rebooting ...";
constexpr const char* kStatusBoardUp = "System on board is up, the program will exit ...";

constexpr int kMaxAddressChars = 32;
// A slot shorter than "1.1.1.1" cannot hold an address worth listing.
constexpr std::size_t kMinSlotChars = 7;
constexpr std::string_view kPreferredNetwork = "192.168.";

// The image's length, or nothing when it cannot be opened.
std::optional<std::int32_t> measure_image() {
  std::FILE* file = std::fopen(kImageFileName, "rb");
  if (file == nullptr) return std::nullopt;
  long length = 0;
  if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
  std::fclose(file);
  return static_cast<std::int32_t>(std::clamp<long>(length, 0, INT32_MAX));
}

// bytesSent × 100 / imageSize in 64 bits: images over 21,474,836 bytes would overflow 32.
std::int32_t percent_of(std::int32_t sent, std::int32_t size) {
  const std::int64_t percent = static_cast<std::int64_t>(sent) * 100 / size;
  return static_cast<std::int32_t>(std::min<std::int64_t>(percent, INT32_MAX));
}

void default_discovery() {
  capture_output("ipconfig", "ipconfig ");
  read_adapter_addresses();
}

void run_bootp_body(const platform::StopToken& stop) {
  bootp_thread(stop);
}
void run_tftp_body(const platform::StopToken& stop) {
  tftp_thread(stop);
}

}  // namespace

bool catalog_can_be_opened() {
  std::FILE* catalog = std::fopen(kCatalogFileName, "r");
  if (catalog == nullptr) return false;
  std::fclose(catalog);
  return true;
}

FlasherSeams& flasher_seams() {
  static FlasherSeams seams{default_discovery, run_bootp_body, run_tftp_body};
  return seams;
}

void reset_flasher_seams() {
  flasher_seams() = FlasherSeams{default_discovery, run_bootp_body, run_tftp_body};
}

CFlasherDlg::CFlasherDlg(ui::CWnd* parent) : CDialog(res::kFlasherDialog, parent) {}

// The threads are stopped by now (OnCancel); nothing may keep pointing into this dialog.
CFlasherDlg::~CFlasherDlg() {
  FlashState& state = flash_state();
  ui::CWnd* self = this;
  state.mainWindow.compare_exchange_strong(self, nullptr);
  ui::CProgressCtrl* bar = m_progress;
  state.progressBar.compare_exchange_strong(bar, nullptr);
}

void CFlasherDlg::DoDataExchange(ui::CDataExchange& dx) {
  ui::DDX_Control(dx, ui::IDOK, m_okButton);
  ui::DDX_Control(dx, IDC_PROGRESS, m_progress);
  ui::DDX_Control(dx, IDC_ADDRESS, m_addressBox);
  ui::DDX_Text(dx, IDC_ADDRESS, addressText);
  ui::DDV_MaxChars(dx, addressText, kMaxAddressChars);
}

void CFlasherDlg::set_status(const std::string& text) {
  SetDlgItemText(IDC_STATUS, text);
}

bool CFlasherDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText("Kalvex");
  flash_state().mainWindow = this;
  if (flasher_seams().discoverAdapters) flasher_seams().discoverAdapters();
  FillAddressList();
  // Sockets need no start-up on this platform, so the WinSock failure path cannot arise.
  set_status(kStatusChoose);
  flash_state().progressBar = m_progress;
  m_progress->SetRange(0, 100);
  flash_state().imageSize = 0;
  m_progress->ShowWindow(false);
  if (!catalog_can_be_opened())
    ui::AfxMessageBox(std::string(res::load_string(IDS_SERVER_WARNING)));
  return true;
}

void CFlasherDlg::FillAddressList() {
  m_addressBox->ResetContent();
  int preferred = 0;
  for (const auto& slot : adapterAddresses) {
    const std::string text(slot.data(), strnlen(slot.data(), slot.size()));
    if (text.size() < kMinSlotChars) continue;
    const std::uint32_t address = platform::inet_addr(text.c_str());
    if (address == platform::kInaddrNone) continue;
    ownAddresses.insert(address);
    const int position = m_addressBox->AddString(text);
    if (text.find(kPreferredNetwork) != std::string::npos) preferred = position;
  }
  m_addressBox->SetCurSel(preferred);
}

void CFlasherDlg::OnOK() {
  if (m_serving) return;
  FlashState& state = flash_state();
  UpdateData(true);
  state.serverAddress = platform::inet_addr(addressText.c_str());
  if (addressText.empty() || state.serverAddress == platform::kInaddrNone) {
    set_status(kStatusInvalid);
    return;
  }
  state.percentDone = 0;
  set_status(kStatusReady);
  m_addressBox->EnableWindow(false);
  m_okButton->ShowWindow(false);
  m_progress->ShowWindow(true);
  state.clientAddress = ChooseBoardAddress(state.serverAddress);
  const std::optional<std::int32_t> size = measure_image();
  if (!size) fatal_box("Error: flash.bin is not found!");
  state.imageSize = *size;
  m_serving = true;
  start_bootp_thread();
  start_tftp_thread();
  SetTimer(kTickTimerId, kTickPeriod);
  SetTimer(kRecvTimerId, kRecvTimerPollPeriod, [](std::uintptr_t) { recv_timer_poll(); });
}

void CFlasherDlg::start_bootp_thread() {
  flash_state().bootpThread.start([](const platform::StopToken& stop) {
    if (flasher_seams().bootpBody) flasher_seams().bootpBody(stop);
  });
}

void CFlasherDlg::start_tftp_thread() {
  flash_state().tftpThread.start([](const platform::StopToken& stop) {
    if (flasher_seams().tftpBody) flasher_seams().tftpBody(stop);
  });
}

void CFlasherDlg::OnTimer(std::uintptr_t) {
  if (restart_phase()) return;
  FlashState& state = flash_state();
  if (!state.finishing && state.bytesSent > 0) progress_phase();
  if (state.percentDone > 100) state.percentDone = 100;
  if (state.percentDone != 100) return;
  countdown_phase();
}

bool CFlasherDlg::restart_phase() {
  FlashState& state = flash_state();
  if (!state.restartRequested) return false;
  state.tftpThread.stop();
  net_close();
  // The stopped thread's stream would otherwise stay open until the process ends.
  if (std::FILE* image = state.imageFile.exchange(nullptr)) file_close(image);
  if (state.timedOut) set_status(kStatusRetransmit);
  state.bytesSent = 0;
  auto* bar = static_cast<ui::CProgressCtrl*>(GetDlgItem(IDC_PROGRESS));
  state.progressBar = bar;
  if (bar != nullptr) bar->SetPos(0);
  start_tftp_thread();
  // A boot loader that gave up starts over from its BOOTP (or DHCP) request, not from a new
  // read request: the new TFTP server is of no use to it unless it is answered again. The
  // first data stops the BOOTP thread once more.
  if (state.bootpStopped.exchange(false)) start_bootp_thread();
  state.restartRequested = false;
  return true;
}

void CFlasherDlg::progress_phase() {
  FlashState& state = flash_state();
  if (!state.bootpStopped.exchange(true)) state.bootpThread.stop();
  const std::int32_t size = state.imageSize;
  // Data for an image measured empty: no percentage can be told, so none is shown.
  if (size <= 0) return;
  const std::int32_t percent = percent_of(state.bytesSent, size);
  state.percentDone = percent;
  if (ui::CProgressCtrl* bar = state.progressBar) bar->SetPos(percent);
  char text[64];
  std::snprintf(text, sizeof text, "Updating Image   %d%%.", static_cast<int>(percent));
  set_status(text);
}

void CFlasherDlg::countdown_phase() {
  FlashState& state = flash_state();
  state.finishing = true;
  const std::int32_t tick = state.finishTick;
  ui::CProgressCtrl* bar = state.progressBar;
  if (tick == kTickTransferCompleted) {
    if (bar != nullptr) bar->SetPos(0);
    set_status(kStatusCompleted);
  }
  if (tick == kTickRebooting) {
    set_status(kStatusRebooting);
    const std::string parameters = "-d " + platform::inet_ntoa(state.clientAddress);
    exec_command("arp", parameters.c_str());
  }
  if (tick == kTickBoardUp) set_status(kStatusBoardUp);
  if (bar != nullptr && tick >= kTickBarRefillStart) bar->SetPos((tick - kTickBarRefillStart) / 3);
  if (tick == kTickClose) OnCancel();
  state.finishTick = tick + 1;
}

void CFlasherDlg::OnCancel() {
  stop_servers();
  CDialog::OnCancel();
}

void stop_servers() {
  FlashState& state = flash_state();
  // Both threads end first: nothing they may still be waiting on is closed under them.
  state.bootpThread.stop();
  state.tftpThread.stop();
  disarm_recv_timer(kRecvTimerId);
  if (ui::CWnd* window = state.mainWindow.load())
    if (ui::CDialog* dialog = window->dialog()) dialog->KillTimer(kRecvTimerId);
  net_close();
  if (std::FILE* image = state.imageFile.exchange(nullptr)) file_close(image);
  state.bytesSent = 0;
  state.percentDone = 0;
}

int bootp_thread(const platform::StopToken& stop) {
  FatalBoxStopScope scope(stop);
  std::string commandLine = platform::process_command_line();
  char* argv[] = {commandLine.data(), nullptr};
  try {
    bootpd(1, argv, stop);
  } catch (const ServerThreadStopped&) {
  }
  return 1;
}

int tftp_thread(const platform::StopToken& stop) {
  FatalBoxStopScope scope(stop);
  try {
    tftp_server(stop);
  } catch (const ServerThreadStopped&) {
  }
  return 1;
}
