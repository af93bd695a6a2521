#include "zone_stream.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <thread>

#include <nlohmann/json.hpp>

#include "publication/redis_client.h"
#include "publication/service_keys.h"
#include "publication/state_documents.h"
#include "publication/write_outage.h"

namespace app {
namespace {

constexpr auto kIdleWait = std::chrono::milliseconds(200);

std::thread zone_writer_thread;
std::atomic<bool> zone_writer_active{false};

void zone_writer_loop(RedisSettings redis) {
  // The key names the stream and the channel alike.
  WriteOutage outage{"zonas", "eventos descartados", service_key(kZoneStreamKey)};
  std::unique_ptr<RedisClient> client;
  try {
    client = std::make_unique<RedisClient>(redis);
  } catch (const RedisError& error) {
    note_write_failed(outage, error.what());
  }
  const auto write = [&](const ZoneEvent& event) {
    if (!client) {
      note_zone_event_dropped();
      return;
    }
    try {
      const PathEntryList fields = build_zone_fields(event);
      const std::string id = client->xadd(outage.key, kZoneStreamLength, fields);
      client->publish(outage.key, zone_message(id, fields));
      note_zone_event_written();
      note_write_done(outage);
    } catch (const std::exception& error) {
      // Redis failures above all; nothing may end the writer thread (and the process with it).
      note_zone_event_dropped();
      note_write_failed(outage, error.what());
    }
  };
  ZoneEvent event;
  while (zone_writer_active.load()) {
    if (take_zone_event(event, kIdleWait)) write(event);
  }
  // What was queued before the stop (the shutdown's "desconhecida" above all) still goes out,
  // unless Redis is already failing: a stop must not wait a time-out per event.
  while (!outage.failing && take_zone_event(event, std::chrono::milliseconds(0))) write(event);
}

}  // namespace

const char* zone_state_name(ZoneState state) {
  switch (state) {
    case ZoneState::kOccupied: return "ocupada";
    case ZoneState::kFree: return "livre";
    case ZoneState::kUnknown: return "desconhecida";
  }
  return "desconhecida";
}

PathEntryList build_zone_fields(const ZoneEvent& event) {
  PathEntryList fields;
  const std::vector<std::string>& names = zone_names();
  fields.emplace_back("zona", event.zone < names.size() ? names[event.zone] : std::string());
  fields.emplace_back("estado", zone_state_name(event.state));
  add_integer(fields, "pontos", event.points);
  add_fixed(fields, "mais_proximo", event.nearest_m, 3);
  add_integer(fields, "timestamp", event.stamp_ms);
  return fields;
}

std::string zone_message(const std::string& id, const PathEntryList& fields) {
  nlohmann::json message = nlohmann::json::object();
  message["id"] = id;
  for (const auto& [name, value] : fields) message[name] = value;
  return message.dump();
}

void start_zone_stream(const RedisSettings& redis) {
  if (zone_names().empty() || zone_writer_active.exchange(true)) return;
  zone_writer_thread = std::thread(zone_writer_loop, redis);
}

void stop_zone_stream() {
  if (!zone_writer_active.exchange(false)) return;
  wake_zone_events();
  if (zone_writer_thread.joinable()) zone_writer_thread.join();
}

}  // namespace app
