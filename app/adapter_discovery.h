// The PC's IPv4 addresses, read from the listing of the "ipconfig" command captured through
// a pipe into a capture file. Running the command and the file's safe creation belong to
// platform/capture; this module owns the capture's messages, the scan and the table.
#pragma once

#include <array>
#include <cstdio>
#include <filesystem>

inline constexpr int kAdapterSlots = 10;
inline constexpr int kAdapterSlotBytes = 32;  // up to 31 characters and a terminating zero

// Filled from the first slot on, one per accepted address, in listing order; empty at start.
extern std::array<std::array<char, kAdapterSlotBytes>, kAdapterSlots> adapterAddresses;

// Runs the command line with its standard output captured into the capture file; 0 when the
// command ran and ended with exit code 0, -1 otherwise. The display name is for messages.
int capture_output(const char* displayName, const char* commandLine);
// Scans the capture file into adapterAddresses, then deletes it (and its private directory).
void read_adapter_addresses();

// The scan itself, over an open listing: empties the table, then fills it. Lines are read in
// pieces of at most 255 characters, as the capture has always been read.
void scan_adapter_listing(std::FILE* listing);
// Where the last capture_output put its file; empty before the first capture and after the
// scan removed it.
const std::filesystem::path& capture_file_path();
