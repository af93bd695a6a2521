#include "self_check.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/platform.h"
#include "lidar_sdk.h"
#include "publication/redis_client.h"

namespace app {
namespace {

struct HostEndpoints {
  std::set<std::string> addresses;
  std::set<std::pair<std::string, uint16_t>> ports;
};

void collect_host_endpoints(const LidarConfigHost* host, void* client_data) {
  auto& endpoints = *static_cast<HostEndpoints*>(client_data);
  const std::string address = host->host_ip;
  // "local" binds to any address, so it names no interface.
  if (address != "local") endpoints.addresses.insert(address);
  for (uint16_t port : {host->cmd_data_port, host->push_msg_port, host->point_data_port,
                        host->imu_data_port, host->log_data_port}) {
    if (port != 0) endpoints.ports.insert({address, port});
  }
}

void check_addresses_and_ports(const SelfCheckSettings& settings,
                               std::vector<std::string>& problems) {
  // Host addresses and host ports the SDK will bind.
  HostEndpoints endpoints;
  if (!LidarReadConfigHosts(settings.config_path.c_str(), collect_host_endpoints, &endpoints)) {
    // The SDK refuses the same file and says why; here it only means nothing was checked.
    problems.push_back("[ERR] nao foi possivel ler a configuracao " + settings.config_path +
                       ": host_ip e portas do host nao verificados; corrija o caminho ou o "
                       "conteudo do arquivo\n");
    return;
  }

  const std::optional<std::set<std::string>> local = settings.list_interfaces();
  if (!local && !endpoints.addresses.empty()) {
    // Not knowing the interfaces is no evidence that the address is missing from them.
    std::string addresses;
    for (const std::string& address : endpoints.addresses) {
      addresses += (addresses.empty() ? "" : ", ") + address;
    }
    problems.push_back("[ERR] nao foi possivel listar as interfaces desta maquina: host_ip " +
                       addresses + " de " + settings.config_path + " nao verificado\n");
  }
  for (const std::string& address : endpoints.addresses) {
    if (!local || local->count(address) != 0) continue;
    problems.push_back("[ERR] host_ip " + address + " de " + settings.config_path +
                       " nao esta em nenhuma interface desta maquina: atribua-o a interface "
                       "da rede da LiDAR (ip addr add " + address +
                       "/24 dev <interface>) ou corrija host_ip\n");
  }
  for (const auto& [address, port] : endpoints.ports) {
    // An address known to be on no interface cannot hold the port; an unknown one is tried.
    if (address != "local" && local && local->count(address) == 0) continue;
    if (!udp_port_in_use(address, port)) continue;
    std::string owner = udp_port_owner(port);
    owner = owner.empty() ? "outro processo" : "outro processo, " + owner;
    problems.push_back("[ERR] porta UDP " + std::to_string(port) + " em " + address +
                       " ja esta em uso por " + owner +
                       ": encerre-o ou escolha outra porta em host_net_info de " +
                       settings.config_path + "\n");
  }
}

void check_receive_buffer_limit(const SelfCheckSettings& settings,
                                std::vector<std::string>& problems) {
  if (settings.rmem_max_path.empty()) return;
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

// The time stamp of the Lidar document under `key`; nothing when there is none.
std::optional<int64_t> document_stamp(RedisClient& client, const std::string& key) {
  client.ping();  // opens the connection again should the last one have failed
  const std::optional<std::string> text = client.get(key);
  if (!text) return std::nullopt;
  const nlohmann::json doc = nlohmann::json::parse(*text, nullptr, false);
  if (!doc.is_object() || !doc.contains("timestamp") || !doc["timestamp"].is_number_integer())
    return std::nullopt;
  return doc["timestamp"].get<int64_t>();
}

// Before this service writes anything, a Lidar document under its key whose time stamp still
// moves is another service's: both would overwrite each other's documents every cycle.
void check_other_writer(RedisClient& client, const SelfCheckSettings& settings,
                        std::vector<std::string>& problems) {
  const std::optional<int64_t> first = document_stamp(client, settings.lidar_document_key);
  if (!first) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(settings.writer_watch_ms));
  const std::optional<int64_t> second = document_stamp(client, settings.lidar_document_key);
  if (!second || *second == *first) return;
  problems.push_back("[ERR] outro servico ja publica em " + settings.lidar_document_key +
                     ": duas instancias com o mesmo \"instance\" (ou ambas sem) se "
                     "sobrescrevem; de a cada LiDAR um nome proprio no membro \"instance\"\n");
}

void check_redis(const SelfCheckSettings& settings, std::vector<std::string>& problems) {
  try {
    RedisClient client(settings.redis);
    client.ping();
    check_other_writer(client, settings, problems);
  } catch (const RedisAuthError& error) {
    problems.push_back("[ERR] servidor Redis em " + settings.redis.uri +
                       " responde mas recusou o acesso do servico (" + error.what() +
                       "): os documentos nao serao publicados ate o membro \"redis\" e o "
                       "servidor concordarem\n");
  } catch (const RedisError& error) {
    problems.push_back("[ERR] servidor Redis em " + settings.redis.uri + " nao responde (" +
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
