// The PC's IPv4 addresses, read from the listing of the "ipconfig" command captured through
// a pipe into a capture file.
#pragma once

#include <array>

inline constexpr int kAdapterSlots = 10;
inline constexpr int kAdapterSlotBytes = 32;  // up to 31 characters and a terminating zero

// Filled from the first slot on, one per accepted address, in listing order; empty at start.
extern std::array<std::array<char, kAdapterSlotBytes>, kAdapterSlots> adapterAddresses;

// Runs the command line with its standard output captured into the capture file; 0 when the
// command ran and ended with exit code 0, -1 otherwise. The display name is for messages.
int capture_output(const char* displayName, const char* commandLine);
// Scans the capture file into adapterAddresses, then deletes it.
void read_adapter_addresses();
