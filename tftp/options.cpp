// The option table and the OACK. Each row names an option, the values RFC 2347-2349 and
// 7440 allow, and the step that settles it; values outside the range leave the option out
// rather than refuse the request, since a client may always go on without an option.
#include "tftp/options.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string>
#include <string_view>

#include "platform/wire.h"

namespace {

namespace wire = platform::wire;

constexpr int kLargestBlock = 65464;  // RFC 2348
constexpr int kHeaderBytes = 28 + 4;  // IP and UDP, then TFTP's opcode and block number
constexpr std::uint32_t kEthernetMtu = 1500;

// The value the OACK names, or none to leave the option out.
using Take = std::optional<std::uint64_t> (*)(TftpSession& session, std::uint64_t asked,
                                              int blockCap);

struct OptionRule {
  std::string_view name;
  std::uint64_t least;
  std::uint64_t most;
  Take take;
};

std::optional<std::uint64_t> take_blksize(TftpSession& session, std::uint64_t asked, int cap) {
  // A smaller block than asked is the server's right (RFC 2348): the interface's MTU.
  session.blksize = static_cast<int>(std::min<std::uint64_t>(asked, static_cast<unsigned>(cap)));
  return session.blksize;
}

// A read names the image's size; a netascii image's size on the wire is not known before it
// has been sent, and curl takes a size of 0 for an invalid OACK. A write's size is the
// client's, echoed.
std::optional<std::uint64_t> take_tsize(TftpSession& session, std::uint64_t asked, int) {
  if (!session.reading) return asked;
  if (session.xfermode != kOctet || session.imageBytes == 0) return std::nullopt;
  return session.imageBytes;
}

std::optional<std::uint64_t> take_timeout(TftpSession& session, std::uint64_t asked, int) {
  session.timeoutOption = std::chrono::seconds(asked);
  return asked;
}

// Windows are for the image going out; an upload keeps RFC 1350's ACK for every block.
std::optional<std::uint64_t> take_windowsize(TftpSession& session, std::uint64_t asked, int) {
  if (!session.reading) return std::nullopt;
  session.windowsize = static_cast<int>(asked);
  return asked;
}

// clang-format off
constexpr std::array<OptionRule, 4> kOptions{{
//   name          least  most              take
    {"blksize",    8,     kLargestBlock,    take_blksize},
    {"tsize",      0,     UINT32_MAX,       take_tsize},
    {"timeout",    1,     255,              take_timeout},
    {"windowsize", 1,     kMaxWindow,       take_windowsize},
}};
// clang-format on

bool same_name(std::string_view asked, std::string_view known) {
  return std::ranges::equal(asked, known, [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

// Plain decimal digits only: no sign, no blanks, nothing that overflows.
std::optional<std::uint64_t> decimal(std::string_view text) {
  std::uint64_t value = 0;
  if (text.empty() || text.size() > 12) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

void add_pair(wire::Writer& oack, std::string_view name, std::uint64_t value) {
  oack.c_string(name);
  oack.c_string(std::to_string(value));
}

}  // namespace

int block_size_cap(std::optional<std::uint32_t> mtu) {
  const std::uint32_t size = mtu.value_or(kEthernetMtu);
  if (size < kHeaderBytes + 8) return 8;
  return static_cast<int>(std::min<std::uint32_t>(size - kHeaderBytes, kLargestBlock));
}

bool negotiate_options(TftpSession& session, std::span<const std::uint8_t> pairs, int blockCap) {
  wire::Reader reader(pairs);
  wire::Writer oack(session.sendpkt);
  oack.be16(static_cast<std::uint16_t>(TftpOpcode::Oack));
  std::array<bool, kOptions.size()> seen{};
  bool taken = false;
  for (auto name = reader.c_string(); name; name = reader.c_string()) {
    const auto value = reader.c_string();
    if (!value) break;
    const auto asked = decimal(*value);
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
      const OptionRule& rule = kOptions[i];
      if (!same_name(*name, rule.name) || seen[i]) continue;
      seen[i] = true;
      if (!asked || *asked < rule.least || *asked > rule.most) break;
      if (const auto named = rule.take(session, *asked, blockCap)) {
        add_pair(oack, rule.name, *named);
        taken = true;
      }
      break;
    }
  }
  session.sendlen = static_cast<int>(oack.size());
  return taken;
}
