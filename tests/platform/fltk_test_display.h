// A display for the FLTK tests: the one in $DISPLAY when it opens, otherwise a private Xvfb
// started for the test run and stopped at its end.
#pragma once

#include <sys/types.h>
#include <string>

namespace kalvex_test {

class TestDisplay {
 public:
  TestDisplay() = default;
  TestDisplay(const TestDisplay&) = delete;
  TestDisplay& operator=(const TestDisplay&) = delete;
  ~TestDisplay();

  // True when a display is open for this process; otherwise why_not() says why.
  bool open();
  const std::string& why_not() const { return m_whyNot; }
  // Stops the Xvfb this started, if any, so that open() starts a fresh one.
  void close();

 private:
  bool start_xvfb();
  void stop_xvfb();

  pid_t m_xvfb = -1;
  std::string m_whyNot;
};

}  // namespace kalvex_test
