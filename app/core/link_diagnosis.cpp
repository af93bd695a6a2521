#include "link_diagnosis.h"

#include <cstdio>

#include "core/shared_state.h"

namespace app {
namespace {

// Detection requests go out every second; answers within this span mean the LiDAR is up.
constexpr uint64_t kAnsweringWindowMs = 3000;

bool streaming(LinkState state) {
  return state == LinkState::kOk || state == LinkState::kPointsMissing;
}

}  // namespace

LinkState judge_link(const LinkFacts& f) {
  if (f.stream_ok && f.points_alive) return LinkState::kOk;
  if (f.stream_ok || f.points_undecoded) return LinkState::kPointsMissing;
  if (f.reconfiguring) return LinkState::kReconfiguring;
  if (f.handle != 0) return LinkState::kNoData;
  if (f.detection_replies != 0) return LinkState::kAwaitingConfiguration;
  if (f.unconfigured_replies != 0) return LinkState::kUnconfiguredLidar;
  return LinkState::kNoDetectionReply;
}

std::string link_problem_line(LinkState state, const LinkFacts& f, bool answering,
                              uint64_t silent_s) {
  char line[400];
  const auto seconds = static_cast<unsigned long long>(silent_s);
  switch (state) {
    case LinkState::kNoDetectionReply:
      std::snprintf(line, sizeof(line),
                    "[ERR] nenhum LiDAR respondeu a deteccao ha %llu s: confira alimentacao e "
                    "cabo do LiDAR e se host_ip do arquivo de configuracao esta na rede dele\n",
                    seconds);
      break;
    case LinkState::kUnconfiguredLidar:
      std::snprintf(line, sizeof(line),
                    "[ERR] LiDAR %s responde a deteccao mas o arquivo de configuracao nao o "
                    "inclui: confira lidar_ip em host_net_info e a secao do tipo; nenhum LiDAR "
                    "configurado ha %llu s\n",
                    handle_address(f.unconfigured_lidar).c_str(), seconds);
      break;
    case LinkState::kAwaitingConfiguration:
      std::snprintf(line, sizeof(line),
                    "[ERR] um LiDAR respondeu a deteccao mas nao aceitou a configuracao do host "
                    "ha %llu s: confira host_ip e as portas do arquivo de configuracao e as "
                    "linhas do SDK\n",
                    seconds);
      break;
    case LinkState::kReconfiguring:
      std::snprintf(line, sizeof(line),
                    "[ERR] LiDAR %s voltou a responder e foi configurado de novo, mas nenhum dado "
                    "chega ha %llu s: confira as linhas [SUP] e as do SDK\n",
                    handle_address(f.handle).c_str(), seconds);
      break;
    case LinkState::kNoData:
      if (f.waiting_port != 0) {
        std::snprintf(line, sizeof(line),
                      "[ERR] LiDAR %s sem dados ha %llu s: a porta %u do host esta ocupada por "
                      "outro processo; tentando abri-la de novo a cada segundo\n",
                      handle_address(f.handle).c_str(), seconds,
                      static_cast<unsigned>(f.waiting_port));
        break;
      }
      std::snprintf(line, sizeof(line),
                    answering ? "[ERR] LiDAR %s responde a deteccao mas nenhum dado de pontos ou "
                                "IMU chega ha %llu s: porta de dados do host ocupada por outro "
                                "processo ou bloqueada por firewall\n"
                              : "[ERR] LiDAR %s sem dados e sem resposta a deteccao ha %llu s: "
                                "desligado, reiniciando ou fora da rede\n",
                    handle_address(f.handle).c_str(), seconds);
      break;
    case LinkState::kPointsMissing:
    case LinkState::kOk:
      return std::string();
  }
  return line;
}

LinkState watch_link(LinkWatch& watch, const LinkFacts& facts, uint64_t now, uint64_t period_ms) {
  if (facts.detection_replies != watch.replies_seen) {
    watch.replies_seen = facts.detection_replies;
    watch.replies_grew_ms = now;
  }
  const LinkState state = judge_link(facts);
  note_link_state(state);
  if (streaming(state)) {
    watch.silent_since_ms = 0;
    return state;
  }
  if (watch.silent_since_ms == 0) {
    watch.silent_since_ms = now;
    watch.last_line_ms = now;
  }
  if (now - watch.last_line_ms < period_ms) return state;
  watch.last_line_ms = now;
  const bool answering = watch.replies_grew_ms != 0 && now - watch.replies_grew_ms <= kAnsweringWindowMs;
  const std::string line =
      link_problem_line(state, facts, answering, (now - watch.silent_since_ms) / 1000);
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  return state;
}

}  // namespace app
