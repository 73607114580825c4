// debugrun: runs a program under the Win32 debugging API, for tests of Windows programs that talk
// only through the system debug channel and error boxes.
//
//   debugrun [--deadline SECONDS] [--] PROGRAM [ARGUMENT...]
//
// Standard output: each debug line of PROGRAM (OutputDebugStringW/A), in UTF-8, one per line.
// Standard error: "debugrun: error box \"CAPTION\": TEXT" for each error box (which is then
// dismissed with OK), and notes on unhandled exceptions and the deadline.
// Exit code: PROGRAM's; 124 when it was terminated at the deadline (default 120 s); 125 when
// debugrun itself could not run it. Works on Windows and under Wine.
#include <windows.h>

#include <cstdlib>
#include <exception>
#include <string>

#include "DebugSession.h"
#include "Output.h"

namespace {

constexpr int kCannotRun = 125;
constexpr double kDefaultDeadlineSeconds = 120;

// Quotes one argument so that the C runtime's command line parser gives it back unchanged:
// backslashes are literal except before a quote, where they are doubled.
std::wstring quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

int usage() {
  debugrun::writeReport(L"usage: debugrun [--deadline SECONDS] [--] PROGRAM [ARGUMENT...]");
  return kCannotRun;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  double deadline = kDefaultDeadlineSeconds;
  int first = 1;
  for (; first < argc && argv[first][0] == L'-'; ++first) {
    const std::wstring option = argv[first];
    if (option == L"--") {
      ++first;
      break;
    }
    if (option != L"--deadline" || first + 1 >= argc) return usage();
    deadline = std::wcstod(argv[++first], nullptr);
    if (!(deadline > 0)) return usage();
  }
  if (first >= argc) return usage();

  std::wstring commandLine;
  for (int i = first; i < argc; ++i) commandLine += (i > first ? L" " : L"") + quoted(argv[i]);
  try {
    debugrun::DebugSession session(commandLine);
    return static_cast<int>(session.run(deadline));
  } catch (const std::exception& failure) {
    const std::string message = failure.what();
    debugrun::writeReport(std::wstring(message.begin(), message.end()));
    return kCannotRun;
  }
}
