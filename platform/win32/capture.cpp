// Child processes with captured standard output on Windows: an anonymous pipe (CreatePipe)
// whose write end the hidden child inherits, drained while it runs with PeekNamedPipe and
// ReadFile, and the child's end watched on its process handle, so that the drain stops once
// the child has ended even when a grandchild still holds the pipe open.
#include "platform/capture.h"

#include "platform/win32/child.h"

#include <algorithm>
#include <cwchar>
#include <random>
#include <vector>

#include <sddl.h>

namespace platform {

using win32::UniqueHandle;

struct CaptureFile::Impl {
  UniqueHandle file;
};

namespace {

constexpr DWORD kChunkBytes = 1024;
// While the pipe is empty and the child runs, the drain looks again this often.
constexpr DWORD kChildLookMilliseconds = 10;

bool is_program_file(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::filesystem::path own_executable_directory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return std::filesystem::path(path.substr(0, length)).parent_path();
    path.resize(path.size() * 2);
  }
}

// The system directory, then the PATH: where Windows itself finds a command, less the
// current directory, which holds the user's files.
std::optional<std::filesystem::path> find_on_search_path(const std::wstring& name) {
  wchar_t system[MAX_PATH] = {};
  std::wstring directories(system, ::GetSystemDirectoryW(system, MAX_PATH));
  const DWORD pathLength = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (pathLength > 0) {
    std::wstring path(pathLength, L'\0');
    path.resize(::GetEnvironmentVariableW(L"PATH", path.data(), pathLength));
    directories += L";" + path;
  }
  wchar_t found[MAX_PATH] = {};
  const DWORD length =
      ::SearchPathW(directories.c_str(), name.c_str(), L".exe", MAX_PATH, found, nullptr);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  return std::filesystem::path(std::wstring(found, length));
}

// Copies what waits in the pipe to the file until the child has ended and the pipe is
// empty, or every writer is gone. Returns 0, or the system's code of the failed step.
DWORD copy_until_child_ended(HANDLE pipe, HANDLE child, HANDLE file) {
  char chunk[kChunkBytes];
  for (;;) {
    // Looked at before the pipe: whatever the child wrote before it ended is in the pipe.
    const bool ended = ::WaitForSingleObject(child, 0) == WAIT_OBJECT_0;
    DWORD waiting = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) {
      const DWORD error = ::GetLastError();
      return error == ERROR_BROKEN_PIPE ? 0 : error;
    }
    if (waiting == 0) {
      if (ended) return 0;
      ::WaitForSingleObject(child, kChildLookMilliseconds);
      continue;
    }
    DWORD got = 0;
    if (!::ReadFile(pipe, chunk, std::min(waiting, kChunkBytes), &got, nullptr))
      return ::GetLastError();
    DWORD written = 0;
    for (DWORD done = 0; done < got; done += written)
      if (!::WriteFile(file, chunk + done, got - done, &written, nullptr)) return ::GetLastError();
  }
}

// A security descriptor that lets only this process's user, the administrators and the
// system in; nothing when it cannot be made.
class PrivateAccess {
 public:
  PrivateAccess() {
    const std::wstring user = user_sid();
    if (user.empty()) return;
    const std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + L")";
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                           &m_descriptor, nullptr);
    m_attributes.lpSecurityDescriptor = m_descriptor;
  }
  PrivateAccess(const PrivateAccess&) = delete;
  PrivateAccess& operator=(const PrivateAccess&) = delete;
  ~PrivateAccess() { ::LocalFree(m_descriptor); }
  SECURITY_ATTRIBUTES* attributes() { return m_descriptor != nullptr ? &m_attributes : nullptr; }

 private:
  static std::wstring user_sid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    const UniqueHandle owned(token);
    DWORD bytes = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &bytes);
    std::vector<ULONGLONG> user(bytes / sizeof(ULONGLONG) + 1);
    wchar_t* text = nullptr;
    if (!::GetTokenInformation(token, TokenUser, user.data(), bytes, &bytes) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text))
      return {};
    std::wstring sid(text);
    ::LocalFree(text);
    return sid;
  }

  PSECURITY_DESCRIPTOR m_descriptor = nullptr;
  SECURITY_ATTRIBUTES m_attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

}  // namespace

std::optional<std::filesystem::path> resolve_program(const std::string& name,
                                                     const std::filesystem::path& besideDir) {
  if (name.empty()) return std::nullopt;
  const std::filesystem::path given = win32::path_from_utf8(name);
  if (given.has_parent_path() || given.has_root_name()) return given;
  if (!besideDir.empty()) {
    for (const std::filesystem::path& companion :
         {besideDir / given, besideDir / (given.native() + L".exe")}) {
      if (is_program_file(companion)) return companion;
    }
  }
  return find_on_search_path(given.native());
}

std::optional<std::filesystem::path> resolve_program(const std::string& name) {
  return resolve_program(name, own_executable_directory());
}

std::optional<std::filesystem::path> make_private_directory() {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) return std::nullopt;
  PrivateAccess access;
  if (access.attributes() == nullptr) return std::nullopt;
  std::random_device random;
  // A name somebody took already is passed over; CreateDirectory never reuses one.
  for (int attempt = 0; attempt < 64; ++attempt) {
    wchar_t name[32];
    std::swprintf(name, 32, L"kalvex-%08x", static_cast<unsigned>(random()));
    const std::filesystem::path directory = std::filesystem::path(base) / name;
    if (::CreateDirectoryW(directory.c_str(), access.attributes())) return directory;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

CaptureFile::CaptureFile(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
CaptureFile::CaptureFile(CaptureFile&& other) noexcept = default;
CaptureFile& CaptureFile::operator=(CaptureFile&& other) noexcept = default;
CaptureFile::~CaptureFile() = default;

std::optional<CaptureFile> CaptureFile::create_new(const std::filesystem::path& path) {
  // CREATE_NEW refuses any name that exists; a link is looked at, never followed.
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) return std::nullopt;
  auto impl = std::make_unique<Impl>();
  impl->file = std::move(file);
  return CaptureFile(std::move(impl));
}

CaptureResult run_capturing_output(std::string_view commandLine, CaptureFile& output) {
  CaptureResult result;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readHandle = nullptr;
  HANDLE writeHandle = nullptr;
  if (!::CreatePipe(&readHandle, &writeHandle, &inheritable, 0)) {
    result.outcome = CaptureOutcome::PipeFailed;
    return result;
  }
  UniqueHandle readEnd(readHandle);
  UniqueHandle writeEnd(writeHandle);
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);  // only the child's end

  std::vector<std::string> words = split_command_line(commandLine);
  const std::optional<std::filesystem::path> program =
      words.empty() ? std::nullopt : resolve_program(words.front());
  if (program) words.front() = win32::narrow(program->native());
  const std::optional<UniqueHandle> child =
      program ? win32::start_hidden(program->native(), win32::command_line_of(words),
                                    writeEnd.get(), nullptr)
              : std::nullopt;
  if (!child) {
    result.outcome = CaptureOutcome::StartFailed;
    return result;
  }
  writeEnd.reset();  // the child's copy is now the only writer

  result.copy_error = static_cast<int>(
      copy_until_child_ended(readEnd.get(), child->get(), output.m_impl->file.get()));
  readEnd.reset();  // a child still writing after a failed copy fails instead of blocking
  DWORD code = 0;
  if (::WaitForSingleObject(child->get(), INFINITE) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(child->get(), &code)) {
    result.outcome = CaptureOutcome::ExitCodeUnavailable;
    return result;
  }
  result.outcome = CaptureOutcome::Exited;
  result.exit_code = static_cast<int>(code);
  return result;
}

}  // namespace platform
