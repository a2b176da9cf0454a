// The BOOTP server on its thread over loopback, as a board and a user see it: requests sent
// from 127.0.0.1 to the server's port, replies received where they are addressed, the arp
// commands recorded in order, the reports captured. The board's address is 127.0.0.2.
#pragma once

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <string>

#include "platform/net.h"
#include "platform/thread.h"
#include "tests/support/bootp_packets.h"
#include "tests/support/diagnostics_capture.h"
#include "tests/support/scratch_dir.h"

namespace kalvex::testing {

inline constexpr const char* kBoardAddress = "127.0.0.2";   // clientAddress
inline constexpr const char* kServerAddress = "127.0.0.1";  // serverAddress: lo is the adapter
// Where a reply to a ciaddr or a reply address of the tables ends up.
inline constexpr const char* kElsewhere = "127.0.0.9";
// Every table holds this client first, so that a datagram that must go unanswered can be
// followed by one that must be answered.
inline constexpr std::array<std::uint8_t, 6> kControlMac{0x02, 0, 0, 0, 0, 0xFF};

using Commands = std::vector<std::pair<std::string, std::string>>;

inline std::uint32_t address(const char* text) {
  return platform::inet_addr(text);
}

// The next datagram on the socket; none when nothing comes within the patience.
std::optional<Bytes> receive(platform::UdpSocket& socket);

class BootpServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // kalvex.ini: the control client, then the entries. A file written again gets a later
  // modification time unless `sameTime` asks to keep the last one.
  void write_table(const std::string& entries, bool sameTime = false);
  // Runs bootpd on its thread; returns once its socket listens.
  void start();
  void send(const Bytes& datagram);
  // The reply that reaches the board's address; an empty one (and a failure) when none does.
  Bytes reply_to(const Bytes& request);
  // Sends the datagram, then the control request: the first reply must be the control's,
  // and nothing may have reached the other addresses.
  void expect_no_reply_to(const Bytes& datagram);
  Commands commands();
  bool reported(const std::string& text) const;

  ScratchDir m_directory;
  DiagnosticsCapture m_reports;
  platform::UdpSocket m_board;
  platform::UdpSocket m_elsewhere;
  platform::UdpSocket m_sender;
  std::mutex m_commandsMutex;
  Commands m_commands;
  int m_tableWrites = 0;
  std::promise<void> m_listening;
  platform::ServerThread m_server;
};

}  // namespace kalvex::testing
