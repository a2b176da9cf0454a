// The protocol engine. Every step is triggered by one received datagram or by a deadline of
// the transfer's clock; the handlers below are named for the protocol step they take. Block
// numbers wrap after 65535 as boot loaders and common clients expect, so images of any size
// finish.
#include "tftp/transfer.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "core/fatal_box.h"
#include "core/file_names.h"
#include "core/flash_state.h"
#include "platform/fs.h"
#include "platform/interfaces.h"
#include "platform/wire.h"
#include "tftp/endpoint.h"
#include "tftp/file_access.h"
#include "tftp/options.h"
#include "tftp/tftp_server.h"
#include "tftp/window.h"

namespace {

namespace wire = platform::wire;

constexpr int kReadRequest = 1;
constexpr int kWriteRequest = 2;
constexpr const char* kUploadFailed = "The board's TFTP upload failed, flash.bin is unchanged";

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

// An earlier run's stream that nobody closed (the restart leaves it open) is closed when a
// new request takes its place, so restarts do not leak descriptors.
void adopt_image_file(TftpSession& session, std::FILE* stream) {
  session.localfile = stream;
  std::FILE* stale = flash_state().imageFile.exchange(stream);
  if (stale != nullptr && stale != stream) file_close(session, stale);
}

// The request reached the engine only once its name and mode were found whole.
std::string take_text(wire::Reader& reader) {
  return std::string(reader.c_string().value_or(""));
}

void check_readable(TftpSession& session) {
  const auto status = platform::file_status(session.requestName);
  if (!status) send_error(session, 2, "File cannot be read");
  if (!status->othersCanRead) send_error(session, 2, "File doesn't allow world read permission");
  session.imageBytes = status->size;
}

// The opcode and the 16-bit field after it (block number or error code), whose low 16 bits
// go on the wire.
wire::Writer start_packet(std::span<std::uint8_t> buffer, TftpOpcode opcode, int field) {
  wire::Writer packet(buffer);
  packet.be16(static_cast<std::uint16_t>(opcode));
  packet.be16(static_cast<std::uint16_t>(field));
  return packet;
}

void send_oack(TftpSession& session) {
  net_send(session, std::span(session.sendpkt).first(static_cast<std::size_t>(session.sendlen)));
  session.op_sent = static_cast<int>(TftpOpcode::Oack);
  restart_resend_clock(session);
}

// The ACK of a block that was not awaited goes out once and is never re-sent: the packet
// kept for re-sending stays the ACK of the last block taken.
void send_stray_ack(TftpSession& session, int block) {
  if constexpr (traceon) trace_line("sending ACK for block# %d", block);
  std::array<std::uint8_t, 4> packet{};
  net_send(session, start_packet(packet, TftpOpcode::Ack, block).written());
  session.op_sent = static_cast<int>(TftpOpcode::Ack);
}

// Row: opcode sent last (0 = nothing yet). Column: opcode just received.
// clang-format off
constexpr Handler kDispatch[7][6] = {
//   0         1 RRQ     2 WRQ     3 DATA    4 ACK     5 ERROR
    {on_botch, on_rrq,   on_wrq,   on_botch, on_botch, on_botch       },  // nothing sent
    {on_botch, on_botch, on_botch, on_botch, on_botch, on_botch       },  // RRQ sent
    {on_botch, on_botch, on_botch, on_botch, on_botch, on_botch       },  // WRQ sent
    {on_botch, on_botch, on_botch, on_botch, on_ack,   on_error_packet},  // DATA sent
    {on_botch, on_botch, on_botch, on_data,  on_botch, on_error_packet},  // ACK sent
    {on_botch, on_botch, on_botch, on_botch, on_botch, on_error_packet},  // ERROR sent
    {on_botch, on_botch, on_botch, on_data,  on_ack,   on_error_packet},  // OACK sent
};
// clang-format on

// An opcode beyond the table is a botch like any other unexpected packet.
Handler dispatch_handler(int opSent, int opRecv) {
  if (opSent < 0 || opSent > 6 || opRecv < 0 || opRecv > 5) return on_botch;
  return kDispatch[opSent][opRecv];
}

}  // namespace

void tftp_reset(TftpSession& session) {
  session.pendinglen = -1;
  session.pending = {};
  session.requestInterface = 0;
  session.adapterIndex.reset();
  session.reportedNoAdapter = false;
  session.armWatchdog = false;
  session.requestName.clear();
  session.requestMode.clear();
  session.reading = true;
  session.blksize = kBlockSize;
  session.windowsize = 1;
  session.timeoutOption.reset();
  session.recvpkt.fill(0);
  session.sendpkt.fill(0);
  session.sendlen = 0;
  session.op_sent = 0;
  session.op_recv = 0;
  session.end = TransferEnd::Running;
  session.nextblknum = 0;
  session.uploadPath.clear();
  session.ackedBlocks = 0;
  session.sentBlocks = 0;
  session.lastBlock = 0;
  session.ackedBytes = 0;
  session.imageBytes = 0;
  session.resendAt.reset();
  session.resends = 0;
  session.lastBlockSentAt.reset();
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
    if (n == kDeadlinePassed) {
      if (on_transfer_deadline(session) < 0) return;
      continue;
    }
    if (n < 0) tftp_log("net_recv error");
    if (n < 4) tftp_log("receive length = %d bytes", n);
    // Only the bytes of this datagram are read: a failed receive reads as an empty one, and
    // nothing that an earlier datagram left in the buffer is taken for this one's.
    const auto received = std::span<const std::uint8_t>(session.recvpkt).first(std::max(n, 0));
    if (tftp_handle_datagram(session, received) < 0) return;
  }
}

int tftp_handle_datagram(TftpSession& session, std::span<const std::uint8_t> datagram) {
  wire::Reader reader(datagram);
  const auto opcode = reader.be16();
  session.op_recv = opcode.value_or(0);
  if (opcode && (session.op_recv < 1 || session.op_recv > 5)) {
    tftp_log("invalid opcode received: %d", session.op_recv);
  }
  return dispatch_handler(session.op_sent, session.op_recv)(session, reader.rest());
}

bool on_request(TftpSession& session, int kind, std::span<const std::uint8_t> body) {
  wire::Reader reader(body);
  session.requestName = take_text(reader);
  session.requestMode = take_text(reader);
  session.reading = kind == kReadRequest;

  const std::string mode = lower_copy(session.requestMode);
  if (mode == "netascii") {
    session.xfermode = kNetascii;
  } else if (mode == "octet") {
    session.xfermode = kOctet;
  } else {
    send_error(session, 4, "Mode isn't netascii or octet");
  }
  // flash.bin in the current directory is the only file ever served or written, and no
  // other name is even looked up: every other name gets the same answer.
  if (session.requestName != kImageFileName) {
    send_error(session, 2, "Permission denied, please restart server!");
  }
  if (session.reading) {
    check_readable(session);
    std::FILE* stream = file_open(session, kImageFileName, "rb", 0);
    if (stream == nullptr) send_error(session, 1, "File cannot be read");
    adopt_image_file(session, stream);
  } else if (!begin_upload(session)) {
    send_error(session, 1, "File cannot be read");
  }
  const int blockCap = block_size_cap(platform::interface_mtu(session.requestInterface));
  return negotiate_options(session, reader.rest(), blockCap);
}

int on_rrq(TftpSession& session, std::span<const std::uint8_t> body) {
  // With options the client's ACK 0 of the OACK starts the data (RFC 2347).
  if (on_request(session, kReadRequest, body)) {
    send_oack(session);
    return 0;
  }
  return start_reading(session);
}

int on_wrq(TftpSession& session, std::span<const std::uint8_t> body) {
  const bool options = on_request(session, kWriteRequest, body);
  session.nextblknum = 1;
  if (options) {
    send_oack(session);
  } else {
    send_ack(session, 0);
  }
  return 0;
}

int on_ack(TftpSession& session, std::span<const std::uint8_t> body) {
  if (!session.reading) return on_botch(session, body);
  wire::Reader reader(body);
  const auto recvblknum = reader.be16();
  // Without a whole block number there is nothing to send on.
  if (!recvblknum) return on_botch(session, body);
  if (body.size() != 2) {
    tftp_log("ACK packet received with length = %d bytes", static_cast<int>(body.size()) + 2);
  }
  if (session.op_sent != static_cast<int>(TftpOpcode::Oack)) {
    return on_read_ack(session, *recvblknum);
  }
  if (*recvblknum == 0) return start_reading(session);
  log_stray_block(BlockOrder::Ahead);
  return 0;
}

int on_data(TftpSession& session, std::span<const std::uint8_t> body) {
  if (session.reading) return on_botch(session, body);
  wire::Reader reader(body);
  const auto recvblknum = reader.be16();
  // Without a whole block number there is nothing to acknowledge.
  if (!recvblknum) return on_botch(session, body);
  const auto data = reader.rest();
  const int n = static_cast<int>(data.size());
  if (n > session.blksize) tftp_log("data packet received with length = %d bytes", n);

  const BlockOrder order = order_of(*recvblknum, session.nextblknum);
  if (order == BlockOrder::Awaited) {
    session.nextblknum += 1;
    if (n > 0 && !file_write(session, session.localfile, data, session.xfermode)) {
      send_error(session, 3, "Disk full or allocation exceeded", kUploadFailed);
    }
    // Any block of another size is the last: the upload takes flash.bin's place before the
    // client hears that it arrived.
    if (n != session.blksize && !finish_upload(session)) {
      send_error(session, 2, "File cannot be written", kUploadFailed);
    }
    send_ack(session, *recvblknum);
  } else {
    log_stray_block(order);
    // Every DATA is acknowledged with its own number, repeated and out-of-order ones too.
    send_stray_ack(session, *recvblknum);
  }
  if (n == session.blksize) return 0;
  // A stray block of another size ends the upload unfinished: flash.bin stays as it was.
  abort_upload(session);
  session.end = TransferEnd::ListenAgain;
  return -1;
}

// Logged and waited out: the re-sends go on, and the receive time-out then restarts the
// transfer. Only a refusal of the options (ERROR 8, RFC 2347) ends it, quietly: the client
// may ask again.
int on_error_packet(TftpSession& session, std::span<const std::uint8_t> body) {
  tftp_log("error received: op_sent = %d, op_recv = %d", session.op_sent, session.op_recv);
  if (session.op_sent != static_cast<int>(TftpOpcode::Oack) || wire::Reader(body).be16() != 8) {
    return 1;
  }
  tftp_log("the client declined the options; awaiting a new request\n");
  abort_upload(session);
  session.end = TransferEnd::ListenAgain;
  return -1;
}

int on_botch(TftpSession& session, std::span<const std::uint8_t>) {
  tftp_log("protocol botch: op_sent = %d, op_recv = %d", session.op_sent, session.op_recv);
  return 1;
}

void send_ack(TftpSession& session, int block) {
  if constexpr (traceon) trace_line("sending ACK for block# %d", block);
  session.sendlen = 4;
  net_send(session, start_packet(session.sendpkt, TftpOpcode::Ack, block).written());
  session.op_sent = static_cast<int>(TftpOpcode::Ack);
  restart_resend_clock(session);
}

void send_error(TftpSession& session, int code, const char* message, const char* what) {
  if constexpr (traceon) trace_line("sending ERROR, code = %d, string = %s", code, message);
  wire::Writer packet = start_packet(session.sendpkt, TftpOpcode::Error, code);
  packet.c_string(message);
  net_send(session, packet.written());
  net_close(session);
  abort_upload(session);
  disarm_recv_timer(kRecvTimerId);
  // The board gives up on an ERROR (U-Boot: "Not retrying..."): the user must know why.
  const std::string text = std::string(what) + ": " + message + "\n(file \"" + session.requestName +
                           "\", mode \"" + session.requestMode + "\", from " +
                           platform::inet_ntoa(session.peeraddr.address_net) + ")";
  tftp_log("%s\n", text.c_str());
  fatal_box(text.c_str());
}

std::string lower_copy(std::string_view source) {
  std::string lowered;
  for (const char c : source) {
    const auto byte = static_cast<unsigned char>(c);
    lowered += std::isupper(byte) ? static_cast<char>(std::tolower(byte)) : c;
  }
  return lowered;
}
