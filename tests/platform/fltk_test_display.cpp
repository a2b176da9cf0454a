// Starting Xvfb as a child process and learning its display number from -displayfd.
#include "tests/platform/fltk_test_display.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace kalvex_test {

namespace {

bool display_opens() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

std::string read_line(int fd) {
  std::string line;
  char c = 0;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

}  // namespace

TestDisplay::~TestDisplay() {
  stop_xvfb();
}

void TestDisplay::close() {
  if (m_xvfb <= 0) return;
  stop_xvfb();
  unsetenv("DISPLAY");
}

void TestDisplay::stop_xvfb() {
  if (m_xvfb <= 0) return;
  kill(m_xvfb, SIGTERM);
  waitpid(m_xvfb, nullptr, 0);
  m_xvfb = -1;
}

bool TestDisplay::open() {
  if (std::getenv("DISPLAY") != nullptr && display_opens()) return true;
  return start_xvfb();
}

bool TestDisplay::start_xvfb() {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    m_whyNot = "no pipe for Xvfb";
    return false;
  }
  const pid_t child = fork();
  if (child == 0) {
    // Xvfb must not outlive the tests, nor hold their output open (CTest waits for it).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    dup2(pipeFds[1], 3);  // dup2 clears close-on-exec on the copy
    const int devNull = ::open("/dev/null", O_RDWR);
    dup2(devNull, 0);
    dup2(devNull, 1);
    dup2(devNull, 2);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1024x768x24",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(pipeFds[1]);
  if (child < 0) {
    ::close(pipeFds[0]);
    m_whyNot = "cannot fork for Xvfb";
    return false;
  }
  m_xvfb = child;
  const std::string number = read_line(pipeFds[0]);
  ::close(pipeFds[0]);
  if (number.empty()) {
    m_whyNot = "Xvfb did not start (is it installed?)";
    return false;
  }
  setenv("DISPLAY", (":" + number).c_str(), 1);
  if (!display_opens()) {
    m_whyNot = "Xvfb started but its display :" + number + " does not open";
    return false;
  }
  return true;
}

}  // namespace kalvex_test

// Fontconfig keeps its caches until the process ends; LeakSanitizer would call that a leak.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
