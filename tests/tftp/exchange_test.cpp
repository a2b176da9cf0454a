// The exchange against a crafted client: what real clients never send, answered (or not)
// byte for byte. Every datagram that must go unanswered is followed by one that must be
// answered; the reply that comes is then the proof that nothing came before it.
#include <algorithm>
#include <filesystem>

#include "core/file_names.h"
#include "core/flash_state.h"
#include "tests/support/eventually.h"
#include "tests/tftp/tftp_fixture.h"

namespace kalvex::testing {
namespace {

using TftpExchange = TftpServerTest;

TEST_F(TftpExchange, RequestPortIsLeftOnlyForAWholeRequest) {
  const Bytes junk[] = {{},
                        {1},
                        {0, 0},
                        ack(0),
                        data(1, "x"),
                        error_packet(0, "x"),
                        {0, 6, 'a', 0, 'b', 0},
                        {0, 1, 'f', 'l', 'a', 's', 'h'},
                        {0, 1, 'f', 0, 'o', 'c', 't', 'e', 't'}};
  write_file(kImageFileName, "image");
  start_server();
  for (const Bytes& datagram : junk) m_peer.send_to(m_port, datagram);
  EXPECT_EQ(request(rrq(kImageFileName, "octet")), data(1, "image"));
  const std::string log = m_log.tftp_text();
  EXPECT_EQ(std::ranges::count(log, '\n'), std::ssize(junk)) << log;
}

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
  };
  write_file(kImageFileName, std::string(20 * 512, 'k'));
  start_server();
  // No options: RFC 1350's lock-step exchange, one 512-byte block per ACK. The mode is
  // matched without regard to case.
  ASSERT_EQ(request(rrq(kImageFileName, "NetAscii")), data(1, std::string(512, 'k')));
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

TEST_F(TftpExchange, StrangerIsToldUnknownTransferIdAndTheTransferGoesOnUntouched) {
  write_file(kImageFileName, pattern(1000));
  start_server();
  ASSERT_EQ(block_of(request(rrq(kImageFileName, "octet"))), 1);
  EXPECT_FALSE(udp_port_bound(m_port)) << "the request port is free again during the transfer";
  settle();  // a stranger acknowledges block 1
  // Linux's loopback holds every 127/8 address, Windows' only 127.0.0.1.
#ifndef _WIN32
  Peer otherHost(platform::inet_addr("127.0.0.2"), kLoopback_net, m_peer.port());
  otherHost.send_to(m_peer.transfer_port(), ack(1));  // the board's port, another address
  EXPECT_EQ(otherHost.receive(), error_packet(5, "Unknown transfer ID"));
#endif
  EXPECT_EQ(flash_state().bytesSent.load(), 0);
  EXPECT_FALSE(m_peer.pending());
  const Bytes overlong{0, 4, 0, 1, 0xEE, 0xEE};  // ACK 1 and two bytes too many
  m_peer.send(overlong);
  EXPECT_EQ(m_peer.receive(), data(2, pattern(1000).substr(512)));
  EXPECT_EQ(flash_state().bytesSent.load(), 512);
  EXPECT_TRUE(m_log.tftp_text().ends_with("ACK packet received with length = 6 bytes"));
}

TEST_F(TftpExchange, OptionsAreAnsweredWithExactlyTheAcceptedOnesAndAckZeroStartsTheData) {
  struct Case {
    const char* name;
    std::initializer_list<std::string_view> asked;
    Bytes oack;  // empty: no OACK, DATA 1 of 512 bytes at once
    std::size_t firstBlock;
  };
  const Case cases[] = {
      {"boot loader",
       {"timeout", "5", "blksize", "1468", "tsize", "0"},
       with_options({0, 6}, {"timeout", "5", "blksize", "1468", "tsize", "3000"}),
       1468},
      {"unknown and out of range left out",
       {"BlkSize", "9000", "foo", "1", "windowsize", "65", "timeout", "0"},
       with_options({0, 6}, {"blksize", "9000"}),
       3000},
      {"nothing acceptable", {"blksize", "7", "windowsize", "x"}, {}, 512},
  };
  const std::string image = pattern(3000);
  write_file(kImageFileName, image);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    start_server();
    const Bytes reply = request(with_options(rrq(kImageFileName, "octet"), c.asked));
    if (!c.oack.empty()) {
      EXPECT_EQ(reply, c.oack);
      m_peer.send(ack(0));
    }
    EXPECT_EQ(c.oack.empty() ? reply : m_peer.receive(), data(1, image.substr(0, c.firstBlock)));
    stop_server();
  }
}

TEST_F(TftpExchange, ClientThatDeclinesTheOptionsMayAskAgain) {
  write_file(kImageFileName, "image");
  start_server();
  const Bytes asking = with_options(rrq(kImageFileName, "octet"), {"blksize", "1024"});
  EXPECT_EQ(request(asking), with_options({0, 6}, {"blksize", "1024"}));
  m_peer.send(error_packet(8, "no options"));
  eventually([this] { return udp_port_bound(m_port); }, "the request port to listen again");
  EXPECT_EQ(request(rrq(kImageFileName, "octet")), data(1, "image"));
}

TEST_F(TftpExchange, WindowAcknowledgedPartWayMovesOnFromTheAcknowledgedBlock) {
  const std::string image = pattern(10 * 512);
  write_file(kImageFileName, image);
  start_server();
  request(with_options(rrq(kImageFileName, "octet"), {"windowsize", "4"}));
  const auto window = [&](int first, int last) {
    for (int block = first; block <= last; ++block)
      EXPECT_EQ(m_peer.receive(), data(block, image.substr((block - 1) * 512u, 512)));
  };
  m_peer.send(ack(0));
  window(1, 4);
  m_peer.send(ack(2));  // 3 was lost: the client takes nothing after it
  window(3, 6);
  EXPECT_EQ(flash_state().bytesSent.load(), 2 * 512);
  m_peer.send(ack(6));
  window(7, 10);
  EXPECT_EQ(flash_state().bytesSent.load(), 6 * 512);
}

TEST_F(TftpExchange, WriteStoresAwaitedBlocksAcknowledgesEveryBlockAndListensAgain) {
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
  const std::string image = one + std::string(600, 'q');
  EXPECT_EQ(read_file(kImageFileName), image);
  EXPECT_EQ(m_log.tftp_text(),
            "recvblknum > nextblknumdata packet received with length = 600 bytes");
  eventually([this] { return udp_port_bound(m_port); }, "the request port to listen again");
  EXPECT_EQ(request(rrq(kImageFileName, "octet")), data(1, one));
}

TEST_F(TftpExchange, UploadCutShortLeavesTheImageAsItWasAndNoFileBehind) {
  write_file(kImageFileName, "the image");
  start_server();
  EXPECT_EQ(request(wrq(kImageFileName, "octet")), ack(0));
  m_peer.send(data(1, pattern(512)));
  EXPECT_EQ(m_peer.receive(), ack(1));
  stop_server();
  EXPECT_EQ(read_file(kImageFileName), "the image");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 1);
}

TEST_F(TftpExchange, NetasciiWriteDropsACrBeforeAnyOtherByteAndReportsAFinalCr) {
  start_server();
  EXPECT_EQ(request(wrq(kImageFileName, "netascii")), ack(0));
  m_peer.send(data(1, "a\rxb\r"));
  EXPECT_EQ(m_peer.receive(), ack(1));
  EXPECT_EQ(read_file(kImageFileName), "axb");
  EXPECT_EQ(m_log.tftp_text(), "CR followed by 0x78final character was a CR");
}

#ifndef _WIN32
// A directory opens for reading there and fails every read; Windows refuses to open it.
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
#endif

}  // namespace
}  // namespace kalvex::testing
