// The BOOTP server's report function: every message of the server, with its syslog
// severity, goes to the one diagnostics channel of core/, which keeps them from the user
// unless a test or a debug sink listens.
#pragma once

#include "core/diagnostics.h"

namespace bootp {

inline constexpr int kError = kSeverityError;
inline constexpr int kNotice = kSeverityNotice;
inline constexpr int kInfo = kSeverityInfo;

void bootp_report(int severity, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace bootp
