#include "tests/support/diagnostics_capture.h"

namespace kalvex::testing {

DiagnosticsCapture::DiagnosticsCapture() {
  set_diagnostic_sink([this](DiagnosticSource source, int severity, std::string_view text) {
    std::lock_guard lock(m_mutex);
    m_lines.push_back({source, severity, std::string(text)});
  });
}

DiagnosticsCapture::~DiagnosticsCapture() {
  set_diagnostic_sink(nullptr);
}

std::vector<Diagnostic> DiagnosticsCapture::all() const {
  std::lock_guard lock(m_mutex);
  return m_lines;
}

std::string DiagnosticsCapture::tftp_text() const {
  std::lock_guard lock(m_mutex);
  std::string text;
  for (const Diagnostic& line : m_lines)
    if (line.source == DiagnosticSource::Tftp) text += line.text;
  return text;
}

bool DiagnosticsCapture::has(DiagnosticSource source, const std::string& text) const {
  std::lock_guard lock(m_mutex);
  for (const Diagnostic& line : m_lines)
    if (line.source == source && line.text == text) return true;
  return false;
}

void DiagnosticsCapture::clear() {
  std::lock_guard lock(m_mutex);
  m_lines.clear();
}

}  // namespace kalvex::testing
