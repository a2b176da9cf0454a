// The one process-wide record of a flash run, shared by the main dialog and the two server
// threads. Every field that crosses threads is atomic: one side writes, the other polls, and
// no reader relies on an order between fields.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "platform/thread.h"

namespace ui {
class CWnd;
class CProgressCtrl;
}  // namespace ui

struct FlashState {
  // Written by OnOK before either server thread starts, read-only afterwards.
  std::atomic<std::uint32_t> serverAddress{0};  // network byte order
  std::atomic<std::uint32_t> clientAddress{0};  // network byte order
  std::atomic<std::int32_t> imageSize{0};

  std::atomic<std::int32_t> bytesSent{0};  // added to by the TFTP thread per DATA block
  std::atomic<std::int32_t> percentDone{0};
  std::atomic<std::int32_t> finishTick{0};

  std::atomic<bool> restartRequested{false};
  std::atomic<bool> timedOut{false};
  std::atomic<bool> finishing{false};
  std::atomic<bool> bootpStopped{false};

  // Owned by the UI thread: started and stopped only there.
  platform::ServerThread bootpThread;
  platform::ServerThread tftpThread;

  std::atomic<ui::CWnd*> mainWindow{nullptr};
  std::atomic<ui::CProgressCtrl*> progressBar{nullptr};
  // The stream of flash.bin that the TFTP thread opened; the dialog's stop routine closes it
  // once the thread has been stopped.
  std::atomic<std::FILE*> imageFile{nullptr};
};

FlashState& flash_state();
// Back to all zero between tests; never called while a server thread runs.
void reset_flash_state_for_tests();
