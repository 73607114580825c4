// Symbolic links and FIFOs on Windows. A link is made with CreateSymbolicLinkW where the system
// makes one (checked: Wine answers success and makes nothing); under Wine, links and FIFOs are made
// by running Unix's ln and mkfifo on the Unix names of the paths (wine_get_unix_file_name).
#include "tests/support/PlantedFiles.h"

#include <windows.h>

#include <string>

namespace testsupport {
namespace {

// The Unix name of a Windows path under Wine, or empty text outside Wine.
std::string unixName(const std::filesystem::path& path) {
  using UnixFileName = char*(__cdecl*)(const wchar_t*);
  const auto toUnix = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return {};
  char* name = toUnix(std::filesystem::absolute(path).wstring().c_str());
  if (name == nullptr) return {};
  std::string text(name);
  HeapFree(GetProcessHeap(), 0, name);
  return text;
}

std::wstring quoted(const std::string& text) { return L"\"" + std::wstring(text.begin(), text.end()) + L"\""; }

// Runs the Unix program `program` (a Windows name such as Z:\bin\ln) with `arguments`; true when
// it ran and ended with 0 within ten seconds.
bool runUnixProgram(const wchar_t* program, const std::wstring& arguments) {
  std::wstring commandLine = std::wstring(L"\"") + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  DWORD code = 1;
  if (WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code == 0;
}

bool namedEntryExists(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return GetFileAttributesExW(path.wstring().c_str(), GetFileExInfoStandard, &data) != 0;
}

}  // namespace

bool makeSymbolicLink(const std::filesystem::path& target, const std::filesystem::path& link) {
  std::error_code error;
  const DWORD kind = std::filesystem::is_directory(target, error) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
  constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE (developer mode)
  if (CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(), kind | kUnprivileged) && namedEntryExists(link)) {
    return true;
  }
  const std::string from = unixName(target);
  const std::string at = unixName(link);
  if (from.empty() || at.empty()) return false;
  return runUnixProgram(L"Z:\\bin\\ln", L"-s " + quoted(from) + L" " + quoted(at));
}

bool makeFifo(const std::filesystem::path& path) {
  const std::string at = unixName(path);
  return !at.empty() && runUnixProgram(L"Z:\\usr\\bin\\mkfifo", quoted(at));
}

void releaseFifo(const std::filesystem::path& path) {
  const std::string at = unixName(path);
  if (!at.empty()) runUnixProgram(L"Z:\\bin\\sh", L"-c \": <> \\\"$0\\\"\" " + quoted(at));
}

bool systemShowsLink(const std::filesystem::path& link) {
  const DWORD attributes = GetFileAttributesW(link.wstring().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace testsupport
