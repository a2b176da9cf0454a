// Everything the BOOTP server keeps between two datagrams, in one record: the socket and the
// packet buffer, what it knows of its own host, and the host table with its three indexes.
// bootpd owns the one instance on the BOOTP thread and hands it down; nothing else keeps
// state of its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bootp/hash_table.h"
#include "bootp/host_entry.h"
#include "bootp/message.h"
#include "core/file_names.h"
#include "platform/interfaces.h"
#include "platform/net.h"

namespace bootp {

inline constexpr const char* kVersion = "2.4";
inline constexpr int kPatchLevel = 3;

// Resolves a host table name that has no ip field (network order), none when it does not.
using HostResolver = std::function<std::optional<std::uint32_t>(const std::string& name)>;

// The host table read from the file: the entries filed by hardware address, IP address and
// name (each entry is held once per index that files it), and when the file was read.
struct HostTable {
  std::string path = kHostTableFileName;
  HostResolver resolveHost;
  std::unique_ptr<HashIndex<HostEntry>> hwIndex;
  std::unique_ptr<HashIndex<HostEntry>> ipIndex;
  std::unique_ptr<HashIndex<HostEntry>> nameIndex;
  std::optional<std::filesystem::file_time_type> lastModified;  // none before the first read
  int entries = 0;
  int hosts = 0;
};

struct ServerState {
  Packet packet;
  platform::UdpSocket serverSocket;
  std::uint16_t serverPort = 67;
  std::uint16_t clientPort = 68;
  std::string ownHostName;       // at most 64 characters
  std::uint32_t ownAddress = 0;  // network order; fallback for siaddr
  // Threshold for informational messages, fixed at 1: the reports that explain why a request
  // goes unanswered (unknown client, another server named, the table read) reach the user.
  int verbosity = 1;
  int secondsWest = 0;  // the time offset that to=auto gives
  HostTable table;
  // The adapter the user confirmed (the interface holding serverAddress): only datagrams that
  // arrive on it are served, and replies go only to its network. None while no serverAddress
  // is set, and then every interface counts.
  std::optional<platform::InterfaceAddress> adapter;

  ServerState() = default;
  ~ServerState() { reset(); }
  ServerState(const ServerState&) = delete;
  ServerState& operator=(const ServerState&) = delete;

  // Back to the state before start-up: the socket closed, every entry released.
  void reset();
};

// Empties the three indexes, releasing each entry once per index that held it.
void clear_host_indexes(HostTable& table);

}  // namespace bootp
