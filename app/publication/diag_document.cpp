#include "diag_document.h"

#include <iomanip>
#include <sstream>
#include <string>

#include "core/clocks.h"
#include "core/shared_state.h"
#include "core/zone_events.h"
#include "publication/service_keys.h"
#include "publication/state_documents.h"

namespace app {
namespace {

double milliseconds(uint64_t ns) { return static_cast<double>(ns) / 1e6; }

std::string triple_text(const float (&v)[3]) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(3) << '[' << v[0] << ',' << v[1] << ',' << v[2] << ']';
  return out.str();
}

DiagGeometry diag_geometry() {
  DiagGeometry geometry;
  geometry.mounting = copy_processing_params().mounting;
  geometry.ground = copy_ground_estimate();
  return geometry;
}

}  // namespace

PathEntryList build_diag_entries(uint64_t timestamp, const LidarHealthCounters& sdk,
                                 const AppHealth& app, const ProgressVerdict& progress,
                                 const DiagGeometry& geometry) {
  PathEntryList e;
  add_integer(e, "timestamp", timestamp);
  const uint32_t ports = sdk.port_count < kLidarHealthMaxPorts ? sdk.port_count
                                                               : kLidarHealthMaxPorts;
  for (uint32_t i = 0; i < ports; ++i) {
    add_integer(e, "sdk.recebidos." + std::to_string(sdk.ports[i].port), sdk.ports[i].datagrams);
  }
  add_integer(e, "sdk.recebidos.outras_portas", sdk.other_port_datagrams);
  add_integer(e, "sdk.descartados.curtos", sdk.dropped_short);
  add_integer(e, "sdk.descartados.malformados", sdk.dropped_malformed);
  add_integer(e, "sdk.descartados.remetente_desconhecido", sdk.dropped_unknown_sender);
  // Where the platform keeps no kernel drop count, null says so instead of a false 0.
  if (sdk.kernel_drops_unavailable) {
    e.emplace_back("sdk.descartados.kernel", "null");
  } else {
    add_integer(e, "sdk.descartados.kernel", sdk.kernel_drops);
  }
  add_integer(e, "sdk.crc_rejeitados", sdk.crc_rejected);
  add_integer(e, "sdk.comandos_expirados", sdk.requests_timed_out);
  add_integer(e, "sdk.threads_io", sdk.io_threads);
  add_integer(e, "sdk.io_parado_ms", sdk.io_stall_ms);
  std::string waiting = "[";
  for (uint32_t i = 0; i < sdk.waiting_port_count && i < kLidarHealthMaxWaitingPorts; ++i) {
    waiting += (i == 0 ? "" : ",") + std::to_string(sdk.waiting_ports[i]);
  }
  e.emplace_back("sdk.portas_aguardando", waiting + "]");
  add_integer(e, "sdk.deteccao.respostas", sdk.detection_replies);
  add_integer(e, "sdk.deteccao.fora_da_configuracao", sdk.unconfigured_replies);
  add_quoted(e, "sdk.deteccao.ultimo_fora_da_configuracao",
             sdk.last_unconfigured_lidar != 0 ? handle_address(sdk.last_unconfigured_lidar) : "");
  add_integer(e, "app.quadros.processados", app.frames_processed);
  add_integer(e, "app.quadros.pulados", app.frames_skipped);
  add_fixed(e, "app.processamento_ms.ultimo", milliseconds(app.last_frame_ns), 3);
  add_fixed(e, "app.processamento_ms.maximo", milliseconds(app.max_frame_ns), 3);
  add_integer(e, "app.redis_falhas", app.redis_failures);
  add_integer(e, "app.descartados.nao_decodificados", app.undecoded_point_datagrams);
  add_integer(e, "app.descartados.outro_lidar", app.foreign_unit_datagrams);
  add_integer(e, "app.stream.entradas", app.stream_entries_written);
  add_integer(e, "app.stream.descartadas", app.stream_entries_dropped);
  if (!zone_names().empty()) {
    add_integer(e, "app.zonas.eventos", zone_events_written());
    add_integer(e, "app.zonas.descartados", zone_events_dropped());
  }
  add_integer(e, "app.reconfiguracoes", app.reconfigurations);
  add_integer(e, "app.escritas_repetidas", app.repeated_writes);
  add_integer(e, "app.live_view.clientes", app.live_view_clients);
  add_integer(e, "app.live_view.enviadas", app.live_view_sent);
  add_integer(e, "app.live_view.descartadas", app.live_view_dropped);
  add_integer(e, "app.live_view.recusadas", app.live_view_refused);
  add_quoted(e, "lidar.estado", link_state_name(app.link_state));
  add_bool(e, "progresso_ok", progress.ok);
  add_quoted(e, "parado", progress.stalled);
  const GroundEstimate& g = geometry.ground;
  add_bool(e, "chao.visto", g.seen);
  if (g.seen) {
    add_fixed(e, "chao.altura_m", g.height_m, 3);
    add_fixed(e, "chao.inclinacao_graus", g.tilt_deg, 1);
  } else {
    e.emplace_back("chao.altura_m", "null");
    e.emplace_back("chao.inclinacao_graus", "null");
  }
  if (geometry.mounting.given)
    e.emplace_back("montagem.xyz_m", triple_text(geometry.mounting.xyz_m));
  return e;
}

bool publish_diag_document(const LidarHealthCounters& sdk, const ProgressVerdict& progress) {
  if (!redis_publisher) return false;
  return redis_publisher->set_json_merge_paths(
      service_key(kDiagDocumentKey),
      build_diag_entries(wall_ms(), sdk, copy_app_health(), progress, diag_geometry()),
      kDiagDocumentTtlSeconds, ".");
}

}  // namespace app
