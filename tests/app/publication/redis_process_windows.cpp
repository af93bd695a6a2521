// A Windows test cannot start or signal the Linux redis-server itself: its wrapper,
// redis_control.py, does that on request, over a loopback connection whose port it passes in
// LIDAR_TEST_REDIS_CONTROL. One request per connection: a line out, a line back.
#include "redis_process.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/app/publication/loopback_tcp.h"

namespace testing_support::redis_process {
namespace {

// The controller's answer ("ok ..." or "error ..."), or empty when there is no controller.
std::string request(const std::string& line) {
  const char* port = std::getenv("LIDAR_TEST_REDIS_CONTROL");
  if (port == nullptr || *port == '\0') {
    std::fputs("redis-server: no controller (LIDAR_TEST_REDIS_CONTROL is not set; run the test "
               "through redis_control.py)\n",
               stderr);
    return {};
  }
  const tcp::Socket socket = tcp::connect_loopback(std::atoi(port));
  if (socket == tcp::kNoSocket) {
    std::fprintf(stderr, "redis-server: cannot reach the controller on port %s\n", port);
    return {};
  }
  std::string answer;
  const std::string text = line + "\n";
  if (tcp::send_all(socket, text.data(), text.size())) {
    char chunk[256];
    long n = 0;
    while (answer.find('\n') == std::string::npos &&
           (n = tcp::receive_some(socket, chunk, sizeof(chunk))) > 0) {
      answer.append(chunk, static_cast<std::size_t>(n));
    }
  }
  tcp::close_socket(socket);
  return answer.substr(0, answer.find('\n'));
}

}  // namespace

long long start(int port) {
  const std::string answer = request("start " + std::to_string(port));
  if (answer.rfind("ok ", 0) != 0) {
    std::fprintf(stderr, "redis-server: not started (controller: '%s')\n", answer.c_str());
    return -1;
  }
  return std::atoll(answer.c_str() + 3);
}

void kill(long long pid) { request("kill " + std::to_string(pid)); }

void pause(long long pid) { request("stop " + std::to_string(pid)); }

void resume(long long pid) { request("cont " + std::to_string(pid)); }

}  // namespace testing_support::redis_process
