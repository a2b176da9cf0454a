// Children through CreateProcess, hidden and with only the standard streams we name
// inherited; ordered commands through the shell's "open" verb (ShellExecuteEx), hidden. A
// process handle is closed once we stop waiting: Windows keeps no zombies.
#include "platform/process.h"

#include "platform/command_queue.h"
#include "platform/win32/child.h"

#include <algorithm>
#include <cstddef>

#include <objbase.h>
#include <shellapi.h>

namespace platform {

namespace win32 {

std::wstring command_line_of(const std::vector<std::string>& argv) {
  std::wstring line;
  for (const std::string& text : argv) {
    if (!line.empty()) line += L' ';
    const std::wstring word = widen(text);
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
      line += word;
      continue;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      // Backslashes count only before a quote: there they are doubled, and the quote escaped.
      line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      line += c;
      backslashes = 0;
    }
    line.append(backslashes * 2, L'\\');  // the closing quote follows them
    line += L'"';
  }
  return line;
}

UniqueHandle open_null_device(DWORD access) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  return UniqueHandle(::CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inheritable, OPEN_EXISTING, 0, nullptr));
}

namespace {

// The list of handles a child may inherit (PROC_THREAD_ATTRIBUTE_HANDLE_LIST), so that a
// pipe made by another thread at the same moment never leaks into it.
class InheritedHandles {
 public:
  explicit InheritedHandles(std::vector<HANDLE> handles) : m_handles(std::move(handles)) {
    SIZE_T bytes = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &bytes);
    m_storage.resize(bytes);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_storage.data());
    if (bytes == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &bytes)) return;
    if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, m_handles.data(),
                                     m_handles.size() * sizeof(HANDLE), nullptr, nullptr)) {
      ::DeleteProcThreadAttributeList(list);
      return;
    }
    m_list = list;
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;
  ~InheritedHandles() {
    if (m_list != nullptr) ::DeleteProcThreadAttributeList(m_list);
  }
  // Nothing when the system cannot restrict inheritance; the child then inherits every
  // inheritable handle (ours are made non-inheritable wherever we create them).
  LPPROC_THREAD_ATTRIBUTE_LIST list() const { return m_list; }

 private:
  std::vector<HANDLE> m_handles;
  std::vector<std::byte> m_storage;
  LPPROC_THREAD_ATTRIBUTE_LIST m_list = nullptr;
};

}  // namespace

std::optional<UniqueHandle> start_hidden(const std::wstring& program, std::wstring commandLine,
                                         HANDLE output, HANDLE error) {
  const UniqueHandle input = open_null_device(GENERIC_READ);
  UniqueHandle discard;
  if (output == nullptr || error == nullptr) {
    discard = open_null_device(GENERIC_WRITE);
    if (output == nullptr) output = discard.get();
    if (error == nullptr) error = discard.get();
  }
  std::vector<HANDLE> handles{input.get(), output};
  if (error != output) handles.push_back(error);
  const InheritedHandles inherited(handles);

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = input.get();
  startup.StartupInfo.hStdOutput = output;
  startup.StartupInfo.hStdError = error;
  startup.lpAttributeList = inherited.list();
  // No console at all, so none to show: a console program writes to the handles it is given.
  DWORD flags = DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT;
  if (inherited.list() != nullptr) flags |= EXTENDED_STARTUPINFO_PRESENT;

  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program.empty() ? nullptr : program.c_str(), commandLine.data(), nullptr,
                        nullptr, TRUE, flags, nullptr, nullptr, &startup.StartupInfo, &started))
    return std::nullopt;
  ::CloseHandle(started.hThread);
  return UniqueHandle(started.hProcess);
}

}  // namespace win32

namespace {

using win32::UniqueHandle;

// An inheritable copy of one of this process's own standard streams for a child, or none
// (the null device) when it is not to be shared or this process has none.
UniqueHandle stream_for(ChildOutput output, DWORD which) {
  const HANDLE ours = ::GetStdHandle(which);
  if (output != ChildOutput::Shared || ours == nullptr || ours == INVALID_HANDLE_VALUE) return {};
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ours, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
    return {};
  return UniqueHandle(copy);
}

DWORD milliseconds_of(std::chrono::milliseconds limit) {
  return static_cast<DWORD>(
      std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, INFINITE - 1));
}

// The shell's verbs may use COM, so the thread has it started while it asks.
void open_through_shell(const std::vector<std::string>& argv) {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const std::wstring file = win32::widen(argv[0]);
  const std::wstring parameters =
      win32::command_line_of(std::vector<std::string>(argv.begin() + 1, argv.end()));
  SHELLEXECUTEINFOW request{};
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  request.lpVerb = L"open";
  request.lpFile = file.c_str();
  request.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  request.nShow = SW_HIDE;
  if (::ShellExecuteExW(&request) && request.hProcess != nullptr) {
    const UniqueHandle process(request.hProcess);
    ::WaitForSingleObject(process.get(), milliseconds_of(kOrderedCommandPatience));
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
}

}  // namespace

std::optional<int> run_and_wait(const std::vector<std::string>& argv,
                                std::chrono::milliseconds limit, ChildStreams streams) {
  if (argv.empty() || argv[0].empty()) return std::nullopt;
  const UniqueHandle output = stream_for(streams.output, STD_OUTPUT_HANDLE);
  const UniqueHandle error = stream_for(streams.error, STD_ERROR_HANDLE);
  const std::optional<UniqueHandle> process =
      win32::start_hidden(L"", win32::command_line_of(argv), output.get(), error.get());
  if (!process) return std::nullopt;
  if (::WaitForSingleObject(process->get(), milliseconds_of(limit)) != WAIT_OBJECT_0) {
    ::TerminateProcess(process->get(), 1);
    ::WaitForSingleObject(process->get(), INFINITE);
    return std::nullopt;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process->get(), &code)) return std::nullopt;
  return static_cast<int>(code);
}

bool spawn_detached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return false;
  return win32::start_hidden(L"", win32::command_line_of(argv), nullptr, nullptr).has_value();
}

void spawn_in_order(std::vector<std::string> argv) {
  if (argv.empty() || argv[0].empty()) return;
  queue_in_order(std::move(argv), open_through_shell);
}

std::string process_command_line() {
  return win32::narrow(::GetCommandLineW());
}

}  // namespace platform
