// Packet builders over plain byte vectors: no product code, so they check the server
// independently.
#include "tests/support/tftp_packets.h"

#include <string>

namespace kalvex::testing {

namespace {

// The opcode and the 16-bit field after it, both big-endian.
Bytes header(int opcode, int field) {
  return {0, static_cast<std::uint8_t>(opcode), static_cast<std::uint8_t>(field >> 8),
          static_cast<std::uint8_t>(field)};
}

Bytes append(Bytes packet, std::string_view text) {
  packet.insert(packet.end(), text.begin(), text.end());
  return packet;
}

std::string terminated(std::string_view text) {
  return std::string(text) + '\0';
}

}  // namespace

Bytes rrq(std::string_view name, std::string_view mode) {
  return append({0, 1}, terminated(name) + terminated(mode));
}

Bytes wrq(std::string_view name, std::string_view mode) {
  return append({0, 2}, terminated(name) + terminated(mode));
}

Bytes ack(int block) {
  return header(4, block);
}

Bytes data(int block, std::string_view payload) {
  return append(header(3, block), payload);
}

Bytes error_packet(int code, std::string_view message) {
  return append(header(5, code), terminated(message));
}

int block_of(const Bytes& packet) {
  return packet.size() < 4 ? -1 : (packet[2] << 8) | packet[3];
}

}  // namespace kalvex::testing
