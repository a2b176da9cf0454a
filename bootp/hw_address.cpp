// The text form of a hardware address and the IEEE 802 bit reversal.
#include "bootp/hw_address.h"

#include <algorithm>

namespace bootp {

namespace {

constexpr std::array<std::uint8_t, 256> make_bit_reversal() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < 8; ++bit)
      if (i & (1u << bit)) reversed |= 0x80u >> bit;
    table[i] = static_cast<std::uint8_t>(reversed);
  }
  return table;
}
constexpr std::array<std::uint8_t, 256> kBitReversal = make_bit_reversal();

}  // namespace

std::string hw_text(std::span<const std::uint8_t> bytes, std::size_t length) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  length = std::min({length, kMaxHwText, bytes.size()});
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    if (i > 0) text += '-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  return text;
}

void reverse_bits_802(std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
  const std::size_t count = std::min(input.size(), output.size());
  for (std::size_t i = 0; i < count; ++i) output[i] = kBitReversal[input[i]];
}

}  // namespace bootp
