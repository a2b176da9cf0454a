// The diagnostics channel: a sink installed before the threads start, read without a lock.
#include "core/diagnostics.h"

#include <cstdio>

namespace {

DiagnosticSink g_sink;

void write_default(DiagnosticSource source, std::string_view text) {
  if (source != DiagnosticSource::Tftp) return;
  std::fwrite(text.data(), 1, text.size(), stderr);
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
