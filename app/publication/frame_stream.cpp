#include "frame_stream.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <thread>

#include "core/app_health.h"
#include "publication/redis_client.h"
#include "publication/service_keys.h"
#include "publication/state_documents.h"
#include "publication/write_outage.h"
#include "publication/zone_stream.h"

namespace app {
namespace {

constexpr auto kIdleWait = std::chrono::milliseconds(200);

std::thread writer_thread;
std::atomic<bool> writer_active{false};

const char* event_name(StreamEvent event) {
  switch (event) {
    case StreamEvent::kFrame: return "quadro";
    case StreamEvent::kStreamOff: return "off";
    case StreamEvent::kStreamOk: return "ok";
  }
  return "";
}

void add_six(PathEntryList& fields, const char* group, const ObstacleDistances& d) {
  add_distances(fields, group, d.frente, d.tras, d.esquerda, d.direita, d.cima, d.baixo);
}

void writer_loop(RedisSettings redis) {
  WriteOutage outage{"stream", "entradas descartadas", service_key(kFrameStreamKey)};
  std::unique_ptr<RedisClient> client;
  try {
    client = std::make_unique<RedisClient>(redis);
  } catch (const RedisError& error) {
    note_write_failed(outage, error.what());
  }
  StreamEntry entry;
  while (writer_active.load()) {
    if (!take_stream_entry(entry, kIdleWait)) continue;
    if (!client) {
      note_stream_entry_dropped();
      continue;
    }
    try {
      client->xadd(outage.key, kFrameStreamLength, build_stream_fields(entry));
      note_stream_entry_written();
      note_write_done(outage);
    } catch (const std::exception& error) {
      // Redis failures above all; nothing may end the writer thread (and the process with it).
      note_stream_entry_dropped();
      note_write_failed(outage, error.what());
    }
  }
}

}  // namespace

PathEntryList build_stream_fields(const StreamEntry& entry) {
  PathEntryList fields;
  fields.reserve(28);
  fields.emplace_back("evento", event_name(entry.event));
  add_integer(fields, "timestamp", entry.stamp_ms);
  add_six(fields, "dist", entry.frame.distances);
  add_six(fields, "corredor", entry.frame.corridor);
  add_integer(fields, "caixas", entry.frame.box_count);
  if (entry.frame.has_nearest_box) {
    const ObstacleBox& b = entry.frame.nearest_box;
    add_fixed(fields, "caixa.dist_m", b.dist_m, 3);
    add_fixed(fields, "caixa.cx", b.cx, 3);
    add_fixed(fields, "caixa.cy", b.cy, 3);
    add_fixed(fields, "caixa.cz", b.cz, 3);
    add_fixed(fields, "caixa.w", b.w, 3);
    add_fixed(fields, "caixa.h", b.h, 3);
    add_fixed(fields, "caixa.d", b.d, 3);
  }
  if (entry.event == StreamEvent::kFrame) {
    const GroundEstimate& g = entry.frame.ground;
    fields.emplace_back("chao", g.seen ? "visto" : "nao visto");
    if (g.seen) {
      add_fixed(fields, "chao.altura_m", g.height_m, 3);
      add_fixed(fields, "chao.inclinacao_graus", g.tilt_deg, 1);
    }
    add_fixed(fields, "processamento_ms", static_cast<double>(entry.processing_ns) / 1e6, 3);
  }
  const std::vector<std::string>& names = zone_names();
  for (std::size_t i = 0; i < entry.zones.count && i < names.size(); ++i)
    fields.emplace_back("zona." + names[i], zone_state_name(entry.zones.state[i]));
  return fields;
}

void start_frame_stream(const RedisSettings& redis) {
  if (writer_active.exchange(true)) return;
  writer_thread = std::thread(writer_loop, redis);
}

void stop_frame_stream() {
  if (!writer_active.exchange(false)) return;
  wake_stream_queue();
  if (writer_thread.joinable()) writer_thread.join();
}

}  // namespace app
