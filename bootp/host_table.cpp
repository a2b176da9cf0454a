// Reading "kalvex.ini": splitting the file into entries (quotes, backslashes, continuation
// lines, comments), filing each parsed entry in the three indexes, and releasing the old
// table when the file changes. Field meanings are in symbols.cpp.
#include "bootp/host_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include "bootp/hw_address.h"
#include "bootp/report.h"
#include "platform/interfaces.h"
#include "platform/net.h"

namespace bootp {

namespace {

// Skips white space, blank lines and "#" comment lines; false at the end of the file.
bool skip_to_entry(EntrySource& source) {
  for (;;) {
    const int c = source.get();
    if (c == EOF) return false;
    if (std::isspace(c)) continue;
    if (c == '#') {
      int rest;
      do rest = source.get();
      while (rest != '\n' && rest != EOF);
      continue;
    }
    source.unget();
    return true;
  }
}

class EntryText {
 public:
  bool full() const { return m_text.size() >= kMaxEntryText; }
  bool push(int c) {
    if (full()) return false;
    m_text.push_back(static_cast<char>(c));
    return true;
  }
  std::string take() { return std::move(m_text); }

 private:
  std::string m_text;
};

// The rest of a quoted section, closing quote included; false when the entry must end.
bool read_quoted(EntrySource& source, EntryText& entry) {
  for (;;) {
    int c = source.get();
    if (c == EOF) return false;
    if (c == '\\') {
      c = source.get();
      if (c == EOF) return false;
    } else if (c == '"') {
      return entry.push(c);
    }
    if (!entry.push(c)) return false;
  }
}

// After a colon: blanks are skipped, and a backslash-newline continues the entry on a later
// line; false when the entry must end.
bool read_after_colon(EntrySource& source, EntryText& entry) {
  int c;
  do c = source.get();
  while (c == ' ' || c == '\t');
  if (c == EOF || c == '\n') return false;
  if (c != '\\') {
    source.unget();
    return true;
  }
  const int escaped = source.get();
  if (escaped == EOF) return false;
  if (escaped == '\n') return skip_to_entry(source);
  return entry.push(escaped);
}

// The keys' hash codes and the comparisons, called as equal(key, filed entry).

std::uint32_t hw_hash(const HostEntry& entry) {
  return hash_Code(std::span(entry.hwAddress).first(hw_address_length(entry.hwType)));
}

std::uint32_t ip_hash(std::uint32_t address_net) {
  std::array<std::uint8_t, 4> bytes{};
  platform::wire::store_net32(bytes, address_net);
  return hash_Code(bytes);
}

std::uint32_t name_hash(std::string_view name) {
  return hash_Code(std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
}

bool same_hw(const HostEntry& key, const HostEntry& entry) {
  const std::size_t length = hw_address_length(key.hwType);
  return key.hwType == entry.hwType &&
         std::equal(key.hwAddress.begin(), key.hwAddress.begin() + length, entry.hwAddress.begin());
}

bool same_network(const HostEntry& a, const HostEntry& b) {
  return (a.ipAddress & a.subnetMask) == (b.ipAddress & b.subnetMask);
}

// Two entries with one hardware address may coexist only on different networks of the same
// mask; every entry with ip shares clientAddress, so in practice the later one is dropped.
bool same_hw_for_insert(const HostEntry& key, const HostEntry& entry) {
  if (!same_hw(key, entry)) return false;
  return !(key.subnetMask == entry.subnetMask && !same_network(key, entry));
}

bool same_ip(const HostEntry& key, const HostEntry& entry) {
  return key.ipAddress == entry.ipAddress;
}

bool same_name(const std::string_view& key, const HostEntry& entry) {
  return key == entry.name();
}

template <class Key>
bool never_equal(const Key&, const HostEntry&) {
  return false;
}

void resolve_missing_address(const HostTable& table, HostEntry& entry) {
  if (!entry.has(Flag::IpAddress)) {
    const auto address =
        table.resolveHost ? table.resolveHost(entry.name()) : platform::resolve_ipv4(entry.name());
    if (!address) {
      bootp_report(kError, "can not get IP addr for %s", entry.name().c_str());
      bootp_report(kError, "(dummy names should start with '.')");
    } else {
      entry.ipAddress = *address;
      entry.set(Flag::IpAddress);
    }
  }
  if (!entry.has(Flag::SubnetMask)) {
    const auto mask = default_netmask(entry.ipAddress);
    if (!mask) {
      bootp_report(kError, "can not get netmask for %s", entry.name().c_str());
    } else {
      entry.subnetMask = *mask;
      entry.set(Flag::SubnetMask);
    }
  }
}

void file_entry(HostTable& table, HostEntry* entry) {
  if (entry->has(Flag::HwType) && entry->has(Flag::HwAddress)) {
    entry->linkCount += 1;
    if (hash_Insert(*table.hwIndex, hw_hash(*entry), same_hw_for_insert, *entry, entry) < 0) {
      bootp_report(kNotice, "duplicate %s address: %s", hw_type_name(entry->hwType),
                   hw_text(entry->hwAddress, hw_address_length(entry->hwType)).c_str());
      release_entry(entry);
      return;
    }
  }
  if (entry->has(Flag::IpAddress)) {
    if (hash_Insert(*table.ipIndex, ip_hash(entry->ipAddress), never_equal<HostEntry>, *entry,
                    entry) < 0)
      bootp_report(kError, "hash_Insert() failed on IP address insertion");
    else
      entry->linkCount += 1;
  }
  const std::string_view name = entry->name();
  if (hash_Insert(*table.nameIndex, name_hash(name), never_equal<std::string_view>, name, entry) <
      0)
    bootp_report(kError, "hash_Insert() failed on insertion of hostname: \"%s\"",
                 entry->name().c_str());
  else
    entry->linkCount += 1;
  if (entry->linkCount == 0) {
    delete entry;  // no index took it
    return;
  }
  table.entries += 1;
}

std::optional<std::filesystem::file_time_type> modification_time(const std::string& path,
                                                                 std::error_code& error) {
  const auto time = std::filesystem::last_write_time(path, error);
  if (error) return std::nullopt;
  return time;
}

}  // namespace

bool create_host_indexes(HostTable& table) {
  clear_host_indexes(table);
  table.hwIndex = hash_Create<HostEntry>(kIndexBuckets);
  table.ipIndex = hash_Create<HostEntry>(kIndexBuckets);
  table.nameIndex = hash_Create<HostEntry>(kIndexBuckets);
  return table.hwIndex && table.ipIndex && table.nameIndex;
}

void read_host_table(ServerState& state, bool force) {
  HostTable& table = state.table;
  const std::string& path = table.path;
  std::error_code error;
  const auto modified = modification_time(path, error);
  if (!modified) {
    bootp_report(kError, "stat on \"%s\": %s", path.c_str(), error.message().c_str());
    return;
  }
  const auto links = std::filesystem::hard_link_count(path, error);
  if (!force && table.lastModified == modified && !error && links != 0) return;
  if (state.verbosity > 0)
    bootp_report(kInfo, "reading %s\"%s\"", table.lastModified ? "new " : "", path.c_str());

  std::ifstream file(path, std::ios::binary);
  if (!file) {
    bootp_report(kError, "error opening \"%s\": %s", path.c_str(),
                 platform::error_text(errno).c_str());
    return;
  }
  const auto openedModified = modification_time(path, error);
  if (!openedModified) {
    bootp_report(kError, "fstat: %s", error.message().c_str());
    return;
  }
  table.lastModified = openedModified;
  EntrySource source(std::string(std::istreambuf_iterator<char>(file), {}));

  clear_host_indexes(table);
  table.entries = 0;
  table.hosts = 0;
  // Templates are found among the entries filed so far: tc only looks back in the file.
  const SymbolContext context{state.secondsWest, [&table](std::string_view name) {
                                return static_cast<const HostEntry*>(
                                    hash_Find(*table.nameIndex, name_hash(name), same_name, name));
                              }};
  for (std::string text = read_entry_text(source); !text.empty(); text = read_entry_text(source)) {
    auto* entry = new HostEntry();
    if (parse_entry(*entry, text, context) != 0) {
      entry->linkCount = 1;
      release_entry(entry);
      continue;
    }
    if (is_good_name(entry->name())) resolve_missing_address(table, *entry);
    if (entry->has(Flag::IpAddress)) table.hosts += 1;
    file_entry(table, entry);
  }
  if (state.verbosity > 0)
    bootp_report(kInfo, "read %d entries (%d hosts) from \"%s\"", table.entries, table.hosts,
                 path.c_str());
}

int EntrySource::get() {
  if (m_position >= m_text.size()) return EOF;
  if (m_text[m_position] == '\r' && m_position + 1 < m_text.size() &&
      m_text[m_position + 1] == '\n')
    ++m_position;
  return static_cast<unsigned char>(m_text[m_position++]);
}

void EntrySource::unget() {
  if (m_position > 0) --m_position;
}

std::string read_entry_text(EntrySource& source) {
  EntryText entry;
  if (!skip_to_entry(source)) return {};
  while (!entry.full()) {
    int c = source.get();
    if (c == EOF || c == '\n') break;
    if (c == '\\') {
      c = source.get();
      if (c == EOF || !entry.push(c)) break;
    } else if (c == '"') {
      if (!entry.push(c) || !read_quoted(source, entry)) break;
    } else if (c == ':') {
      if (!entry.push(c) || !read_after_colon(source, entry)) break;
    } else if (!entry.push(c)) {
      break;
    }
  }
  return entry.take();
}

int parse_entry(HostEntry& entry, std::string_view text, const SymbolContext& context) {
  Cursor cursor(text);
  entry.hostName = std::make_shared<const SharedText>(SharedText{take_text(cursor)});
  cursor.skip_past_colon();
  std::string currentSymbol;
  for (;;) {
    const SymbolResult result = apply_symbol(cursor, entry, currentSymbol, context);
    if (result == SymbolResult::End) return 0;
    if (result != SymbolResult::Applied) {
      bootp_report(kError, "in entry named \"%s\", symbol \"%s\": %s", entry.name().c_str(),
                   currentSymbol.c_str(), symbol_error_text(result));
      return static_cast<int>(result);
    }
    cursor.skip_past_colon();
  }
}

std::optional<std::uint32_t> default_netmask(std::uint32_t address_net) {
  const std::uint32_t host = platform::net_to_host32(address_net);
  if ((host & 0x80000000u) == 0) return platform::host_to_net32(0xFF000000u);
  if ((host & 0xC0000000u) == 0x80000000u) return platform::host_to_net32(0xFFFF0000u);
  if ((host & 0xE0000000u) == 0xC0000000u) return platform::host_to_net32(0xFFFFFF00u);
  return std::nullopt;
}

HostEntry* find_by_hw_address(const HostTable& table, std::uint8_t type,
                              std::span<const std::uint8_t> address) {
  HostEntry key;
  key.hwType = type;
  const std::size_t length = std::min<std::size_t>(hw_address_length(type), address.size());
  std::copy_n(address.begin(), length, key.hwAddress.begin());
  return hash_Find(*table.hwIndex, hw_hash(key), same_hw, key);
}

HostEntry* find_by_ip_address(const HostTable& table, std::uint32_t address_net) {
  HostEntry key;
  key.ipAddress = address_net;
  return hash_Find(*table.ipIndex, ip_hash(address_net), same_ip, key);
}

}  // namespace bootp
