// Symbolic links and FIFOs on Windows. A link is made with CreateSymbolicLinkW where the system
// makes one (checked: Wine answers success and makes nothing); under Wine, links and FIFOs are made
// by running Unix's ln and mkfifo on the Unix names of the paths (wine_get_unix_file_name), and
// removed with Unix's rm (Wine's own delete opens a FIFO, and waits there).
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

// `text` in single quotes for the Unix shell (the test's paths hold no single quote).
std::string quoted(const std::string& text) { return "'" + text + "'"; }

bool namedEntryExists(const std::filesystem::path& path);

// Runs `command` in the Unix shell; true when it ended with success within ten seconds. Wine starts
// a Unix program without a process handle to wait on, so the command leaves a marker file on
// success, and the marker is waited for.
bool runUnixCommand(const std::string& command) {
  static int runs = 0;
  const std::filesystem::path marker =
      std::filesystem::temp_directory_path() /
      ("talvenook-unix-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs));
  const std::string markerName = unixName(marker);
  if (markerName.empty()) return false;
  const std::string script = command + " && : > " + quoted(markerName);
  std::wstring commandLine = L"\"Z:\\bin\\sh\" -c \"" + std::wstring(script.begin(), script.end()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(L"Z:\\bin\\sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  if (process.hThread != nullptr && process.hThread != INVALID_HANDLE_VALUE) CloseHandle(process.hThread);
  if (process.hProcess != nullptr && process.hProcess != INVALID_HANDLE_VALUE) CloseHandle(process.hProcess);
  for (int waited = 0; waited < 10000; waited += 20) {
    if (namedEntryExists(marker)) {
      DeleteFileW(marker.wstring().c_str());
      return true;
    }
    Sleep(20);
  }
  return false;
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
  return runUnixCommand("ln -s " + quoted(from) + " " + quoted(at));
}

bool makeFifo(const std::filesystem::path& path) {
  const std::string at = unixName(path);
  return !at.empty() && runUnixCommand("mkfifo " + quoted(at));
}

void releaseFifo(const std::filesystem::path& path) {
  const std::string at = unixName(path);
  if (!at.empty()) runUnixCommand(": <> " + quoted(at));
}

void removePlanted(const std::filesystem::path& path) {
  const std::string at = unixName(path);
  if (!at.empty()) runUnixCommand("rm -f " + quoted(at));
}

bool systemShowsLink(const std::filesystem::path& link) {
  const DWORD attributes = GetFileAttributesW(link.wstring().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace testsupport
