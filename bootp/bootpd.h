// The BOOTP server's face towards the main dialog: the thread body and its test seams. The
// server's state lives inside bootpd for as long as the thread runs; nothing of it is
// reachable from outside.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/file_names.h"
#include "platform/stop.h"

struct BootpConfig {
  std::uint16_t serverPort = 67;
  std::uint16_t clientPort = 68;
  std::string hostTableFile = kHostTableFileName;
  // Address the server socket binds to (network order); the program binds every address.
  // Tests bind 127.0.0.1 so that another loopback address can take the same port as a relay.
  std::uint32_t bindAddress_net = 0;
  // Resolves a host table name that has no ip field; the system's resolver when empty.
  std::function<std::optional<std::uint32_t>(const std::string& name)> resolveHost;
  // Called on the BOOTP thread once the socket is bound, before the first receive.
  std::function<void()> onListening;
};

// Test seam: the values the server uses; set before the thread starts.
BootpConfig& bootp_config();

// Body of the BOOTP thread: serves until stopped, or ends the process on a fatal start-up
// failure. The arguments are not used.
void bootpd(int argc, char** argv, const platform::StopToken& stop);
