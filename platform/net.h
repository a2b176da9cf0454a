// IPv4 UDP sockets and address helpers for the servers. Addresses travel as 32-bit values
// in network byte order (the form inet_addr returns); ports in host byte order.
// Only this layer includes the socket headers.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/stop.h"

namespace platform {

inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;
inline constexpr std::uint32_t kInaddrAny = 0;

struct Endpoint {
  std::uint32_t address_net = 0;
  std::uint16_t port = 0;
  friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

// inet_addr's grammar: one to four parts, each decimal, octal (leading 0) or hex (0x), ended
// by the end of the text or a blank; kInaddrNone for anything else (and for 255.255.255.255
// itself). Written out here so that every system reads an address the same way.
std::uint32_t inet_addr(const char* text);
// Dotted decimal of a network-order address.
std::string inet_ntoa(std::uint32_t address_net);

std::uint32_t host_to_net32(std::uint32_t host);
std::uint32_t net_to_host32(std::uint32_t net);

struct RecvResult {
  enum class Status : std::uint8_t { Received, Stopped, Error, Interrupted, TimedOut };
  Status status = Status::Error;
  std::size_t length = 0;
  Endpoint from;
  // Where the datagram arrived: the system's number of the interface (0 when unknown) and
  // the address it was sent to (a broadcast address for a broadcast).
  std::uint32_t interfaceIndex = 0;
  std::uint32_t destination_net = 0;
  int error = 0;  // errno for Error
};

// Failures leave their cause in errno on every system (Windows' socket error codes are
// translated), so that error_text(errno) says what went wrong.
class UdpSocket {
 public:
  UdpSocket();
  ~UdpSocket();
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;

  // Creates the socket (closing one it had); false on failure.
  bool open();
  bool bind(Endpoint local);
  bool enable_broadcast();
  bool is_open() const;
  std::optional<Endpoint> local_endpoint() const;
  // The system's number for the socket, for trace lines only; -1 when there is none.
  long long handle_number() const;

  // Waits for one datagram, for the stop token, or (when given) for the limit to pass.
  // Datagrams longer than the buffer are truncated and reported with their truncated length.
  RecvResult receive(std::span<std::uint8_t> buffer, const StopToken& stop,
                     std::optional<std::chrono::milliseconds> limit = std::nullopt);
  // Whether a datagram waits to be received, or arrives within the limit (0: only a look);
  // the datagram stays queued.
  bool readable_within(std::chrono::milliseconds limit) const;
  // Number of bytes sent, or -1.
  long send_to(std::span<const std::uint8_t> bytes, Endpoint to);
  // The same, out of that interface whatever the routes say: a limited broadcast
  // (255.255.255.255) then reaches the one network the interface is cabled to.
  long send_out_of(std::span<const std::uint8_t> bytes, Endpoint to, std::uint32_t interfaceIndex);
  void close();

 private:
  // The system's socket and what its waits need; each system's implementation defines it.
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Fuzzing seam: while a hook is installed, every datagram that a UdpSocket would send, by
// send_to or send_out_of, is handed to the hook instead and its answer returned, so that the
// servers can be fed hostile input without a packet leaving the process. Only the fuzz
// targets install one; nullptr removes it.
using SendHook = long (*)(std::span<const std::uint8_t> bytes, Endpoint to);
void set_send_hook_for_fuzzing(SendHook hook);
SendHook send_hook();

// Starts the system's socket support and checks that this process can create an IPv4
// datagram socket at all (a system without IPv4, or a sandbox that forbids sockets, cannot
// serve a board). On Windows this is where Windows Sockets 2 is started; the sockets above
// start it themselves when nobody did.
bool sockets_available();

// The text of an errno value, for diagnostics.
std::string error_text(int error);

// Whether a failed call's errno means the process lacks the right (a port below 1024 without
// the privilege to bind it), as opposed to a port some other program holds.
bool is_permission_error(int error);

}  // namespace platform
