// swaprename: puts one of two files over a path, again and again, as another program on the
// machine might while Talvenook reads that path: a copy of FIRST (then SECOND, then FIRST...) is
// made beside TARGET and renamed over it with MoveFileExW(MOVEFILE_REPLACE_EXISTING), so TARGET
// always names a whole file, and which one changes between any two opens. Copies, not hard links:
// a file that shares its data with FIRST or SECOND would let any write through TARGET change them.
//
//   swaprename TARGET FIRST SECOND SECONDS [STOP_FILE]
//
// Runs for SECONDS, or until STOP_FILE exists (checked on every round). Renames the system refuses
// (TARGET held open without delete sharing) are counted and retried with the other file.
// Standard output at the end: "renamed N refused M". Exit code 0; 2 for a usage error.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) {
    std::fwprintf(stderr, L"usage: swaprename TARGET FIRST SECOND SECONDS [STOP_FILE]\n");
    return 2;
  }
  const std::wstring target = argv[1];
  const std::wstring sources[2] = {argv[2], argv[3]};
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::wcstod(argv[4], nullptr) * 1000);
  const wchar_t* stop = argc > 5 ? argv[5] : nullptr;
  const std::wstring link = target + L".swap";
  unsigned long long renamed = 0, refused = 0;
  for (int turn = 0; GetTickCount64() < deadline; turn ^= 1) {
    if (stop != nullptr && GetFileAttributesW(stop) != INVALID_FILE_ATTRIBUTES) break;
    DeleteFileW(link.c_str());
    if (!CopyFileW(sources[turn].c_str(), link.c_str(), FALSE)) {
      ++refused;
      continue;
    }
    if (MoveFileExW(link.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) ++renamed;
    else ++refused;
  }
  DeleteFileW(link.c_str());
  std::printf("renamed %llu refused %llu\n", renamed, refused);
  return 0;
}
