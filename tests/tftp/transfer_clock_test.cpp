// What the transfer does with time, on the fixture's virtual clock: unacknowledged DATA is
// re-sent, silence after the last block completes the transfer, and the receive time-out
// gives up on a client gone silent (the dialog then replaces the thread).
#include <chrono>

#include "core/file_names.h"
#include "core/flash_state.h"
#include "tests/support/eventually.h"
#include "tests/tftp/tftp_fixture.h"

namespace kalvex::testing {
namespace {

using namespace std::chrono_literals;

class TftpTransferClock : public TftpServerTest {
 protected:
  TftpTransferClock() { write_file(kImageFileName, m_image); }
  const std::string m_image = pattern(700);
};

TEST_F(TftpTransferClock,
       UnacknowledgedDataIsResentOnItsClockFiveTimesAndARepeatedAckSendsNothing) {
  struct Case {
    const char* name;
    std::initializer_list<std::string_view> options;
    std::chrono::milliseconds gaps[5];
  };
  const Case cases[] = {{"doubling from a second", {}, {1s, 2s, 4s, 8s, 8s}},
                        {"the client's timeout", {"timeout", "5"}, {5s, 5s, 5s, 5s, 5s}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    start_server();
    if (request(with_options(rrq(kImageFileName, "octet"), c.options))[1] == 6) {
      m_peer.send(ack(0));  // of the OACK
      m_peer.receive();
    }
    m_peer.send(ack(0));
    settle();
    EXPECT_FALSE(m_peer.pending()) << "a repeated ACK is never answered";
    for (const std::chrono::milliseconds gap : c.gaps) {
      expire(gap - 1ms);
      settle();
      EXPECT_FALSE(m_peer.pending());
      expire(1ms);
      settle();
      EXPECT_EQ(m_peer.receive(), data(1, m_image.substr(0, 512)));
    }
    expire(1h);
    settle();
    EXPECT_FALSE(m_peer.pending()) << "no sixth re-send";
    stop_server();
  }
}

TEST_F(TftpTransferClock, LastBlockCountsOnlyOnceAcknowledgedOrAfterTenSilentSeconds) {
  const std::string image = pattern(1024);  // two full blocks, then an empty one
  write_file(kImageFileName, image);
  flash_state().imageSize = 1024;
  start_server();
  request(rrq(kImageFileName, "octet"));
  m_peer.send(ack(1));
  m_peer.receive();
  m_peer.send(ack(2));
  EXPECT_EQ(m_peer.receive(), data(3, ""));
  EXPECT_EQ(flash_state().bytesSent.load(), 1023) << "the bar stays short of 100 % until the end";
  // The last block is lost again and again: the board keeps asking with the ACK before it,
  // and the server's re-sends do not count as an answer.
  for (int round = 0; round < 4; ++round) {
    expire(5s);
    m_peer.send(ack(2));
    settle();
  }
  expire(10s - 1ms);
  settle();
  EXPECT_EQ(flash_state().bytesSent.load(), 1023);
  // Then it got one of the re-sends, and its last ACK was lost.
  expire(1ms);
  wait_until_served();
  EXPECT_EQ(flash_state().bytesSent.load(), 1024);
  expire(1h);
  EXPECT_FALSE(flash_state().restartRequested.load()) << "nothing restarts the countdown";
}

// A client that asked for a long time-out repeats its ACK that seldom: its silence counts
// only after two of its time-outs.
TEST_F(TftpTransferClock, LongClientTimeoutLengthensTheSilenceThatCompletes) {
  flash_state().imageSize = 700;
  start_server();
  ASSERT_EQ(request(with_options(rrq(kImageFileName, "octet"), {"timeout", "8"}))[1], 6);
  m_peer.send(ack(0));
  m_peer.receive();
  m_peer.send(ack(1));
  m_peer.receive();
  expire(16s - 1ms);
  settle();
  EXPECT_LT(flash_state().bytesSent.load(), 700);
  expire(1ms);
  wait_until_served();
  EXPECT_EQ(flash_state().bytesSent.load(), 700);
}

TEST_F(TftpTransferClock, SilentClientIsGivenUpOnAndALateDatagramWithdrawsTheRestart) {
  start_server();
  expire(1h);  // the request itself is awaited without a time-out
  ASSERT_EQ(block_of(request(rrq(kImageFileName, "octet"))), 1);
  eventually(recv_timer_armed, "the receive of ACK 1 to wait under the time-out");
  // The re-sends go unanswered and do not put the time-out off.
  expire(kReceiveTimeout - 1ms);
  settle();
  EXPECT_FALSE(flash_state().restartRequested.load());
  expire(1ms);
  EXPECT_TRUE(flash_state().restartRequested.load());
  EXPECT_TRUE(flash_state().timedOut.load());

  // A datagram that beats the dialog's tick lets the transfer go on.
  while (m_peer.pending()) m_peer.receive();
  m_peer.send(ack(1));
  EXPECT_EQ(block_of(m_peer.receive()), 2);
  eventually([] { return !flash_state().restartRequested.load(); }, "the restart withdrawn");
  EXPECT_TRUE(flash_state().timedOut.load());
}

}  // namespace
}  // namespace kalvex::testing
