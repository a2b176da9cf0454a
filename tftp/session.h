// The state of the TFTP server, in one place: the socket and the client a transfer answers,
// the options agreed with it, the window of DATA blocks in flight with the deadlines that
// re-send and complete it, and the netascii pair that carries from one block to the next.
// One instance lives for the process; the thread body owns it and hands it to every step,
// and tftp_reset starts it afresh for each transfer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/net.h"
#include "platform/stop.h"

// The largest UDP payload: a DATA block of the largest size (RFC 2348's 65464 bytes) is
// never cut.
inline constexpr int kMaxDatagram = 65536;
// ACK, OACK and ERROR: a few option pairs or a message at most.
inline constexpr int kMaxControlPacket = 1024;
inline constexpr int kBlockSize = 512;  // RFC 1350's, unless the client asks for another
inline constexpr int kMaxWindow = 64;   // RFC 7440 windows: at most this many blocks in flight

enum class TftpOpcode : std::uint16_t { Rrq = 1, Wrq = 2, Data = 3, Ack = 4, Error = 5, Oack = 6 };

// The transfer modes as the file access takes them.
inline constexpr int kNetascii = 0;
inline constexpr int kOctet = 1;

// Why a transfer's loop ended.
enum class TransferEnd : std::uint8_t {
  Running,
  Complete,     // the board has the whole image: the thread's work is done
  ListenAgain,  // an upload ended or the client refused the options: await a new request
  ReadError,    // the image could not be read: the dialog is asked for a fresh thread
};

struct TftpSession {
  // The endpoint.
  platform::UdpSocket tftpsock;
  platform::StopToken stop;  // every blocking receive also waits on it
  // Kept across runs: a failed receive of the request leaves the previous client in place.
  platform::Endpoint peeraddr;
  // A datagram received but not yet handed out (the request, or one that came in after a
  // deadline had passed); -1 = none. `pending` says where it came from.
  int pendinglen = -1;
  platform::RecvResult pending;
  std::uint32_t requestInterface = 0;         // where the request came in
  std::optional<std::uint32_t> adapterIndex;  // the adapter the user confirmed, once found
  bool reportedNoAdapter = false;
  bool armWatchdog = false;  // the next receive restarts the receive time-out

  // The request, as the board sent it, for the message of a refusal.
  std::string requestName;
  std::string requestMode;
  bool reading = true;

  // What the options settled (RFC 2347-2349, 7440); RFC 1350's values without them.
  int blksize = kBlockSize;
  int windowsize = 1;
  std::optional<std::chrono::seconds> timeoutOption;

  std::array<std::uint8_t, kMaxDatagram> recvpkt{};
  // The last ACK or OACK, kept for re-sending, or an ERROR.
  std::array<std::uint8_t, kMaxControlPacket> sendpkt{};
  int sendlen = 0;
  int op_sent = 0;  // 0 = nothing sent yet
  int op_recv = 0;
  TransferEnd end = TransferEnd::Running;

  // Write transfer: the DATA block awaited, counted past 65535 (the wire carries its low 16
  // bits), and the private file that becomes flash.bin once the last block is in.
  int nextblknum = 0;
  std::string uploadPath;

  // Read transfer: blocks counted from 1 past 65535. Blocks ackedBlocks + 1 ... sentBlocks
  // are in flight; each has its slot of 4 + blksize bytes, packet as sent.
  int ackedBlocks = 0;
  int sentBlocks = 0;
  int lastBlock = 0;  // the short block that ends the image, once read; 0 = not yet
  std::vector<std::uint8_t> window;
  std::array<int, kMaxWindow> slotLength{};  // data bytes (as on the wire) in each slot
  std::int64_t ackedBytes = 0;
  std::uint64_t imageBytes = 0;  // the file's size when the request was accepted

  // The clock of the transfer: re-sending what is unacknowledged, and the silence after the
  // last block that counts as its acknowledgement.
  std::optional<platform::TimePoint> resendAt;
  std::chrono::milliseconds resendInterval{0};
  int resends = 0;
  platform::TimePoint lastHeard;  // the last datagram from the client
  std::optional<platform::TimePoint> lastBlockSentAt;

  int xfermode = kOctet;
  std::FILE* localfile = nullptr;

  // The netascii pair state, set by file_open and reported by file_close.
  int nextchar = -1;       // reading: the second byte of a pair, owed to the next block
  bool crpending = false;  // writing: a CR whose partner byte has not arrived yet
};

// The earliest moment at which the transfer has something to do without a datagram.
std::optional<platform::TimePoint> next_deadline(const TftpSession& session);
