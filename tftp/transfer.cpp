// The TFTP thread's body and protocol engine. Every step is triggered by one received
// datagram; the handlers below are named for the protocol step they take. Block numbers
// wrap after 65535 as boot loaders and common clients expect, so images of any size finish.
#include "tftp/transfer.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "core/flash_state.h"
#include "platform/exit.h"
#include "tftp/file_access.h"
#include "tftp/tftp_server.h"

namespace {

TransferState g_xfer;

constexpr int kReadRequest = 1;
constexpr int kWriteRequest = 2;

int load_be16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return (bytes[offset] << 8) | bytes[offset + 1];
}

void store_be16(std::uint8_t* at, int value) {
  at[0] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  at[1] = static_cast<std::uint8_t>(value & 0xFF);
}

enum class BlockOrder : std::uint8_t { Awaited, Previous, Behind, Ahead };

// Compared modulo 65536 so that the wrap after block 65535 is seen as the next block; below
// the wrap this is the plain comparison of the numbers.
BlockOrder order_of(int received, int awaited) {
  const int awaited16 = awaited & 0xFFFF;
  if (received == awaited16) return BlockOrder::Awaited;
  if (received == ((awaited - 1) & 0xFFFF)) return BlockOrder::Previous;
  return received < awaited16 - 1 ? BlockOrder::Behind : BlockOrder::Ahead;
}

void log_stray_block(BlockOrder order) {
  if (order == BlockOrder::Behind) tftp_log("recvblknum < nextblknum - 1");
  if (order == BlockOrder::Ahead) tftp_log("recvblknum > nextblknum");
}

// Reads and sends the next DATA block once the awaited ACK is in (or for the request).
int send_next_block() {
  const int n = file_read(g_xfer.localfile, g_xfer.sendpkt.data() + 4, kBlockSize, g_xfer.xfermode);
  // A read error ends the transfer. With no receive left to time out, nothing else would
  // ever listen on the request port again: ask the dialog for a fresh thread at once.
  if (n < 0) {
    flash_state().restartRequested.store(true);
    return -1;
  }
  // The short last block has been acknowledged: the transfer is complete.
  if (n == 0 && g_xfer.lastdatalen < kBlockSize) return -1;
  g_xfer.lastdatalen = n;
  g_xfer.nextblknum += 1;
  flash_state().bytesSent.fetch_add(n, std::memory_order_relaxed);
  send_data(g_xfer.nextblknum, n);
  return 0;
}

int handle_ack_number(int recvblknum) {
  const BlockOrder order = order_of(recvblknum, g_xfer.nextblknum);
  if (order == BlockOrder::Awaited) return send_next_block();
  // Boot loaders re-send their last ACK when they think DATA was lost; answering it with
  // nothing keeps the transfer lock-step (no Sorcerer's Apprentice duplicates).
  log_stray_block(order);
  return 0;
}

// The write transfer ends with the file: take it back from the dialog's reach first, so
// that the dialog's stop routine does not close it a second time.
void close_written_file() {
  std::FILE* stream = std::exchange(g_xfer.localfile, nullptr);
  flash_state().imageFile.exchange(nullptr);
  file_close(stream);
}

// An earlier run's stream that nobody closed (the restart leaves it open) is closed when a
// new request takes its place, so restarts do not leak descriptors.
void adopt_image_file(std::FILE* stream) {
  g_xfer.localfile = stream;
  std::FILE* stale = flash_state().imageFile.exchange(stream);
  if (stale != nullptr && stale != stream) file_close(stale);
}

std::string_view take_string(std::span<const std::uint8_t> body, std::size_t& i) {
  const std::size_t start = i;
  while (i < body.size() && body[i] != 0) ++i;
  return {reinterpret_cast<const char*>(body.data()) + start, i - start};
}

void check_readable(const char* name) {
  std::error_code error;
  const auto status = std::filesystem::status(name, error);
  if (error || !std::filesystem::exists(status)) send_error(2, "File cannot be read");
  if ((status.permissions() & std::filesystem::perms::others_read) ==
      std::filesystem::perms::none) {
    send_error(2, "File doesn't allow world read permission");
  }
}

// Row: opcode sent last (0 = nothing yet). Column: opcode just received.
constexpr Handler kDispatch[6][6] = {
    //   0         1 RRQ     2 WRQ     3 DATA    4 ACK     5 ERROR
    {on_botch, on_rrq, on_wrq, on_botch, on_botch, on_botch},             // nothing sent
    {on_botch, on_botch, on_botch, on_botch, on_botch, on_botch},         // RRQ sent
    {on_botch, on_botch, on_botch, on_botch, on_botch, on_botch},         // WRQ sent
    {on_botch, on_botch, on_botch, on_botch, on_ack, on_error_packet},    // DATA sent
    {on_botch, on_botch, on_botch, on_data, on_botch, on_error_packet},   // ACK sent
    {on_botch, on_botch, on_botch, on_botch, on_botch, on_error_packet},  // ERROR sent
};

}  // namespace

void TransferState::reset() {
  xfermode = kOctet;
  recvpkt.fill(0);
  sendpkt.fill(0);
  lastdatalen = 0;
  localfile = nullptr;
  nextblknum = 0;
  op_sent = 0;
  op_recv = 0;
}

TransferState& transfer_state() {
  return g_xfer;
}

void tftp_reset() {
  g_xfer.reset();
}

Handler dispatch_handler(int opSent, int opRecv, int length) {
  if (opSent < 0 || opSent > 5 || opRecv < 0 || opRecv > 5) return on_botch;
  const Handler handler = kDispatch[opSent][opRecv];
  // Without a whole block number there is nothing to acknowledge or to send on.
  if (length < 4 && (handler == on_ack || handler == on_data)) return on_botch;
  return handler;
}

void tftp_loop(int initialOpSent) {
  g_xfer.op_sent = initialOpSent;
  for (;;) {
    const int n = net_recv(g_xfer.recvpkt.data(), kMaxDatagram);
    if (net_stop_requested()) return;
    if (n < 0) tftp_log("net_recv error");
    if (n < 4) tftp_log("receive length = %d bytes", n);
    // A datagram without an opcode (or a failed receive) is dispatched as opcode 0, never
    // on what an earlier datagram left in the buffer.
    g_xfer.op_recv = n >= 2 ? load_be16(g_xfer.recvpkt, 0) : 0;
    if (n >= 2 && (g_xfer.op_recv < 1 || g_xfer.op_recv > 5)) {
      tftp_log("invalid opcode received: %d", g_xfer.op_recv);
    }
    const auto body = std::span<const std::uint8_t>(g_xfer.recvpkt).subspan(2, n >= 2 ? n - 2 : 0);
    if (dispatch_handler(g_xfer.op_sent, g_xfer.op_recv, n)(body) < 0) return;
  }
}

void tftp_server(const platform::StopToken& stop) {
  tftp_reset();
  net_set_stop_token(stop);
  net_init("tftp", 0);
  if constexpr (traceon) open_trace_log();
  net_open(0);
  if (!net_stop_requested()) tftp_loop(0);
  net_close();
}

void on_request(int kind, std::span<const std::uint8_t> body) {
  // The name and the mode are taken only from inside the datagram; an unterminated one ends
  // where the datagram does.
  std::size_t i = 0;
  const std::string_view nameBytes = take_string(body, i);
  if (i >= body.size()) tftp_log("Invalid filename");
  if (i < body.size()) ++i;
  const std::string_view modeBytes = take_string(body, i);
  if (i >= body.size()) tftp_log("Invalid Mode");

  char name[kMaxDatagram + 1];
  char rawMode[kMaxDatagram + 1];
  char mode[kMaxDatagram + 1];
  std::memcpy(name, nameBytes.data(), nameBytes.size());
  name[nameBytes.size()] = '\0';
  std::memcpy(rawMode, modeBytes.data(), modeBytes.size());
  rawMode[modeBytes.size()] = '\0';
  lower_copy(mode, rawMode);

  if (std::strcmp(mode, "netascii") == 0) {
    g_xfer.xfermode = kNetascii;
  } else if (std::strcmp(mode, "octet") == 0) {
    g_xfer.xfermode = kOctet;
  } else {
    send_error(4, "Mode isn't netascii or octet");
  }
  if (kind == kReadRequest) check_readable(name);
  // flash.bin in the current directory is the only file ever served or written.
  if (tftp_config().fileName != name) {
    send_error(2, "Permission denied, please restart server!");
  }
  std::FILE* stream = file_open(name, kind == kReadRequest ? "rb" : "wb", 0);
  if (stream == nullptr) send_error(1, "File cannot be read");
  adopt_image_file(stream);
}

int on_rrq(std::span<const std::uint8_t> body) {
  on_request(kReadRequest, body);
  // Starting from a full "previous block" makes an empty file go out as one empty DATA 1.
  g_xfer.lastdatalen = kBlockSize;
  return handle_ack_number(0);
}

int on_wrq(std::span<const std::uint8_t> body) {
  on_request(kWriteRequest, body);
  g_xfer.nextblknum = 1;
  send_ack(0);
  return 0;
}

int on_ack(std::span<const std::uint8_t> body) {
  const int recvblknum = load_be16(body, 0);
  if (body.size() != 2) {
    tftp_error_stream("ACK packet received with length = %d bytes",
                      static_cast<int>(body.size()) + 2);
  }
  return handle_ack_number(recvblknum);
}

int on_data(std::span<const std::uint8_t> body) {
  const int recvblknum = load_be16(body, 0);
  const auto data = body.subspan(2);
  const int n = static_cast<int>(data.size());
  if (n > kBlockSize) tftp_error_stream("data packet received with length = %d bytes", n);

  const BlockOrder order = order_of(recvblknum, g_xfer.nextblknum);
  if (order == BlockOrder::Awaited) {
    g_xfer.nextblknum += 1;
    if (n > 0) file_write(g_xfer.localfile, data.data(), n, g_xfer.xfermode);
    if (n < kBlockSize) close_written_file();
  } else {
    log_stray_block(order);
  }
  // Every DATA is acknowledged with its own number, repeated and out-of-order ones too.
  send_ack(recvblknum);
  return n == kBlockSize ? 0 : -1;
}

// Logged and waited out: the receive time-out then restarts the transfer.
int on_error_packet(std::span<const std::uint8_t>) {
  tftp_log("error received: op_sent = %d, op_recv = %d", g_xfer.op_sent, g_xfer.op_recv);
  return 1;
}

int on_botch(std::span<const std::uint8_t>) {
  tftp_log("protocol botch: op_sent = %d, op_recv = %d", g_xfer.op_sent, g_xfer.op_recv);
  return 1;
}

void send_ack(int block) {
  if constexpr (traceon) trace_line("sending ACK for block# %d", block);
  store_be16(g_xfer.sendpkt.data(), static_cast<int>(TftpOpcode::Ack));
  store_be16(g_xfer.sendpkt.data() + 2, block & 0xFFFF);
  net_send(g_xfer.sendpkt.data(), 4);
  g_xfer.op_sent = static_cast<int>(TftpOpcode::Ack);
}

void send_data(int block, int n) {
  if constexpr (traceon) trace_line("sending %d bytes of DATA with block# %d", n, block);
  store_be16(g_xfer.sendpkt.data(), static_cast<int>(TftpOpcode::Data));
  store_be16(g_xfer.sendpkt.data() + 2, block & 0xFFFF);
  net_send(g_xfer.sendpkt.data(), n + 4);
  g_xfer.op_sent = static_cast<int>(TftpOpcode::Data);
}

void send_error(int code, const char* message) {
  if constexpr (traceon) trace_line("sending ERROR, code = %d, string = %s", code, message);
  const std::size_t length = std::strlen(message);
  store_be16(g_xfer.sendpkt.data(), static_cast<int>(TftpOpcode::Error));
  store_be16(g_xfer.sendpkt.data() + 2, code);
  std::memcpy(g_xfer.sendpkt.data() + 4, message, length + 1);
  net_send(g_xfer.sendpkt.data(), static_cast<int>(4 + length + 1));
  net_close();
  // The board gives up on ERROR 1 and 2; the program simply closes, without a message.
  platform::exit_process(0);
}

void lower_copy(char* destination, const char* source) {
  for (; *source != '\0'; ++source, ++destination) {
    const auto c = static_cast<unsigned char>(*source);
    *destination = std::isupper(c) ? static_cast<char>(std::tolower(c)) : static_cast<char>(c);
  }
  *destination = '\0';
}
