// What the TFTP tests share: the server on a thread of its own against a loopback port, in a
// scratch working directory, on a virtual clock that moves only when a test moves it, with
// its diagnostics captured; a client socket whose every wait is bounded; and real TFTP
// clients run as child processes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/net.h"
#include "platform/thread.h"
#include "tests/support/diagnostics_capture.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tftp_packets.h"
#include "tftp/tftp_server.h"

namespace kalvex::testing {

inline const std::uint32_t kLoopback_net = platform::inet_addr("127.0.0.1");

// A client's UDP socket, by default on 127.0.0.1 talking to a server there.
class Peer {
 public:
  explicit Peer(std::uint32_t local_net = kLoopback_net, std::uint32_t server_net = kLoopback_net,
                std::uint16_t local_port = 0)
      : m_server_net(server_net) {
    EXPECT_TRUE(m_socket.open() && m_socket.bind({local_net, local_port}));
  }
  std::uint16_t port() const {
    return m_socket.local_endpoint().value_or(platform::Endpoint{}).port;
  }
  void send_to(std::uint16_t port, const Bytes& packet) {
    m_socket.send_to(packet, {m_server_net, port});
  }
  // To the port that the last reply came from: the transfer's.
  void send(const Bytes& packet) { send_to(m_transferPort, packet); }
  std::uint16_t transfer_port() const { return m_transferPort; }
  // The next datagram; a test failure and nothing when none comes within the bound.
  Bytes receive();
  bool pending() const;

 private:
  platform::UdpSocket m_socket;
  std::uint32_t m_server_net;
  std::uint16_t m_transferPort = 0;
};

inline std::uint16_t free_loopback_port() {
  return Peer().port();
}
bool udp_port_bound(std::uint16_t port);
// Points the server at a loopback port; tests never bind the real request port.
inline void serve_on_loopback(std::uint16_t port) {
  tftp_config() = TftpConfig{port, kLoopback_net};
}
// Bytes of every value, in no pattern that a block-sized slip could reproduce.
std::string pattern(std::size_t size);
// The packet of a request with option pairs after the mode.
Bytes with_options(Bytes request, std::initializer_list<std::string_view> pairs);

// Runs a client's shell command line to its end and returns its exit status (-1 when it
// did not end within two minutes).
int run_client(const std::string& commandLine);
bool clients_installed();

class TftpServerTest : public ::testing::Test {
 protected:
  TftpServerTest();
  ~TftpServerTest() override;
  void start_server();
  // What the dialog's stop routine does with the TFTP thread, its socket and its image.
  void stop_server();
  // Waits for the server thread to end of its own accord (a served image ends it).
  void wait_until_served();
  // Sends the request to the request port and returns the first reply.
  Bytes request(const Bytes& packet) {
    m_peer.send_to(m_port, packet);
    return m_peer.receive();
  }
  // Moves the virtual clock on, and lets the dialog's watcher look at the receive time-out.
  void expire(std::chrono::milliseconds elapsed) {
    m_clock.advance(elapsed);
    recv_timer_poll();
  }
  // Returns once the server has handled everything sent and every deadline passed so far: a
  // stranger's datagram at the transfer port is answered only after those.
  void settle();

  platform::VirtualTimeSource m_clock;
  ScratchDir m_dir;
  DiagnosticsCapture m_log;
  Peer m_peer;
  const std::uint16_t m_port = free_loopback_port();

 private:
  platform::ServerThread m_thread;
  std::atomic<bool> m_served{false};
};

}  // namespace kalvex::testing
