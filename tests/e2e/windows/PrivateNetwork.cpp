// unshare(CLONE_NEWNET) and the loopback interface up through SIOCSIFFLAGS (no iproute2 needed).
#include "tests/e2e/windows/PrivateNetwork.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace wintest {

std::string enterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0)
    return std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno) + " (run the tests as root)";
  const int control = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (control < 0) return std::string("socket failed: ") + std::strerror(errno);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  std::string failure;
  if (ioctl(control, SIOCGIFFLAGS, &request) != 0) {
    failure = std::string("SIOCGIFFLAGS on lo failed: ") + std::strerror(errno);
  } else {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    if (ioctl(control, SIOCSIFFLAGS, &request) != 0)
      failure = std::string("SIOCSIFFLAGS on lo failed: ") + std::strerror(errno);
  }
  close(control);
  return failure;
}

}  // namespace wintest
