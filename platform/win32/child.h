// Starting one hidden child process, for the Win32 implementations of the process and
// capture modules; the portable face is process.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win32/system.h"

namespace platform::win32 {

// The command line that the C runtime splits back into exactly these words: a word with a
// blank, a tab or a quote is quoted, and the backslashes before a quote are doubled.
std::wstring command_line_of(const std::vector<std::string>& argv);

// The null device, as an inheritable handle for a child's standard stream.
UniqueHandle open_null_device(DWORD access);

// Starts the command line without a console or a window (the program as given, or looked up by the
// system when it is empty), standard input on the null device and standard output and error
// on the given inheritable handles, inheriting no other handle of ours. Its process handle,
// or nothing when it could not be started.
std::optional<UniqueHandle> start_hidden(const std::wstring& program, std::wstring commandLine,
                                         HANDLE output, HANDLE error);

}  // namespace platform::win32
