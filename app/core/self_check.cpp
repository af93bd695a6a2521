#include "self_check.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <utility>

#include "app/publication/redis_client.h"
#include "sdk_core/config_types.h"
#include "sdk_core/parse_cfg_file.h"

namespace app {
namespace {

using lidar::sdk::HostNetInfo;
using lidar::sdk::LidarCfgList;

// Host addresses and host ports the SDK will bind, from the configuration file; false when the
// file cannot be read (the SDK reports that itself).
bool read_host_endpoints(const std::string& path, std::set<std::string>& addresses,
                         std::set<std::pair<std::string, uint16_t>>& ports) {
  auto type_cfgs = std::make_shared<LidarCfgList>();
  auto custom_cfgs = std::make_shared<LidarCfgList>();
  auto logger_cfg = std::make_shared<lidar::sdk::LidarLoggerCfg>();
  auto framework_cfg = std::make_shared<lidar::sdk::LidarSdkFrameworkCfg>();
  if (!lidar::sdk::ParseCfgFile(path).Parse(type_cfgs, custom_cfgs, logger_cfg, framework_cfg)) {
    return false;
  }
  for (const LidarCfgList* list : {type_cfgs.get(), custom_cfgs.get()}) {
    for (const auto& cfg : *list) {
      const HostNetInfo& host = cfg.host_net_info;
      if (host.host_ip.empty()) continue;
      // "local" binds to any address, so it names no interface.
      if (host.host_ip != "local") addresses.insert(host.host_ip);
      for (uint16_t port : {host.cmd_data_port, host.push_msg_port, host.point_data_port,
                            host.imu_data_port, host.log_data_port}) {
        if (port != 0) ports.insert({host.host_ip, port});
      }
    }
  }
  return true;
}

std::set<std::string> interface_addresses() {
  std::set<std::string> found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return found;
  for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* addr = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
    if (inet_ntop(AF_INET, &addr->sin_addr, text, sizeof(text)) != nullptr) found.insert(text);
  }
  freeifaddrs(list);
  return found;
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

// "pid 123 (name)" of a process holding one of the sockets, or empty when it cannot be seen.
std::string socket_owner(const std::set<std::string>& inodes) {
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

// True when another socket already holds the port on that address (or on every address).
bool port_taken(const std::string& host_ip, uint16_t port) {
  const int sock = socket(AF_INET, SOCK_DGRAM, 0);
  if (sock < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (host_ip == "local" || inet_pton(AF_INET, host_ip.c_str(), &addr.sin_addr) != 1) {
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
  }
  // Without SO_REUSEADDR the bind fails for any other socket on the port, including one that
  // set the option itself and would share (and take datagrams from) the SDK's socket.
  const bool taken = bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 &&
                     errno == EADDRINUSE;
  close(sock);
  return taken;
}

void check_addresses_and_ports(const SelfCheckSettings& settings,
                               std::vector<std::string>& problems) {
  std::set<std::string> addresses;
  std::set<std::pair<std::string, uint16_t>> ports;
  if (!read_host_endpoints(settings.config_path, addresses, ports)) return;

  const std::set<std::string> local = interface_addresses();
  for (const std::string& address : addresses) {
    if (local.count(address) != 0) continue;
    problems.push_back("[ERR] host_ip " + address + " de " + settings.config_path +
                       " nao esta em nenhuma interface desta maquina: atribua-o a interface "
                       "da rede da LiDAR (ip addr add " + address +
                       "/24 dev <interface>) ou corrija host_ip\n");
  }
  for (const auto& [address, port] : ports) {
    if (address != "local" && local.count(address) == 0) continue;
    if (!port_taken(address, port)) continue;
    std::string owner = socket_owner(udp_inodes_on_port(port));
    owner = owner.empty() ? "outro processo" : "outro processo, " + owner;
    problems.push_back("[ERR] porta UDP " + std::to_string(port) + " em " + address +
                       " ja esta em uso por " + owner +
                       ": encerre-o ou escolha outra porta em host_net_info de " +
                       settings.config_path + "\n");
  }
}

void check_receive_buffer_limit(const SelfCheckSettings& settings,
                                std::vector<std::string>& problems) {
  std::ifstream file(settings.rmem_max_path);
  uint64_t limit = 0;
  if (!(file >> limit) || limit >= settings.receive_buffer_bytes) return;
  const std::string wanted = std::to_string(settings.receive_buffer_bytes);
  problems.push_back("[ERR] net.core.rmem_max e " + std::to_string(limit) +
                     " bytes, abaixo dos " + wanted +
                     " do buffer de recepcao pedido; rajadas de pontos serao perdidas: execute "
                     "sysctl -w net.core.rmem_max=" + wanted +
                     " (e grave em /etc/sysctl.d/ para manter apos reiniciar)\n");
}

void check_redis(const SelfCheckSettings& settings, std::vector<std::string>& problems) {
  try {
    RedisClient client(settings.redis_uri);
    client.ping();
  } catch (const RedisError& error) {
    problems.push_back("[ERR] servidor Redis em " + settings.redis_uri + " nao responde (" +
                       error.what() +
                       "): inicie-o (systemctl start redis-server); os documentos nao serao "
                       "publicados ate ele responder\n");
  }
}

}  // namespace

std::vector<std::string> find_setup_problems(const SelfCheckSettings& settings) {
  std::vector<std::string> problems;
  check_addresses_and_ports(settings, problems);
  check_receive_buffer_limit(settings, problems);
  check_redis(settings, problems);
  return problems;
}

void run_self_check(const SelfCheckSettings& settings) {
  const std::vector<std::string> problems = find_setup_problems(settings);
  if (problems.empty()) {
    std::fputs("[INFO] verificacao de inicio: nenhum problema encontrado\n", stdout);
    std::fflush(stdout);
    return;
  }
  for (const std::string& line : problems) std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace app
