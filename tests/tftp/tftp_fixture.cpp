// The shared TFTP test pieces over the platform's sockets and child processes.
#include "tests/tftp/tftp_fixture.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "core/flash_state.h"
#include "platform/capture.h"
#include "platform/process.h"
#include "tests/support/eventually.h"

#ifdef _WIN32
#include <iphlpapi.h>
#include <winsock2.h>
#endif

namespace kalvex::testing {

bool Peer::pending() const {
  return m_socket.readable_within(std::chrono::milliseconds(0));
}

Bytes Peer::receive() {
  if (!eventually([this] { return pending(); }, "a datagram from the server")) return {};
  Bytes buffer(4096);
  const platform::RecvResult result = m_socket.receive(buffer, platform::StopToken());
  buffer.resize(result.length);
  m_transferPort = result.from.port;
  return buffer;
}

#ifdef _WIN32
bool udp_port_bound(std::uint16_t port) {
  ULONG bytes = 0;
  ::GetExtendedUdpTable(nullptr, &bytes, FALSE, AF_INET, UDP_TABLE_BASIC, 0);
  std::vector<DWORD> table(bytes / sizeof(DWORD) + 1);
  if (::GetExtendedUdpTable(table.data(), &bytes, FALSE, AF_INET, UDP_TABLE_BASIC, 0) != NO_ERROR)
    return false;
  const auto* rows = reinterpret_cast<const MIB_UDPTABLE*>(table.data());
  for (DWORD i = 0; i < rows->dwNumEntries; ++i)
    if (::ntohs(static_cast<u_short>(rows->table[i].dwLocalPort)) == port) return true;
  return false;
}
#else
bool udp_port_bound(std::uint16_t port) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, ":%04X", port);
  std::ifstream table("/proc/net/udp");
  std::string line, slot, local;
  while (std::getline(table, line)) {
    std::istringstream(line) >> slot >> local;
    if (local.ends_with(suffix)) return true;
  }
  return false;
}
#endif

Bytes with_options(Bytes request, std::initializer_list<std::string_view> pairs) {
  for (const std::string_view text : pairs) {
    request.insert(request.end(), text.begin(), text.end());
    request.push_back(0);
  }
  return request;
}

std::string pattern(std::size_t size) {
  std::minstd_rand random;
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() >> 8);
  return bytes;
}

int run_client(const std::string& commandLine) {
  return platform::run_and_wait({"sh", "-c", commandLine}, std::chrono::minutes(2)).value_or(-1);
}

bool clients_installed() {
  return platform::resolve_program("curl") && platform::resolve_program("tftp") &&
         platform::resolve_program("atftp");
}

TftpServerTest::TftpServerTest() {
  reset_flash_state_for_tests();
  serve_on_loopback(m_port);
  platform::set_time_source(&m_clock);
}

TftpServerTest::~TftpServerTest() {
  stop_server();
  platform::set_time_source(nullptr);
  tftp_config() = TftpConfig{};
}

void TftpServerTest::start_server() {
  m_served = false;
  m_thread.start([this](const platform::StopToken& stop) {
    tftp_server(stop);
    m_served = true;
  });
  eventually([this] { return udp_port_bound(m_port); }, "the server to listen");
}

void TftpServerTest::wait_until_served() {
  eventually([this] { return m_served.load(); }, "the server to finish the transfer");
}

void TftpServerTest::settle() {
  Peer stranger;
  stranger.send_to(m_peer.transfer_port(), ack(1));
  EXPECT_EQ(stranger.receive(), error_packet(5, "Unknown transfer ID"));
}

void TftpServerTest::stop_server() {
  m_thread.stop();
  disarm_recv_timer(kRecvTimerId);
  net_close();
  if (std::FILE* image = flash_state().imageFile.exchange(nullptr)) file_close(image);
}

}  // namespace kalvex::testing
