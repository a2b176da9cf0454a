// The receive time-out on a virtual clock, with the dialog's restart phase played by the
// test: a silent client gets a fresh server that sends the whole image again, and a datagram
// that beats the dialog's tick withdraws the restart.
#include <chrono>

#include "core/file_names.h"
#include "core/flash_state.h"
#include "platform/clock.h"
#include "tests/support/eventually.h"
#include "tests/tftp/tftp_fixture.h"

namespace kalvex::testing {
namespace {

using namespace std::chrono_literals;

class TftpReceiveTimeout : public TftpServerTest {
 protected:
  TftpReceiveTimeout() {
    platform::set_time_source(&m_clock);
    write_file(kImageFileName, m_image);
  }
  ~TftpReceiveTimeout() override {
    stop_server();
    platform::set_time_source(nullptr);
  }
  // DATA 1 has arrived and the server waits for ACK 1 under the time-out.
  void stall_after_first_block() {
    start_server();
    expire(1h);  // the request itself is awaited without a time-out
    ASSERT_EQ(block_of(request(rrq(kImageFileName, "octet"))), 1);
    eventually(recv_timer_armed, "the receive of ACK 1 to wait under the time-out");
  }
  void expire(std::chrono::milliseconds elapsed) {
    m_clock.advance(elapsed);
    recv_timer_poll();
  }

  platform::VirtualTimeSource m_clock;
  const std::string m_image = pattern(700);
};

TEST_F(TftpReceiveTimeout, SilentClientGetsAFreshServerThatStartsFromBlockOneAgain) {
  stall_after_first_block();
  expire(kReceiveTimeout - 1ms);
  EXPECT_FALSE(flash_state().restartRequested.load());
  EXPECT_FALSE(flash_state().timedOut.load());
  expire(1ms);
  ASSERT_TRUE(flash_state().restartRequested.load());
  EXPECT_TRUE(flash_state().timedOut.load());

  // The dialog's restart phase, then the board's request again.
  stop_server();
  start_server();
  Peer again;
  again.send_to(m_port, rrq(kImageFileName, "octet"));
  EXPECT_EQ(again.receive(), data(1, m_image.substr(0, 512)));
}

TEST_F(TftpReceiveTimeout, DatagramBeforeTheTickWithdrawsTheRestartButTimedOutStays) {
  stall_after_first_block();
  expire(kReceiveTimeout);
  ASSERT_TRUE(flash_state().restartRequested.load());

  m_peer.send(ack(1));
  EXPECT_EQ(block_of(m_peer.receive()), 2);
  eventually([] { return !flash_state().restartRequested.load(); }, "the restart withdrawn");
  EXPECT_TRUE(flash_state().timedOut.load());
}

}  // namespace
}  // namespace kalvex::testing
