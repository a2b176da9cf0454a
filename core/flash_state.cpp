// The process-wide FlashState and its reset for tests.
#include "core/flash_state.h"

FlashState& flash_state() {
  static FlashState state;
  return state;
}

void reset_flash_state_for_tests() {
  FlashState& state = flash_state();
  state.bootpThread.stop();
  state.tftpThread.stop();
  state.serverAddress = 0;
  state.clientAddress = 0;
  state.imageSize = 0;
  state.bytesSent = 0;
  state.percentDone = 0;
  state.finishTick = 0;
  state.restartRequested = false;
  state.timedOut = false;
  state.finishing = false;
  state.bootpStopped = false;
  state.mainWindow = nullptr;
  state.progressBar = nullptr;
  state.imageFile = nullptr;
}
