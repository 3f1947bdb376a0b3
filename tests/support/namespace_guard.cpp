#include "namespace_guard.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orlin::testsupport {
namespace {

bool BringLoopbackUp(std::string* reason) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (reason) *reason = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (ok) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  if (!ok && reason) *reason = std::string("bringing up the loopback interface: ") + std::strerror(errno);
  ::close(fd);
  return ok;
}

}  // namespace

bool JoinPrivateNetworkNamespace(std::string* reason) {
  // The namespace belongs to the thread that joined it (and to what it
  // starts), so the flag is per thread too.
  thread_local bool joined = false;
  if (joined) return true;
  if (::unshare(CLONE_NEWNET) != 0) {
    if (reason) *reason = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
    return false;
  }
  if (!BringLoopbackUp(reason)) return false;
  joined = true;
  return true;
}

}  // namespace orlin::testsupport
