// flash.bin block by block. Octet transfers bypass the stream's buffer and go straight to
// the descriptor, one read or write per block; netascii goes byte by byte through the
// stream because every LF and CR changes length on the wire (RFC 1350, Telnet line ends).
#include "tftp/file_access.h"

#include <utility>

#include "platform/fs.h"
#include "tftp/endpoint.h"

namespace {

constexpr int kCr = 13;
constexpr int kLf = 10;
constexpr int kNul = 0;

int read_octet(std::FILE* stream, std::span<std::uint8_t> buffer) {
  const long n = platform::read_unbuffered(stream, buffer.data(), buffer.size());
  if (n < 0) tftp_log("read error on local file");
  return static_cast<int>(n);
}

// LF goes out as CR LF and CR as CR NUL; the second byte of a pair that does not fit is
// owed to the next block.
int read_netascii(TftpSession& session, std::FILE* stream, std::span<std::uint8_t> buffer) {
  std::size_t i = 0;
  while (i < buffer.size()) {
    if (session.nextchar >= 0) {
      buffer[i++] = static_cast<std::uint8_t>(std::exchange(session.nextchar, -1));
      continue;
    }
    const int c = std::getc(stream);
    if (c == EOF) {
      if (std::ferror(stream)) tftp_log("read err from getc on local file");
      break;
    }
    if (c == kLf) {
      buffer[i++] = kCr;
      session.nextchar = kLf;
    } else if (c == kCr) {
      buffer[i++] = kCr;
      session.nextchar = kNul;
    } else {
      buffer[i++] = static_cast<std::uint8_t>(c);
    }
  }
  return static_cast<int>(i);
}

void write_octet(std::FILE* stream, std::span<const std::uint8_t> data) {
  const long written = platform::write_unbuffered(stream, data.data(), data.size());
  if (written != static_cast<long>(data.size())) {
    tftp_log("write error to local file, i = %d", static_cast<int>(written));
  }
}

void put_byte(std::FILE* stream, int c) {
  if (std::putc(c, stream) == EOF) tftp_log("write error from putc to local file");
}

// The byte after a CR decides what the pair stood for: CR LF is a line feed, CR NUL a
// carriage return; after anything else the CR is dropped.
void write_pair_end(std::FILE* stream, std::uint8_t c) {
  if (c == kLf) {
    put_byte(stream, kLf);
  } else if (c == kNul) {
    put_byte(stream, kCr);
  } else {
    // Printed as a signed byte: 0x80 and up show as eight hex digits.
    const int asSigned = static_cast<signed char>(c);
    tftp_log("CR followed by 0x%02x", static_cast<unsigned>(asSigned));
    put_byte(stream, c);
  }
}

void write_netascii(TftpSession& session, std::FILE* stream, std::span<const std::uint8_t> data) {
  for (const std::uint8_t c : data) {
    if (session.crpending) {
      session.crpending = false;
      write_pair_end(stream, c);
    } else if (c == kCr) {
      session.crpending = true;
    } else {
      put_byte(stream, c);
    }
  }
}

}  // namespace

std::FILE* file_open(TftpSession& session, const char* path, const char* mode, int initialBlock) {
  std::FILE* stream = std::fopen(path, mode);
  if (stream == nullptr) return nullptr;
  session.nextblknum = initialBlock;
  session.nextchar = -1;
  session.crpending = false;
  if constexpr (traceon) trace_line("file_open: opened %s, mode = %s", path, mode);
  return stream;
}

void file_close(TftpSession& session, std::FILE* stream) {
  if (stream == nullptr) return;
  if (session.crpending) tftp_log("final character was a CR");
  if (session.nextchar >= 0) tftp_log("nextchar >= 0");
  if (std::fclose(stream) != 0) tftp_log("fclose error");
}

int file_read(TftpSession& session, std::FILE* stream, std::span<std::uint8_t> buffer, int mode) {
  if (mode == kOctet) return read_octet(stream, buffer);
  if (mode == kNetascii) return read_netascii(session, stream, buffer);
  tftp_log("unknown MODE value");
  return 0;
}

void file_write(TftpSession& session, std::FILE* stream, std::span<const std::uint8_t> data,
                int mode) {
  if (mode == kOctet) {
    write_octet(stream, data);
  } else if (mode == kNetascii) {
    write_netascii(session, stream, data);
  } else {
    tftp_log("unknown MODE value");
  }
}
