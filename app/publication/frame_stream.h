// The frame stream: every processed frame, and the stream going OFF and coming back, as one
// entry of a Redis stream that consumers follow with XREAD BLOCK. Entries reach it through the
// stream queue (app/core/stream_queue.h) and a writer thread with a Redis connection of its own,
// so neither the processing worker nor the supervisor ever waits for Redis. An entry that Redis
// does not take is dropped and counted; the writer reconnects by itself.
#pragma once

#include <cstddef>
#include <string>

#include "core/stream_queue.h"
#include "publication/redis_client.h"
#include "publication/redis_publisher.h"

namespace app {

inline constexpr const char* kFrameStreamKey = "ctx:dados_modulo_Lidar_quadros";
// About five seconds of entries at ten frames a second; the server trims approximately.
inline constexpr std::size_t kFrameStreamLength = 50;

// The entry's fields in order: "evento" (quadro, off, ok), "timestamp" (ms since 1970), the six
// distances "dist.*" and the six corridor distances "corredor.*" (two decimals, nan while the
// stream is OFF), "caixas", the nearest box "caixa.*" (only when there are boxes; three
// decimals; both count only the boxes of points that are not ground) and, for frames, the ground:
// "chao" ("visto" or "nao visto") with "chao.altura_m" (below the LiDAR, three decimals) and
// "chao.inclinacao_graus" (one decimal) when seen, then "processamento_ms"; last, with zones,
// each zone's state "zona.<name>" (ocupada, livre, desconhecida).
PathEntryList build_stream_fields(const StreamEntry& entry);

// Starts the writer thread, which connects to the server the settings name when it has an entry
// to write.
void start_frame_stream(const RedisSettings& redis);
// Stops and joins it (it may first finish the command under way, at most the client's time-out).
void stop_frame_stream();

}  // namespace app
