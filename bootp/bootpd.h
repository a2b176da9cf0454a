// The BOOTP server's face towards the main dialog: the thread body and its test seams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/stop.h"

struct BootpConfig {
  std::uint16_t serverPort = 67;
  std::uint16_t clientPort = 68;
  std::string hostTableFile = "kalvex.ini";
};

// Test seam: the values the server uses; set before the thread starts.
BootpConfig& bootp_config();

// Body of the BOOTP thread: serves until stopped, or ends the process on a fatal start-up
// failure. The arguments are not used.
void bootpd(int argc, char** argv, const platform::StopToken& stop);
