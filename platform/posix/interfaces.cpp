// The PC's IPv4 interfaces from getifaddrs, loopback ones last, the host name and the
// resolver's answer for a name.
#include "platform/interfaces.h"

#include <algorithm>

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

std::vector<InterfaceAddress> ipv4_interfaces() {
  std::vector<InterfaceAddress> result;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return result;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & IFF_UP) == 0) continue;
    InterfaceAddress address;
    address.interface_name = entry->ifa_name;
    address.index = ::if_nametoindex(entry->ifa_name);
    address.address_net = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
    if (entry->ifa_netmask != nullptr)
      address.netmask_net =
          reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr;
    address.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
    result.push_back(std::move(address));
  }
  ::freeifaddrs(list);
  std::stable_partition(result.begin(), result.end(),
                        [](const InterfaceAddress& a) { return !a.loopback; });
  return result;
}

std::optional<std::string> host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return std::string(name);
}

std::optional<std::uint32_t> resolve_ipv4(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
  const std::uint32_t address =
      reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return address;
}

std::optional<std::uint32_t> interface_mtu(std::uint32_t index) {
  ifreq request{};
  if (::if_indextoname(index, request.ifr_name) == nullptr) return {};
  const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return {};
  const int result = ::ioctl(probe, SIOCGIFMTU, &request);
  ::close(probe);
  if (result != 0 || request.ifr_mtu <= 0) return {};
  return static_cast<std::uint32_t>(request.ifr_mtu);
}

}  // namespace platform
