// The protocol engine. Every step is triggered by one received datagram; the handlers below
// are named for the protocol step they take. Block numbers wrap after 65535 as boot loaders
// and common clients expect, so images of any size finish.
#include "tftp/transfer.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "core/file_names.h"
#include "core/flash_state.h"
#include "platform/exit.h"
#include "platform/fs.h"
#include "platform/wire.h"
#include "tftp/endpoint.h"
#include "tftp/file_access.h"

namespace {

namespace wire = platform::wire;

constexpr int kReadRequest = 1;
constexpr int kWriteRequest = 2;

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
int send_next_block(TftpSession& session) {
  const auto payload = std::span(session.sendpkt).subspan(4, kBlockSize);
  const int n = file_read(session, session.localfile, payload, session.xfermode);
  // A read error ends the transfer. With no receive left to time out, nothing else would
  // ever listen on the request port again: ask the dialog for a fresh thread at once.
  if (n < 0) {
    flash_state().restartRequested.store(true);
    return -1;
  }
  // The short last block has been acknowledged: the transfer is complete.
  if (n == 0 && session.lastdatalen < kBlockSize) return -1;
  session.lastdatalen = n;
  session.nextblknum += 1;
  flash_state().bytesSent.fetch_add(n, std::memory_order_relaxed);
  send_data(session, session.nextblknum, n);
  return 0;
}

int handle_ack_number(TftpSession& session, int recvblknum) {
  const BlockOrder order = order_of(recvblknum, session.nextblknum);
  if (order == BlockOrder::Awaited) return send_next_block(session);
  // Boot loaders re-send their last ACK when they think DATA was lost; answering it with
  // nothing keeps the transfer lock-step (no Sorcerer's Apprentice duplicates).
  log_stray_block(order);
  return 0;
}

// The write transfer ends with the file: take it back from the dialog's reach first, so
// that the dialog's stop routine does not close it a second time.
void close_written_file(TftpSession& session) {
  std::FILE* stream = std::exchange(session.localfile, nullptr);
  flash_state().imageFile.exchange(nullptr);
  file_close(session, stream);
}

// An earlier run's stream that nobody closed (the restart leaves it open) is closed when a
// new request takes its place, so restarts do not leak descriptors.
void adopt_image_file(TftpSession& session, std::FILE* stream) {
  session.localfile = stream;
  std::FILE* stale = flash_state().imageFile.exchange(stream);
  if (stale != nullptr && stale != stream) file_close(session, stale);
}

// A text up to its NUL. One that the datagram ends before its NUL is logged and taken as
// far as it goes, so nothing is ever read past the datagram.
std::string take_text(wire::Reader& reader, const char* complaint) {
  if (const auto text = reader.c_string()) return std::string(*text);
  tftp_log("%s", complaint);
  const auto rest = reader.rest();
  return std::string(rest.begin(), rest.end());
}

void check_readable(TftpSession& session, const std::string& name) {
  const auto status = platform::file_status(name);
  if (!status) send_error(session, 2, "File cannot be read");
  if (!status->othersCanRead) send_error(session, 2, "File doesn't allow world read permission");
}

// The opcode and the 16-bit field after it (block number or error code), whose low 16 bits
// go on the wire.
wire::Writer start_packet(TftpSession& session, TftpOpcode opcode, int field) {
  wire::Writer packet(session.sendpkt);
  packet.be16(static_cast<std::uint16_t>(opcode));
  packet.be16(static_cast<std::uint16_t>(field));
  return packet;
}

// Row: opcode sent last (0 = nothing yet). Column: opcode just received.
// clang-format off
constexpr Handler kDispatch[6][6] = {
//   0         1 RRQ     2 WRQ     3 DATA    4 ACK     5 ERROR
    {on_botch, on_rrq,   on_wrq,   on_botch, on_botch, on_botch       },  // nothing sent
    {on_botch, on_botch, on_botch, on_botch, on_botch, on_botch       },  // RRQ sent
    {on_botch, on_botch, on_botch, on_botch, on_botch, on_botch       },  // WRQ sent
    {on_botch, on_botch, on_botch, on_botch, on_ack,   on_error_packet},  // DATA sent
    {on_botch, on_botch, on_botch, on_data,  on_botch, on_error_packet},  // ACK sent
    {on_botch, on_botch, on_botch, on_botch, on_botch, on_error_packet},  // ERROR sent
};
// clang-format on

// An opcode beyond the table is a botch like any other unexpected packet.
Handler dispatch_handler(int opSent, int opRecv) {
  if (opSent < 0 || opSent > 5 || opRecv < 0 || opRecv > 5) return on_botch;
  return kDispatch[opSent][opRecv];
}

}  // namespace

void tftp_reset(TftpSession& session) {
  session.pendinglen = -1;
  session.firstrecv = false;
  session.recvpkt.fill(0);
  session.sendpkt.fill(0);
  session.op_sent = 0;
  session.op_recv = 0;
  session.nextblknum = 0;
  session.lastdatalen = 0;
  session.xfermode = kOctet;
  session.localfile = nullptr;
  session.nextchar = -1;
  session.crpending = false;
}

void tftp_loop(TftpSession& session, int initialOpSent) {
  session.op_sent = initialOpSent;
  for (;;) {
    const int n = net_recv(session, session.recvpkt);
    if (session.stop.stop_requested()) return;
    if (n < 0) tftp_log("net_recv error");
    if (n < 4) tftp_log("receive length = %d bytes", n);
    // Only the bytes of this datagram are read: a failed receive reads as an empty one, and
    // nothing that an earlier datagram left in the buffer is taken for this one's.
    const auto received = std::span<const std::uint8_t>(session.recvpkt).first(std::max(n, 0));
    wire::Reader reader(received);
    const auto opcode = reader.be16();
    session.op_recv = opcode.value_or(0);
    if (opcode && (session.op_recv < 1 || session.op_recv > 5)) {
      tftp_log("invalid opcode received: %d", session.op_recv);
    }
    if (dispatch_handler(session.op_sent, session.op_recv)(session, reader.rest()) < 0) return;
  }
}

void on_request(TftpSession& session, int kind, std::span<const std::uint8_t> body) {
  wire::Reader reader(body);
  const std::string name = take_text(reader, "Invalid filename");
  const std::string mode = lower_copy(take_text(reader, "Invalid Mode"));

  if (mode == "netascii") {
    session.xfermode = kNetascii;
  } else if (mode == "octet") {
    session.xfermode = kOctet;
  } else {
    send_error(session, 4, "Mode isn't netascii or octet");
  }
  if (kind == kReadRequest) check_readable(session, name);
  // flash.bin in the current directory is the only file ever served or written.
  if (name != kImageFileName) send_error(session, 2, "Permission denied, please restart server!");
  std::FILE* stream = file_open(session, name.c_str(), kind == kReadRequest ? "rb" : "wb", 0);
  if (stream == nullptr) send_error(session, 1, "File cannot be read");
  adopt_image_file(session, stream);
}

int on_rrq(TftpSession& session, std::span<const std::uint8_t> body) {
  on_request(session, kReadRequest, body);
  // Starting from a full "previous block" makes an empty file go out as one empty DATA 1.
  session.lastdatalen = kBlockSize;
  return handle_ack_number(session, 0);
}

int on_wrq(TftpSession& session, std::span<const std::uint8_t> body) {
  on_request(session, kWriteRequest, body);
  session.nextblknum = 1;
  send_ack(session, 0);
  return 0;
}

int on_ack(TftpSession& session, std::span<const std::uint8_t> body) {
  wire::Reader reader(body);
  const auto recvblknum = reader.be16();
  // Without a whole block number there is nothing to send on.
  if (!recvblknum) return on_botch(session, body);
  if (body.size() != 2) {
    tftp_log("ACK packet received with length = %d bytes", static_cast<int>(body.size()) + 2);
  }
  return handle_ack_number(session, *recvblknum);
}

int on_data(TftpSession& session, std::span<const std::uint8_t> body) {
  wire::Reader reader(body);
  const auto recvblknum = reader.be16();
  // Without a whole block number there is nothing to acknowledge.
  if (!recvblknum) return on_botch(session, body);
  const auto data = reader.rest();
  const int n = static_cast<int>(data.size());
  if (n > kBlockSize) tftp_log("data packet received with length = %d bytes", n);

  const BlockOrder order = order_of(*recvblknum, session.nextblknum);
  if (order == BlockOrder::Awaited) {
    session.nextblknum += 1;
    if (n > 0) file_write(session, session.localfile, data, session.xfermode);
    if (n < kBlockSize) close_written_file(session);
  } else {
    log_stray_block(order);
  }
  // Every DATA is acknowledged with its own number, repeated and out-of-order ones too.
  send_ack(session, *recvblknum);
  return n == kBlockSize ? 0 : -1;
}

// Logged and waited out: the receive time-out then restarts the transfer.
int on_error_packet(TftpSession& session, std::span<const std::uint8_t>) {
  tftp_log("error received: op_sent = %d, op_recv = %d", session.op_sent, session.op_recv);
  return 1;
}

int on_botch(TftpSession& session, std::span<const std::uint8_t>) {
  tftp_log("protocol botch: op_sent = %d, op_recv = %d", session.op_sent, session.op_recv);
  return 1;
}

void send_ack(TftpSession& session, int block) {
  if constexpr (traceon) trace_line("sending ACK for block# %d", block);
  net_send(session, start_packet(session, TftpOpcode::Ack, block).written());
  session.op_sent = static_cast<int>(TftpOpcode::Ack);
}

void send_data(TftpSession& session, int block, int n) {
  if constexpr (traceon) trace_line("sending %d bytes of DATA with block# %d", n, block);
  start_packet(session, TftpOpcode::Data, block);
  net_send(session, std::span<const std::uint8_t>(session.sendpkt).first(4 + n));
  session.op_sent = static_cast<int>(TftpOpcode::Data);
}

void send_error(TftpSession& session, int code, const char* message) {
  if constexpr (traceon) trace_line("sending ERROR, code = %d, string = %s", code, message);
  wire::Writer packet = start_packet(session, TftpOpcode::Error, code);
  packet.c_string(message);
  net_send(session, packet.written());
  net_close(session);
  // The board gives up on ERROR 1 and 2; the program simply closes, without a message.
  platform::exit_process(0);
}

std::string lower_copy(std::string_view source) {
  std::string lowered;
  for (const char c : source) {
    const auto byte = static_cast<unsigned char>(c);
    lowered += std::isupper(byte) ? static_cast<char>(std::tolower(byte)) : c;
  }
  return lowered;
}
