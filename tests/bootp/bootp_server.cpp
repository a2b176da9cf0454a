#include "bootp_server.h"

#include <cerrno>
#include <chrono>
#include <filesystem>

#include "bootp/bootpd.h"
#include "core/commands.h"
#include "core/flash_state.h"
#include "tests/support/eventually.h"

namespace kalvex::testing {

namespace {

constexpr const char* kControlEntry = "control:ha=0200000000FF:ip=1.1.1.1:\n";

std::uint16_t free_port() {
  platform::UdpSocket probe;
  EXPECT_TRUE(probe.open() && probe.bind({address("127.0.0.1"), 0}));
  return probe.local_endpoint()->port;
}

}  // namespace

void BootpServerTest::SetUp() {
  set_command_recorder_for_tests([this](const std::string& command, const std::string& text) {
    const std::lock_guard lock(m_commandsMutex);
    m_commands.emplace_back(command, text);
  });
  flash_state().serverAddress = address(kServerAddress);
  flash_state().clientAddress = address(kBoardAddress);
  ASSERT_TRUE(m_board.open() && m_board.bind({address(kBoardAddress), 0}));
  const std::uint16_t clientPort = m_board.local_endpoint()->port;
  ASSERT_TRUE(m_elsewhere.open());
  if (!m_elsewhere.bind({address(kElsewhere), clientPort})) {
    // Wine binds an address as its whole interface: a second loopback address cannot share
    // the board's port, and a reply to either would reach both.
    if (errno == EADDRINUSE) GTEST_SKIP() << "two loopback addresses cannot share a port here";
    FAIL() << "cannot bind " << kElsewhere;
  }
  ASSERT_TRUE(m_sender.open() && m_sender.bind({address("127.0.0.1"), 0}));

  BootpConfig& config = bootp_config();
  config.serverPort = free_port();
  config.clientPort = clientPort;
  config.bindAddress_net = address("127.0.0.1");
  // Names are never looked up in the system's resolver: that could leave the machine.
  config.resolveHost = [](const std::string&) { return std::optional<std::uint32_t>(); };
}

void BootpServerTest::TearDown() {
  m_server.stop();
  set_command_recorder_for_tests(nullptr);
  bootp_config() = BootpConfig{};
  reset_flash_state_for_tests();
}

void BootpServerTest::write_table(const std::string& entries, bool sameTime) {
  write_file("kalvex.ini", kControlEntry + entries);
  // A file written twice within a clock tick would look unchanged to the server.
  static const auto kFirstTime = std::filesystem::file_time_type::clock::now();
  if (!sameTime) ++m_tableWrites;
  std::filesystem::last_write_time("kalvex.ini", kFirstTime + std::chrono::seconds(m_tableWrites));
}

void BootpServerTest::start() {
  m_listening = std::promise<void>();
  bootp_config().onListening = [this] { m_listening.set_value(); };
  m_server.start([](const platform::StopToken& stop) { bootpd(1, nullptr, stop); });
  ASSERT_EQ(m_listening.get_future().wait_for(kPatience), std::future_status::ready)
      << "the server did not start listening";
}

void BootpServerTest::send(const Bytes& datagram) {
  ASSERT_EQ(m_sender.send_to(datagram, {address("127.0.0.1"), bootp_config().serverPort}),
            static_cast<long>(datagram.size()));
}

std::optional<Bytes> receive(platform::UdpSocket& socket) {
  if (!socket.readable_within(kPatience)) return std::nullopt;
  Bytes buffer(2048);
  const platform::RecvResult result = socket.receive(buffer, platform::StopToken());
  buffer.resize(result.status == platform::RecvResult::Status::Received ? result.length : 0);
  return buffer;
}

Bytes BootpServerTest::reply_to(const Bytes& request) {
  send(request);
  const auto reply = receive(m_board);
  if (!reply) {
    ADD_FAILURE() << "no reply to " << hex(request);
    return {};
  }
  EXPECT_EQ(xid_of(*reply), xid_of(request)) << "a reply to another request came first";
  return *reply;
}

void BootpServerTest::expect_no_reply_to(const Bytes& datagram) {
  send(datagram);
  const Bytes reply = reply_to(BootRequest().chaddr(kControlMac).xid(0xC0FFEE));
  if (reply.empty()) return;
  // Loopback delivers at once, so any earlier reply to another address is queued by now.
  EXPECT_FALSE(m_elsewhere.readable_within(std::chrono::milliseconds(0)))
      << "a reply went to " << kElsewhere;
}

Commands BootpServerTest::commands() {
  const std::lock_guard lock(m_commandsMutex);
  return m_commands;
}

bool BootpServerTest::reported(const std::string& text) const {
  return m_reports.has(DiagnosticSource::Bootp, text);
}

}  // namespace kalvex::testing
