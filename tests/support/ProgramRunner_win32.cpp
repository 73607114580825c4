// Running a program in a child process on Windows: CreateProcessW with an explicit environment
// block, standard error read through a pipe, TerminateProcess when the time limit passes.
#include "tests/support/ProgramRunner.h"

#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <stdexcept>

#include "platform/Utf8.h"

namespace testsupport {
namespace {

// A handle closed when its owner goes.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() { reset(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE* out() { return &handle_; }
  void reset() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

std::wstring wide(const std::string& utf8) {
  const std::u16string text = platform::utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

bool sameName(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towupper(static_cast<wint_t>(x)) == std::towupper(static_cast<wint_t>(y));
         });
}

// The block CreateProcessW takes: NAME=value strings each ended by a NUL, the whole ended by
// another. This process's variables, less those `overrides` replace (names compare without
// regard to case, as Windows compares them), then the overrides.
std::wstring environmentBlock(const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::wstring block;
  wchar_t* current = GetEnvironmentStringsW();
  for (const wchar_t* entry = current; entry != nullptr && *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    const std::wstring_view line(entry);
    // Entries such as "=C:=C:\dir" start with "=": the name runs to the second one.
    const std::size_t equals = line.find(L'=', 1);
    const std::wstring_view name = line.substr(0, equals);
    const bool replaced = std::any_of(overrides.begin(), overrides.end(),
                                      [&](const auto& variable) { return sameName(wide(variable.first), name); });
    if (!replaced) block.append(line).push_back(L'\0');
  }
  if (current != nullptr) FreeEnvironmentStringsW(current);
  for (const auto& [name, value] : overrides) block.append(wide(name + "=" + value)).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

// Moves whatever the pipe holds now into the result, up to `limit` kept; false once every writer
// has closed it.
bool drainPipe(HANDLE pipe, ProgramResult& result, std::size_t limit) {
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) return true;
    char buffer[4096];
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || got == 0) return false;
    result.addErrorOutput(buffer, got, limit);
  }
}

}  // namespace

ProgramResult runProgram(const ProgramLaunch& launch) {
  SECURITY_ATTRIBUTES inheritable {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  OwnedHandle readEnd, writeEnd;
  if (!CreatePipe(readEnd.out(), writeEnd.out(), &inheritable, 0)) throw std::runtime_error("CreatePipe failed");
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  OwnedHandle nothing(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, OPEN_EXISTING, 0, nullptr));

  STARTUPINFOW startup {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing.get();
  startup.hStdOutput = nothing.get();
  startup.hStdError = writeEnd.get();

  const std::wstring program = launch.program.wstring();
  std::wstring commandLine = L"\"" + program + L"\"";
  std::wstring environment = environmentBlock(launch.environment);
  const std::wstring folder =
      launch.workingFolder.empty() ? launch.program.root_path().wstring() : launch.workingFolder.wstring();

  const auto started = std::chrono::steady_clock::now();
  PROCESS_INFORMATION process {};
  {
    const std::lock_guard turn(copyAndStartTurn());
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), folder.empty() ? nullptr : folder.c_str(), &startup, &process))
      throw std::runtime_error("cannot start " + launch.program.string());
  }
  OwnedHandle child(process.hProcess);
  CloseHandle(process.hThread);
  writeEnd.reset();  // the child holds the only writer now, so the pipe breaks when it is gone

  ProgramResult result;
  const auto deadline = started + std::chrono::duration<double>(launch.timeoutSeconds);
  bool killed = false;
  for (;;) {
    const bool open = drainPipe(readEnd.get(), result, launch.errorOutputLimit);
    if (WaitForSingleObject(child.get(), 20) == WAIT_OBJECT_0) break;
    if (!open && killed) break;
    if (!killed && std::chrono::steady_clock::now() >= deadline) {
      TerminateProcess(child.get(), 1);
      killed = true;
    }
  }
  // What the child wrote before it ended; a grandchild keeping the pipe gets a second at most.
  const auto lastCall = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (drainPipe(readEnd.get(), result, launch.errorOutputLimit) && std::chrono::steady_clock::now() < lastCall)
    Sleep(20);
  DWORD exitCode = 0;
  GetExitCodeProcess(child.get(), &exitCode);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.exitCode = killed ? -1 : static_cast<int>(exitCode);
  // A process started by CreateProcess has an address space of its own from the start.
  PROCESS_MEMORY_COUNTERS memory {};
  if (!killed && K32GetProcessMemoryInfo(child.get(), &memory, sizeof memory))
    result.peakKilobytes = static_cast<long long>(memory.PeakWorkingSetSize / 1024);
  return result;
}

// The program's own claim: the named mutex "TALVENOOK", created with initial ownership.
InstanceLockHolder::InstanceLockHolder(const std::filesystem::path&) {
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, L"TALVENOOK");
  const DWORD error = GetLastError();
  if (mutex == nullptr) throw std::runtime_error("cannot create the instance mutex");
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    throw std::runtime_error("the instance mutex is held already");
  }
  handle_ = reinterpret_cast<std::intptr_t>(mutex);
}

InstanceLockHolder::~InstanceLockHolder() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace testsupport
