// The POSIX side of the socket platform layer.
#include <fcntl.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/socket_system.h"

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

bool SetPortSharing(SocketHandle sock, PortSharing sharing) {
  if (sharing == PortSharing::kNone) return true;
  return SetIntOption(sock, SOL_SOCKET, SO_REUSEADDR, 1);
}

bool RequestKernelDropCount(SocketHandle sock) {
  return SetIntOption(sock, SOL_SOCKET, SO_RXQ_OVFL, 1);
}

bool KernelDropCountsAvailable() { return true; }

bool RequestReceiveTimestamps(SocketHandle sock) {
  return SetIntOption(sock, SOL_SOCKET, SO_TIMESTAMPNS, 1);
}

namespace {

// The kernel stamps datagrams on the system clock, which the application does not use for
// intervals (it steps); each stamp is moved to the steady clock by its age, measured on the
// system clock at the moment the receive call returned.
struct ClockPair {
  int64_t steady_ns;
  int64_t system_ns;

  static ClockPair Now() {
    timespec system{};
    ::clock_gettime(CLOCK_REALTIME, &system);
    const auto steady = std::chrono::steady_clock::now().time_since_epoch();
    return {std::chrono::duration_cast<std::chrono::nanoseconds>(steady).count(),
            int64_t{system.tv_sec} * 1000000000 + system.tv_nsec};
  }

  // A stamp from the future, or older than any datagram waits in a buffer, is a step of the
  // system clock in between, not an age.
  int64_t SteadyOf(int64_t stamp_ns) const {
    constexpr int64_t kMaxAgeNs = 10000000000;
    const int64_t age = system_ns - stamp_ns;
    return age >= 0 && age <= kMaxAgeNs ? steady_ns - age : steady_ns;
  }
};

// Where one received datagram lands: its bytes, its sender and its ancillary data.
struct ReceiveSlot {
  sockaddr_in from{};
  iovec data{};
  // Room for the kernel's drop count (SO_RXQ_OVFL) and its receive stamp (SO_TIMESTAMPNS).
  alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(uint32_t)) + CMSG_SPACE(sizeof(timespec))];

  void Prepare(msghdr& message, uint8_t* buffer, std::size_t size) {
    data = iovec{buffer, size};
    message = msghdr{};
    message.msg_name = &from;
    message.msg_namelen = sizeof(from);
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
  }

  // The datagram of `length` bytes the kernel left in `message`, received by `clocks`.
  ReceivedDatagram Read(msghdr& message, std::size_t length, const ClockPair& clocks) const {
    ReceivedDatagram result;
    result.length = static_cast<int>(length);
    result.from = FromSockaddr(from);
    result.arrival_ns = clocks.steady_ns;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != SOL_SOCKET) continue;
      if (c->cmsg_type == SO_RXQ_OVFL && c->cmsg_len >= CMSG_LEN(sizeof(uint32_t))) {
        std::memcpy(&result.socket_drops, CMSG_DATA(c), sizeof(result.socket_drops));
        result.drop_count_reported = true;
      } else if (c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
        result.arrival_ns = clocks.SteadyOf(int64_t{stamp.tv_sec} * 1000000000 + stamp.tv_nsec);
      }
    }
    return result;
  }
};

}  // namespace

ReceivedDatagram ReceiveDatagram(SocketHandle sock, uint8_t* buffer, std::size_t size) {
  ReceiveSlot slot;
  msghdr message;
  slot.Prepare(message, buffer, size);
  const ssize_t received = ::recvmsg(sock, &message, 0);
  if (received < 0) return ReceivedDatagram{};
  return slot.Read(message, static_cast<std::size_t>(received), ClockPair::Now());
}

std::size_t ReceiveBatch::Receive(SocketHandle sock, std::size_t limit) {
  const std::size_t wanted = std::min(limit, datagrams_.size());
  if (wanted == 0) return 0;
  if (wanted == 1) return ReceiveOne(sock);
  ReceiveSlot slots[kMaxDatagramsPerReceive];
  mmsghdr messages[kMaxDatagramsPerReceive];
  for (std::size_t i = 0; i < wanted; ++i) {
    slots[i].Prepare(messages[i].msg_hdr, bytes(i), datagram_size_);
    messages[i].msg_len = 0;
  }
  // MSG_DONTWAIT: what is waiting now, never a wait for the rest of the batch to arrive.
  const int received =
      ::recvmmsg(sock, messages, static_cast<unsigned>(wanted), MSG_DONTWAIT, nullptr);
  if (received <= 0) return 0;
  const ClockPair clocks = ClockPair::Now();
  for (int i = 0; i < received; ++i) {
    datagrams_[i] = slots[i].Read(messages[i].msg_hdr, messages[i].msg_len, clocks);
  }
  return static_cast<std::size_t>(received);
}

bool SelectCanWatch(SocketHandle sock, std::size_t) { return sock >= 0 && sock < FD_SETSIZE; }

bool SendWakeByte(SocketHandle writer) {
  const char byte = '1';
  return ::send(writer, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL) == 1;
}

}  // namespace lidar::sdk
