// The host table: reads "kalvex.ini" entry by entry into HostEntry records and files them in
// the three indexes of the server's state, by hardware address, IP address and name.
// Re-reads the file when its modification time changes; the meaning of each field lives in
// symbols.cpp, which gets the name index only as the lookup that tc needs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "bootp/host_entry.h"
#include "bootp/server_state.h"
#include "bootp/symbols.h"

namespace bootp {

inline constexpr std::size_t kIndexBuckets = 257;
// The entry buffer holds 2048 bytes with its terminator.
inline constexpr std::size_t kMaxEntryText = 2047;

// Makes the three empty indexes (dropping any earlier table); false when memory runs out.
bool create_host_indexes(HostTable& table);

// Reads the file into the indexes when forced or when it has changed since the last read.
void read_host_table(ServerState& state, bool force);

// The file's text, read a character at a time. A carriage return before a line feed is
// dropped, as a text-mode stream does, so a table written on Windows reads the same.
class EntrySource {
 public:
  explicit EntrySource(std::string text) : m_text(std::move(text)) {}
  int get();  // EOF at the end
  void unget();

 private:
  std::string m_text;
  std::size_t m_position = 0;
};

// The next entry of the file by the host table syntax; empty at the end of the file.
std::string read_entry_text(EntrySource& source);
// Takes the entry's name and applies its fields; 0, or the failing field's SymbolResult.
int parse_entry(HostEntry& entry, std::string_view text, const SymbolContext& context);
// The class mask of a network-order address, none for class D and E.
std::optional<std::uint32_t> default_netmask(std::uint32_t address_net);

// Lookups of the request handler: the newest entry with the type and first address bytes
// of the key, or with its IP address.
HostEntry* find_by_hw_address(const HostTable& table, std::uint8_t type,
                              std::span<const std::uint8_t> address);
HostEntry* find_by_ip_address(const HostTable& table, std::uint32_t address_net);

}  // namespace bootp
