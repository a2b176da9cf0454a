// The TFTP protocol engine (RFC 1350, with the options of RFC 2347-2349 and 7440, one
// transfer at a time): the dispatch table indexed by the opcode sent last and the opcode
// just received, its handlers, the request checks and the senders, all working on the
// session the thread body hands them. What goes out when, and what counts as done, is the
// window's (window.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tftp/session.h"

// A handler gets the datagram after its opcode; 0 or more keeps the loop receiving, below 0
// ends the transfer (the session's `end` says how).
using Handler = int (*)(TftpSession& session, std::span<const std::uint8_t> body);

// Starts the session afresh for a new transfer, except for the client's address, which the
// next request replaces.
void tftp_reset(TftpSession& session);
void tftp_loop(TftpSession& session, int initialOpSent);
// Hands one datagram of the client, opcode first, to the handler for it and the opcode sent
// last; the handler's answer. The loop's step for each datagram, open to the fuzz target.
int tftp_handle_datagram(TftpSession& session, std::span<const std::uint8_t> datagram);

int on_rrq(TftpSession& session, std::span<const std::uint8_t> body);
int on_wrq(TftpSession& session, std::span<const std::uint8_t> body);
int on_ack(TftpSession& session, std::span<const std::uint8_t> body);
int on_data(TftpSession& session, std::span<const std::uint8_t> body);
int on_error_packet(TftpSession& session, std::span<const std::uint8_t> body);
int on_botch(TftpSession& session, std::span<const std::uint8_t> body);
// kind 1 = read, 2 = write. Returns only if the request is accepted: true when options were
// taken and the OACK waits in sendpkt.
bool on_request(TftpSession& session, int kind, std::span<const std::uint8_t> body);

void send_ack(TftpSession& session, int block);
// Sends the ERROR, closes the socket, removes an unfinished upload, and ends the program
// with a fatal box that says what went wrong, with the file, mode and client of the request.
[[noreturn]] void send_error(TftpSession& session, int code, const char* message,
                             const char* what = "The board's TFTP request was refused");

// The text with every character that the locale calls upper case turned into lower case.
std::string lower_copy(std::string_view source);
