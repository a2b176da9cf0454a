// Hardware addresses as the BOOTP server knows them: the table of hardware types with the
// number of address bytes that count for each, the text form used in messages and in the
// arp command, and the bit order of IEEE 802 addresses. Entries and requests use them; who
// owns an address is left to the host entry and the message.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace bootp {

struct HardwareType {
  std::uint8_t addressLength;
  const char* displayName;
};
inline constexpr std::array<HardwareType, 8> kHardwareTypes{{
    {0, "Reserved"},
    {6, "Ethernet"},
    {1, "3Mb Ethernet"},
    {0, "AX.25"},
    {1, "ProNET"},
    {0, "Chaos"},
    {6, "IEEE 802"},
    {0, "ARCNET"},
}};
inline constexpr std::uint8_t kIeee802 = 6;
// The text form and the arp command take at most this many address bytes.
inline constexpr std::size_t kMaxHwText = 8;

// The address length of a type number; 0 for numbers outside the table.
inline std::uint8_t hw_address_length(unsigned type) {
  return type < kHardwareTypes.size() ? kHardwareTypes[type].addressLength : 0;
}
inline const char* hw_type_name(unsigned type) {
  return type < kHardwareTypes.size() ? kHardwareTypes[type].displayName : "unknown";
}

// Upper-case hex byte pairs joined by "-", at most 8 bytes: 02-1A-2B-3C-4D-5E.
std::string hw_text(std::span<const std::uint8_t> bytes, std::size_t length);
// IEEE 802 (token ring) addresses travel bit-reversed in each byte.
void reverse_bits_802(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);

}  // namespace bootp
