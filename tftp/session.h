// The state of the TFTP server, in one place: the socket and the client it answers, the
// lock-step transfer, and the netascii pair that carries from one block to the next. One
// instance lives for the process; the thread body owns it and hands it to every step, and
// tftp_reset starts it afresh for each run of the thread.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "platform/net.h"
#include "platform/stop.h"

inline constexpr int kMaxDatagram = 2048;
inline constexpr int kBlockSize = 512;

// The transfer modes as the file access takes them.
inline constexpr int kNetascii = 0;
inline constexpr int kOctet = 1;

struct TftpSession {
  // The endpoint.
  platform::UdpSocket tftpsock;
  int pendinglen = -1;     // the request held back for the first net_recv; -1 = none
  bool firstrecv = false;  // the request is awaited: no time-out, the sender becomes the peer
  // Kept across runs: a failed receive of the request leaves the previous client in place.
  platform::Endpoint peeraddr;
  platform::StopToken stop;  // every blocking receive also waits on it

  // The transfer.
  std::array<std::uint8_t, kMaxDatagram> recvpkt{};
  // DATA payload is read straight into it after its 4-byte header.
  std::array<std::uint8_t, kMaxDatagram> sendpkt{};
  int op_sent = 0;  // 0 = nothing sent yet
  int op_recv = 0;
  // Read: number of the last DATA sent (the ACK awaited). Write: the DATA block awaited.
  // Counts past 65535; the wire carries its low 16 bits.
  int nextblknum = 0;
  int lastdatalen = 0;
  int xfermode = kOctet;
  std::FILE* localfile = nullptr;

  // The netascii pair state, set by file_open and reported by file_close.
  int nextchar = -1;       // reading: the second byte of a pair, owed to the next block
  bool crpending = false;  // writing: a CR whose partner byte has not arrived yet
};
