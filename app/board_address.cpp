// The board's address: the nearest free neighbour of the adapter's address on its /24
// network, lower ones first, never the network's first two or last two host numbers.
#include "app/flasher_dlg.h"
#include "platform/net.h"

namespace {
constexpr std::uint32_t kLowestCandidate = 2;
constexpr std::uint32_t kHighestCandidate = 253;
}  // namespace

std::uint32_t CFlasherDlg::ChooseBoardAddress(std::uint32_t serverAddress) const {
  const std::uint32_t adapter = platform::net_to_host32(serverAddress);
  const std::uint32_t network = adapter & 0xFFFFFF00u;
  const std::uint32_t last = adapter & 0xFFu;
  auto free = [&](std::uint32_t octet) {
    return ownAddresses.count(platform::host_to_net32(network | octet)) == 0;
  };
  if (last >= kLowestCandidate + 1)
    for (std::uint32_t octet = last - 1; octet >= kLowestCandidate; --octet)
      if (free(octet)) return platform::host_to_net32(network | octet);
  if (last <= kHighestCandidate - 1)
    for (std::uint32_t octet = last + 1; octet <= kHighestCandidate; ++octet)
      if (free(octet)) return platform::host_to_net32(network | octet);
  return platform::kInaddrNone;
}
