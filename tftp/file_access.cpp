// flash.bin block by block. Octet transfers bypass the stream's buffer and go straight to
// the descriptor, one read or write per block; netascii goes byte by byte through the
// stream because every LF and CR changes length on the wire (RFC 1350, Telnet line ends).
// An upload goes to a private file that replaces flash.bin only once it is whole.
#include "tftp/file_access.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "core/file_names.h"
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

bool write_octet(std::FILE* stream, std::span<const std::uint8_t> data) {
  const long written = platform::write_unbuffered(stream, data.data(), data.size());
  if (written == static_cast<long>(data.size())) return true;
  tftp_log("write error to local file, i = %d", static_cast<int>(written));
  return false;
}

bool put_byte(std::FILE* stream, int c) {
  if (std::putc(c, stream) != EOF) return true;
  tftp_log("write error from putc to local file");
  return false;
}

// The byte after a CR decides what the pair stood for: CR LF is a line feed, CR NUL a
// carriage return; after anything else the CR is dropped.
bool write_pair_end(std::FILE* stream, std::uint8_t c) {
  if (c == kLf) return put_byte(stream, kLf);
  if (c == kNul) return put_byte(stream, kCr);
  // Printed as a signed byte: 0x80 and up show as eight hex digits.
  const int asSigned = c < 0x80 ? c : c - 0x100;
  tftp_log("CR followed by 0x%02x", static_cast<unsigned>(asSigned));
  return put_byte(stream, c);
}

// A failed byte is reported and the rest still written, as the transfer goes on; the result
// says whether the file is whole.
bool write_netascii(TftpSession& session, std::FILE* stream, std::span<const std::uint8_t> data) {
  bool whole = true;
  for (const std::uint8_t c : data) {
    if (session.crpending) {
      session.crpending = false;
      whole = write_pair_end(stream, c) && whole;
    } else if (c == kCr) {
      session.crpending = true;
    } else {
      whole = put_byte(stream, c) && whole;
    }
  }
  return whole;
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

bool file_close(TftpSession& session, std::FILE* stream) {
  if (stream == nullptr) return true;
  if (session.crpending) tftp_log("final character was a CR");
  if (session.nextchar >= 0) tftp_log("nextchar >= 0");
  if (std::fclose(stream) == 0) return true;
  tftp_log("fclose error");
  return false;
}

int file_read(TftpSession& session, std::FILE* stream, std::span<std::uint8_t> buffer, int mode) {
  if (mode == kOctet) return read_octet(stream, buffer);
  if (mode == kNetascii) return read_netascii(session, stream, buffer);
  tftp_log("unknown MODE value");
  return 0;
}

bool file_write(TftpSession& session, std::FILE* stream, std::span<const std::uint8_t> data,
                int mode) {
  if (mode == kOctet) return write_octet(stream, data);
  if (mode == kNetascii) return write_netascii(session, stream, data);
  tftp_log("unknown MODE value");
  return false;
}

bool begin_upload(TftpSession& session) {
  auto upload = platform::create_temporary_beside(kImageFileName);
  if (!upload) return false;
  session.localfile = upload->stream;
  session.uploadPath = std::move(upload->path);
  session.nextchar = -1;
  session.crpending = false;
  return true;
}

bool finish_upload(TftpSession& session) {
  const bool closed = file_close(session, std::exchange(session.localfile, nullptr));
  std::error_code error;
  if (closed) std::filesystem::rename(session.uploadPath, kImageFileName, error);
  if (closed && !error) {
    session.uploadPath.clear();
    return true;
  }
  if (error)
    tftp_log("cannot put the upload in place of %s: %s\n", kImageFileName, error.message().c_str());
  abort_upload(session);
  return false;
}

void abort_upload(TftpSession& session) {
  if (session.uploadPath.empty()) return;
  if (session.localfile != nullptr) std::fclose(std::exchange(session.localfile, nullptr));
  std::error_code ignored;
  std::filesystem::remove(session.uploadPath, ignored);
  session.uploadPath.clear();
}
