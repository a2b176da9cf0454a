// Child processes with captured standard output: a pipe drained while the child runs, and a
// pidfd so that the drain stops once the child has ended, even when a grandchild still holds
// the pipe open. Starting and reaping the child are the process module's.
#include "platform/capture.h"

#include "platform/posix/child.h"
#include "platform/posix/fd_io.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

struct CaptureFile::Impl {
  UniqueFd fd;
};

namespace {

constexpr std::size_t kChunkBytes = 1024;
// Without a pidfd (old kernels) the drain looks for the child's end this often.
constexpr int kChildPollMilliseconds = 50;

bool is_executable_file(const std::filesystem::path& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::filesystem::path own_executable_directory() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path();
}

std::optional<std::filesystem::path> find_on_path(const std::string& name) {
  const char* variable = std::getenv("PATH");
  std::string_view path = variable != nullptr ? variable : "/usr/local/bin:/usr/bin:/bin";
  while (!path.empty()) {
    std::size_t colon = path.find(':');
    std::string_view directory = path.substr(0, colon);
    path = colon == std::string_view::npos ? std::string_view() : path.substr(colon + 1);
    std::filesystem::path candidate =
        std::filesystem::path(directory.empty() ? "." : std::string(directory)) / name;
    if (is_executable_file(candidate)) return candidate;
  }
  return std::nullopt;
}

// Whether the child has ended, without reaping it (its exit code is read afterwards).
bool child_has_ended(pid_t pid) {
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    return errno != EINTR;
  return info.si_pid == pid;
}

// Copies the pipe to outputFd until the writers are gone, or until the child has ended and
// nothing waits in the pipe. Returns 0, or the errno of the failed read or write.
int copy_until_child_ended(int readFd, pid_t pid, int outputFd) {
  UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  char chunk[kChunkBytes];
  for (;;) {
    pollfd watched[2] = {{readFd, POLLIN, 0}, {pidFd.get(), POLLIN, 0}};
    const bool havePidFd = pidFd.get() >= 0;
    int ready = ::poll(watched, havePidFd ? 2 : 1, havePidFd ? -1 : kChildPollMilliseconds);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if ((watched[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      ssize_t got = ::read(readFd, chunk, sizeof chunk);
      if (got < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return errno;
      }
      if (got == 0) return 0;
      if (!write_whole(outputFd, chunk, static_cast<std::size_t>(got))) return errno;
      continue;
    }
    // Nothing waits in the pipe at this moment: done if the child has ended.
    if (havePidFd ? (watched[1].revents & POLLIN) != 0 : child_has_ended(pid)) return 0;
  }
}

}  // namespace

std::optional<std::filesystem::path> resolve_program(const std::string& name,
                                                     const std::filesystem::path& besideDir) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos) return std::filesystem::path(name);
  if (!besideDir.empty()) {
    // Beside the executable in a build tree; in an installed tree the companions live in
    // libexec/kalvex next to bin/, out of everybody's PATH.
    for (const std::filesystem::path& companion :
         {besideDir / name, besideDir / ".." / "libexec" / "kalvex" / name})
      if (is_executable_file(companion)) return companion;
  }
  return find_on_path(name);
}

std::optional<std::filesystem::path> resolve_program(const std::string& name) {
  return resolve_program(name, own_executable_directory());
}

CaptureResult run_capturing_output(std::string_view commandLine, CaptureFile& output) {
  const int outputFd = output.m_impl->fd.get();
  CaptureResult result;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    result.outcome = CaptureOutcome::PipeFailed;
    return result;
  }
  UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);

  std::vector<std::string> words = split_command_line(commandLine);
  std::optional<std::filesystem::path> program =
      words.empty() ? std::nullopt : resolve_program(words.front());
  if (program) words.front() = program->string();
  const std::optional<pid_t> pid = program ? start_child(words, {writeEnd.get()}) : std::nullopt;
  if (!pid) {
    result.outcome = CaptureOutcome::StartFailed;
    return result;
  }
  writeEnd.reset();  // the child's copy is now the only writer

  result.copy_error = copy_until_child_ended(readEnd.get(), *pid, outputFd);
  readEnd.reset();  // a child still writing after a failed copy gets EPIPE instead of blocking

  const ChildEnd end = wait_for_child(*pid, std::nullopt);
  if (end.state != ChildEnd::State::Exited) {
    result.outcome = CaptureOutcome::ExitCodeUnavailable;
    return result;
  }
  result.outcome = CaptureOutcome::Exited;
  result.exit_code = end.exit_code.value_or(-1);
  return result;
}

std::optional<std::filesystem::path> make_private_directory() {
  const char* variable = std::getenv("TMPDIR");
  std::string base = variable != nullptr && variable[0] == '/' ? variable : "/tmp";
  std::string pattern = base + "/kalvex-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return std::nullopt;
  return std::filesystem::path(pattern);
}

CaptureFile::CaptureFile(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
CaptureFile::CaptureFile(CaptureFile&& other) noexcept = default;
CaptureFile& CaptureFile::operator=(CaptureFile&& other) noexcept = default;
CaptureFile::~CaptureFile() = default;

std::optional<CaptureFile> CaptureFile::create_new(const std::filesystem::path& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::nullopt;
  auto impl = std::make_unique<Impl>();
  impl->fd.reset(fd);
  return CaptureFile(std::move(impl));
}

}  // namespace platform
