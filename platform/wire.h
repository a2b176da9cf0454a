// Bytes on the wire: big-endian integers assembled byte by byte, and a reader and a writer
// over a span whose every step checks that its bytes are there. Alignment and the host's
// byte order never matter, and no packet is ever cast to a struct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace platform::wire {

inline std::uint16_t load_be16(std::span<const std::uint8_t, 2> bytes) {
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

inline std::uint32_t load_be32(std::span<const std::uint8_t, 4> bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

inline void store_be16(std::span<std::uint8_t, 2> bytes, std::uint16_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 8);
  bytes[1] = static_cast<std::uint8_t>(value);
}

inline void store_be32(std::span<std::uint8_t, 4> bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

// IPv4 addresses travel in network order: the first byte in memory is the first byte on the
// wire, so the 32-bit value is copied as it stands.
inline std::uint32_t load_net32(std::span<const std::uint8_t, 4> bytes) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data(), 4);
  return value;
}

inline void store_net32(std::span<std::uint8_t, 4> bytes, std::uint32_t value_net) {
  std::memcpy(bytes.data(), &value_net, 4);
}

// The bytes of a span from `offset` on, as a fixed-size span, or none when they are not all
// there.
template <std::size_t N>
std::optional<std::span<const std::uint8_t, N>> fixed_at(std::span<const std::uint8_t> bytes,
                                                         std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < N) return std::nullopt;
  return bytes.subspan(offset).first<N>();
}

// A NUL-terminated text field that may fill its whole width without a terminator.
inline std::string_view field_text(std::span<const std::uint8_t> field) {
  std::size_t length = 0;
  while (length < field.size() && field[length] != 0) ++length;
  return {reinterpret_cast<const char*>(field.data()), length};
}

// Reads forward through received bytes. A step that would pass the end reads nothing and
// answers none; the position then stays where it was.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

  std::size_t position() const { return m_position; }
  std::size_t remaining() const { return m_bytes.size() - m_position; }
  bool at_end() const { return remaining() == 0; }

  std::optional<std::uint8_t> u8() {
    if (remaining() < 1) return std::nullopt;
    return m_bytes[m_position++];
  }
  std::optional<std::uint16_t> be16() {
    auto field = fixed_at<2>(m_bytes, m_position);
    if (!field) return std::nullopt;
    m_position += 2;
    return load_be16(*field);
  }
  std::optional<std::uint32_t> be32() {
    auto field = fixed_at<4>(m_bytes, m_position);
    if (!field) return std::nullopt;
    m_position += 4;
    return load_be32(*field);
  }
  std::optional<std::span<const std::uint8_t>> bytes(std::size_t count) {
    if (remaining() < count) return std::nullopt;
    auto field = m_bytes.subspan(m_position, count);
    m_position += count;
    return field;
  }
  // Everything from here to the end.
  std::span<const std::uint8_t> rest() {
    auto field = m_bytes.subspan(m_position);
    m_position = m_bytes.size();
    return field;
  }
  // A text up to its NUL, which is passed over; none when no NUL comes before the end.
  std::optional<std::string_view> c_string() {
    const auto tail = m_bytes.subspan(m_position);
    const std::string_view text = field_text(tail);
    if (text.size() == tail.size()) return std::nullopt;
    m_position += text.size() + 1;
    return text;
  }

 private:
  std::span<const std::uint8_t> m_bytes;
  std::size_t m_position = 0;
};

// Writes forward into a buffer. A step that does not fit writes nothing and answers false;
// once one has failed, the writer stays failed, so a packet is either whole or refused.
class Writer {
 public:
  explicit Writer(std::span<std::uint8_t> buffer) : m_buffer(buffer) {}

  std::size_t size() const { return m_position; }
  std::size_t room() const { return m_buffer.size() - m_position; }
  bool ok() const { return m_ok; }
  std::span<const std::uint8_t> written() const { return m_buffer.first(m_position); }

  bool u8(std::uint8_t value) {
    if (!reserve(1)) return false;
    m_buffer[m_position++] = value;
    return true;
  }
  bool be16(std::uint16_t value) {
    if (!reserve(2)) return false;
    store_be16(m_buffer.subspan(m_position).first<2>(), value);
    m_position += 2;
    return true;
  }
  bool be32(std::uint32_t value) {
    if (!reserve(4)) return false;
    store_be32(m_buffer.subspan(m_position).first<4>(), value);
    m_position += 4;
    return true;
  }
  bool net32(std::uint32_t value_net) {
    if (!reserve(4)) return false;
    store_net32(m_buffer.subspan(m_position).first<4>(), value_net);
    m_position += 4;
    return true;
  }
  bool bytes(std::span<const std::uint8_t> data) {
    if (!reserve(data.size())) return false;
    if (data.empty()) return true;  // an empty span may hold no pointer at all
    std::memcpy(m_buffer.data() + m_position, data.data(), data.size());
    m_position += data.size();
    return true;
  }
  // The text and its NUL.
  bool c_string(std::string_view text) {
    if (!reserve(text.size() + 1)) return false;
    std::memcpy(m_buffer.data() + m_position, text.data(), text.size());
    m_position += text.size();
    m_buffer[m_position++] = 0;
    return true;
  }

 private:
  bool reserve(std::size_t count) {
    if (!m_ok || room() < count) m_ok = false;
    return m_ok;
  }

  std::span<std::uint8_t> m_buffer;
  std::size_t m_position = 0;
  bool m_ok = true;
};

}  // namespace platform::wire
