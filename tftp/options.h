// TFTP options (RFC 2347): the pairs a client may add after the mode, the ones this server
// takes (blksize RFC 2348, tsize and timeout RFC 2349, windowsize RFC 7440) and the OACK
// that names exactly those. Boot loaders ask for them (U-Boot: timeout 5, blksize 1468); a
// client that asks for none sees RFC 1350's lock-step exchange unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "tftp/session.h"

// The largest block that fits one unfragmented datagram on an interface with this MTU (IP
// and UDP headers 28 bytes, TFTP's 4); Ethernet's when the MTU is unknown.
int block_size_cap(std::optional<std::uint32_t> mtu);

// Reads the option pairs that follow the mode, settles the session's block size, window and
// re-send interval, and writes the OACK into sendpkt. An unknown option, one out of range or
// one asked twice is left out. False when nothing was taken: the exchange then goes on as
// if no option had been asked.
bool negotiate_options(TftpSession& session, std::span<const std::uint8_t> pairs, int blockCap);
