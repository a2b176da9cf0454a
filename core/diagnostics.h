// The one channel for the servers' diagnostics: the BOOTP server's reports (with syslog
// severities), the TFTP server's log text and refused neighbour-table changes all go through
// it. By default the TFTP text goes to the standard error stream as written, and a BOOTP
// report or a refused change as a line of its own there, so that a server that stays silent
// says why; tests install a sink that keeps everything.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

// Commands: the neighbour-table changes that exec_command makes for "arp".
enum class DiagnosticSource : std::uint8_t { Bootp, Tftp, Commands };

// syslog severities, as the BOOTP server reports them; TFTP text carries kLogText.
inline constexpr int kSeverityError = 3;
inline constexpr int kSeverityNotice = 5;
inline constexpr int kSeverityInfo = 6;
inline constexpr int kLogText = 0;

// Called from either server thread; must be safe to call from both at once.
using DiagnosticSink =
    std::function<void(DiagnosticSource source, int severity, std::string_view text)>;

void report_diagnostic(DiagnosticSource source, int severity, std::string_view text);

// Replaces the default destinations; nullptr restores them. Install before the server
// threads start.
void set_diagnostic_sink(DiagnosticSink sink);
