// The main dialog and driver of a flash run: takes the adapter address, chooses the board's
// address, starts the BOOTP and TFTP threads, and on its 300 ms tick turns the bytes sent
// into progress, replaces a stalled TFTP thread and runs the closing countdown.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "platform/stop.h"
#include "platform/ui/framework.h"

inline constexpr std::chrono::milliseconds kTickPeriod{300};
inline constexpr std::uintptr_t kTickTimerId = 0;
// How often the UI thread looks at the TFTP receive deadline.
inline constexpr std::chrono::milliseconds kRecvTimerPollPeriod{50};
// Whether the product catalog can be opened for reading: it decides whether the product
// dialog runs and whether the main dialog warns about other servers itself.
bool catalog_can_be_opened();

// Countdown ticks, counted from the first tick at which the percentage is 100.
inline constexpr int kTickTransferCompleted = 4;
inline constexpr int kTickBarRefillStart = 10;
inline constexpr int kTickRebooting = 12;
inline constexpr int kTickBoardUp = 280;
inline constexpr int kTickClose = 310;

class CFlasherDlg : public ui::CDialog {
 public:
  explicit CFlasherDlg(ui::CWnd* parent = nullptr);
  ~CFlasherDlg() override;

  void DoDataExchange(ui::CDataExchange& dx) override;
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnTimer(std::uintptr_t timerId) override;

  // A free neighbour of the adapter address on its /24 network, not one of ownAddresses;
  // all ones when there is none. Network byte order in and out.
  std::uint32_t ChooseBoardAddress(std::uint32_t serverAddress) const;
  // Fills the address list from the adapter slots and selects the last "192.168." entry.
  void FillAddressList();

  ui::CButton* m_okButton = nullptr;
  ui::CProgressCtrl* m_progress = nullptr;
  ui::CComboBox* m_addressBox = nullptr;
  std::string addressText;
  std::set<std::uint32_t> ownAddresses;  // network byte order

 private:
  bool restart_phase();
  void progress_phase();
  void countdown_phase();
  void set_status(const std::string& text);
  void start_tftp_thread();
  void start_bootp_thread();

  bool m_serving = false;  // a second OK while a run goes on starts nothing
};

// Stops the receive time-out timer, both server threads, the TFTP socket and the image file.
void stop_servers();
// Thread entries: run the server bodies, return 1 if they ever return.
int bootp_thread(const platform::StopToken& stop);
int tftp_thread(const platform::StopToken& stop);

// Test seams: what the dialog runs for adapter discovery and as the server thread bodies.
// Defaults: the ipconfig capture and scan, bootp_thread and tftp_thread.
struct FlasherSeams {
  std::function<void()> discoverAdapters;
  std::function<void(const platform::StopToken&)> bootpBody;
  std::function<void(const platform::StopToken&)> tftpBody;
};
FlasherSeams& flasher_seams();
void reset_flasher_seams();
