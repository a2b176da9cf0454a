// Load client for the BOOTP latency benchmark: one board that asks again and again, one
// request in flight at a time, and the time from each request to its reply. The packets are
// the simulated board's; the server, the addresses and the link are the caller's.
//
//   bootp_latency INTERFACE [COUNT [WARM_UP]]
//
// Each request is a 300-byte BOOTREQUEST broadcast from port 68 to 255.255.255.255:67 out of
// INTERFACE, with a fresh xid and the interface's own MAC in chaddr: the datagram a boot
// loader sends, so that a server handles it the way it handles a board's. The reply comes as
// unicast to yiaddr:68. The caller gives INTERFACE the board's address, so an ordinary UDP
// socket receives it and the interface answers ARP for it like any host.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "platform/net.h"
#include "platform/posix/fd_io.h"
#include "tools/sim_board/link.h"
#include "tools/sim_board/packets.h"

namespace {

using platform::UniqueFd;
using sim_board::Clock;
using sim_board::MacAddress;

constexpr std::chrono::milliseconds kReplyTimeout{1000};
constexpr long kDefaultCount = 10000;
constexpr long kDefaultWarmUp = 200;
constexpr std::size_t kReceiveLength = 1536;

struct Options {
  std::string interface;
  long count = kDefaultCount;
  long warmUp = kDefaultWarmUp;
};

struct Tally {
  std::vector<double> latencies_us;
  long lost = 0;
  long stray = 0;  // datagrams that were not the awaited reply (an earlier xid, say)
  bool shownFirst = false;
};

std::optional<Options> parse_options(int argc, char** argv) {
  if (argc < 2 || argc > 4) return std::nullopt;
  Options options;
  options.interface = argv[1];
  char* end = nullptr;
  if (argc > 2) options.count = std::strtol(argv[2], &end, 10);
  if (argc > 2 && (*end != '\0' || options.count <= 0)) return std::nullopt;
  if (argc > 3) options.warmUp = std::strtol(argv[3], &end, 10);
  if (argc > 3 && (*end != '\0' || options.warmUp < 0)) return std::nullopt;
  return options;
}

std::optional<MacAddress> interface_mac(int fd, const std::string& interface) {
  ifreq request{};
  std::strncpy(request.ifr_name, interface.c_str(), IFNAMSIZ - 1);
  if (::ioctl(fd, SIOCGIFHWADDR, &request) != 0) return std::nullopt;
  MacAddress mac{};
  std::copy_n(reinterpret_cast<const std::uint8_t*>(request.ifr_hwaddr.sa_data), mac.size(),
              mac.begin());
  return mac;
}

// Port 68 on every address, so that the unicast reply to the board's address is taken;
// bound to the interface, so that the broadcast leaves through it (the namespace has no
// default route) and nothing from another link is taken.
std::optional<UniqueFd> open_client_socket(const std::string& interface) {
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return std::nullopt;
  const int on = 1;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) return std::nullopt;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_BINDTODEVICE, interface.c_str(),
                   static_cast<socklen_t>(interface.size())) != 0)
    return std::nullopt;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(sim_board::kBootpClientPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
    return std::nullopt;
  return fd;
}

bool send_request(int fd, const sim_board::Bytes& request) {
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(sim_board::kBootpServerPort);
  server.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  return ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&server),
                  sizeof server) == static_cast<ssize_t>(request.size());
}

void show_reply(const sim_board::BootReply& reply, std::size_t length) {
  std::printf("first reply: length=%zu yiaddr=%s siaddr=%s file=\"%s\"", length,
              platform::inet_ntoa(reply.yiaddr_net).c_str(),
              platform::inet_ntoa(reply.siaddr_net).c_str(), reply.file.c_str());
  if (reply.subnet_mask_net)
    std::printf(" mask=%s", platform::inet_ntoa(*reply.subnet_mask_net).c_str());
  std::printf("\n");
}

bool wait_readable(int fd, Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, static_cast<int>(left)) > 0;
}

// The reply to `xid`, or none once the time-out has passed; other datagrams are passed over.
std::optional<Clock::time_point> await_reply(int fd, const MacAddress& mac, std::uint32_t xid,
                                             Tally& tally) {
  const Clock::time_point deadline = Clock::now() + kReplyTimeout;
  std::vector<std::uint8_t> buffer(kReceiveLength);
  while (wait_readable(fd, deadline)) {
    const ssize_t length = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    const Clock::time_point arrived = Clock::now();
    if (length <= 0) continue;
    const auto bytes =
        std::span<const std::uint8_t>(buffer).first(static_cast<std::size_t>(length));
    const std::uint32_t awaited[] = {xid};
    const auto reply = sim_board::parse_boot_reply(bytes, mac, awaited);
    if (!reply) {
      ++tally.stray;
      continue;
    }
    if (!tally.shownFirst) show_reply(*reply, bytes.size());
    tally.shownFirst = true;
    return arrived;
  }
  return std::nullopt;
}

// Nearest rank: the smallest latency that at least `percent` of the replies did not exceed.
double percentile(const std::vector<double>& sorted, double percent) {
  const auto rank =
      static_cast<std::size_t>(std::ceil(percent / 100.0 * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

void print_summary(long count, Tally& tally) {
  std::sort(tally.latencies_us.begin(), tally.latencies_us.end());
  std::printf("count=%ld lost=%ld stray=%ld", count, tally.lost, tally.stray);
  if (tally.latencies_us.empty()) {
    std::printf(" p50_us=- p90_us=- p99_us=- max_us=-\n");
    return;
  }
  std::printf(" p50_us=%.1f p90_us=%.1f p99_us=%.1f max_us=%.1f\n",
              percentile(tally.latencies_us, 50), percentile(tally.latencies_us, 90),
              percentile(tally.latencies_us, 99), tally.latencies_us.back());
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse_options(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: %s INTERFACE [COUNT [WARM_UP]]\n", argv[0]);
    return 2;
  }
  auto fd = open_client_socket(options->interface);
  const auto mac = fd ? interface_mac(fd->get(), options->interface) : std::nullopt;
  if (!fd || !mac) {
    std::fprintf(stderr, "bootp_latency: cannot use %s port %u: %s\n", options->interface.c_str(),
                 sim_board::kBootpClientPort, std::strerror(errno));
    return 1;
  }

  std::mt19937 random(std::random_device{}());
  std::uint32_t xid = static_cast<std::uint32_t>(random());
  Tally tally;
  tally.latencies_us.reserve(static_cast<std::size_t>(options->count));
  for (long i = 0; i < options->warmUp + options->count; ++i) {
    ++xid;
    const sim_board::Bytes request = sim_board::build_boot_request({*mac, xid, 0});
    const Clock::time_point sent = Clock::now();
    if (!send_request(fd->get(), request)) {
      std::fprintf(stderr, "bootp_latency: send: %s\n", std::strerror(errno));
      return 1;
    }
    const auto arrived = await_reply(fd->get(), *mac, xid, tally);
    if (i < options->warmUp) continue;
    if (!arrived) {
      ++tally.lost;
      continue;
    }
    tally.latencies_us.push_back(
        std::chrono::duration<double, std::micro>(*arrived - sent).count());
  }
  print_summary(options->count, tally);
  return 0;
}
