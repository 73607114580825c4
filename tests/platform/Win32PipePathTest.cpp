// Paths that lead to a named pipe, spelt in every form the system takes, and a FIFO planted on the
// Unix side of Wine: every open of the Windows layer refuses them without connecting to the pipe
// (whose server could otherwise act as the program's account) and without waiting.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#include "platform/FileSystem.h"
#include "platform/NativeFile.h"
#include "platform/win32/RegularFile.h"
#include "tests/support/PlantedFiles.h"
#include "tests/support/TempFolder.h"

namespace {

using platform::FileError;
using platform::LinkPolicy;
using platform::NativeFile;

// One instance of a named pipe whose server waits for a client without blocking the test, so
// that the test can ask afterwards whether anything connected.
class PipeServer {
 public:
  explicit PipeServer(const std::wstring& name)
      : pipe_(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1, 512, 512, 0,
                               nullptr)),
        event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    waiting_.hEvent = event_;
    listening_ = pipe_ != INVALID_HANDLE_VALUE && !ConnectNamedPipe(pipe_, &waiting_) && GetLastError() == ERROR_IO_PENDING;
  }
  ~PipeServer() {
    if (pipe_ != INVALID_HANDLE_VALUE) {
      CancelIo(pipe_);
      CloseHandle(pipe_);
    }
    CloseHandle(event_);
  }
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  bool listening() const { return listening_; }
  // True once a client has opened the pipe (the wait ends when one connects).
  bool clientConnected(DWORD milliseconds = 100) const { return WaitForSingleObject(event_, milliseconds) == WAIT_OBJECT_0; }

 private:
  HANDLE pipe_;
  HANDLE event_;
  OVERLAPPED waiting_{};
  bool listening_ = false;
};

std::u16string text(const std::wstring& wide) { return std::u16string(wide.begin(), wide.end()); }

// Every open of the layer given `path`: all refuse.
void expectEveryOpenRefuses(const std::u16string& path) {
  EXPECT_FALSE(platform::win32::isRegularFile(path));
  FileError error;
  EXPECT_FALSE(NativeFile::openReadDenyWrite(path, error).isOpen());
  EXPECT_NE(error.code, 0);
  EXPECT_FALSE(NativeFile::openReadDenyWrite(path, error, LinkPolicy::Refuse).isOpen());
  EXPECT_FALSE(platform::isAbsentOrRegularFile(path, LinkPolicy::Follow));
  EXPECT_FALSE(platform::isAbsentOrRegularFile(path, LinkPolicy::Refuse));
}

}  // namespace

// Each spelling of the pipe's name (separators mixed, the object manager's "\??\", GLOBALROOT, the
// machine's own pipe share) is "not a regular file", and the pipe's server never sees a client.
// The last check shows that the server does take a client that opens it directly.
TEST(Win32PipePath, EverySpellingOfAPipeIsRefusedWithoutConnecting) {
  const std::wstring name = L"talvenook-pipe-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring forms[] = {
      L"\\\\.\\pipe\\" + name,
      L"\\??\\pipe\\" + name,
      L"\\\\./pipe/" + name,
      L"/\\.\\pipe\\" + name,
      L"//?/pipe/" + name,
      L"\\??\\GLOBALROOT\\Device\\NamedPipe\\" + name,
      L"\\?" L"?/GLOBALROOT/Device\\NamedPipe/" + name,  // split: "??/" would read as a trigraph
      L"\\\\?\\GLOBALROOT\\Device\\NamedPipe\\" + name,
      L"\\\\localhost\\PIPE\\" + name,
      L"\\\\?\\UNC\\localhost\\pipe\\" + name,
  };
  for (const std::wstring& form : forms) {
    SCOPED_TRACE(std::string(form.begin(), form.end()));
    const PipeServer server(L"\\\\.\\pipe\\" + name);
    ASSERT_TRUE(server.listening());
    EXPECT_TRUE(platform::win32::namesDeviceNamespace(text(form)));
    expectEveryOpenRefuses(text(form));
    FileError error;
    EXPECT_FALSE(NativeFile::createAlways(text(form), error).isOpen());
    EXPECT_FALSE(server.clientConnected());
  }

  const PipeServer control(L"\\\\.\\pipe\\" + name);
  const HANDLE client = CreateFileW((L"\\\\.\\pipe\\" + name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    platform::win32::kNoImpersonation, nullptr);
  EXPECT_NE(client, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(control.clientConnected(2000));
  if (client != INVALID_HANDLE_VALUE) CloseHandle(client);
}

// The spelling check refuses nothing ordinary: long drive paths, network shares, and folders that
// happen to be called "pipe" stay files.
TEST(Win32PipePath, OrdinaryPathsAreNotTakenForPipes) {
  for (const char16_t* path : {u"\\\\?\\C:\\tools\\setup.exe", u"\\??\\C:\\tools\\setup.exe", u"\\\\server\\share\\a.exe",
                               u"\\\\?\\UNC\\server\\share\\a.exe", u"//server/share/pipe/a.exe", u"C:\\pipe\\a.exe",
                               u"pipe\\a.exe", u"\\\\server\\pipes\\a.exe", u"C:\\image\\0.ico"}) {
    EXPECT_FALSE(platform::win32::namesDeviceNamespace(path)) << std::string(path, path + std::char_traits<char16_t>::length(path));
  }
}

// A FIFO made on the Unix side is no file on a disk, whatever its name: the opens judge the handle
// (a pipe), refuse it, and none of them waits for a writer. The test has its own deadline.
TEST(Win32PipePath, FifoIsJudgedByItsHandleWithoutWaiting) {
  const testsupport::TempFolder folder;
  const std::filesystem::path fifo = folder.path() / "setup.exe";
  const testsupport::RemovedAtEnd planted(fifo);  // Wine's own delete would open the FIFO
  if (!testsupport::makeFifo(fifo)) GTEST_SKIP() << "no FIFO can be made from this system (not under Wine)";
  EXPECT_FALSE(platform::win32::namesDeviceNamespace(fifo.u16string()));
  auto refused = std::async(std::launch::async, [&] {
    expectEveryOpenRefuses(fifo.u16string());
    return true;
  });
  if (refused.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "an open waited on the FIFO";
    while (refused.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready) testsupport::releaseFifo(fifo);
  }
  EXPECT_TRUE(refused.get());
}
