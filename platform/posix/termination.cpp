// Termination signals through a self-pipe: the signal handler only writes the signal's
// number, and a watcher thread reads it and calls the handler.
#include "platform/termination.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

std::atomic<int> g_writeEnd{-1};

void forward_signal(int signal) {
  const int saved = errno;
  const auto number = static_cast<unsigned char>(signal);
  const int fd = g_writeEnd.load();
  if (fd >= 0 && ::write(fd, &number, 1) != 1) {
    // Nothing can be done about a lost wake-up inside a signal handler.
  }
  errno = saved;
}

void watch(int readEnd, void (*handler)(int)) {
  for (;;) {
    unsigned char number = 0;
    const ssize_t got = ::read(readEnd, &number, 1);
    if (got == 1) handler(number);
    if (got < 0 && errno != EINTR) return;
  }
}

}  // namespace

void on_termination_request(void (*handler)(int signal)) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return;
  g_writeEnd.store(ends[1]);
  std::thread(watch, ends[0], handler).detach();
  struct sigaction action {};
  action.sa_handler = forward_signal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signal, &action, nullptr);
}

}  // namespace platform
