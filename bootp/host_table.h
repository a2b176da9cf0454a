// The host table: reads "kalvex.ini" entry by entry into HostEntry records and files them in
// three indexes, by hardware address, IP address and name. Re-reads the file when its
// modification time changes; the meaning of each field lives in symbols.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "bootp/hash_table.h"
#include "bootp/host_entry.h"

namespace bootp {

inline constexpr std::size_t kIndexBuckets = 257;
// The entry buffer holds 2048 bytes with its terminator.
inline constexpr std::size_t kMaxEntryText = 2047;

struct HostTable {
  std::unique_ptr<HashIndex<HostEntry>> hwIndex;
  std::unique_ptr<HashIndex<HostEntry>> ipIndex;
  std::unique_ptr<HashIndex<HostEntry>> nameIndex;
  std::optional<std::filesystem::file_time_type> lastModified;  // none before the first read
  int entries = 0;
  int hosts = 0;
};

HostTable& host_table();

// Makes the three empty indexes (dropping any earlier table); false when memory runs out.
bool create_host_indexes();
// Releases every entry and forgets the file's time: the state before start-up.
void destroy_host_table();

// Reads the file into the indexes when forced or when it has changed since the last read.
void read_host_table(bool force);

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
int parse_entry(HostEntry& entry, std::string_view text);
bool is_good_name(std::string_view name);
// The class mask of a network-order address, none for class D and E.
std::optional<std::uint32_t> default_netmask(std::uint32_t address_net);
// Drops one index's hold on the entry; frees it when no index holds it any more.
void release_entry(HostEntry* entry);

// Comparisons, called as equal(key, filed entry).
bool same_hw(const HostEntry& key, const HostEntry& entry);
bool same_hw_for_insert(const HostEntry& key, const HostEntry& entry);
bool same_ip(const HostEntry& key, const HostEntry& entry);
bool same_name(const std::string_view& key, const HostEntry& entry);
template <class Key>
bool never_equal(const Key&, const HostEntry&) {
  return false;
}

// Hash codes of the three keys.
std::uint32_t hw_hash(const HostEntry& entry);
std::uint32_t ip_hash(std::uint32_t address_net);
std::uint32_t name_hash(std::string_view name);

}  // namespace bootp
