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
// Reports a netascii pair left unfinished, then closes the stream; false when the close
// failed (buffered bytes were lost).
bool file_close(TftpSession& session, std::FILE* stream);
// Bytes put into the buffer, 0 at the end of the file, below 0 on a read error.
int file_read(TftpSession& session, std::FILE* stream, std::span<std::uint8_t> buffer, int mode);
// False when some byte could not be written (it is reported; the rest is still written).
bool file_write(TftpSession& session, std::FILE* stream, std::span<const std::uint8_t> data,
                int mode);

// An upload never touches flash.bin until it is whole: it is written to a private file
// beside it (the session's localfile), which is renamed over flash.bin after the last block
// or removed when the upload ends any other way.
bool begin_upload(TftpSession& session);
// False, with the private file removed and flash.bin untouched, when it could not be put in
// place.
bool finish_upload(TftpSession& session);
// Nothing when no upload is open.
void abort_upload(TftpSession& session);
