// The receive time-out on a virtual clock: a stalled transfer is replaced, through the
// dialog's restart phase, by a new run that serves the whole image again; a datagram that
// beats the tick withdraws the restart.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "core/flash_state.h"
#include "platform/clock.h"
#include "tests/tftp/tftp_test_support.h"
#include "tftp/tftp_server.h"

using namespace tftp_test;
using namespace std::chrono_literals;

namespace {

class TftpReceiveTimeout : public ServerFixture {
 protected:
  void SetUp() override {
    platform::set_time_source(&m_clock);
    ServerFixture::SetUp();
    tftp_config().receiveTimeout = 1000ms;
    write_file("flash.bin", m_image);
  }
  void TearDown() override {
    ServerFixture::TearDown();
    platform::set_time_source(nullptr);
  }

  // Bounded wait for a state change on the server thread; no timing is asserted.
  template <typename Condition>
  static bool eventually(Condition condition) {
    for (int i = 0; i < 5000 && !condition(); ++i) std::this_thread::sleep_for(1ms);
    return condition();
  }

  // The dialog's restart phase, as its 300 ms tick runs it.
  bool tick_restart_phase() {
    if (!flash_state().restartRequested.load()) return false;
    stop_server();
    flash_state().bytesSent = 0;
    start_server();
    flash_state().restartRequested = false;
    return true;
  }

  Bytes fetch_whole_image(Peer& peer) {
    peer.send_to_port(port(), rrq("flash.bin", "octet"));
    Bytes received;
    for (int block = 1;; ++block) {
      const auto packet = peer.receive();
      if (!packet || block_of(*packet) != block) break;
      const Bytes payload = payload_of(*packet);
      received.insert(received.end(), payload.begin(), payload.end());
      peer.send(ack(block));
      if (payload.size() < 512) break;
    }
    return received;
  }

  platform::VirtualTimeSource m_clock;
  const Bytes m_image = pattern_bytes(700);
};

TEST_F(TftpReceiveTimeout, StalledTransferIsReplacedByARunThatServesTheImageAgain) {
  start_server();
  Peer stalled;
  stalled.send_to_port(port(), rrq("flash.bin", "octet"));
  ASSERT_EQ(block_of(stalled.receive().value_or(Bytes{})), 1);
  ASSERT_TRUE(eventually([] { return recv_timer_armed(); }));

  m_clock.advance(999ms);
  recv_timer_poll();
  EXPECT_FALSE(flash_state().restartRequested.load());
  m_clock.advance(1ms);
  recv_timer_poll();
  EXPECT_TRUE(flash_state().restartRequested.load());
  EXPECT_TRUE(flash_state().timedOut.load());
  EXPECT_FALSE(recv_timer_armed());

  ASSERT_TRUE(tick_restart_phase());
  EXPECT_FALSE(tick_restart_phase());
  Peer fresh;
  EXPECT_EQ(fetch_whole_image(fresh), m_image);
  EXPECT_EQ(flash_state().bytesSent.load(), static_cast<int>(m_image.size()));
  EXPECT_TRUE(flash_state().timedOut.load());
}

TEST_F(TftpReceiveTimeout, DatagramBeforeTheTickWithdrawsTheRestart) {
  start_server();
  Peer peer;
  peer.send_to_port(port(), rrq("flash.bin", "octet"));
  ASSERT_EQ(block_of(peer.receive().value_or(Bytes{})), 1);
  ASSERT_TRUE(eventually([] { return recv_timer_armed(); }));
  m_clock.advance(5000ms);
  recv_timer_poll();
  ASSERT_TRUE(flash_state().restartRequested.load());

  peer.send(ack(1));
  ASSERT_EQ(block_of(peer.receive().value_or(Bytes{})), 2);
  ASSERT_TRUE(eventually([] { return !flash_state().restartRequested.load(); }));
  EXPECT_FALSE(tick_restart_phase());
  EXPECT_TRUE(flash_state().timedOut.load());
  peer.send(ack(2));
  EXPECT_FALSE(peer.receive(200).has_value());
  EXPECT_EQ(flash_state().bytesSent.load(), static_cast<int>(m_image.size()));
}

TEST_F(TftpReceiveTimeout, RequestIsAwaitedWithoutTimeout) {
  start_server();
  m_clock.advance(1h);
  recv_timer_poll();
  EXPECT_FALSE(recv_timer_armed());
  EXPECT_FALSE(flash_state().restartRequested.load());
  Peer late;
  late.send_to_port(port(), rrq("flash.bin", "octet"));
  EXPECT_EQ(block_of(late.receive().value_or(Bytes{})), 1);
}

}  // namespace
