// Address conversion written out once for every system: inet_addr's grammar, dotted decimal
// and byte order, assembled byte by byte; and the send hook of the fuzz targets. The sockets
// are each system's own.
#include "platform/net.h"

#include <atomic>
#include <cerrno>

#include <cstdio>
#include <cstring>
#include <optional>

namespace platform {

namespace {

constexpr std::uint64_t kPartLimit = 0xFFFFFFFFu;

bool is_decimal(char c) {
  return c >= '0' && c <= '9';
}

std::optional<unsigned> digit_value(char c, unsigned base) {
  unsigned value = 16;
  if (c >= '0' && c <= '9') value = static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') value = static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') value = static_cast<unsigned>(c - 'A' + 10);
  if (value >= base) return std::nullopt;
  return value;
}

// One part as C reads an unsigned number: 0x for hex, a leading 0 for octal, else decimal.
// "0x" without a hex digit is the number 0 followed by an "x". Moves `at` past the part.
std::optional<std::uint32_t> read_part(const char*& at) {
  if (!is_decimal(*at)) return std::nullopt;
  unsigned base = 10;
  if (at[0] == '0') {
    base = 8;
    if ((at[1] == 'x' || at[1] == 'X') && digit_value(at[2], 16)) {
      base = 16;
      at += 2;
    }
  }
  std::uint64_t value = 0;
  bool tooBig = false;
  for (auto digit = digit_value(*at, base); digit; digit = digit_value(*++at, base)) {
    value = value * base + *digit;
    tooBig = tooBig || value > kPartLimit;
    if (tooBig) value = 0;
  }
  if (tooBig) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::atomic<SendHook> g_sendHook{nullptr};

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::uint32_t inet_addr(const char* text) {
  if (text == nullptr) return kInaddrNone;
  // The last part fills what the parts before it leave: a (32 bits), a.b (24), a.b.c (16).
  constexpr std::uint32_t kLastPartMax[4] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
  std::uint32_t leading = 0;
  int partsBefore = 0;
  const char* at = text;
  std::optional<std::uint32_t> part = read_part(at);
  while (part && *at == '.') {
    if (partsBefore == 3 || *part > 0xFF) return kInaddrNone;
    leading |= *part << (24 - 8 * partsBefore);
    ++partsBefore;
    part = read_part(++at);
  }
  if (!part || (*at != '\0' && !is_blank(*at))) return kInaddrNone;
  if (*part > kLastPartMax[partsBefore]) return kInaddrNone;
  return host_to_net32(leading | *part);
}

std::string inet_ntoa(std::uint32_t address_net) {
  const std::uint32_t host = net_to_host32(address_net);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", host >> 24, (host >> 16) & 0xFF,
                (host >> 8) & 0xFF, host & 0xFF);
  return text;
}

std::uint32_t host_to_net32(std::uint32_t host) {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(host >> 24), static_cast<std::uint8_t>(host >> 16),
      static_cast<std::uint8_t>(host >> 8), static_cast<std::uint8_t>(host)};
  std::uint32_t net;
  std::memcpy(&net, bytes, sizeof net);
  return net;
}

std::uint32_t net_to_host32(std::uint32_t net) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, &net, sizeof bytes);
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

void set_send_hook_for_fuzzing(SendHook hook) {
  g_sendHook = hook;
}

SendHook send_hook() {
  return g_sendHook.load();
}

bool is_permission_error(int error) {
  return error == EACCES || error == EPERM;
}

}  // namespace platform
