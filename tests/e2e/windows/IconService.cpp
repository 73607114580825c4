// php -S with the icon service's document root, started and stopped by the test.
#include "tests/e2e/windows/IconService.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/e2e/windows/ChildProcess.h"
#include "tests/support/TempFolder.h"

namespace wintest {
namespace fs = std::filesystem;
namespace {

constexpr int kPort = 8750;

bool accepting() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

}  // namespace

IconService::IconService(const fs::path& dataFolder, const fs::path& log) : data_(dataFolder), log_(log) {
  if (accepting()) throw std::runtime_error("127.0.0.1:8750 is taken inside the test's own network");
  fs::create_directories(data_);
  // As the service is run: its set-up (checks, schema) once, then php -S serving public/ alone.
  const fs::path root = fs::path(TALVENOOK_SOURCE_DIR) / "iconservice";
  const Environment environment = {{"TALVENOOK_ICONSERVICE_DATA", data_.string()}};
  if (runCommand({"php", (root / "setup.php").string(), (root / "public").string()}, environment, log_, 60) != 0)
    throw std::runtime_error("the icon service's set-up failed; see " + log_.string());
  pid_ = startChild({"php", "-S", "127.0.0.1:" + std::to_string(kPort), "-t", (root / "public").string()}, environment,
                    {log_, log_, {}});
  for (int waited = 0; waited < 200; ++waited) {
    if (accepting()) return;
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  throw std::runtime_error("the icon service did not start; see " + log_.string());
}

IconService::~IconService() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

int IconService::requestsLogged() const {
  const std::string log = testsupport::readFileBytes(log_);
  int count = 0;
  for (std::size_t at = log.find("POST /index.php?r=sw/"); at != std::string::npos;
       at = log.find("POST /index.php?r=sw/", at + 1))
    ++count;
  return count;
}

}  // namespace wintest
