// Reading and writing flash.bin one block at a time, octet or netascii. The netascii state
// (a byte owed to the next block when reading, a CR awaiting its partner when writing)
// carries across blocks, so a CR LF pair may straddle two DATA packets.
#pragma once

#include <cstdint>
#include <cstdio>

inline constexpr int kNetascii = 0;
inline constexpr int kOctet = 1;

// Opens the file ("rb" or "wb"); on success also sets the transfer's nextblknum to
// initialBlock and resets the netascii state. nullptr, with nothing changed, on failure.
std::FILE* file_open(const char* path, const char* mode, int initialBlock);
// Bytes put into the buffer (at most count), 0 at the end of the file, below 0 on a read
// error.
int file_read(std::FILE* stream, std::uint8_t* buffer, int count, int mode);
void file_write(std::FILE* stream, const std::uint8_t* buffer, int count, int mode);
// file_close is declared in tftp_server.h: the dialog closes the image stream with it.
