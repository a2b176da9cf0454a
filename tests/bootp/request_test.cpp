// The BOOTP server through real UDP sockets on loopback: which requests are answered, where
// the reply goes, what it carries, and the ARP commands started before it. The server binds
// 127.0.0.1 on a free high port; the board's address is 127.0.0.2, a relay agent 127.0.0.3.
#include "bootp/request.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <future>
#include <mutex>
#include <utility>

#include "bootp/bootpd.h"
#include "bootp/host_table.h"
#include "bootp_test_support.h"
#include "core/commands.h"
#include "core/flash_state.h"
#include "platform/interfaces.h"
#include "platform/thread.h"

namespace bootp {
namespace {

using testing::address;
using testing::address_field;
using testing::boot_request;
using testing::reported;
using testing::reported_texts;
using testing::set_address_field;
using testing::text_field;
using testing::WorkingDirectory;
using testing::write_file;
using testing::write_file_of_size;
using Commands = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kServerAddress = "10.20.30.40";
constexpr const char* kBoardAddress = "127.0.0.2";
constexpr const char* kRelayAddress = "127.0.0.3";
constexpr int kReplyWaitMs = 5000;

constexpr const char* kHostTable =
    ".default:bs=auto:sm=255.255.255.0:\n"
    "board:tc=.default:ht=ethernet:ha=021A2B3C4D5E:ip=192.168.1.2:sa=192.168.1.1:"
    "bf=flash.bin:\n"
    "nosa:ha=020000000001:ip=192.168.1.2:bf=flash.bin:\n"
    "waits:ha=020000000002:ip=192.168.1.2:sa=1.1.1.1:mw=5:\n"
    // 02-00-00-00-00-03 as token ring writes it: every byte bit-reversed
    "token:ht=ieee802:ha=4000000000C0:ip=192.168.1.2:sa=1.1.1.1:\n";

std::vector<std::uint8_t> request_from(std::array<std::uint8_t, 6> mac, std::uint32_t xid) {
  std::vector<std::uint8_t> request = boot_request(xid);
  std::copy(mac.begin(), mac.end(), request.begin() + offset::kChaddr);
  return request;
}

std::uint32_t xid_of(const std::vector<std::uint8_t>& message) {
  return load_be32(std::span<const std::uint8_t, 4>(&message[offset::kXid], 4));
}

std::uint16_t free_port(const char* host) {
  platform::UdpSocket probe;
  EXPECT_TRUE(probe.open());
  EXPECT_TRUE(probe.bind({address(host), 0}));
  return probe.local_endpoint()->port;
}

class BootpServer : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_bootp_reported_messages();
    set_command_recorder_for_tests([this](const std::string& command, const std::string& text) {
      const std::lock_guard lock(m_commandsMutex);
      m_commands.emplace_back(command, text);
    });
    flash_state().serverAddress = address(kServerAddress);
    flash_state().clientAddress = address(kBoardAddress);
    ASSERT_TRUE(m_board.open());
    ASSERT_TRUE(m_board.bind({address(kBoardAddress), 0}));
    ASSERT_TRUE(m_sender.open());
    ASSERT_TRUE(m_sender.bind({address("127.0.0.1"), 0}));

    BootpConfig& config = bootp_config();
    config.serverPort = free_port("127.0.0.1");
    config.clientPort = m_board.local_endpoint()->port;
    config.bindAddress_net = address("127.0.0.1");
    config.resolveHost = [](const std::string&) { return std::optional<std::uint32_t>(); };
    config.onListening = [this] { m_listening.set_value(); };
    write_file("kalvex.ini", kHostTable);
  }

  void TearDown() override {
    m_server.stop();
    set_command_recorder_for_tests(nullptr);
    destroy_host_table();
    bootp_config() = BootpConfig{};
    flash_state().serverAddress = 0;
    flash_state().clientAddress = 0;
  }

  void start() {
    m_server.start([](const platform::StopToken& stop) {
      char name[] = "kalvex";
      char* argv[] = {name, nullptr};
      bootpd(1, argv, stop);
    });
    ASSERT_EQ(m_listening.get_future().wait_for(std::chrono::seconds(10)),
              std::future_status::ready);
  }

  void send(const std::vector<std::uint8_t>& datagram) {
    ASSERT_EQ(m_sender.send_to(datagram, {address("127.0.0.1"), bootp_config().serverPort}),
              static_cast<long>(datagram.size()));
  }

  static std::optional<std::vector<std::uint8_t>> receive(platform::UdpSocket& socket) {
    pollfd ready{socket.fd(), POLLIN, 0};
    if (::poll(&ready, 1, kReplyWaitMs) != 1) return std::nullopt;
    std::vector<std::uint8_t> buffer(2048);
    const platform::RecvResult result = socket.receive(buffer, platform::StopToken());
    if (result.status != platform::RecvResult::Status::Received) return std::nullopt;
    buffer.resize(result.length);
    return buffer;
  }

  // Sends the datagram, then a request that is answered; the first reply to arrive must be
  // the second one's, since the server handles datagrams one after the other.
  void expect_no_reply_to(const std::vector<std::uint8_t>& datagram) {
    send(datagram);
    send(boot_request(0xC0FFEE));
    const auto reply = receive(m_board);
    ASSERT_TRUE(reply) << "the control request got no reply";
    EXPECT_EQ(xid_of(*reply), 0xC0FFEEu) << "the datagram was answered";
  }

  std::vector<std::uint8_t> expect_reply_to(const std::vector<std::uint8_t>& request) {
    send(request);
    auto reply = receive(m_board);
    EXPECT_TRUE(reply) << reported_texts();
    if (!reply) return {};
    EXPECT_EQ(xid_of(*reply), xid_of(request));
    return *reply;
  }

  Commands commands() {
    const std::lock_guard lock(m_commandsMutex);
    return m_commands;
  }

  WorkingDirectory m_directory;
  platform::UdpSocket m_board;
  platform::UdpSocket m_sender;
  platform::ServerThread m_server;
  std::promise<void> m_listening;
  std::mutex m_commandsMutex;
  Commands m_commands;
};

TEST_F(BootpServer, KnownBoardGetsItsAddressServerAndBootFileAfterTheArpCommands) {
  write_file_of_size("flash.bin", 1048576);
  start();
  const std::vector<std::uint8_t> request = boot_request(0x1234);
  const std::vector<std::uint8_t> reply = expect_reply_to(request);
  ASSERT_EQ(reply.size(), 300u);
  EXPECT_EQ(reply[0], 2);  // BOOTREPLY
  EXPECT_EQ(address_field(reply, offset::kYiaddr), address(kBoardAddress));
  EXPECT_EQ(address_field(reply, offset::kSiaddr), address(kServerAddress));
  EXPECT_EQ(text_field(reply, offset::kSname, kSnameSize), platform::host_name().value());
  EXPECT_EQ(text_field(reply, offset::kFile, kFileSize), "flash.bin");
  EXPECT_EQ(testing::hex(&reply[offset::kVend], 21),
            "63 82 53 63 01 04 FF FF FF 00 0D 02 08 00 FF 00 00 00 00 00 00");
  EXPECT_EQ(commands(),
            (Commands{{"arp", "-d 127.0.0.2"}, {"arp", "-s 127.0.0.2 02-1A-2B-3C-4D-5E"}}));
}

TEST_F(BootpServer, ServerNameDecidesWhetherTheRequestIsOurs) {
  start();
  const std::string own = platform::host_name().value();
  std::vector<std::uint8_t> mine = boot_request(1);
  std::copy(own.begin(), own.end(), mine.begin() + offset::kSname);
  EXPECT_EQ(text_field(expect_reply_to(mine), offset::kSname, kSnameSize), own);

  std::vector<std::uint8_t> other = boot_request(2);
  const std::string name = "some-other-server";
  std::copy(name.begin(), name.end(), other.begin() + offset::kSname);
  expect_no_reply_to(other);

  std::vector<std::uint8_t> unterminated = boot_request(3);
  std::fill_n(unterminated.begin() + offset::kSname, kSnameSize, 'x');
  expect_no_reply_to(unterminated);
}

TEST_F(BootpServer, DatagramsThatAreNotAnsweredableRequestsAreDropped) {
  start();
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> change;
  };
  const Case cases[] = {
      {"299 bytes", [](auto& m) { m.resize(299); }},
      {"longer than the packet buffer", [](auto& m) { m.resize(kPacketSize + 1, 0); }},
      {"op 3", [](auto& m) { m[0] = 3; }},
      {"unknown hardware address", [](auto& m) { m[offset::kChaddr + 5] = 0x99; }},
      {"hardware type 8", [](auto& m) { m[1] = 8; }},
      {"hardware type 255 with hlen 255", [](auto& m) { m[1] = m[2] = 255; }},
      {"secs below the minimum wait",
       [](auto& m) {
         m[offset::kChaddr + 5] = 0x02;
         m[offset::kChaddr + 0] = 0x02;
         std::fill_n(m.begin() + offset::kChaddr + 1, 4, 0);
         m[offset::kSecs + 1] = 4;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> datagram = boot_request(0xBAD);
    c.change(datagram);
    expect_no_reply_to(datagram);
  }
}

TEST_F(BootpServer, MinimumWaitIsMetBySecsEqualToIt) {
  start();
  std::vector<std::uint8_t> request = request_from({2, 0, 0, 0, 0, 2}, 5);
  request[offset::kSecs + 1] = 5;
  expect_reply_to(request);
}

TEST_F(BootpServer, UnknownCiaddrIsNotAnswered) {
  // A reply would go to the ciaddr itself: listen there too.
  platform::UdpSocket ciaddrListener;
  ASSERT_TRUE(ciaddrListener.open());
  ASSERT_TRUE(ciaddrListener.bind({address("127.0.0.9"), bootp_config().clientPort}));
  start();
  std::vector<std::uint8_t> request = boot_request(0xBAD);
  set_address_field(request, offset::kCiaddr, "127.0.0.9");
  expect_no_reply_to(request);
  // Loopback delivers in order: a reply to the first request would be queued by now.
  pollfd queued{ciaddrListener.fd(), POLLIN, 0};
  EXPECT_EQ(::poll(&queued, 1, 0), 0) << "the unknown ciaddr was answered";
  for (const auto& [command, parameters] : commands())
    EXPECT_EQ(parameters.find("127.0.0.9"), std::string::npos) << command << " " << parameters;
}

TEST_F(BootpServer, KnownCiaddrIsAnsweredThereWithoutArpAndKeepsItsYiaddr) {
  start();
  std::vector<std::uint8_t> request = boot_request(7);
  set_address_field(request, offset::kCiaddr, kBoardAddress);
  set_address_field(request, offset::kYiaddr, "1.2.3.4");
  std::fill_n(request.begin() + offset::kChaddr, 6, 0xAA);  // not in the table
  const std::vector<std::uint8_t> reply = expect_reply_to(request);
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(address_field(reply, offset::kYiaddr), address("1.2.3.4"));
  EXPECT_TRUE(commands().empty());
}

TEST_F(BootpServer, RequestThroughARelayIsAnsweredToTheRelayOnTheServerPort) {
  platform::UdpSocket relay;
  ASSERT_TRUE(relay.open());
  ASSERT_TRUE(relay.bind({address(kRelayAddress), bootp_config().serverPort}));
  start();
  std::vector<std::uint8_t> request = boot_request(8);
  set_address_field(request, offset::kGiaddr, kRelayAddress);
  send(request);
  const auto reply = receive(relay);
  ASSERT_TRUE(reply) << reported_texts();
  EXPECT_EQ(xid_of(*reply), 8u);
  EXPECT_EQ(address_field(*reply, offset::kYiaddr), address(kBoardAddress));
  EXPECT_TRUE(commands().empty());
}

TEST_F(BootpServer, TokenRingAddressIsFoundBitReversed) {
  start();
  std::vector<std::uint8_t> request = request_from({2, 0, 0, 0, 0, 3}, 9);
  request[1] = kIeee802;
  expect_reply_to(request);
}

TEST_F(BootpServer, OverlongHardwareAddressLengthIsReportedAndItsFirstBytesSearched) {
  start();
  std::vector<std::uint8_t> request = boot_request(10);
  request[offset::kHlen] = 16;
  request[offset::kChaddr + 6] = 0x77;
  expect_reply_to(request);
  EXPECT_TRUE(reported("bad addr len from from Ethernet address 02-1A-2B-3C-4D-5E-77-00", kNotice))
      << reported_texts();
  EXPECT_EQ(commands().back(),
            (std::pair<std::string, std::string>("arp", "-s 127.0.0.2 02-1A-2B-3C-4D-5E-77-00")));
}

TEST_F(BootpServer, BootFileNamedForTheBoardIsPreferred) {
  write_file_of_size("flash.bin", 100);
  start();
  EXPECT_EQ(text_field(expect_reply_to(boot_request(11)), offset::kFile, kFileSize), "flash.bin");

  write_file_of_size("flash.bin.board", 1024);
  const std::vector<std::uint8_t> reply = expect_reply_to(boot_request(12));
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(text_field(reply, offset::kFile, kFileSize), "flash.bin.board");
  EXPECT_EQ(testing::hex(&reply[offset::kVend + 10], 4), "0D 02 00 02");  // 2 blocks
}

TEST_F(BootpServer, EntryWithoutBootServerGetsThePcsOwnAddress) {
  start();
  const std::vector<std::uint8_t> reply = expect_reply_to(request_from({2, 0, 0, 0, 0, 1}, 13));
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(address_field(reply, offset::kSiaddr), platform::ipv4_interfaces().front().address_net);
}

TEST_F(BootpServer, EveryDatagramChecksTheTableEvenOneThatIsNotARequest) {
  std::filesystem::remove("kalvex.ini");
  start();
  std::vector<std::uint8_t> op3 = boot_request(14);
  op3[0] = 3;
  clear_bootp_reported_messages();
  send(op3);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!reported("stat on \"kalvex.ini\": No such file or directory") &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  EXPECT_TRUE(reported("stat on \"kalvex.ini\": No such file or directory"));

  write_file("kalvex.ini", kHostTable);  // created while the server runs
  expect_reply_to(boot_request(15));
}

TEST_F(BootpServer, BootReplyIsRelayedToItsYiaddrUnchanged) {
  start();
  std::vector<std::uint8_t> reply = boot_request(16);
  reply[0] = 2;
  set_address_field(reply, offset::kYiaddr, kBoardAddress);
  set_address_field(reply, offset::kSiaddr, "9.9.9.9");
  reply.resize(320, 0x5A);
  send(reply);
  const auto relayed = receive(m_board);
  ASSERT_TRUE(relayed);
  EXPECT_EQ(*relayed, reply);
  EXPECT_EQ(commands(),
            (Commands{{"arp", "-d 127.0.0.2"}, {"arp", "-s 127.0.0.2 02-1A-2B-3C-4D-5E"}}));
}

TEST(BootpStartUp, TakenServerPortEndsTheProgramWithItsMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  platform::UdpSocket other;
  ASSERT_TRUE(other.open());
  ASSERT_TRUE(other.bind({address("127.0.0.1"), 0}));
  WorkingDirectory directory;
  EXPECT_EXIT(
      {
        bootp_config().serverPort = other.local_endpoint()->port;
        bootp_config().bindAddress_net = address("127.0.0.1");
        bootpd(1, nullptr, platform::StopToken());
      },
      ::testing::ExitedWithCode(1),
      "Bootp port is not available, some other application is using it.\nPlease stop it and "
      "try again.");
}

TEST(HardwareAddressText, IsUpperCaseHexPairsOfAtMostEightBytes) {
  const std::array<std::uint8_t, 10> bytes{0x02, 0x1a, 0x2b, 0x3c, 0x4d,
                                           0x5e, 0x6f, 0x70, 0x81, 0x92};
  EXPECT_EQ(hw_text(bytes, 6), "02-1A-2B-3C-4D-5E");
  EXPECT_EQ(hw_text(bytes, 10), "02-1A-2B-3C-4D-5E-6F-70");
  EXPECT_EQ(hw_text(bytes, 0), "");
  std::array<std::uint8_t, 3> reversed{};
  reverse_bits_802(std::array<std::uint8_t, 3>{1, 2, 3}, reversed);
  EXPECT_EQ(reversed, (std::array<std::uint8_t, 3>{0x80, 0x40, 0xC0}));
}

// Runs in a child process inside a network namespace of its own: one end of a veth pair
// holds 10.9.9.1/24, and the real arp path must leave a permanent neighbour entry for the board.
int neighbour_entry_in_namespace() {
  if (::unshare(CLONE_NEWNET) != 0) return 77;
  if (std::system("ip link add v0 type veth peer name v1 && ip addr add 10.9.9.1/24 dev v0 && "
                  "ip link set v0 up && ip link set v1 up") != 0)
    return 78;
  const std::array<std::uint8_t, 6> mac{0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  // Once is enough: the delete and the add run in that order, so the add always stands.
  setarp(address("10.9.9.2"), 1, mac);
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::FILE* out = ::popen("ip neigh show 10.9.9.2 dev v0", "r");
    if (out == nullptr) return 79;
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, out) != nullptr;
    ::pclose(out);
    if (got && std::string(line).find("lladdr 02:1a:2b:3c:4d:5e PERMANENT") != std::string::npos)
      return 0;
    ::usleep(100 * 1000);  // waiting for the child processes, not for a time-out
  }
  return 1;
}

TEST(ArpEntry, BoardAddressGetsAPermanentNeighbourEntry) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(neighbour_entry_in_namespace());
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no network namespace: unshare not permitted";
  if (WEXITSTATUS(status) == 78) GTEST_SKIP() << "cannot create a veth pair in the namespace";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "no permanent entry for 10.9.9.2 appeared";
}

}  // namespace
}  // namespace bootp
