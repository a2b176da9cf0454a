// Sending the standard error stream of the whole process into a log file, for a server's
// trace. What is written there, and what a failure is reported as, is the caller's.
#pragma once

namespace platform {

// Reopens standard error in append mode onto the file at `path`, creating it (mode 0600) when
// it is missing. Refuses a link and any file that is not a regular file of this process's
// user: the name may lie in a directory that anyone can write to. False when refused or
// failed; standard error then stays as it was.
bool append_error_stream_to(const char* path);

}  // namespace platform
