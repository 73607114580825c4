// debugrun_probe: the program debugrun's own tests run under it. It writes known debug lines
// (ASCII, accented, long, with a line break), throws and catches a C++ exception (a first-chance
// exception the debugger must pass on), and then, by its arguments:
//   box     shows an error box (caption "Probe Caption", text "Something went wrong.") and writes
//           "box answered <n>" once it is closed
//   hang    waits forever (for the deadline)
//   crash   ends by an unhandled C++ exception
//   fault   ends by reading through a null pointer (an access violation nobody handles)
//   <n>     exits with code n (default 0)
#include <windows.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

int wmain(int argc, wchar_t** argv) {
  OutputDebugStringW(L"probe started");
  OutputDebugStringW(L"Caf\u00e9 cr\u00e8me, na\u00efve");
  OutputDebugStringW(std::wstring(5000, L'x').c_str());
  OutputDebugStringW(L"two\r\nlines\tand a tab");
  OutputDebugStringA("narrow line");
  try {
    throw std::runtime_error("first chance");
  } catch (const std::exception&) {
    OutputDebugStringW(L"exception caught");
  }
  int exitCode = 0;
  for (int i = 1; i < argc; ++i) {
    const std::wstring word = argv[i];
    if (word == L"box") {
      const int answer = MessageBoxW(nullptr, L"Something went wrong.", L"Probe Caption", MB_ICONERROR);
      OutputDebugStringW((L"box answered " + std::to_wstring(answer)).c_str());
    } else if (word == L"hang") {
      Sleep(INFINITE);
    } else if (word == L"crash") {
      throw std::runtime_error("nobody catches this");
    } else if (word == L"fault") {
      // The pointer itself is volatile, so the compiler cannot prove the read out of bounds and
      // the program really reads near address 0 at run time.
      int* volatile nowhere = nullptr;
      exitCode = nowhere[2];
    } else {
      exitCode = std::wcstol(word.c_str(), nullptr, 10);
    }
  }
  OutputDebugStringW(L"probe ends");
  return exitCode;
}
