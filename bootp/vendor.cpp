// Building the reply: its length, then the RFC 1048 vendor area. The format is always
// RFC 1048, whatever the request carried; options that do not fit are reported and left
// out, and the reply is sent all the same.
#include "bootp/vendor.h"

#include <algorithm>
#include <span>
#include <string>

#include "bootp/report.h"

namespace bootp {

namespace {

constexpr int kEndOption = 1;
// Only the first 64 bytes of the request's vendor area are scanned for option 57.
constexpr std::size_t kScannedVendorBytes = 64;
constexpr std::size_t kCookieSize = 4;
constexpr std::uint8_t kMaxMessageSizeOption = 57;

// The client's maximum message size from option 57 among the options that begin in the first
// 64 bytes of the request's vendor area (behind the cookie); the last one counts. 0 if none.
std::size_t requested_message_size(const Packet& packet) {
  const auto vend =
      std::span(packet.buffer).first(packet.receivedLength).subspan(offset::kVend + kCookieSize);
  std::size_t size = 0;
  for_each_request_option(vend, kScannedVendorBytes - kCookieSize,
                          [&](std::uint8_t tag, std::span<const std::uint8_t> data) {
                            if (tag == kMaxMessageSizeOption && data.size() == 2)
                              size = platform::wire::load_be16(data.first<2>());
                          });
  return size;
}

void report_no_room(const HostEntry& entry, const char* word) {
  bootp_report(kNotice, "%s: No room for \"%s\" option", entry.name().c_str(), word);
}

void put_header(std::uint8_t tag, std::size_t length, VendorWriter& out) {
  out.bytes.u8(tag);
  out.bytes.u8(static_cast<std::uint8_t>(length));
}

void put_text_option(std::uint8_t tag, const std::string& text, VendorWriter& out) {
  put_header(tag, text.size(), out);
  out.bytes.bytes(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  out.room -= static_cast<int>(text.size()) + 2;
}

void put_address_option(std::uint8_t tag, std::uint32_t address_net, VendorWriter& out) {
  put_header(tag, 4, out);
  out.bytes.net32(address_net);
  out.room -= 6;
}

// A text option of the table: false (after the "No room" report) when it does not fit.
bool append_text(const HostEntry& entry, bool present, std::uint8_t tag, const TextRef& text,
                 const char* word, VendorWriter& out) {
  if (!present) return true;
  const std::string& value = text ? text->text : std::string();
  if (out.room < static_cast<int>(value.size()) + 2) {
    report_no_room(entry, word);
    return false;
  }
  put_text_option(tag, value, out);
  return true;
}

bool append_address(const HostEntry& entry, bool present, std::uint8_t tag,
                    std::uint32_t address_net, const char* word, VendorWriter& out) {
  if (!present) return true;
  if (out.room < 6) {
    report_no_room(entry, word);
    return false;
  }
  put_address_option(tag, address_net, out);
  return true;
}

bool append_list(const HostEntry& entry, std::uint8_t tag, const AddressListRef& list,
                 const char* word, VendorWriter& out) {
  if (append_address_option(tag, list, out) != 0 && out.room < 8) {
    report_no_room(entry, word);
    return false;
  }
  return true;
}

bool append_time_offset(const HostEntry& entry, VendorWriter& out) {
  if (!entry.has(Flag::TimeOffset)) return true;
  if (out.room < 6) {
    report_no_room(entry, "to");
    return false;
  }
  put_header(2, 4, out);
  put_u32(static_cast<std::uint32_t>(entry.timeOffset), out.bytes);
  out.room -= 6;
  return true;
}

bool append_raw(const HostEntry& entry, VendorWriter& out) {
  if (append_raw_options(entry.rawOptions, out) != 0 && out.room < 64) {
    report_no_room(entry, "(generic)");
    return false;
  }
  return true;
}

std::uint16_t boot_size_blocks(const HostEntry& entry, std::uint64_t bootFileSize) {
  const std::uint64_t blocks =
      entry.has(Flag::BootSizeAuto) ? (bootFileSize + 511) / 512 : entry.bootSize;
  return static_cast<std::uint16_t>(blocks & 0xFFFF);
}

// Options 1, 3 and 13. The gateway list is cut so that option 13 and the end option still
// fit behind it; in a vendor area of 64 bytes that happens from the 12th gateway on.
void put_first_group(const HostEntry& entry, std::uint64_t bootFileSize, VendorWriter& out) {
  constexpr int kBootSizeOption = 4;
  const int keptBack = kEndOption + (entry.has(Flag::BootSize) ? kBootSizeOption : 0);
  if (entry.has(Flag::SubnetMask)) {
    if (out.room < 6 + keptBack) {
      report_no_room(entry, "sm");
    } else {
      put_address_option(1, entry.subnetMask, out);
      out.room -= keptBack;
      const bool cut =
          entry.has(Flag::Gateways) && append_address_option(3, entry.gateways, out) != 0;
      out.room += keptBack;
      if (cut) report_no_room(entry, "gw");
    }
  }
  if (entry.has(Flag::BootSize)) {
    if (out.room < kBootSizeOption + kEndOption) {
      report_no_room(entry, "bs");
      return;
    }
    put_header(13, 2, out);
    out.bytes.be16(boot_size_blocks(entry, bootFileSize));
    out.room -= kBootSizeOption;
  }
}

// An extension file replaces every later option: option 18 and the end option, and the rest
// of the area is left as it is.
void put_extension_file(const HostEntry& entry, VendorWriter& out) {
  const std::string& name = entry.extensionFile ? entry.extensionFile->text : std::string();
  if (out.room < static_cast<int>(name.size()) + 3) {
    report_no_room(entry, "ef");
  } else {
    put_text_option(18, name, out);
  }
  out.bytes.u8(kEnd);
}

}  // namespace

void apply_reply_length(Packet& packet, const HostEntry& entry, int verbosity) {
  if (entry.has(Flag::MessageSize)) {
    packet.length = entry.messageSize;
  } else {
    if (packet.length > kMinimumMessage && verbosity > 1)
      bootp_report(kInfo, "request message length=%zu", packet.length);
    const std::size_t requested = requested_message_size(packet);
    if (requested > kMinimumMessage) {
      if (verbosity > 1) bootp_report(kInfo, "request has DHCP msglen=%zu", requested);
      packet.length = requested;
    }
  }
  if (packet.length < kMinimumMessage) {
    bootp_report(kError, "invalid response length=%zu", packet.length);
    packet.length = kMinimumMessage;
  }
  // The reply is built in the packet buffer; a client asking for more gets the most it holds.
  packet.length = std::min(packet.length, kPacketSize);
  // Bytes behind what came in are not the request's: a reply cut short by lack of room must
  // not carry an earlier datagram's leftovers.
  if (packet.length > packet.receivedLength)
    std::fill(packet.buffer.begin() + static_cast<std::ptrdiff_t>(packet.receivedLength),
              packet.buffer.begin() + static_cast<std::ptrdiff_t>(packet.length), 0);
  if (packet.length > kMinimumMessage && verbosity > 1)
    bootp_report(kInfo, "extended reply, length=%zu, options=%zu", packet.length,
                 packet.length - offset::kVend);
}

void put_u32(std::uint32_t value, platform::wire::Writer& out) {
  out.be32(value);
}

std::size_t append_address_option(std::uint8_t tag, const AddressListRef& list, VendorWriter& out) {
  if (!list) return 0;
  if (out.room < 6) return 1;
  const std::size_t count = list->addresses_net.size();
  const std::size_t fitting = std::min(count, static_cast<std::size_t>(out.room - 2) / 4);
  put_header(tag, 4 * fitting, out);
  for (std::size_t i = 0; i < fitting; ++i) out.bytes.net32(list->addresses_net[i]);
  out.room -= static_cast<int>(2 + 4 * fitting);
  return count - fitting;
}

int append_raw_options(const OptionBlobRef& blob, VendorWriter& out) {
  if (!blob) return 0;
  platform::wire::Reader options(blob->bytes);
  int skipped = 0;
  while (!options.at_end() && out.room > 0) {
    const std::size_t start = options.position();
    const std::uint8_t tag = *options.u8();
    if (tag == kPad) {
      out.bytes.u8(kPad);
      out.room -= 1;
      continue;
    }
    if (tag == kEnd) break;
    const auto length = options.u8();
    if (!length || !options.bytes(*length)) break;  // a blob cut short ends the walk
    const auto option = std::span(blob->bytes).subspan(start, std::size_t{*length} + 2);
    if (out.room < static_cast<int>(option.size())) {
      skipped += static_cast<int>(option.size());
    } else {
      out.bytes.bytes(option);
      out.room -= static_cast<int>(option.size());
    }
  }
  return skipped;
}

int append_host_options(const HostEntry& entry, VendorWriter& out) {
  const std::size_t start = out.bytes.size();
  const auto has = [&](Flag flag) { return entry.has(flag); };
  const bool sendName = has(Flag::HostNameSwitch) && has(Flag::SendHostName);
  const bool complete =
      append_time_offset(entry, out) &&
      append_address(entry, has(Flag::SwapServer), 16, entry.swapServer, "sw", out) &&
      append_text(entry, has(Flag::RootPath), 17, entry.rootPath, "rp", out) &&
      append_text(entry, has(Flag::DumpFile), 14, entry.dumpFile, "df", out) &&
      append_list(entry, 6, entry.domainServers, "ds", out) &&
      append_text(entry, has(Flag::DomainName), 15, entry.domainName, "dn", out) &&
      append_list(entry, 41, entry.nisServers, "ds", out) &&
      append_text(entry, has(Flag::NisDomain), 40, entry.nisDomain, "dn", out) &&
      append_list(entry, 5, entry.nameServers, "ns", out) &&
      append_list(entry, 11, entry.rlpServers, "rl", out) &&
      append_list(entry, 4, entry.timeServers, "ts", out) &&
      append_list(entry, 42, entry.ntpServers, "ts", out) &&
      append_text(entry, sendName, 12, entry.hostName, "hn", out) &&
      append_list(entry, 9, entry.lprServers, "lp", out) &&
      append_list(entry, 8, entry.cookieServers, "cs", out) &&
      append_list(entry, 7, entry.logServers, "lg", out) && append_raw(entry, out);
  (void)complete;  // a stop leaves the options written so far in place
  return static_cast<int>(out.bytes.size() - start);
}

void fill_vendor_area(Packet& packet, const HostEntry& entry, std::uint64_t bootFileSize,
                      int verbosity, std::span<const std::uint8_t> leadingOptions) {
  apply_reply_length(packet, entry, verbosity);
  VendorWriter out{platform::wire::Writer(std::span(packet.buffer).subspan(offset::kVend)),
                   static_cast<int>(packet.length - offset::kVend)};
  out.bytes.bytes(kRfc1048Cookie);
  if (!leadingOptions.empty()) out.bytes.bytes(leadingOptions);
  out.room -= static_cast<int>(kCookieSize + leadingOptions.size());
  put_first_group(entry, bootFileSize, out);
  if (entry.has(Flag::ExtensionFile)) {
    put_extension_file(entry, out);
    return;
  }

  out.room -= kEndOption;  // kept back for the end option, which therefore always fits
  append_host_options(entry, out);
  out.bytes.u8(kEnd);
  for (int i = 0; i < out.room; ++i) out.bytes.u8(0);
}

}  // namespace bootp
