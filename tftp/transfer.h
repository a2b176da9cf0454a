// The TFTP protocol engine (RFC 1350, lock-step, one transfer per run of the thread): the
// module state, the dispatch table indexed by the opcode sent last and the opcode just
// received, its handlers and the three senders. Retransmission is left to the restart that
// the receive time-out brings about.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

#include "tftp/endpoint.h"

inline constexpr int kBlockSize = 512;

enum class TftpOpcode : std::uint16_t { Rrq = 1, Wrq = 2, Data = 3, Ack = 4, Error = 5 };

struct TransferState {
  std::array<std::uint8_t, kMaxDatagram> recvpkt{};
  // DATA payload is read straight into it after its 4-byte header.
  std::array<std::uint8_t, kMaxDatagram> sendpkt{};
  int op_sent = 0;  // 0 = nothing sent yet
  int op_recv = 0;
  // Read: number of the last DATA sent (the ACK awaited). Write: the DATA block awaited.
  // Counts past 65535; the wire carries its low 16 bits.
  int nextblknum = 0;
  int lastdatalen = 0;
  int xfermode = 1;
  std::FILE* localfile = nullptr;

  void reset();
};

TransferState& transfer_state();

// The body after the opcode: for DATA and ACK at least the 16-bit block number.
using Handler = int (*)(std::span<const std::uint8_t> body);

void tftp_reset();
void tftp_loop(int initialOpSent);
// The handler that a datagram of `length` bytes gets in state [opSent][opRecv]; never
// indexes past the table.
Handler dispatch_handler(int opSent, int opRecv, int length);

int on_rrq(std::span<const std::uint8_t> body);
int on_wrq(std::span<const std::uint8_t> body);
int on_ack(std::span<const std::uint8_t> body);
int on_data(std::span<const std::uint8_t> body);
int on_error_packet(std::span<const std::uint8_t> body);
int on_botch(std::span<const std::uint8_t> body);
// kind 1 = read, 2 = write. Returns only if the request is accepted.
void on_request(int kind, std::span<const std::uint8_t> body);

void send_ack(int block);
// The n data bytes are already at sendpkt + 4.
void send_data(int block, int n);
[[noreturn]] void send_error(int code, const char* message);

// Copies a NUL-terminated string, lower-casing what the locale calls upper case.
void lower_copy(char* destination, const char* source);
