// The board's address request, BOOTP or DHCP: broadcast, back off, try again with a fresh xid,
// and take the first fitting reply that carries one of the recent xids. A reply reaches the
// board only if the server's ARP entry for the offered address points at the board's MAC.
#pragma once

#include <chrono>
#include <optional>
#include <ostream>

#include "tools/sim_board/link.h"
#include "tools/sim_board/packets.h"

namespace sim_board {

struct BootpOptions {
  MacAddress mac{};
  std::chrono::milliseconds give_up_after{28000};
  // DISCOVER, then REQUEST for the address offered; done only on an ACK, as U-Boot builds
  // with DHCP are.
  bool dhcp = false;
};

std::optional<BootReply> obtain_address(RawLink& link, const BootpOptions& options,
                                        std::ostream& log);

}  // namespace sim_board
