// The BOOTP server's process-wide state, its diagnostics and the reply length rule. The
// state belongs to the BOOTP thread; the diagnostics are kept for tests and shown to no one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bootp/host_entry.h"
#include "bootp/message.h"
#include "platform/net.h"

namespace bootp {

inline constexpr const char* kVersion = "2.4";
inline constexpr int kPatchLevel = 3;

// syslog severities
inline constexpr int kError = 3;
inline constexpr int kNotice = 5;
inline constexpr int kInfo = 6;

struct ServerState {
  Packet packet;
  platform::UdpSocket serverSocket;
  std::uint16_t serverPort = 67;
  std::uint16_t clientPort = 68;
  std::string ownHostName;       // at most 64 characters
  std::uint32_t ownAddress = 0;  // network order; fallback for siaddr
  int verbosity = 0;             // threshold for informational messages, fixed at 0
  int secondsWest = 0;           // the time offset that to=auto gives

  void reset();
};

ServerState& server_state();

struct ReportedMessage {
  int severity;
  std::string text;
};

void bootp_report(int severity, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Copies of what was reported (the most recent messages), for tests.
std::vector<ReportedMessage> bootp_reported_messages();
void clear_bootp_reported_messages();

// Sets packet.length for a reply to a request from the entry's message size or the client's
// maximum message size (option 57), at least 300 and at most the packet buffer.
void apply_reply_length(Packet& packet, const HostEntry& entry, int verbosity);

}  // namespace bootp
