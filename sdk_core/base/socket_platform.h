// The thin layer between the SDK and the platform's socket library: the socket type, closing,
// the non-blocking switch, the last error, and library start-up and clean-up.
#pragma once

namespace lidar::sdk {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

// Descriptor 0 is a valid socket on POSIX; only negative values mean "none".
inline bool IsOpenSocket(SocketHandle sock) { return sock >= 0; }

// Start-up and clean-up of the socket library; POSIX needs neither.
bool SocketLibraryStartup();
void SocketLibraryCleanup();

// Closes an open socket; does nothing for kInvalidSocket.
void CloseSocket(SocketHandle sock);
bool SetSocketNonBlocking(SocketHandle sock, bool non_block);
int LastSocketError();

}  // namespace lidar::sdk
