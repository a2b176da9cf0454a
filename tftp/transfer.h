// The TFTP protocol engine (RFC 1350, lock-step, one transfer per run of the thread): the
// dispatch table indexed by the opcode sent last and the opcode just received, its handlers
// and the three senders, all working on the session the thread body hands them.
// Retransmission is left to the restart that the receive time-out brings about.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tftp/session.h"

enum class TftpOpcode : std::uint16_t { Rrq = 1, Wrq = 2, Data = 3, Ack = 4, Error = 5 };

// A handler gets the datagram after its opcode; 0 or more keeps the loop receiving, below 0
// ends the transfer.
using Handler = int (*)(TftpSession& session, std::span<const std::uint8_t> body);

// Starts the session afresh for a new run, except for the client's address, which the next
// request replaces.
void tftp_reset(TftpSession& session);
void tftp_loop(TftpSession& session, int initialOpSent);

int on_rrq(TftpSession& session, std::span<const std::uint8_t> body);
int on_wrq(TftpSession& session, std::span<const std::uint8_t> body);
int on_ack(TftpSession& session, std::span<const std::uint8_t> body);
int on_data(TftpSession& session, std::span<const std::uint8_t> body);
int on_error_packet(TftpSession& session, std::span<const std::uint8_t> body);
int on_botch(TftpSession& session, std::span<const std::uint8_t> body);
// kind 1 = read, 2 = write. Returns only if the request is accepted.
void on_request(TftpSession& session, int kind, std::span<const std::uint8_t> body);

void send_ack(TftpSession& session, int block);
// The n data bytes are already at sendpkt + 4.
void send_data(TftpSession& session, int block, int n);
[[noreturn]] void send_error(TftpSession& session, int code, const char* message);

// The text with every character that the locale calls upper case turned into lower case.
std::string lower_copy(std::string_view source);
