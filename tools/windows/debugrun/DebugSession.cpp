// The debug loop. Every event is continued at once: debug lines and the initial breakpoint as
// handled, every other exception (first or second chance) as not handled, so the program's own
// handlers (C++ exceptions are SEH exceptions on x64) see them exactly as without a debugger.
// Files handed over with process and DLL events are closed, as the debugging API requires.
#include "DebugSession.h"

#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "ErrorBoxWatcher.h"
#include "Output.h"

namespace debugrun {
namespace {

constexpr DWORD kWaitSliceMilliseconds = 100;
constexpr DWORD kWow64Breakpoint = 0x4000001F;  // STATUS_WX86_BREAKPOINT, the 32-bit side's first stop
constexpr SIZE_T kLongestDebugLine = 64u << 20;

// WaitForDebugEventEx hands Unicode debug lines over as such (Windows 10 and later); older systems
// and Wine have only WaitForDebugEvent, which gives them in the ANSI code page.
using WaitFunction = BOOL(WINAPI*)(LPDEBUG_EVENT, DWORD);

WaitFunction waitFunction() {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const FARPROC extended = kernel != nullptr ? GetProcAddress(kernel, "WaitForDebugEventEx") : nullptr;
  if (extended != nullptr) return reinterpret_cast<WaitFunction>(reinterpret_cast<void*>(extended));
  return WaitForDebugEvent;
}

std::wstring hex(DWORD value) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(value));
  return text;
}

// "0x<address> (<module>+0x<offset>)" for an address in the process, so a report says whose code
// faulted; the module part is left out when no module of the process holds the address.
std::wstring placeOf(HANDLE process, const void* address) {
  wchar_t text[96];
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::swprintf(text, 96, L"0x%llX", static_cast<unsigned long long>(at));
  std::wstring place = text;
  HMODULE modules[512];
  DWORD bytes = 0;
  if (!EnumProcessModules(process, modules, sizeof modules, &bytes)) return place;
  for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; ++i) {
    MODULEINFO info{};
    if (!GetModuleInformation(process, modules[i], &info, sizeof info)) continue;
    const auto base = reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll);
    if (at < base || at - base >= info.SizeOfImage) continue;
    wchar_t name[MAX_PATH] = {};
    if (GetModuleBaseNameW(process, modules[i], name, MAX_PATH) == 0) return place;
    std::swprintf(text, 96, L"+0x%llX)", static_cast<unsigned long long>(at - base));
    return place + L" (" + name + text;
  }
  return place;
}

// Reads up to `bytes` bytes at `address` of the process; as many as can be read.
std::vector<char> readMemory(HANDLE process, const void* address, SIZE_T bytes) {
  std::vector<char> data(bytes);
  SIZE_T got = 0;
  if (!ReadProcessMemory(process, address, data.data(), bytes, &got)) {
    // A string near the end of a mapping: retry with less, down to what is there.
    while (bytes > 1 && got == 0) {
      bytes /= 2;
      ReadProcessMemory(process, address, data.data(), bytes, &got);
    }
  }
  data.resize(got);
  return data;
}

}  // namespace

DebugSession::DebugSession(const std::wstring& commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring writable = commandLine;
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                      &startup, &process_))
    throw std::runtime_error("cannot start the program (error " + std::to_string(GetLastError()) + ")");
}

DebugSession::~DebugSession() {
  if (process_.hThread != nullptr) CloseHandle(process_.hThread);
  if (process_.hProcess != nullptr) CloseHandle(process_.hProcess);
}

DWORD DebugSession::run(double deadlineSeconds) {
  const WaitFunction wait = waitFunction();
  ErrorBoxWatcher boxes(process_.dwProcessId);
  const auto started = std::chrono::steady_clock::now();
  const auto deadline = started + std::chrono::duration<double>(deadlineSeconds);
  auto lastLook = started;
  bool terminated = false;
  while (!exited_) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLook >= std::chrono::milliseconds(kWaitSliceMilliseconds)) {
      lastLook = now;
      for (const ErrorBox& box : boxes.poll()) writeReport(L"error box \"" + box.caption + L"\": " + box.text);
    }
    if (!terminated && now >= deadline) {
      writeReport(L"deadline passed; terminating the program");
      TerminateProcess(process_.hProcess, kDeadlineExitCode);
      terminated = true;
    }
    DEBUG_EVENT event{};
    if (!wait(&event, kWaitSliceMilliseconds)) {
      if (terminated && now >= deadline + std::chrono::seconds(10)) return kDeadlineExitCode;  // it never ended
      continue;
    }
    const DWORD status = handle(event);
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
  return exitCode_;
}

DWORD DebugSession::handle(const DEBUG_EVENT& event) {
  switch (event.dwDebugEventCode) {
    case CREATE_PROCESS_DEBUG_EVENT:
      if (event.u.CreateProcessInfo.hFile != nullptr) CloseHandle(event.u.CreateProcessInfo.hFile);
      return DBG_CONTINUE;
    case LOAD_DLL_DEBUG_EVENT:
      if (event.u.LoadDll.hFile != nullptr) CloseHandle(event.u.LoadDll.hFile);
      return DBG_CONTINUE;
    case OUTPUT_DEBUG_STRING_EVENT:
      handleDebugString(event.u.DebugString);
      return DBG_CONTINUE;
    case EXCEPTION_DEBUG_EVENT:
      return handleException(event.u.Exception);
    case EXIT_PROCESS_DEBUG_EVENT:
      exited_ = true;
      exitCode_ = event.u.ExitProcess.dwExitCode;
      return DBG_CONTINUE;
    default:
      return DBG_CONTINUE;
  }
}

DWORD DebugSession::handleException(const EXCEPTION_DEBUG_INFO& exception) {
  const DWORD code = exception.ExceptionRecord.ExceptionCode;
  if (code == EXCEPTION_BREAKPOINT && !initialBreakpointSeen_) {
    initialBreakpointSeen_ = true;
    return DBG_CONTINUE;
  }
  if (code == kWow64Breakpoint && !initialWow64BreakpointSeen_) {
    initialWow64BreakpointSeen_ = true;
    return DBG_CONTINUE;
  }
  if (exception.dwFirstChance == 0)
    writeReport(L"unhandled exception " + hex(code) + L" at " +
                placeOf(process_.hProcess, exception.ExceptionRecord.ExceptionAddress));
  return DBG_EXCEPTION_NOT_HANDLED;
}

void DebugSession::handleDebugString(const OUTPUT_DEBUG_STRING_INFO& info) {
  const SIZE_T units = info.nDebugStringLength;
  if (units == 0 || info.lpDebugStringData == nullptr) return;
  if (info.fUnicode) {
    const SIZE_T bytes = units * sizeof(wchar_t) < kLongestDebugLine ? units * sizeof(wchar_t) : kLongestDebugLine;
    const std::vector<char> data = readMemory(process_.hProcess, info.lpDebugStringData, bytes);
    std::wstring line(data.size() / sizeof(wchar_t), L'\0');
    if (!line.empty()) std::memcpy(line.data(), data.data(), line.size() * sizeof(wchar_t));
    writeDebugLine(line.substr(0, line.find(L'\0')));
    return;
  }
  const std::vector<char> data =
      readMemory(process_.hProcess, info.lpDebugStringData, units < kLongestDebugLine ? units : kLongestDebugLine);
  const std::string line(data.data(), data.size());
  writeDebugLine(fromAnsi(line.substr(0, line.find('\0'))));
}

}  // namespace debugrun
