// The interface look-ups that every system answers from its list of IPv4 interfaces.
#include "platform/interfaces.h"

namespace platform {

std::optional<std::string> interface_for(std::uint32_t address_net) {
  for (const InterfaceAddress& candidate : ipv4_interfaces()) {
    if (candidate.netmask_net == 0) continue;
    if ((candidate.address_net & candidate.netmask_net) == (address_net & candidate.netmask_net))
      return candidate.interface_name;
  }
  return {};
}

std::optional<InterfaceAddress> interface_holding(std::uint32_t address_net) {
  for (InterfaceAddress& candidate : ipv4_interfaces())
    if (candidate.address_net == address_net) return std::move(candidate);
  return {};
}

}  // namespace platform
