// The lock-step exchange against a crafted client: what real clients never send, answered
// (or not) byte for byte. Every datagram that must go unanswered is followed by one that must
// be answered; the reply that comes is then the proof that nothing came before it.
#include <filesystem>

#include "core/file_names.h"
#include "core/flash_state.h"
#include "tests/support/eventually.h"
#include "tests/tftp/tftp_fixture.h"

namespace kalvex::testing {
namespace {

using TftpExchange = TftpServerTest;

TEST_F(TftpExchange, StrayDatagramsAreLoggedOrIgnoredAndNeverAnswered) {
  struct Stray {
    const char* name;
    Bytes datagram;  // row i arrives while ACK i + 1 is awaited
    std::string log;
  };
  const Stray strays[] = {
      {"repeated ack", ack(0), ""},
      {"ack behind", ack(0), "recvblknum < nextblknum - 1"},
      {"ack ahead", ack(7), "recvblknum > nextblknum"},
      {"error", error_packet(0, "disk full"), "error received: op_sent = 3, op_recv = 5"},
      {"second request", rrq(kImageFileName, "octet"), "protocol botch: op_sent = 3, op_recv = 1"},
      {"unknown opcode",
       {0, 9, 0, 1},
       "invalid opcode received: 9protocol botch: op_sent = 3, op_recv = 9"},
      {"ack without its block number",
       {0, 4, 0},
       "receive length = 3 bytesprotocol botch: op_sent = 3, op_recv = 4"},
      {"one byte", {0}, "receive length = 1 bytesprotocol botch: op_sent = 3, op_recv = 0"},
  };
  write_file(kImageFileName, std::string(20 * 512, 'k'));
  start_server();
  // The mode is matched without regard to case.
  ASSERT_EQ(block_of(request(rrq(kImageFileName, "NetAscii"))), 1);
  int awaited = 1;
  for (const Stray& stray : strays) {
    SCOPED_TRACE(stray.name);
    m_log.clear();
    m_peer.send(stray.datagram);
    m_peer.send(ack(awaited));
    EXPECT_EQ(m_peer.receive(), data(++awaited, std::string(512, 'k')));
    EXPECT_EQ(m_log.tftp_text(), stray.log);
  }
}

TEST_F(TftpExchange, TransferRunsFromAFreshPortAndAnAckFromAnotherPortIsLoggedAndTaken) {
  write_file(kImageFileName, pattern(1000));
  start_server();
  ASSERT_EQ(block_of(request(rrq(kImageFileName, "octet"))), 1);
  EXPECT_FALSE(udp_port_bound(m_port)) << "the request port is free again during the transfer";
  Peer other;
  const Bytes overlong{0, 4, 0, 1, 0xEE, 0xEE};  // ACK 1 and two bytes too many
  other.send_to(m_peer.transfer_port(), overlong);
  EXPECT_EQ(block_of(m_peer.receive()), 2);
  EXPECT_EQ(m_log.tftp_text(), "received from port " + std::to_string(other.port()) +
                                   ", expected from port " + std::to_string(m_peer.port()) +
                                   "ACK packet received with length = 6 bytes");
}

TEST_F(TftpExchange, WriteStoresAwaitedBlocksAndAcknowledgesEveryBlockWithItsOwnNumber) {
  const std::string one = pattern(512);
  start_server();
  EXPECT_EQ(request(wrq(kImageFileName, "OCTET")), ack(0));
  const std::pair<Bytes, Bytes> steps[] = {
      {data(1, one), ack(1)},
      {data(7, std::string(512, 'w')), ack(7)},  // out of order: acknowledged, not written
      {data(1, one), ack(1)},                    // the block before again: not written
      {data(2, std::string(600, 'q')), ack(2)},  // longer than a block: reported, written, last
  };
  for (const auto& [sent, expected] : steps) {
    m_peer.send(sent);
    EXPECT_EQ(m_peer.receive(), expected);
  }
  EXPECT_EQ(read_file(kImageFileName), one + std::string(600, 'q'));
  EXPECT_EQ(m_log.tftp_text(),
            "recvblknum > nextblknumdata packet received with length = 600 bytes");
}

TEST_F(TftpExchange, NetasciiWriteDropsACrBeforeAnyOtherByteAndReportsAFinalCr) {
  start_server();
  EXPECT_EQ(request(wrq(kImageFileName, "netascii")), ack(0));
  m_peer.send(data(1, "a\rxb\r"));
  EXPECT_EQ(m_peer.receive(), ack(1));
  EXPECT_EQ(read_file(kImageFileName), "axb");
  EXPECT_EQ(m_log.tftp_text(), "CR followed by 0x78final character was a CR");
}

TEST_F(TftpExchange, ReadErrorEndsTheTransferAndAsksForARestartAtOnce) {
  std::filesystem::create_directory(kImageFileName);  // opens, but every read fails
  start_server();
  m_peer.send_to(m_port, rrq(kImageFileName, "octet"));
  eventually([] { return flash_state().restartRequested.load(); }, "a restart request");
  stop_server();
  // The server thread has been joined: whatever it sent has arrived.
  EXPECT_FALSE(m_peer.pending());
  EXPECT_EQ(m_log.tftp_text(), "read error on local file");
}

}  // namespace
}  // namespace kalvex::testing
