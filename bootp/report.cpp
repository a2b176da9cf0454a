// Formats a report and hands it to the diagnostics channel.
#include "bootp/report.h"

#include <cstdarg>
#include <cstdio>

namespace bootp {

void bootp_report(int severity, const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  report_diagnostic(DiagnosticSource::Bootp, severity, text);
}

}  // namespace bootp
