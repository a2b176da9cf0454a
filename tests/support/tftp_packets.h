// TFTP packets as a client sends them, built byte by byte, and the block number of a reply
// read back. Failed comparisons print the packets byte by byte, hex included.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kalvex::testing {

using Bytes = std::vector<std::uint8_t>;

Bytes rrq(std::string_view name, std::string_view mode);
Bytes wrq(std::string_view name, std::string_view mode);
Bytes ack(int block);
Bytes data(int block, std::string_view payload);
Bytes error_packet(int code, std::string_view message);

// The 16-bit field after the opcode (block number or error code); -1 when missing.
int block_of(const Bytes& packet);

}  // namespace kalvex::testing
