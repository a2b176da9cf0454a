// The diagnostics channel: a sink installed before the threads start, read without a lock.
#include "core/diagnostics.h"

#include <cstdio>

namespace {

DiagnosticSink g_sink;

void write_default(DiagnosticSource source, std::string_view text) {
  switch (source) {
    case DiagnosticSource::Tftp:
      std::fwrite(text.data(), 1, text.size(), stderr);
      return;
    case DiagnosticSource::Bootp:
    case DiagnosticSource::Commands:
      // One call per line, so that a line of the other server's thread never splits it.
      if (text.ends_with('\n')) text.remove_suffix(1);
      std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
      return;
  }
}

}  // namespace

void report_diagnostic(DiagnosticSource source, int severity, std::string_view text) {
  if (g_sink) {
    g_sink(source, severity, text);
  } else {
    write_default(source, text);
  }
}

void set_diagnostic_sink(DiagnosticSink sink) {
  g_sink = std::move(sink);
}
