// The SDK's socket platform layer. Everything that differs between POSIX sockets and Windows
// Sockets is behind these functions: socket_platform.cpp holds what both write the same way,
// socket_platform_posix.cpp and socket_platform_windows.cpp the rest (the build picks one).
//
// Sockets are kept as int on both platforms: a Winsock SOCKET is a kernel handle whose value
// fits in 32 bits, and its INVALID_SOCKET converts to -1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/ipv4_address.h"

namespace lidar::sdk {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

// Descriptor 0 is a valid socket on POSIX; only negative values mean "none".
inline bool IsOpenSocket(SocketHandle sock) { return sock >= 0; }

// Windows Sockets 2.0 start-up (WSAStartup, version 0x0002) and its clean-up, which must come
// after every socket is closed. POSIX needs neither.
bool SocketLibraryStartup();
void SocketLibraryCleanup();

// Closes an open socket; does nothing for kInvalidSocket.
void CloseSocket(SocketHandle sock);
bool SetSocketNonBlocking(SocketHandle sock, bool non_block);
int LastSocketError();

// Who else may bind the address and port a socket binds.
enum class PortSharing {
  // The platform's default: nobody.
  kNone,
  // SO_REUSEADDR on both platforms: any socket that asks for it too. The detection port needs
  // it, on Windows as on Linux: LiDAR programs on the same computer (a LiDAR tool, a simulated
  // LiDAR) listen for detection broadcasts on port 56000 of the wildcard address, and only
  // reuse lets the host bind its own address next to them.
  kShared,
  // The SDK's command and data ports. Linux: SO_REUSEADDR, which there shares a port only with
  // sockets that ask for it as well. Windows: SO_EXCLUSIVEADDRUSE instead, because Windows
  // SO_REUSEADDR lets any other program bind the same address and port and take the LiDAR's
  // stream or acknowledgements from us; a second service on the same ports must fail to start.
  // The SDK never needs two sockets of its own on one port: its socket registry shares them.
  kOwned,
};
bool SetPortSharing(SocketHandle sock, PortSharing sharing);

// Asks the kernel to report the socket's running count of datagrams it dropped for want of
// buffer space with every datagram received (Linux). False where no such count exists (Windows).
bool RequestKernelDropCount(SocketHandle sock);
// Whether this platform reports kernel drop counts at all.
bool KernelDropCountsAvailable();

// Asks the kernel to stamp every datagram the socket receives with the time it arrived
// (Linux). False where no such stamp exists (Windows).
bool RequestReceiveTimestamps(SocketHandle sock);

struct ReceivedDatagram {
  int length = -1;  // bytes received; negative when nothing was
  Ipv4Endpoint from;
  bool drop_count_reported = false;  // the kernel's count came with this datagram
  uint32_t socket_drops = 0;         // the socket's running count of kernel drops
  // When it reached this host, in nanoseconds of std::chrono::steady_clock: the kernel's stamp
  // where the socket asked for one, otherwise the time of the receive call.
  int64_t arrival_ns = 0;
};
// One datagram into `buffer`, with its sender, its arrival time and, where the platform reports
// it, the socket's kernel drop count.
ReceivedDatagram ReceiveDatagram(SocketHandle sock, uint8_t* buffer, std::size_t size);

// The most datagrams one receive call takes off a socket: 64 on Linux (recvmmsg); 1 on Windows,
// which has no such call.
std::size_t MaxDatagramsPerReceive();

// Room for the datagrams one call takes off a socket (no more than MaxDatagramsPerReceive),
// each cut to `datagram_size` bytes as ReceiveDatagram cuts it.
class ReceiveBatch {
 public:
  ReceiveBatch(std::size_t capacity, std::size_t datagram_size);

  // Takes up to `limit` waiting datagrams (no more than the capacity) off `sock` in arrival
  // order, without waiting; a limit of 1 is one ReceiveDatagram on every platform. Returns how
  // many: 0 when none was waiting or the call failed.
  std::size_t Receive(SocketHandle sock, std::size_t limit);

  std::size_t capacity() const { return datagrams_.size(); }
  // The i-th datagram of the last Receive: its length, sender and drop count, and its bytes.
  const ReceivedDatagram& datagram(std::size_t i) const { return datagrams_[i]; }
  uint8_t* bytes(std::size_t i) { return storage_.data() + i * datagram_size_; }

 private:
  // One ReceiveDatagram into the first slot.
  std::size_t ReceiveOne(SocketHandle sock);

  std::size_t datagram_size_;
  std::vector<uint8_t> storage_;
  std::vector<ReceivedDatagram> datagrams_;
};
// The number of bytes sent, or -1.
int SendDatagram(SocketHandle sock, const uint8_t* bytes, std::size_t length,
                 const Ipv4Endpoint& to);
// The address and port the socket is bound to.
bool LocalEndpoint(SocketHandle sock, Ipv4Endpoint* local);
// Waits up to timeout_ms for the socket to become readable; false on time-out or error.
bool WaitReadable(SocketHandle sock, int timeout_ms);

// Whether select() can watch `sock` in a set that already holds `set_size` sockets. A POSIX
// fd_set is a bitmap indexed by descriptor value: the value must be below FD_SETSIZE, however
// few sockets the set holds. A Windows fd_set is an array of sockets: any handle value will do,
// but no more than FD_SETSIZE (64) of them.
bool SelectCanWatch(SocketHandle sock, std::size_t set_size);

// A connected loopback TCP pair: a byte sent on `writer` makes `reader` readable. Both ends are
// non-blocking. On failure nothing stays open.
bool OpenLoopbackPair(SocketHandle* writer, SocketHandle* reader);
// One byte on the pair's writer; never blocks and never raises a signal. True when it went out.
bool SendWakeByte(SocketHandle writer);
// Reads and discards what is waiting on the pair's reader, up to 512 bytes.
void DrainSocket(SocketHandle reader);

}  // namespace lidar::sdk
