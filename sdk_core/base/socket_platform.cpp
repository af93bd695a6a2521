#include "socket_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace lidar::sdk {

bool SocketLibraryStartup() { return true; }

void SocketLibraryCleanup() {}

void CloseSocket(SocketHandle sock) {
  if (IsOpenSocket(sock)) ::close(sock);
}

bool SetSocketNonBlocking(SocketHandle sock, bool non_block) {
  const int flags = ::fcntl(sock, F_GETFL, 0);
  if (flags < 0) return false;
  const int wanted = non_block ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return wanted == flags || ::fcntl(sock, F_SETFL, wanted) == 0;
}

int LastSocketError() { return errno; }

}  // namespace lidar::sdk
