// The adapter the user confirmed, as the BOOTP server keeps to it: a datagram is served only
// when it came in on that interface, and a reply or a neighbour entry goes only to an address
// on its network. Which address the user confirmed is the main dialog's (serverAddress).
#pragma once

#include <cstdint>
#include <string>

#include "bootp/server_state.h"

namespace bootp {

// Whether a datagram that came in on that interface is to be served. The adapter is looked up
// again while it is unknown or when a datagram comes in elsewhere, since an adapter plugged in
// again comes back under a new number.
bool arrived_on_adapter(ServerState& state, std::uint32_t interfaceIndex);

// Whether the address (network order) lies on the adapter's network.
bool on_adapter_network(const ServerState& state, std::uint32_t address_net);

// The interface's name for a report, or its number when it has no IPv4 address.
std::string interface_name(std::uint32_t interfaceIndex);

}  // namespace bootp
