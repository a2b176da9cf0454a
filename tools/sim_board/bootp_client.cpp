// BOOTP as a boot loader speaks it, over the board's raw link.
#include "tools/sim_board/bootp_client.h"

#include <algorithm>
#include <random>
#include <vector>

namespace sim_board {

namespace {

// Replies to any of the last few requests count: a slow server may answer an earlier try.
constexpr std::size_t kRememberedXids = 4;

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

}  // namespace

std::optional<BootReply> obtain_address(RawLink& link, const BootpOptions& options,
                                        std::ostream& log) {
  std::random_device seed;
  std::mt19937 random(seed());
  std::vector<std::uint32_t> xids;
  const auto start = Clock::now();
  const auto give_up = start + options.give_up_after;
  // The first request goes out however short the patience.
  for (int attempt = 0; attempt == 0 || Clock::now() < give_up; ++attempt) {
    BootRequest request;
    request.mac = options.mac;
    request.xid = static_cast<std::uint32_t>(random());
    request.secs = static_cast<std::uint16_t>(
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
    xids.push_back(request.xid);
    if (xids.size() > kRememberedXids) xids.erase(xids.begin());
    const Bytes frame =
        build_broadcast_udp(kBootpClientPort, kBootpServerPort, build_boot_request(request),
                            static_cast<std::uint16_t>(random()));
    log << "bootp: request xid=0x" << std::hex << request.xid << std::dec
        << " secs=" << request.secs << (link.send(frame, kBroadcastMac) ? "" : " (send failed)")
        << std::endl;
    const auto wait_until = std::min(give_up, Clock::now() + bootp_backoff(attempt));
    while (const auto packet = link.receive(wait_until)) {
      if (auto reply = reply_in(*packet, options.mac, xids)) return reply;
    }
  }
  log << "bootp: no reply" << std::endl;
  return {};
}

}  // namespace sim_board
