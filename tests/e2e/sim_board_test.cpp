// The simulated board's own behaviour: what it accepts as a BOOTP reply or an IPv4/UDP
// packet, and how its TFTP read recovers, against a lock-step server on 127.0.0.1 that,
// like Kalvex, never re-sends anything.
#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tools/sim_board/link.h"
#include "tools/sim_board/tftp_client.h"
#include "tools/sim_board/wire.h"

namespace sim_board {
namespace {

using namespace std::chrono_literals;

constexpr MacAddress kMac = {0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
constexpr std::uint32_t kLoopback = 0x7F000001;

Bytes valid_reply() {
  Bytes reply = build_boot_request({kMac, 0x12345678, 0});
  reply[0] = 2;                       // op: BOOTREPLY
  store_be32(reply, 16, 0xC0A84D09);  // yiaddr 192.168.77.9
  store_be32(reply, 20, 0xC0A84D0A);  // siaddr 192.168.77.10
  const std::string file = "flash.bin";
  std::copy(file.begin(), file.end(), reply.begin() + 108);
  const std::uint8_t vendor[] = {99, 130, 83, 99, 1, 4, 255, 255, 255, 0, 255};
  std::copy(std::begin(vendor), std::end(vendor), reply.begin() + 236);
  return reply;
}

struct ReplyCase {
  const char* name;
  std::function<void(Bytes&)> mutate;
  bool accepted;
};

class BootReplyAcceptance : public testing::TestWithParam<ReplyCase> {};

TEST_P(BootReplyAcceptance, TakesOnlyRepliesMeantForThisBoard) {
  Bytes reply = valid_reply();
  GetParam().mutate(reply);
  SCOPED_TRACE(hex_text(reply));
  EXPECT_EQ(parse_boot_reply(reply, kMac).has_value(), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Mutations, BootReplyAcceptance,
    testing::Values(ReplyCase{"Valid", [](Bytes&) {}, true},
                    ReplyCase{"Request", [](Bytes& b) { b[0] = 1; }, false},
                    ReplyCase{"NotEthernet", [](Bytes& b) { b[1] = 6; }, false},
                    ReplyCase{"LongHardwareAddress", [](Bytes& b) { b[2] = 16; }, false},
                    ReplyCase{"OtherBoard", [](Bytes& b) { b[33] ^= 1; }, false},
                    ReplyCase{"NoVendorArea", [](Bytes& b) { b.resize(236); }, true},
                    ReplyCase{"TruncatedFixedPart", [](Bytes& b) { b.resize(235); }, false},
                    ReplyCase{"Empty", [](Bytes& b) { b.clear(); }, false}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(BootReplyFields, ReadsAddressesFileAndMask) {
  const auto reply = parse_boot_reply(valid_reply(), kMac);
  ASSERT_TRUE(reply);
  EXPECT_EQ(dotted(reply->yiaddr), "192.168.77.9");
  EXPECT_EQ(dotted(reply->siaddr), "192.168.77.10");
  EXPECT_EQ(reply->file, "flash.bin");
  EXPECT_EQ(reply->subnet_mask, 0xFFFFFF00u);
  EXPECT_EQ(reply->vendor.size(), 64u);
}

TEST(BootReplyFields, UnterminatedFileAndCutOptionStayInsideTheMessage) {
  Bytes reply = valid_reply();
  std::fill(reply.begin() + 108, reply.begin() + 236, 'x');
  reply.resize(236 + 6);  // cookie, then an option whose data is cut off
  reply[240] = 1;
  reply[241] = 4;
  const auto parsed = parse_boot_reply(reply, kMac);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->file, std::string(128, 'x'));
  EXPECT_FALSE(parsed->subnet_mask);
}

struct PacketCase {
  const char* name;
  std::function<void(Bytes&)> mutate;
  bool accepted;
};

class UdpPacketAcceptance : public testing::TestWithParam<PacketCase> {};

TEST_P(UdpPacketAcceptance, RefusesWhatDoesNotHoldAWholeDatagram) {
  const Bytes payload = {1, 2, 3, 4, 5};
  Bytes packet = build_broadcast_udp(68, 67, payload, 7);
  GetParam().mutate(packet);
  SCOPED_TRACE(hex_text(packet));
  const auto datagram = parse_udp_packet(packet);
  ASSERT_EQ(datagram.has_value(), GetParam().accepted);
  if (datagram) {
    EXPECT_EQ(datagram->source_port, 68);
    EXPECT_EQ(datagram->destination_port, 67);
    EXPECT_EQ(Bytes(datagram->payload.begin(), datagram->payload.end()), payload);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Mutations, UdpPacketAcceptance,
    testing::Values(PacketCase{"Valid", [](Bytes&) {}, true},
                    PacketCase{"EthernetPaddingBehind", [](Bytes& b) { b.resize(60, 0); }, true},
                    PacketCase{"NotIpv4", [](Bytes& b) { b[0] = 0x65; }, false},
                    PacketCase{"HeaderTooShort", [](Bytes& b) { b[0] = 0x44; }, false},
                    PacketCase{"TotalLengthBeyondPacket", [](Bytes& b) { b[3] = 0xFF; }, false},
                    PacketCase{"Fragment", [](Bytes& b) { b[6] = 0x20; }, false},
                    PacketCase{"NotUdp", [](Bytes& b) { b[9] = 6; }, false},
                    PacketCase{"UdpLengthBeyondPacket", [](Bytes& b) { b[25] = 0xFF; }, false},
                    PacketCase{"Truncated", [](Bytes& b) { b.resize(19); }, false}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(BroadcastFrame, CarriesAValidHeaderChecksum) {
  const Bytes packet = build_broadcast_udp(68, 67, build_boot_request({kMac, 1, 0}), 99);
  EXPECT_EQ(ip_checksum(std::span(packet).first(20)), 0);
  EXPECT_EQ(load_be32(packet, 16), 0xFFFFFFFFu);
}

TEST(ImageChecksum, MatchesTheIeeeCheckValue) {
  const std::string text = "123456789";
  EXPECT_EQ(crc32(Bytes(text.begin(), text.end())), 0xCBF43926u);
}

// A lock-step read server without retransmission, one transfer at a time from a fresh port,
// that drops a transfer after a short receive time-out and then waits for a new request.
class LockStepServer {
 public:
  explicit LockStepServer(Bytes image) : m_image(std::move(image)) {
    std::string error;
    m_listen.emplace(*UdpPort::open(error));
    m_thread = std::thread([this] { serve(); });
  }
  ~LockStepServer() {
    m_stop = true;
    m_thread.join();
  }
  std::uint16_t port() const { return m_listen->port(); }
  void answer_with_error(std::uint16_t code) { m_error_code = code; }
  std::vector<std::string> events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
  }

 private:
  void serve() {
    while (!m_stop) {
      auto request = m_listen->receive(Clock::now() + 20ms);
      if (!request) continue;
      record("RRQ from " + std::to_string(request->from_port));
      transfer(request->from_port);
      while (m_listen->receive(Clock::now())) {
      }  // requests that came meanwhile are gone, as with a freshly bound port
    }
  }

  void transfer(std::uint16_t client_port) {
    std::string error;
    auto port = UdpPort::open(error);
    if (m_error_code != 0) {
      const Bytes packet = {0, 5, 0, static_cast<std::uint8_t>(m_error_code), 'n', 'o', 0};
      port->send_to(kLoopback, client_port, packet);
      return;
    }
    for (std::uint16_t block = 1;; ++block) {
      const std::size_t begin = std::min(m_image.size(), (block - 1u) * kTftpBlockSize);
      const std::size_t end = std::min(m_image.size(), begin + kTftpBlockSize);
      Bytes packet = {0, 3, 0, 0};
      store_be16(packet, 2, block);
      packet.insert(packet.end(), m_image.begin() + static_cast<std::ptrdiff_t>(begin),
                    m_image.begin() + static_cast<std::ptrdiff_t>(end));
      port->send_to(kLoopback, client_port, packet);
      if (!await_ack(*port, block)) return;
      if (end - begin < kTftpBlockSize) return;
    }
  }

  bool await_ack(UdpPort& port, std::uint16_t block) {
    const auto give_up = Clock::now() + 300ms;
    while (auto received = port.receive(give_up)) {
      const auto packet = parse_tftp(received->bytes);
      if (!packet || packet->op != TftpOp::Ack) continue;
      record("ACK " + std::to_string(packet->number));
      if (packet->number == block) return true;
    }
    record("timeout");
    return false;
  }

  void record(std::string event) {
    std::lock_guard lock(m_mutex);
    m_events.push_back(std::move(event));
  }

  Bytes m_image;
  std::optional<UdpPort> m_listen;
  mutable std::mutex m_mutex;
  std::atomic<bool> m_stop{false};
  std::atomic<std::uint16_t> m_error_code{0};
  std::vector<std::string> m_events;
  std::thread m_thread;
};

Bytes pattern_image(std::size_t size) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
  return image;
}

FetchOptions short_retries() {
  FetchOptions options;
  options.timeout = 40ms;
  options.resends = 2;
  options.max_restarts = 3;
  return options;
}

class BoardTftpRead : public testing::Test {
 protected:
  FetchResult fetch(LockStepServer& server) {
    options.server = kLoopback;
    options.server_port = server.port();
    return fetch_image(options, log);
  }
  static int count_prefix(const std::vector<std::string>& events, const std::string& prefix) {
    return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const auto& event) {
      return event == prefix || event.starts_with(prefix + " ");
    }));
  }
  static std::string last_request(const std::vector<std::string>& events) {
    const auto last = std::find_if(events.rbegin(), events.rend(),
                                   [](const auto& event) { return event.starts_with("RRQ"); });
    return last == events.rend() ? std::string() : *last;
  }
  FetchOptions options = short_retries();
  std::ostringstream log;
};

TEST_F(BoardTftpRead, ImageOfWholeBlocksEndsWithAnEmptyBlock) {
  const Bytes image = pattern_image(1024);
  LockStepServer server(image);
  const FetchResult result = fetch(server);
  ASSERT_EQ(result.outcome, FetchResult::Outcome::Complete) << log.str();
  EXPECT_EQ(result.image, image);
  EXPECT_EQ(result.restarts, 0);
}

TEST_F(BoardTftpRead, LostDataIsReAskedThenFetchedAgainFromANewPort) {
  const Bytes image = pattern_image(3000);
  LockStepServer server(image);
  options.lose_data = 3;
  const FetchResult result = fetch(server);
  ASSERT_EQ(result.outcome, FetchResult::Outcome::Complete) << log.str();
  EXPECT_EQ(result.image, image);
  EXPECT_GE(result.restarts, 1);
  // ACK 2 once per served request, plus the re-sends after DATA 3 went missing.
  const auto events = server.events();
  EXPECT_EQ(count_prefix(events, "ACK 2"), options.resends + count_prefix(events, "RRQ"));
  EXPECT_GE(count_prefix(events, "RRQ"), 2);
  EXPECT_NE(events.front(), last_request(events)) << "a new request comes from a new port";
}

TEST_F(BoardTftpRead, LostFirstDataMakesTheBoardRepeatItsRequest) {
  const Bytes image = pattern_image(700);
  LockStepServer server(image);
  options.lose_data = 1;
  const FetchResult result = fetch(server);
  ASSERT_EQ(result.outcome, FetchResult::Outcome::Complete) << log.str();
  EXPECT_EQ(result.image, image);
  EXPECT_NE(log.str().find("re-sending the request"), std::string::npos) << log.str();
}

TEST_F(BoardTftpRead, SilentBoardSendsNothingUntilItStartsAgain) {
  const Bytes image = pattern_image(2000);
  LockStepServer server(image);
  options.silent_after = 2;
  const FetchResult result = fetch(server);
  ASSERT_EQ(result.outcome, FetchResult::Outcome::Complete) << log.str();
  EXPECT_EQ(result.image, image);
  EXPECT_GE(result.restarts, 1);
  // ACK 2 once per served request: never re-sent while the board is silent.
  const auto events = server.events();
  EXPECT_EQ(count_prefix(events, "ACK 2"), count_prefix(events, "RRQ"));
  EXPECT_GE(count_prefix(events, "RRQ"), 2);
}

TEST_F(BoardTftpRead, ServerErrorEndsTheFetchAtOnce) {
  LockStepServer server(pattern_image(100));
  server.answer_with_error(2);
  const FetchResult result = fetch(server);
  EXPECT_EQ(result.outcome, FetchResult::Outcome::ServerError);
  EXPECT_EQ(result.error_code, 2);
  EXPECT_EQ(result.restarts, 0);
}

TEST_F(BoardTftpRead, GivesUpAfterItsRestartsWhenNoServerAnswers) {
  std::string error;
  auto nobody = UdpPort::open(error);  // a bound port that never answers
  options.server = kLoopback;
  options.server_port = nobody->port();
  const FetchResult result = fetch_image(options, log);
  EXPECT_EQ(result.outcome, FetchResult::Outcome::GaveUp);
  EXPECT_EQ(result.restarts, options.max_restarts);
}

}  // namespace
}  // namespace sim_board
