// The neighbour (ARP) table through the IP Helper API: CreateIpNetEntry2 makes the entry
// permanent (NlnsPermanent) on the interface, SetIpNetEntry2 replaces one that is there, and
// DeleteIpNetEntry2 removes it; each is done when the call returns. They need administrator
// rights. Wine implements none of the three (a call ends the process), so there the change
// is refused with a reason instead; Wine's older calls claim success and change nothing.
#include "platform/neighbour.h"

#include "platform/interfaces.h"
#include "platform/win32/system.h"

#include <bit>
#include <cstring>

#include <iphlpapi.h>
#include <netioapi.h>

namespace platform {

namespace {

constexpr std::size_t kMaxHardwareAddressBytes = 8;

NeighbourResult result_of(DWORD status) {
  NeighbourResult result;
  if (status == NO_ERROR) return result;
  result.error = std::error_code(static_cast<int>(status), std::system_category());
  result.text = win32::system_message(status);
  return result;
}

NeighbourResult refused_under_wine() {
  return {std::make_error_code(std::errc::operation_not_supported),
          "Wine cannot change the neighbour table"};
}

MIB_IPNET_ROW2 row_for(std::uint32_t interface_index, std::uint32_t address_net) {
  MIB_IPNET_ROW2 row{};
  row.Address.si_family = AF_INET;
  row.Address.Ipv4.sin_family = AF_INET;
  row.Address.Ipv4.sin_addr.s_addr = address_net;
  row.InterfaceIndex = interface_index;
  return row;
}

}  // namespace

std::optional<std::uint32_t> interface_index_for(std::uint32_t address_net) {
  std::optional<std::uint32_t> best;
  int bestPrefix = 0;  // a /0 network holds every address and is never taken
  for (const InterfaceAddress& candidate : ipv4_interfaces()) {
    const int prefix = std::popcount(candidate.netmask_net);
    if (prefix <= bestPrefix ||
        ((candidate.address_net ^ address_net) & candidate.netmask_net) != 0)
      continue;
    best = candidate.index;
    bestPrefix = prefix;
  }
  return best;
}

NeighbourResult add_permanent_neighbour(std::uint32_t interface_index, std::uint32_t address_net,
                                        std::span<const std::uint8_t> hardware_address) {
  if (hardware_address.empty() || hardware_address.size() > kMaxHardwareAddressBytes)
    return {std::make_error_code(std::errc::invalid_argument),
            "a hardware address has 1 to 8 bytes"};
  if (win32::running_under_wine()) return refused_under_wine();
  MIB_IPNET_ROW2 row = row_for(interface_index, address_net);
  row.PhysicalAddressLength = static_cast<ULONG>(hardware_address.size());
  std::memcpy(row.PhysicalAddress, hardware_address.data(), hardware_address.size());
  row.State = NlnsPermanent;
  DWORD status = ::CreateIpNetEntry2(&row);
  if (status == ERROR_OBJECT_ALREADY_EXISTS) status = ::SetIpNetEntry2(&row);
  return result_of(status);
}

NeighbourResult delete_neighbour(std::uint32_t interface_index, std::uint32_t address_net) {
  if (win32::running_under_wine()) return refused_under_wine();
  MIB_IPNET_ROW2 row = row_for(interface_index, address_net);
  return result_of(::DeleteIpNetEntry2(&row));
}

}  // namespace platform
