#include "platform.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "core/shared_state.h"

namespace app {
namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void on_shutdown_signal(int signal_number) {
  if (running.exchange(false)) return;
  // Already stopping: let the default action end the process now.
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Socket inodes of UDP sockets bound to `port` (any address), from /proc/net/udp.
std::set<std::string> udp_inodes_on_port(uint16_t port) {
  std::set<std::string> inodes;
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line);  // column titles
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> inode;
    const auto colon = local.find(':');
    if (colon == std::string::npos || inode.empty()) continue;
    if (std::strtoul(local.c_str() + colon + 1, nullptr, 16) == port) inodes.insert(inode);
  }
  return inodes;
}

}  // namespace

void use_line_output() { std::setvbuf(stdout, nullptr, _IOLBF, 0); }

void install_console_control() {
  struct sigaction action {};
  action.sa_handler = on_shutdown_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

std::optional<std::set<std::string>> interface_addresses() {
  std::set<std::string> found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return std::nullopt;
  for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    found.insert(
        handle_address(reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr));
  }
  freeifaddrs(list);
  return found;
}

bool udp_port_in_use(const std::string& address, uint16_t port) {
  const int sock = socket(AF_INET, SOCK_DGRAM, 0);
  if (sock < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (address == "local" || inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
  }
  // Without SO_REUSEADDR the bind fails for any other socket on the port, including one that
  // set the option itself and would share (and take datagrams from) the SDK's socket.
  const bool taken = bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 &&
                     errno == EADDRINUSE;
  close(sock);
  return taken;
}

std::string udp_port_owner(uint16_t port) {
  const std::set<std::string> inodes = udp_inodes_on_port(port);
  if (inodes.empty()) return {};
  std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  if (!proc) return {};
  while (const dirent* entry = readdir(proc.get())) {
    const std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string fd_dir = "/proc/" + pid + "/fd";
    std::unique_ptr<DIR, int (*)(DIR*)> fds(opendir(fd_dir.c_str()), closedir);
    if (!fds) continue;
    while (const dirent* fd = readdir(fds.get())) {
      char target[64] = {};
      const std::string link = fd_dir + "/" + fd->d_name;
      const ssize_t n = readlink(link.c_str(), target, sizeof(target) - 1);
      if (n <= 0) continue;
      const std::string text(target, static_cast<std::size_t>(n));
      if (text.rfind("socket:[", 0) != 0) continue;
      if (inodes.count(text.substr(8, text.size() - 9)) == 0) continue;
      std::string name;
      std::ifstream comm("/proc/" + pid + "/comm");
      std::getline(comm, name);
      return "pid " + pid + " (" + name + ")";
    }
  }
  return {};
}

std::string receive_buffer_limit_path() { return "/proc/sys/net/core/rmem_max"; }

bool service_manager_present() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  return socket != nullptr && socket[0] != '\0';
}

void notify_service_manager(const char* state) {
  if (service_manager_present()) sd_notify(0, state);
}

}  // namespace app
