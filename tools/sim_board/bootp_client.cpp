// BOOTP and DHCP as a boot loader speaks them, over the board's raw link.
#include "tools/sim_board/bootp_client.h"

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

namespace sim_board {

namespace {

// Replies to any of the last few requests count: a slow server may answer an earlier try.
constexpr std::size_t kRememberedXids = 4;

using Wanted = std::function<bool(const BootReply&)>;

std::optional<BootReply> reply_in(std::span<const std::uint8_t> packet, const MacAddress& mac,
                                  const std::vector<std::uint32_t>& xids) {
  const auto datagram = parse_udp_packet(packet);
  if (!datagram || datagram->source_port != kBootpServerPort ||
      datagram->destination_port != kBootpClientPort) {
    return {};
  }
  return parse_boot_reply(datagram->payload, mac, xids);
}

// The pause before try n (0-based): 0.25 s, 0.5 s, 1 s, then 2 s each, as U-Boot waits.
std::chrono::milliseconds bootp_backoff(int attempt) {
  static constexpr std::chrono::milliseconds kFirst[] = {std::chrono::milliseconds{250},
                                                         std::chrono::milliseconds{500},
                                                         std::chrono::milliseconds{1000}};
  if (attempt >= 0 && attempt < 3) return kFirst[attempt];
  return std::chrono::milliseconds{2000};
}

class Asking {
 public:
  Asking(RawLink& link, const BootpOptions& options, std::ostream& log)
      : m_link(link), m_options(options), m_log(log) {}

  bool patient() const { return Clock::now() < m_give_up; }

  // Broadcasts `request` with the back-off until a reply that `wanted` takes, or the patience
  // runs out. Each try has a fresh xid unless `fresh_xids` is false (a DHCP REQUEST keeps
  // the offer's). The first request goes out however short the patience.
  std::optional<BootReply> ask(BootRequest request, bool fresh_xids, const Wanted& wanted) {
    std::vector<std::uint32_t> xids;
    for (int attempt = 0; attempt == 0 || patient(); ++attempt) {
      if (fresh_xids) request.xid = static_cast<std::uint32_t>(m_random());
      request.secs = static_cast<std::uint16_t>(
          std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - m_start).count());
      xids.push_back(request.xid);
      if (xids.size() > kRememberedXids) xids.erase(xids.begin());
      send(request);
      const auto wait_until = std::min(m_give_up, Clock::now() + bootp_backoff(attempt));
      while (const auto packet = m_link.receive(wait_until)) {
        auto reply = reply_in(*packet, m_options.mac, xids);
        if (reply && wanted(*reply)) return reply;
      }
    }
    return {};
  }

 private:
  void send(const BootRequest& request) {
    const Bytes frame =
        build_broadcast_udp(kBootpClientPort, kBootpServerPort, build_boot_request(request),
                            static_cast<std::uint16_t>(m_random()));
    m_log << "bootp: request xid=0x" << std::hex << request.xid << std::dec
          << " secs=" << request.secs;
    if (request.dhcp != DhcpType::None) m_log << " dhcp=" << dhcp_type_name(request.dhcp);
    m_log << (m_link.send(frame, kBroadcastMac) ? "" : " (send failed)") << std::endl;
  }

  RawLink& m_link;
  const BootpOptions& m_options;
  std::ostream& m_log;
  std::mt19937 m_random{std::random_device{}()};
  Clock::time_point m_start = Clock::now();
  Clock::time_point m_give_up = m_start + m_options.give_up_after;
};

// Any reply to a DISCOVER is taken as the offer; the REQUEST then needs an ACK (or a NAK,
// which starts the exchange over).
std::optional<BootReply> obtain_by_dhcp(Asking& asking, const MacAddress& mac, std::ostream& log) {
  do {
    const auto offer = asking.ask({.mac = mac, .dhcp = DhcpType::Discover}, true,
                                  [](const BootReply&) { return true; });
    if (!offer) return {};
    auto answer = asking.ask({.mac = mac,
                              .xid = offer->xid,
                              .dhcp = DhcpType::Request,
                              .requested_net = offer->yiaddr_net,
                              .server_id_net = offer->server_id_net},
                             false, [](const BootReply& reply) {
                               return reply.dhcp == DhcpType::Ack || reply.dhcp == DhcpType::Nak;
                             });
    if (!answer) return {};
    if (answer->dhcp == DhcpType::Ack) return answer;
    log << "bootp: NAK, starting over" << std::endl;
  } while (asking.patient());
  return {};
}

}  // namespace

std::optional<BootReply> obtain_address(RawLink& link, const BootpOptions& options,
                                        std::ostream& log) {
  Asking asking(link, options, log);
  auto reply = options.dhcp
                   ? obtain_by_dhcp(asking, options.mac, log)
                   : asking.ask({.mac = options.mac}, true, [](const BootReply&) { return true; });
  if (!reply) log << "bootp: no reply" << std::endl;
  return reply;
}

}  // namespace sim_board
