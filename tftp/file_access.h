// Reading and writing flash.bin one block at a time, octet or netascii. The netascii state
// (a byte owed to the next block when reading, a CR awaiting its partner when writing) is
// the session's and carries across blocks, so a CR LF pair may straddle two DATA packets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "tftp/session.h"

// Opens the file ("rb" or "wb"); on success also sets the session's nextblknum to
// initialBlock and starts the netascii state afresh. nullptr, with nothing changed, on
// failure.
std::FILE* file_open(TftpSession& session, const char* path, const char* mode, int initialBlock);
// Reports a netascii pair left unfinished, then closes the stream.
void file_close(TftpSession& session, std::FILE* stream);
// Bytes put into the buffer, 0 at the end of the file, below 0 on a read error.
int file_read(TftpSession& session, std::FILE* stream, std::span<std::uint8_t> buffer, int mode);
void file_write(TftpSession& session, std::FILE* stream, std::span<const std::uint8_t> data,
                int mode);
