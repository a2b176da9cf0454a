// A child program for the Windows process tests, which have no shell to run: it prints
// lines or its own words, sleeps, leaves a grandchild holding its output, or writes a file
// once a gate file exists.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

// "lines N CODE": the numbers 1 to N, one a line, then exit code CODE.
int print_lines(int count, int code) {
  for (int i = 1; i <= count; ++i) std::printf("%d\n", i);
  return code;
}

// "words W...": the words as they arrived, joined by '|'.
int print_words(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) std::printf("%s%s", i > 2 ? "|" : "", argv[i]);
  std::printf("\n");
  return 0;
}

// "detach": a grandchild that sleeps with our standard output (its process id in the file
// "grandchild"), then "listed" and our end.
int detach() {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) + L"\" sleep 60000";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started))
    return 2;
  std::ofstream("grandchild") << started.dwProcessId;
  std::printf("listed\n");
  return 0;
}

// "gated GATE FILE TEXT": waits (10 s at most) for GATE to exist, then writes TEXT to FILE.
int write_when_gate_opens(const char* gate, const char* file, const char* text) {
  for (int waited = 0; !std::filesystem::exists(gate); ++waited) {
    if (waited == 1000) return 3;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ofstream(file, std::ios::binary) << text;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ::_setmode(::_fileno(stdout), _O_BINARY);  // the bytes as printed, no CR added
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "lines" && argc == 4) return print_lines(std::atoi(argv[2]), std::atoi(argv[3]));
  if (command == "words") return print_words(argc, argv);
  if (command == "sleep" && argc == 3) {
    ::Sleep(static_cast<DWORD>(std::atoi(argv[2])));
    return 0;
  }
  if (command == "detach") return detach();
  if (command == "gated" && argc == 5) return write_when_gate_opens(argv[2], argv[3], argv[4]);
  if (command == "copy" && argc == 4) return std::filesystem::copy_file(argv[2], argv[3]) ? 0 : 4;
  return 1;
}
