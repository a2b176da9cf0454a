// The PC's IPv4 interfaces from GetAdaptersAddresses (those whose link is up, as ipconfig
// shows them), loopback ones last; the host name and the resolver through Windows Sockets.
#include "platform/interfaces.h"

#include "platform/win32/system.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <iphlpapi.h>

namespace platform {

namespace {

constexpr ULONG kListingFlags =
    GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;

// The system's listing of the IPv4 adapters; empty when it cannot be read. Held in 8-byte
// words, the alignment of the records in it.
std::vector<ULONGLONG> adapter_listing() {
  ULONG bytes = 16 * 1024;
  std::vector<ULONGLONG> listing;
  // The listing may grow between the call that sizes it and the call that fills it.
  for (int attempt = 0; attempt < 4; ++attempt) {
    listing.assign(bytes / sizeof(ULONGLONG) + 1, 0);
    bytes = static_cast<ULONG>(listing.size() * sizeof(ULONGLONG));
    const ULONG status =
        ::GetAdaptersAddresses(AF_INET, kListingFlags, nullptr,
                               reinterpret_cast<IP_ADAPTER_ADDRESSES*>(listing.data()), &bytes);
    if (status == NO_ERROR) return listing;
    if (status != ERROR_BUFFER_OVERFLOW) break;
  }
  return {};
}

std::uint32_t netmask_of(UINT8 prefixLength) {
  ULONG mask = 0;
  if (::ConvertLengthToIpv4Mask(prefixLength, &mask) != NO_ERROR) return 0;
  return mask;
}

}  // namespace

std::vector<InterfaceAddress> ipv4_interfaces() {
  std::vector<InterfaceAddress> result;
  std::vector<ULONGLONG> listing = adapter_listing();
  if (listing.empty()) return result;
  for (const IP_ADAPTER_ADDRESSES* adapter =
           reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(listing.data());
       adapter != nullptr; adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp) continue;
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
         unicast != nullptr; unicast = unicast->Next) {
      const SOCKET_ADDRESS& where = unicast->Address;
      if (where.lpSockaddr == nullptr || where.lpSockaddr->sa_family != AF_INET) continue;
      sockaddr_in address{};
      std::memcpy(&address, where.lpSockaddr,
                  std::min<std::size_t>(sizeof address, where.iSockaddrLength));
      InterfaceAddress entry;
      entry.interface_name =
          win32::narrow(adapter->FriendlyName != nullptr ? adapter->FriendlyName : L"");
      entry.index = adapter->IfIndex;
      entry.address_net = address.sin_addr.s_addr;
      entry.netmask_net = netmask_of(unicast->OnLinkPrefixLength);
      entry.loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
      result.push_back(std::move(entry));
    }
  }
  std::stable_partition(result.begin(), result.end(),
                        [](const InterfaceAddress& a) { return !a.loopback; });
  return result;
}

std::optional<std::uint32_t> interface_mtu(std::uint32_t index) {
  std::vector<ULONGLONG> listing = adapter_listing();
  if (listing.empty()) return {};
  for (const IP_ADAPTER_ADDRESSES* adapter =
           reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(listing.data());
       adapter != nullptr; adapter = adapter->Next)
    if (adapter->IfIndex == index && adapter->Mtu > 0 && adapter->Mtu != ~ULONG{0})
      return static_cast<std::uint32_t>(adapter->Mtu);
  return {};
}

std::optional<std::string> host_name() {
  char name[256] = {};
  if (!win32::start_winsock() || ::gethostname(name, sizeof name - 1) != 0) return {};
  return std::string(name);
}

std::optional<std::uint32_t> resolve_ipv4(const std::string& name) {
  if (!win32::start_winsock()) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, std::min<std::size_t>(sizeof address, found->ai_addrlen));
  ::freeaddrinfo(found);
  return address.sin_addr.s_addr;
}

}  // namespace platform
