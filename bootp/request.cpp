// Answering one request: is it ours, whose entry is it, what address, server and boot file
// does it get; then the ARP entry and the send. Every read of the request stays inside its
// fields, whatever the client put in hlen, sname or file.
#include "bootp/request.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "bootp/host_table.h"
#include "bootp/vendor.h"
#include "core/commands.h"
#include "core/flash_state.h"

namespace bootp {

namespace {

constexpr std::size_t kMaxHwText = 8;

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

// sname names the server the client wants; empty means any. A name that fills the field
// without a terminator compares by its 64 bytes.
bool meant_for_us(MessageView message, const std::string& ownHostName) {
  const std::string_view wanted = field_text(message.sname());
  return wanted.empty() || wanted == ownHostName;
}

void fill_sname(MessageView message, const std::string& ownHostName) {
  auto sname = message.sname();
  std::fill(sname.begin(), sname.end(), 0);
  std::copy_n(ownHostName.begin(), std::min(ownHostName.size(), sname.size()), sname.begin());
}

HostEntry* find_by_ip(std::uint32_t ciaddr_net, int verbosity) {
  HostEntry key;
  key.ipAddress = ciaddr_net;
  HostEntry* entry = hash_Find(*host_table().ipIndex, ip_hash(ciaddr_net), same_ip, key);
  if (entry == nullptr && verbosity > 0)
    bootp_report(kNotice, "IP address not found: %s", platform::inet_ntoa(ciaddr_net).c_str());
  return entry;
}

HostEntry* find_by_hw(MessageView message, int verbosity) {
  const std::uint8_t type = message.htype();
  const std::size_t length = hw_address_length(type);
  if (verbosity > 1)
    bootp_report(kInfo, "request from %s address %s", hw_type_name(type),
                 hw_text(message.chaddr(), message.hlen()).c_str());
  if (message.hlen() != length)
    bootp_report(kNotice, "bad addr len from from %s address %s", hw_type_name(type),
                 hw_text(message.chaddr(), message.hlen()).c_str());
  HostEntry key;
  key.hwType = type;
  std::copy_n(message.chaddr().begin(), length, key.hwAddress.begin());
  const HashIndex<HostEntry>& index = *host_table().hwIndex;
  HostEntry* entry = hash_Find(index, hw_hash(key), same_hw, key);
  if (entry == nullptr && type == kIeee802) {
    std::array<std::uint8_t, 8> reversed{};
    reverse_bits_802(std::span(key.hwAddress).first(length), reversed);
    key.hwAddress = reversed;
    if (verbosity > 1)
      bootp_report(kInfo, "HW addr type is IEEE 802.  convert to %s and check again\n",
                   hw_text(key.hwAddress, length).c_str());
    entry = hash_Find(index, hw_hash(key), same_hw, key);
  }
  if (entry == nullptr && verbosity > 0)
    bootp_report(kNotice, "unknown client %s address %s", hw_type_name(type),
                 hw_text(message.chaddr(), message.hlen()).c_str());
  return entry;
}

struct BootFile {
  std::string clientPath;
  std::uint64_t size = 0;
};

// The boot file's name for the reply and its size. The server path (TFTP directory, then the
// client path) locates the file; "<file>.<entry name>" is preferred to "<file>". None when
// the path would not fit the path buffer.
std::optional<BootFile> locate_boot_file(MessageView message, const HostEntry& entry,
                                         int verbosity) {
  std::string serverPath =
      entry.has(Flag::TftpDir) && entry.tftpDir ? entry.tftpDir->text : std::string();
  const std::size_t clientStart = serverPath.size();

  std::optional<std::string> directory;
  std::optional<std::string> file;
  const std::string requested(field_text(message.file()));
  if (!requested.empty()) {
    const std::size_t slash = requested.rfind('/');
    if (slash == std::string::npos) {
      file = requested;
    } else {
      if (slash > 0) directory = requested.substr(0, slash);
      file = requested.substr(slash + 1);
    }
    if (verbosity > 2)
      bootp_report(kInfo, "requested path=\"%s\"  file=\"%s\"", directory.value_or("").c_str(),
                   file.value_or("").c_str());
  }
  if (entry.has(Flag::HomeDir) && entry.homeDir) directory = entry.homeDir->text;
  if (entry.has(Flag::BootFile) && entry.bootFile) file = entry.bootFile->text;

  if (directory) {
    if (!directory->starts_with('/')) serverPath += '/';
    serverPath += *directory;
    // A directory and a file name are joined with a separator, so "hd=/boot" with
    // "bf=flash.bin" names /boot/flash.bin.
    if (file && !file->empty() && !directory->ends_with('/')) serverPath += '/';
  }
  if (file) serverPath += *file;

  const std::size_t withoutSuffix = serverPath.size();
  serverPath += '.';
  serverPath += entry.name();
  if (serverPath.size() > kMaxServerPath) {
    bootp_report(kError, "boot file path too long for %s", entry.name().c_str());
    return std::nullopt;
  }
  BootFile found;
  auto size = file_size_of(serverPath);
  if (!size) {
    serverPath.resize(withoutSuffix);
    size = file_size_of(serverPath);
  }
  found.clientPath = serverPath.substr(clientStart);
  if (!size && entry.has(Flag::BootSizeAuto))
    bootp_report(kError, "can not determine size of file \"%s\"", found.clientPath.c_str());
  found.size = size.value_or(0);
  return found;
}

void write_file_field(MessageView message, const std::string& path) {
  auto field = message.file();
  std::fill(field.begin(), field.end(), 0);
  std::copy_n(path.begin(), std::min(path.size(), field.size()), field.begin());
}

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

std::optional<std::uint64_t> file_size_of(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status)) return std::nullopt;
  if ((status.permissions() & std::filesystem::perms::others_read) == std::filesystem::perms::none)
    return std::nullopt;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return std::nullopt;
  return size;
}

void serve_request(ServerState& state) {
  MessageView message = state.packet.view();
  // The hardware type table has 8 rows; a type beyond it names no known client.
  if (message.htype() >= kHardwareTypes.size()) return;
  if (!meant_for_us(message, state.ownHostName)) {
    if (state.verbosity > 0)
      bootp_report(kInfo, "ignoring request for server %s from client at %s address %s",
                   std::string(field_text(message.sname())).c_str(), hw_type_name(message.htype()),
                   hw_text(message.chaddr(), message.hlen()).c_str());
    return;
  }
  if (field_text(message.sname()).empty()) fill_sname(message, state.ownHostName);
  message.set_op(kBootReply);

  HostEntry* entry = nullptr;
  if (message.ciaddr_net() != 0) {
    if (state.verbosity > 1)
      bootp_report(kInfo, "request from IP addr %s",
                   platform::inet_ntoa(message.ciaddr_net()).c_str());
    entry = find_by_ip(message.ciaddr_net(), state.verbosity);
    if (entry == nullptr) return;
  } else {
    entry = find_by_hw(message, state.verbosity);
    if (entry == nullptr) return;
    message.set_yiaddr_net(entry->ipAddress);
  }
  if (state.verbosity > 0)
    bootp_report(kInfo, "found %s (%s)", platform::inet_ntoa(entry->ipAddress).c_str(),
                 entry->name().c_str());

  if (entry->has(Flag::MinWait) && message.secs() < entry->minWait) {
    if (state.verbosity > 1)
      bootp_report(kInfo, "ignoring request due to timestamp (%d < %u)", message.secs(),
                   entry->minWait);
    return;
  }

  const std::uint32_t serverAddress = flash_state().serverAddress.load();
  entry->bootServer = serverAddress;
  message.set_siaddr_net(entry->has(Flag::BootServer) ? serverAddress : 0);

  const auto bootFile = locate_boot_file(message, *entry, state.verbosity);
  if (!bootFile) return;
  write_file_field(message, bootFile->clientPath);
  if (state.verbosity > 2) bootp_report(kInfo, "bootfile=\"%s\"", bootFile->clientPath.c_str());
  const auto vend = message.vend();
  if (state.verbosity > 1)
    bootp_report(kInfo, "vendor magic field is %d.%d.%d.%d", vend[0], vend[1], vend[2], vend[3]);

  if (entry->has(Flag::VendorCookie)) std::copy_n(entry->vendorCookie.begin(), 4, vend.begin());
  fill_vendor_area(state.packet, *entry, bootFile->size, state.verbosity);
  if (state.verbosity > 1) bootp_report(kInfo, "sending reply (with RFC1048 options)");
  transmit_reply(state, false, entry->has(Flag::ReplyAddress) ? entry->replyAddress : 0);
}

void relay_reply(ServerState& state) {
  if (state.verbosity > 0) bootp_report(kInfo, "processing boot reply");
  transmit_reply(state, true, 0);
}

void transmit_reply(ServerState& state, bool forward, std::uint32_t override_net) {
  MessageView message = state.packet.view();
  std::uint16_t port = state.clientPort;
  std::uint32_t destination = 0;
  const std::size_t hwLength = std::min<std::size_t>(message.hlen(), kMaxHwText);
  const int type = message.htype() == 0 ? 1 : message.htype();

  if (override_net != 0) {
    destination = override_net;
    if (state.verbosity > 1)
      bootp_report(kInfo, "reply address override: %s", platform::inet_ntoa(destination).c_str());
    // The override address is where the board will be reached, so it is paired with the
    // board's own hardware address.
    setarp(destination, type, std::span(message.chaddr()).first(hwLength));
  } else if (message.ciaddr_net() != 0) {
    destination = message.ciaddr_net();
  } else if (message.giaddr_net() != 0 && !forward) {
    destination = message.giaddr_net();
    port = state.serverPort;
    if (state.verbosity > 1)
      bootp_report(kInfo, "sending reply to gateway %s", platform::inet_ntoa(destination).c_str());
  } else {
    destination = message.yiaddr_net();
    if (state.verbosity > 1)
      bootp_report(kInfo, "setarp %s - %s", platform::inet_ntoa(destination).c_str(),
                   hw_text(message.chaddr(), hwLength).c_str());
    setarp(destination, type, std::span(message.chaddr()).first(hwLength));
  }

  if (!forward && message.siaddr_net() == 0) message.set_siaddr_net(state.ownAddress);

  const auto bytes = std::span<const std::uint8_t>(state.packet.buffer).first(state.packet.length);
  if (state.serverSocket.send_to(bytes, {destination, port}) < 0)
    bootp_report(kError, "sendto: %s", platform::error_text(errno).c_str());
}

void setarp(std::uint32_t address_net, int, std::span<const std::uint8_t> hwAddress) {
  const std::string address = platform::inet_ntoa(address_net);
  const std::string remove = "-d " + address;
  const std::string add = "-s " + address + " " + hw_text(hwAddress, hwAddress.size());
  if (server_state().verbosity > 2) bootp_report(kInfo, "%s", remove.c_str());
  exec_command("arp", remove.c_str());
  exec_command("arp", add.c_str());
}

}  // namespace bootp
