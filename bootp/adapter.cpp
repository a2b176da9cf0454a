// Keeping to the confirmed adapter. Without a confirmed address (a server run on its own)
// every interface and every network counts, as they did before adapters were told apart.
#include "bootp/adapter.h"

#include "core/flash_state.h"

namespace bootp {

bool arrived_on_adapter(ServerState& state, std::uint32_t interfaceIndex) {
  const std::uint32_t serverAddress = flash_state().serverAddress.load();
  if (serverAddress == 0) return true;
  if (!state.adapter || state.adapter->index != interfaceIndex)
    state.adapter = platform::interface_holding(serverAddress);
  return state.adapter && state.adapter->index == interfaceIndex;
}

bool on_adapter_network(const ServerState& state, std::uint32_t address_net) {
  if (flash_state().serverAddress.load() == 0) return true;
  if (!state.adapter) return false;
  const std::uint32_t mask = state.adapter->netmask_net;
  return (address_net & mask) == (state.adapter->address_net & mask);
}

std::string interface_name(std::uint32_t interfaceIndex) {
  for (const platform::InterfaceAddress& candidate : platform::ipv4_interfaces())
    if (candidate.index == interfaceIndex) return candidate.interface_name;
  return "interface " + std::to_string(interfaceIndex);
}

}  // namespace bootp
