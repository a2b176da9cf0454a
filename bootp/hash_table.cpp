// Hash codes for the host table's indexes. Kept out of line so that every index hashes its
// keys the same way.
#include "bootp/hash_table.h"

namespace bootp {

std::uint32_t hash_Code(std::span<const std::uint8_t> bytes) {
  std::uint32_t code = 0;
  for (const std::uint8_t byte : bytes) code = 2 * code + byte;
  return code;
}

}  // namespace bootp
