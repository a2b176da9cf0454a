// Keeps what the servers report while the object lives, for tests that check a diagnostic
// line the way a user reading the error stream would see it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/diagnostics.h"

namespace kalvex::testing {

struct Diagnostic {
  DiagnosticSource source;
  int severity;
  std::string text;
};

class DiagnosticsCapture {
 public:
  DiagnosticsCapture();
  ~DiagnosticsCapture();
  DiagnosticsCapture(const DiagnosticsCapture&) = delete;
  DiagnosticsCapture& operator=(const DiagnosticsCapture&) = delete;

  std::vector<Diagnostic> all() const;
  // The TFTP log text as the error stream would show it, all of it joined.
  std::string tftp_text() const;
  bool has(DiagnosticSource source, const std::string& text) const;
  void clear();

 private:
  mutable std::mutex m_mutex;
  std::vector<Diagnostic> m_lines;
};

}  // namespace kalvex::testing
