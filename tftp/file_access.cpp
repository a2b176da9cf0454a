// flash.bin block by block. Octet transfers bypass the stream's buffer and go straight to
// the descriptor, one read or write per block; netascii goes byte by byte through the
// stream because every LF and CR changes length on the wire (RFC 1350, Telnet line ends).
#include "tftp/file_access.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <utility>

#include "tftp/endpoint.h"
#include "tftp/tftp_server.h"
#include "tftp/transfer.h"

namespace {

constexpr int kCr = 13;
constexpr int kLf = 10;
constexpr int kNul = 0;

struct NetasciiState {
  int nextchar = -1;       // reading: the second byte of a pair, owed to the next call
  bool crpending = false;  // writing: a CR whose partner byte has not arrived yet
};

// Lives across calls and is not reset by file_close, which reports what was left over.
NetasciiState g_ascii;

long read_descriptor(std::FILE* stream, std::uint8_t* buffer, int count) {
#ifdef _WIN32
  return ::_read(::_fileno(stream), buffer, static_cast<unsigned>(count));
#else
  return ::read(::fileno(stream), buffer, static_cast<std::size_t>(count));
#endif
}

long write_descriptor(std::FILE* stream, const std::uint8_t* buffer, int count) {
#ifdef _WIN32
  return ::_write(::_fileno(stream), buffer, static_cast<unsigned>(count));
#else
  return ::write(::fileno(stream), buffer, static_cast<std::size_t>(count));
#endif
}

int read_octet(std::FILE* stream, std::uint8_t* buffer, int count) {
  const long n = read_descriptor(stream, buffer, count);
  if (n < 0) tftp_log("read error on local file");
  return static_cast<int>(n);
}

// LF goes out as CR LF and CR as CR NUL; the second byte of a pair that does not fit is
// owed to the next block.
int read_netascii(std::FILE* stream, std::uint8_t* buffer, int count) {
  int i = 0;
  while (i < count) {
    if (g_ascii.nextchar >= 0) {
      buffer[i++] = static_cast<std::uint8_t>(std::exchange(g_ascii.nextchar, -1));
      continue;
    }
    const int c = std::getc(stream);
    if (c == EOF) {
      if (std::ferror(stream)) tftp_log("read err from getc on local file");
      break;
    }
    if (c == kLf) {
      buffer[i++] = kCr;
      g_ascii.nextchar = kLf;
    } else if (c == kCr) {
      buffer[i++] = kCr;
      g_ascii.nextchar = kNul;
    } else {
      buffer[i++] = static_cast<std::uint8_t>(c);
    }
  }
  return i;
}

void write_octet(std::FILE* stream, const std::uint8_t* buffer, int count) {
  const long written = write_descriptor(stream, buffer, count);
  if (written != count) tftp_log("write error to local file, i = %d", static_cast<int>(written));
}

void put_byte(std::FILE* stream, int c) {
  if (std::putc(c, stream) == EOF) tftp_log("write error from putc to local file");
}

// CR LF becomes LF, CR NUL becomes CR; a CR followed by anything else is dropped.
void write_netascii(std::FILE* stream, const std::uint8_t* buffer, int count) {
  for (int i = 0; i < count; ++i) {
    const int c = buffer[i];
    if (g_ascii.crpending) {
      g_ascii.crpending = false;
      if (c == kLf) {
        put_byte(stream, kLf);
      } else if (c == kNul) {
        put_byte(stream, kCr);
      } else {
        // Printed as a signed byte: 0x80 and up show as eight hex digits.
        const int asSigned = static_cast<signed char>(static_cast<std::uint8_t>(c));
        tftp_log("CR followed by 0x%02x", static_cast<unsigned>(asSigned));
        put_byte(stream, c);
      }
    } else if (c == kCr) {
      g_ascii.crpending = true;
    } else {
      put_byte(stream, c);
    }
  }
}

}  // namespace

std::FILE* file_open(const char* path, const char* mode, int initialBlock) {
  std::FILE* stream = std::fopen(path, mode);
  if (stream == nullptr) return nullptr;
  transfer_state().nextblknum = initialBlock;
  g_ascii = NetasciiState{};
  if constexpr (traceon) trace_line("file_open: opened %s, mode = %s", path, mode);
  return stream;
}

void file_close(std::FILE* stream) {
  if (stream == nullptr) return;
  if (g_ascii.crpending) tftp_log("final character was a CR");
  if (g_ascii.nextchar >= 0) tftp_log("nextchar >= 0");
  if (std::fclose(stream) != 0) tftp_log("fclose error");
}

int file_read(std::FILE* stream, std::uint8_t* buffer, int count, int mode) {
  if (mode == kOctet) return read_octet(stream, buffer, count);
  if (mode == kNetascii) return read_netascii(stream, buffer, count);
  tftp_log("unknown MODE value");
  return 0;
}

void file_write(std::FILE* stream, const std::uint8_t* buffer, int count, int mode) {
  if (mode == kOctet) {
    write_octet(stream, buffer, count);
  } else if (mode == kNetascii) {
    write_netascii(stream, buffer, count);
  } else {
    tftp_log("unknown MODE value");
  }
}
