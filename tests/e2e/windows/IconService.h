// The reference PHP icon service (iconservice/: its set-up, then public/ under
// `php -S 127.0.0.1:8750`, the program's compiled-in address), with a data folder of the test's
// own. Only sound inside the suite's private network, where that port belongs to the test.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace wintest {

class IconService {
 public:
  // Starts the service and waits (at most 10 s) until it accepts connections; raises
  // std::runtime_error when it does not.
  IconService(const std::filesystem::path& dataFolder, const std::filesystem::path& log);
  // Stops the server by its process id and reaps it.
  ~IconService();
  IconService(const IconService&) = delete;
  IconService& operator=(const IconService&) = delete;

  std::filesystem::path store() const { return data_ / "icons.sqlite"; }
  std::filesystem::path iconFolder() const { return data_ / "icons"; }
  // How many service requests ("POST /index.php?r=sw/...") the server has logged so far.
  int requestsLogged() const;

 private:
  std::filesystem::path data_;
  std::filesystem::path log_;
  pid_t pid_ = -1;
};

}  // namespace wintest
