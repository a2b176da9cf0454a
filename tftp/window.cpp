// Each block in flight keeps its packet, header and all, in a slot of the window, so that a
// re-send is the same bytes again and a block is read from the file exactly once. The slots
// are sized once per transfer: nothing on the per-block path allocates.
#include "tftp/window.h"

#include <algorithm>
#include <climits>
#include <span>

#include "core/flash_state.h"
#include "platform/wire.h"
#include "tftp/endpoint.h"
#include "tftp/file_access.h"
#include "tftp/transfer.h"

namespace {

constexpr int kHeaderBytes = 4;

std::span<std::uint8_t> slot_of(TftpSession& session, int block) {
  const std::size_t size = kHeaderBytes + static_cast<std::size_t>(session.blksize);
  const int index = (block - 1) % session.windowsize;
  return std::span(session.window).subspan(static_cast<std::size_t>(index) * size, size);
}

int& length_of(TftpSession& session, int block) {
  return session.slotLength[static_cast<std::size_t>((block - 1) % session.windowsize)];
}

void transmit_block(TftpSession& session, int block) {
  const int n = length_of(session, block);
  if constexpr (traceon) trace_line("sending %d bytes of DATA with block# %d", n, block & 0xFFFF);
  net_send(session, slot_of(session, block).first(kHeaderBytes + static_cast<std::size_t>(n)));
}

// Reads the block into its slot behind its header; its data length, below 0 on a read error.
int read_block(TftpSession& session, int block) {
  const auto slot = slot_of(session, block);
  platform::wire::Writer header(slot);
  header.be16(static_cast<std::uint16_t>(TftpOpcode::Data));
  header.be16(static_cast<std::uint16_t>(block));
  const int n = file_read(session, session.localfile, slot.subspan(kHeaderBytes), session.xfermode);
  length_of(session, block) = std::max(n, 0);
  return n;
}

// Sends the blocks in flight from `from` on again, then reads and sends new ones until the
// window is full or the image's last block is out.
int send_window(TftpSession& session, int from) {
  for (int block = from; block <= session.sentBlocks; ++block) transmit_block(session, block);
  while (session.lastBlock == 0 && session.sentBlocks < session.ackedBlocks + session.windowsize) {
    const int block = session.sentBlocks + 1;
    const int n = read_block(session, block);
    if (n < 0) {
      session.end = TransferEnd::ReadError;
      return -1;
    }
    session.sentBlocks = block;
    transmit_block(session, block);
    if (n < session.blksize) {
      session.lastBlock = block;
      session.lastBlockSentAt = platform::now();
    }
  }
  session.op_sent = static_cast<int>(TftpOpcode::Data);
  return 0;
}

// The progress bar must not reach 100 % before the board has the image's end: until then
// (an image of whole blocks ends with an empty one) the count stays a byte short of it.
void publish_progress(const TftpSession& session) {
  std::int64_t shown = session.ackedBytes;
  const std::int32_t imageSize = flash_state().imageSize.load();
  const bool complete = session.lastBlock != 0 && session.ackedBlocks == session.lastBlock;
  if (!complete && imageSize > 0) shown = std::min<std::int64_t>(shown, imageSize - 1);
  flash_state().bytesSent.store(static_cast<std::int32_t>(std::min<std::int64_t>(shown, INT_MAX)),
                                std::memory_order_relaxed);
}

void acknowledge_up_to(TftpSession& session, int block) {
  for (int done = session.ackedBlocks + 1; done <= block; ++done)
    session.ackedBytes += length_of(session, done);
  session.ackedBlocks = block;
  publish_progress(session);
}

// A client that asked for a long time-out repeats itself that seldom: its silence counts only
// once it has had two chances to say that the last block did not arrive.
std::chrono::milliseconds silence_after_last_block(const TftpSession& session) {
  if (!session.timeoutOption) return kSilenceAfterLastBlock;
  return std::max<std::chrono::milliseconds>(kSilenceAfterLastBlock, 2 * *session.timeoutOption);
}

std::optional<platform::TimePoint> completion_deadline(const TftpSession& session) {
  if (!session.lastBlockSentAt || session.ackedBlocks == session.lastBlock) return std::nullopt;
  return std::max(*session.lastBlockSentAt, session.lastHeard) + silence_after_last_block(session);
}

int resend(TftpSession& session) {
  ++session.resends;
  if (!session.timeoutOption) {
    session.resendInterval = std::min(session.resendInterval * 2, kLongestResend);
  }
  session.resendAt.reset();
  if (session.resends < kMaxResends) session.resendAt = platform::now() + session.resendInterval;
  if (session.op_sent == static_cast<int>(TftpOpcode::Data))
    return send_window(session, session.ackedBlocks + 1);
  net_send(session, std::span(session.sendpkt).first(static_cast<std::size_t>(session.sendlen)));
  return 0;
}

}  // namespace

std::optional<platform::TimePoint> next_deadline(const TftpSession& session) {
  const auto done = completion_deadline(session);
  if (!session.resendAt) return done;
  return done ? std::min(*done, *session.resendAt) : session.resendAt;
}

void restart_resend_clock(TftpSession& session) {
  session.resends = 0;
  session.resendInterval =
      session.timeoutOption ? std::chrono::milliseconds(*session.timeoutOption) : kFirstResend;
  // Something new goes out only in answer to the client, so its datagram's moment is now.
  session.resendAt = session.lastHeard + session.resendInterval;
}

int start_reading(TftpSession& session) {
  // Sized for the window once; a later transfer with the same sizes reuses the memory.
  session.window.resize(static_cast<std::size_t>(session.windowsize) *
                        static_cast<std::size_t>(kHeaderBytes + session.blksize));
  session.ackedBlocks = 0;
  session.sentBlocks = 0;
  session.lastBlock = 0;
  session.ackedBytes = 0;
  session.lastBlockSentAt.reset();
  restart_resend_clock(session);
  return send_window(session, 1);
}

int on_read_ack(TftpSession& session, int number) {
  const int inFlight = session.sentBlocks - session.ackedBlocks;
  const int ahead = (number - session.ackedBlocks) & 0xFFFF;
  // The client repeats its last ACK when it thinks DATA was lost: the re-send clock answers
  // that, never the repeat itself (no Sorcerer's Apprentice duplicates).
  if (ahead == 0) return 0;
  if (ahead > inFlight) {
    tftp_log(number < (session.ackedBlocks & 0xFFFF) ? "recvblknum < nextblknum - 1"
                                                     : "recvblknum > nextblknum");
    return 0;
  }
  acknowledge_up_to(session, session.ackedBlocks + ahead);
  if (session.ackedBlocks == session.lastBlock) {
    session.end = TransferEnd::Complete;
    return -1;
  }
  // An ACK inside the window means the blocks after it were lost: the window moves on from
  // there (RFC 7440), and anything new goes out behind them.
  restart_resend_clock(session);
  return send_window(session, session.ackedBlocks + 1);
}

int on_transfer_deadline(TftpSession& session) {
  const platform::TimePoint now = platform::now();
  if (const auto done = completion_deadline(session); done && now >= *done) {
    tftp_log("no word from the client for %d s after the last block: taken as received\n",
             static_cast<int>(silence_after_last_block(session).count() / 1000));
    acknowledge_up_to(session, session.lastBlock);
    session.end = TransferEnd::Complete;
    return -1;
  }
  if (session.resendAt && now >= *session.resendAt) return resend(session);
  return 0;
}
