// One client of the host table ("kalvex.ini") with the values it was given, and the shared
// values that templates (tc) hand on to the entries that use them. Read by the request
// handler and the vendor area builder; written only by the host table reader.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bootp {

// Flag bits, bit for bit as the two flag words hold them: values below 32 are bits of the
// first word, 32 and above bits of the second.
enum class Flag : std::uint8_t {
  BootFile = 0,
  BootServer = 1,
  BootSize = 2,
  BootSizeAuto = 3,
  CookieServers = 4,
  DomainServers = 5,
  Gateways = 6,
  RawOptions = 7,
  HwAddress = 8,
  HomeDir = 9,
  HwType = 10,
  ImpressServers = 11,
  IpAddress = 12,
  LogServers = 13,
  LprServers = 14,
  NameServers = 15,
  HostNameSwitch = 16,
  RlpServers = 17,
  SendHostName = 18,
  SubnetMask = 19,
  TftpDir = 20,
  TimeOffset = 21,
  TimeServers = 22,
  DumpFile = 23,
  DomainName = 24,
  SwapServer = 25,
  RootPath = 26,
  ExtensionFile = 27,
  ReplyAddress = 28,
  NisDomain = 29,
  NisServers = 30,
  NtpServers = 31,
  ExecFile = 32,
  MessageSize = 33,
  MinWait = 34,
  VendorCookie = 35,
};

struct SharedText {
  std::string text;  // at most 79 characters
};

struct AddressList {
  std::vector<std::uint32_t> addresses_net;  // 1 to 16
};

// The entry's raw options in file order, each as tag, length, data.
struct OptionBlob {
  std::vector<std::uint8_t> bytes;
};

// Shared values: the reference count is the shared pointer's use count. A template that
// hands a value on raises it; the last entry to let go frees the value.
using TextRef = std::shared_ptr<const SharedText>;
using AddressListRef = std::shared_ptr<const AddressList>;
using OptionBlobRef = std::shared_ptr<const OptionBlob>;

struct HostEntry {
  // Number of indexes holding the entry; release_entry frees it at 0.
  std::uint32_t linkCount = 0;
  std::array<std::uint32_t, 2> flags{};

  AddressListRef cookieServers, domainServers, gateways, impressServers, logServers, lprServers,
      nameServers, rlpServers, timeServers, nisServers, ntpServers;
  TextRef bootFile, hostName, domainName, homeDir, tftpDir, dumpFile, extensionFile, rootPath,
      nisDomain, execFile;
  OptionBlobRef rawOptions;

  std::array<std::uint8_t, 4> vendorCookie{};
  std::uint8_t hwType = 0;
  std::array<std::uint8_t, 8> hwAddress{};
  std::int32_t timeOffset = 0;
  std::uint32_t bootSize = 0;
  std::uint32_t messageSize = 0;
  std::uint32_t minWait = 0;
  std::uint32_t bootServer = 0;  // all addresses in network order
  std::uint32_t ipAddress = 0;
  std::uint32_t swapServer = 0;
  std::uint32_t replyAddress = 0;
  std::uint32_t subnetMask = 0;

  bool has(Flag flag) const { return (flags[word(flag)] & bit(flag)) != 0; }
  void set(Flag flag) { flags[word(flag)] |= bit(flag); }
  void clear(Flag flag) { flags[word(flag)] &= ~bit(flag); }
  void assign(Flag flag, bool on) { on ? set(flag) : clear(flag); }
  const std::string& name() const;

 private:
  static std::size_t word(Flag flag) { return static_cast<std::uint8_t>(flag) / 32; }
  static std::uint32_t bit(Flag flag) { return 1u << (static_cast<std::uint8_t>(flag) % 32); }
};

inline const std::string& HostEntry::name() const {
  static const std::string kNoName;
  return hostName ? hostName->text : kNoName;
}

// Drops one index's hold on the entry; frees it when no index holds it any more.
inline void release_entry(HostEntry* entry) {
  if (entry == nullptr || entry->linkCount == 0) return;
  if (--entry->linkCount == 0) delete entry;
}

}  // namespace bootp
