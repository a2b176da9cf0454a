// Answering one request: is it ours, whose entry is it, what address, server and boot file
// does it get; then the ARP entry and the send, both kept to the adapter's network. Every
// read of the request stays inside its fields, whatever the client put in hlen, sname or file.
#include "bootp/request.h"

#include <algorithm>
#include <cerrno>

#include "bootp/adapter.h"
#include "bootp/dhcp.h"
#include "bootp/host_table.h"
#include "bootp/hw_address.h"
#include "bootp/report.h"
#include "bootp/vendor.h"
#include "core/commands.h"
#include "core/flash_state.h"
#include "platform/fs.h"
#include "platform/interfaces.h"

namespace bootp {

namespace {

// sname names the server the client wants; empty means any. A name that fills the field
// without a terminator compares by its 64 bytes.
bool meant_for_us(const MessageView& message, const std::string& ownHostName) {
  const std::string_view wanted = message.sname_text();
  return wanted.empty() || wanted == ownHostName;
}

void fill_sname(MessageView message, const std::string& ownHostName) {
  auto sname = message.sname();
  std::fill(sname.begin(), sname.end(), 0);
  std::copy_n(ownHostName.begin(), std::min(ownHostName.size(), sname.size()), sname.begin());
}

HostEntry* find_by_ip(const ServerState& state, std::uint32_t ciaddr_net) {
  HostEntry* entry = find_by_ip_address(state.table, ciaddr_net);
  if (entry == nullptr && state.verbosity > 0)
    bootp_report(kNotice, "IP address not found: %s", platform::inet_ntoa(ciaddr_net).c_str());
  return entry;
}

HostEntry* find_by_hw(const ServerState& state, MessageView message) {
  const std::uint8_t type = message.htype();
  const std::size_t length = hw_address_length(type);
  const int verbosity = state.verbosity;
  if (verbosity > 1)
    bootp_report(kInfo, "request from %s address %s", hw_type_name(type),
                 hw_text(message.chaddr(), message.hlen()).c_str());
  if (message.hlen() != length)
    bootp_report(kNotice, "bad addr len from from %s address %s", hw_type_name(type),
                 hw_text(message.chaddr(), message.hlen()).c_str());
  const auto address = std::span<const std::uint8_t>(message.chaddr()).first(length);
  HostEntry* entry = find_by_hw_address(state.table, type, address);
  if (entry == nullptr && type == kIeee802) {
    std::array<std::uint8_t, kChaddrSize> reversed{};
    reverse_bits_802(address, reversed);
    if (verbosity > 1)
      bootp_report(kInfo, "HW addr type is IEEE 802.  convert to %s and check again\n",
                   hw_text(reversed, length).c_str());
    entry = find_by_hw_address(state.table, type, std::span(reversed).first(length));
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
std::optional<BootFile> locate_boot_file(const MessageView& message, const HostEntry& entry,
                                         int verbosity) {
  std::string serverPath =
      entry.has(Flag::TftpDir) && entry.tftpDir ? entry.tftpDir->text : std::string();
  const std::size_t clientStart = serverPath.size();

  std::optional<std::string> directory;
  std::optional<std::string> file;
  const std::string requested(message.file_text());
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

std::optional<std::uint64_t> file_size_of(const std::string& path) {
  const auto status = platform::file_status(path);
  if (!status || !status->othersCanRead) return std::nullopt;
  return status->size;
}

HostEntry* find_client(ServerState& state, bool byHardwareAddress) {
  MessageView message = state.packet.view();
  if (!meant_for_us(message, state.ownHostName)) {
    if (state.verbosity > 0)
      bootp_report(kInfo, "ignoring request for server %s from client at %s address %s",
                   std::string(message.sname_text()).c_str(), hw_type_name(message.htype()),
                   hw_text(message.chaddr(), message.hlen()).c_str());
    return nullptr;
  }
  if (message.sname_text().empty()) fill_sname(message, state.ownHostName);
  message.set_op(kBootReply);

  HostEntry* entry = nullptr;
  if (!byHardwareAddress) {
    if (state.verbosity > 1)
      bootp_report(kInfo, "request from IP addr %s",
                   platform::inet_ntoa(message.ciaddr_net()).c_str());
    entry = find_by_ip(state, message.ciaddr_net());
  } else {
    entry = find_by_hw(state, message);
  }
  if (entry == nullptr) return nullptr;
  if (state.verbosity > 0)
    bootp_report(kInfo, "found %s (%s)", platform::inet_ntoa(entry->ipAddress).c_str(),
                 entry->name().c_str());

  if (entry->has(Flag::MinWait) && message.secs() < entry->minWait) {
    if (state.verbosity > 1)
      bootp_report(kInfo, "ignoring request due to timestamp (%d < %u)", message.secs(),
                   entry->minWait);
    return nullptr;
  }
  return entry;
}

bool fill_reply(ServerState& state, HostEntry& entry,
                std::span<const std::uint8_t> leadingOptions) {
  MessageView message = state.packet.view();
  const std::uint32_t serverAddress = flash_state().serverAddress.load();
  entry.bootServer = serverAddress;
  message.set_siaddr_net(entry.has(Flag::BootServer) ? serverAddress : 0);

  const auto bootFile = locate_boot_file(message, entry, state.verbosity);
  if (!bootFile) return false;
  write_file_field(message, bootFile->clientPath);
  if (state.verbosity > 2) bootp_report(kInfo, "bootfile=\"%s\"", bootFile->clientPath.c_str());
  const auto vend = message.vend();
  if (state.verbosity > 1)
    bootp_report(kInfo, "vendor magic field is %d.%d.%d.%d", vend[0], vend[1], vend[2], vend[3]);

  if (entry.has(Flag::VendorCookie)) std::copy_n(entry.vendorCookie.begin(), 4, vend.begin());
  fill_vendor_area(state.packet, entry, bootFile->size, state.verbosity, leadingOptions);
  return true;
}

void serve_request(ServerState& state) {
  MessageView message = state.packet.view();
  // The hardware type table has 8 rows; a type beyond it names no known client.
  if (message.htype() >= kHardwareTypes.size()) return;
  // Read before anything of the reply is written over the request's options.
  const DhcpOptions dhcp = read_dhcp_options(state.packet);
  if (dhcp.messageType) return serve_dhcp(state, dhcp);

  const bool newAddress = message.ciaddr_net() == 0;
  HostEntry* entry = find_client(state, newAddress);
  if (entry == nullptr) return;
  if (newAddress) message.set_yiaddr_net(entry->ipAddress);
  if (!fill_reply(state, *entry, {})) return;
  if (state.verbosity > 1) bootp_report(kInfo, "sending reply (with RFC1048 options)");
  transmit_reply(state, false, entry->has(Flag::ReplyAddress) ? entry->replyAddress : 0);
}

void relay_reply(ServerState& state) {
  MessageView message = state.packet.view();
  // A relay agent passes on only replies that a server addressed to it (RFC 1542); anything
  // else would let whoever sends one choose a neighbour entry and a destination.
  if (!platform::interface_holding(message.giaddr_net())) {
    bootp_report(kNotice, "ignoring boot reply for %s address %s: giaddr %s is not ours",
                 hw_type_name(message.htype()), hw_text(message.chaddr(), message.hlen()).c_str(),
                 platform::inet_ntoa(message.giaddr_net()).c_str());
    return;
  }
  if (state.verbosity > 0) bootp_report(kInfo, "processing boot reply");
  transmit_reply(state, true, 0);
}

void transmit_reply(ServerState& state, bool forward, std::uint32_t override_net) {
  const MessageView message = state.packet.view();
  ReplyDestination destination{0, state.clientPort};
  if (override_net != 0) {
    destination.address_net = override_net;
    if (state.verbosity > 1)
      bootp_report(kInfo, "reply address override: %s", platform::inet_ntoa(override_net).c_str());
    // The override address is where the board will be reached, so it is paired with the
    // board's own hardware address.
    destination.neighbourEntry = true;
  } else if (message.ciaddr_net() != 0) {
    destination.address_net = message.ciaddr_net();
  } else if (message.giaddr_net() != 0 && !forward) {
    destination.address_net = message.giaddr_net();
    destination.port = state.serverPort;
    if (state.verbosity > 1)
      bootp_report(kInfo, "sending reply to gateway %s",
                   platform::inet_ntoa(destination.address_net).c_str());
  } else {
    destination.address_net = message.yiaddr_net();
    destination.neighbourEntry = true;
  }
  send_reply(state, destination, !forward);
}

void send_reply(ServerState& state, const ReplyDestination& destination, bool fillSiaddr) {
  MessageView message = state.packet.view();
  const std::string address = platform::inet_ntoa(destination.address_net);
  if (!destination.broadcast && !on_adapter_network(state, destination.address_net)) {
    bootp_report(kNotice, "not sending reply to %s: not on the network of %s", address.c_str(),
                 state.adapter ? state.adapter->interface_name.c_str() : "the chosen adapter");
    return;
  }
  if (destination.neighbourEntry) {
    const std::size_t hwLength = std::min<std::size_t>(message.hlen(), kMaxHwText);
    const auto hwAddress = std::span<const std::uint8_t>(message.chaddr()).first(hwLength);
    if (state.verbosity > 1)
      bootp_report(kInfo, "setarp %s - %s", address.c_str(), hw_text(hwAddress, hwLength).c_str());
    setarp(state, destination.address_net, message.htype() == 0 ? 1 : message.htype(), hwAddress);
  }
  if (fillSiaddr && message.siaddr_net() == 0) message.set_siaddr_net(state.ownAddress);

  const auto bytes = std::span<const std::uint8_t>(state.packet.buffer).first(state.packet.length);
  const platform::Endpoint to{destination.address_net, destination.port};
  const long sent = destination.broadcast && state.adapter
                        ? state.serverSocket.send_out_of(bytes, to, state.adapter->index)
                        : state.serverSocket.send_to(bytes, to);
  if (sent < 0) bootp_report(kError, "sendto: %s", platform::error_text(errno).c_str());
}

void setarp(const ServerState& state, std::uint32_t address_net, int,
            std::span<const std::uint8_t> hwAddress) {
  const std::string address = platform::inet_ntoa(address_net);
  const std::string remove = "-d " + address;
  const std::string add = "-s " + address + " " + hw_text(hwAddress, hwAddress.size());
  if (state.verbosity > 2) bootp_report(kInfo, "%s", remove.c_str());
  exec_command("arp", remove.c_str());
  exec_command("arp", add.c_str());
}

void serve_datagram(ServerState& state, std::span<const std::uint8_t> datagram) {
  std::copy(datagram.begin(), datagram.end(), state.packet.buffer.begin());
  state.packet.length = datagram.size();
  state.packet.receivedLength = datagram.size();
  read_host_table(state, false);
  switch (state.packet.view().op()) {
    case kBootRequest:
      serve_request(state);
      break;
    case kBootReply:
      relay_reply(state);
      break;
    default:
      break;
  }
}

}  // namespace bootp
