// What the BOOTP tests share: a private working directory, files written into it, the
// reported messages, and requests built as annotated bytes.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bootp/message.h"
#include "bootp/server.h"
#include "platform/net.h"

namespace bootp::testing {

// A fresh directory that is the current directory while the object lives: the host table
// and the boot files are looked up relative to it.
class WorkingDirectory {
 public:
  WorkingDirectory() : m_previous(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kalvex-bootp-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
    std::filesystem::current_path(m_path);
  }
  ~WorkingDirectory() {
    std::filesystem::current_path(m_previous);
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_previous;
  std::filesystem::path m_path;
};

inline void write_file(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline void write_file_of_size(const std::filesystem::path& path, std::size_t size) {
  write_file(path, std::string(size, 'x'));
  std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write |
                                         std::filesystem::perms::others_read);
}

inline bool reported(const std::string& text, int severity = -1) {
  for (const ReportedMessage& message : bootp_reported_messages())
    if (message.text == text && (severity < 0 || message.severity == severity)) return true;
  return false;
}

inline std::string reported_texts() {
  std::string all;
  for (const ReportedMessage& message : bootp_reported_messages())
    all += std::to_string(message.severity) + " " + message.text + "\n";
  return all;
}

inline std::uint32_t address(const char* text) {
  return platform::inet_addr(text);
}

inline std::string hex(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

inline constexpr std::array<std::uint8_t, 6> kBoardMac{0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

// The canonical request: a board without an address asking any server, 300 bytes.
inline std::vector<std::uint8_t> boot_request(std::uint32_t xid = 0x11223344) {
  std::vector<std::uint8_t> request(kMinimumMessage, 0);
  request[0] = 0x01;  // op: BOOTREQUEST
  request[1] = 0x01;  // htype: Ethernet
  request[2] = 0x06;  // hlen
  request[3] = 0x00;  // hops
  store_be32(std::span<std::uint8_t, 4>(&request[4], 4), xid);
  // secs 0, ciaddr, yiaddr, siaddr, giaddr 0
  std::copy(kBoardMac.begin(), kBoardMac.end(), request.begin() + 28);  // chaddr
  // sname and file empty; vendor area: the RFC 1048 cookie, then the end option
  request[236] = 99;
  request[237] = 130;
  request[238] = 83;
  request[239] = 99;
  request[240] = 0xFF;
  return request;
}

inline void set_address_field(std::vector<std::uint8_t>& message, std::size_t at,
                              const char* text) {
  const std::uint32_t value = address(text);
  std::memcpy(&message[at], &value, 4);
}

inline std::uint32_t address_field(const std::vector<std::uint8_t>& message, std::size_t at) {
  std::uint32_t value = 0;
  std::memcpy(&value, &message[at], 4);
  return value;
}

inline std::string text_field(const std::vector<std::uint8_t>& message, std::size_t at,
                              std::size_t size) {
  return std::string(field_text(std::span(message).subspan(at, size)));
}

}  // namespace bootp::testing
