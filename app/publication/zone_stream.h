// The zone publisher: each zone's change of state, as one entry of the Redis stream
// ctx:dados_modulo_Lidar_zonas (for consumers that read with XREAD BLOCK) and the same entry
// PUBLISHed on the channel of that name (for SUBSCRIBE). Events reach it through the zone queue
// (app/core/zone_events.h) and a writer thread with a Redis connection of its own, so the data
// thread never waits for Redis; an event Redis does not take is dropped and counted.
#pragma once

#include <cstddef>
#include <string>

#include "core/zone_events.h"
#include "publication/redis_publisher.h"

namespace app {

inline constexpr const char* kZoneStreamKey = "ctx:dados_modulo_Lidar_zonas";
inline constexpr std::size_t kZoneStreamLength = 1000;

// "ocupada", "livre", "desconhecida".
const char* zone_state_name(ZoneState state);

// The entry's fields in order: "zona" (its name), "estado", "pontos" (counted within the last
// 20 ms), "mais_proximo" (metres from the LiDAR, three decimals; nan when no point counted),
// "timestamp" (ms since 1970: the arrival of the datagram that decided, or the OFF).
PathEntryList build_zone_fields(const ZoneEvent& event);
// The message PUBLISHed: the entry as one JSON object of the same fields (their values as
// strings, as the stream holds them) and "id", the stream entry's id.
std::string zone_message(const std::string& id, const PathEntryList& fields);

// Starts the writer thread when zones are configured; stops and joins it after it wrote what
// was queued (unless Redis is failing).
void start_zone_stream(const RedisSettings& redis);
void stop_zone_stream();

}  // namespace app
