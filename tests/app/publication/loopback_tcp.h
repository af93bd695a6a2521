// Plain blocking TCP on 127.0.0.1 for the test helpers (the Redis relay, the redis-server
// controller's client), the same on Linux and Windows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testing_support::tcp {

using Socket = std::intptr_t;
constexpr Socket kNoSocket = -1;

// A listening socket on a port the system chooses, which is stored in `port`.
Socket listen_loopback(int& port);
// The next connection, or kNoSocket once the listener fails.
Socket accept_connection(Socket listener);
Socket connect_loopback(int port);
// Bytes received (at most `size`); 0 or less when the peer closed or the socket failed.
long receive_some(Socket socket, char* data, std::size_t size);
bool send_all(Socket socket, const char* data, std::size_t size);
// Ends both directions, so a receive blocked on another thread returns.
void shut_down(Socket socket);
void close_socket(Socket socket);

}  // namespace testing_support::tcp
