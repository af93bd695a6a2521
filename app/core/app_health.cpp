#include "app_health.h"

#include <atomic>

#include "core/clocks.h"

namespace app {
namespace {

std::atomic<uint64_t> frames_processed{0};
std::atomic<uint64_t> frames_skipped{0};
std::atomic<uint64_t> last_frame_ns{0};
std::atomic<uint64_t> max_frame_ns{0};
std::atomic<uint64_t> redis_failures{0};
std::atomic<uint64_t> worker_pass_ms{0};
std::atomic<uint64_t> undecoded_point_datagrams{0};
std::atomic<uint64_t> foreign_unit_datagrams{0};
std::atomic<uint64_t> stream_entries_written{0};
std::atomic<uint64_t> stream_entries_dropped{0};
std::atomic<uint64_t> reconfigurations{0};
std::atomic<uint64_t> repeated_writes{0};
std::atomic<uint64_t> live_view_clients{0};
std::atomic<uint64_t> live_view_sent{0};
std::atomic<uint64_t> live_view_dropped{0};
std::atomic<uint64_t> live_view_refused{0};
std::atomic<LinkState> link_state{LinkState::kNoDetectionReply};

}  // namespace

const char* link_state_name(LinkState state) {
  switch (state) {
    case LinkState::kNoDetectionReply: return "sem_resposta_deteccao";
    case LinkState::kUnconfiguredLidar: return "lidar_fora_da_configuracao";
    case LinkState::kAwaitingConfiguration: return "aguardando_configuracao";
    case LinkState::kReconfiguring: return "reconfigurando";
    case LinkState::kNoData: return "sem_dados";
    case LinkState::kPointsMissing: return "sem_pontos";
    case LinkState::kOk: return "ok";
  }
  return "";
}

void note_worker_pass(bool skipped) {
  if (skipped) frames_skipped.fetch_add(1, std::memory_order_relaxed);
  worker_pass_ms.store(steady_ms(), std::memory_order_relaxed);
}

void note_frame_processed(uint64_t duration_ns) {
  frames_processed.fetch_add(1, std::memory_order_relaxed);
  last_frame_ns.store(duration_ns, std::memory_order_relaxed);
  uint64_t longest = max_frame_ns.load(std::memory_order_relaxed);
  while (duration_ns > longest &&
         !max_frame_ns.compare_exchange_weak(longest, duration_ns, std::memory_order_relaxed)) {
  }
  worker_pass_ms.store(steady_ms(), std::memory_order_relaxed);
}

void note_publication_failure() { redis_failures.fetch_add(1, std::memory_order_relaxed); }

void note_undecoded_point_datagram() {
  undecoded_point_datagrams.fetch_add(1, std::memory_order_relaxed);
}

void note_foreign_unit_datagram() {
  foreign_unit_datagrams.fetch_add(1, std::memory_order_relaxed);
}

void note_stream_entry_written() {
  stream_entries_written.fetch_add(1, std::memory_order_relaxed);
}

void note_stream_entry_dropped() {
  stream_entries_dropped.fetch_add(1, std::memory_order_relaxed);
}

void note_live_view_clients(uint64_t open) {
  live_view_clients.store(open, std::memory_order_relaxed);
}

void note_live_view_sent() { live_view_sent.fetch_add(1, std::memory_order_relaxed); }

void note_live_view_dropped() { live_view_dropped.fetch_add(1, std::memory_order_relaxed); }

void note_live_view_refused() { live_view_refused.fetch_add(1, std::memory_order_relaxed); }

void note_link_state(LinkState state) { link_state.store(state, std::memory_order_relaxed); }

void note_reconfiguration() { reconfigurations.fetch_add(1, std::memory_order_relaxed); }

void note_repeated_write() { repeated_writes.fetch_add(1, std::memory_order_relaxed); }

AppHealth copy_app_health() {
  AppHealth h;
  h.frames_processed = frames_processed.load(std::memory_order_relaxed);
  h.frames_skipped = frames_skipped.load(std::memory_order_relaxed);
  h.last_frame_ns = last_frame_ns.load(std::memory_order_relaxed);
  h.max_frame_ns = max_frame_ns.load(std::memory_order_relaxed);
  h.redis_failures = redis_failures.load(std::memory_order_relaxed);
  h.worker_pass_ms = worker_pass_ms.load(std::memory_order_relaxed);
  h.undecoded_point_datagrams = undecoded_point_datagrams.load(std::memory_order_relaxed);
  h.foreign_unit_datagrams = foreign_unit_datagrams.load(std::memory_order_relaxed);
  h.stream_entries_written = stream_entries_written.load(std::memory_order_relaxed);
  h.stream_entries_dropped = stream_entries_dropped.load(std::memory_order_relaxed);
  h.reconfigurations = reconfigurations.load(std::memory_order_relaxed);
  h.repeated_writes = repeated_writes.load(std::memory_order_relaxed);
  h.live_view_clients = live_view_clients.load(std::memory_order_relaxed);
  h.live_view_sent = live_view_sent.load(std::memory_order_relaxed);
  h.live_view_dropped = live_view_dropped.load(std::memory_order_relaxed);
  h.live_view_refused = live_view_refused.load(std::memory_order_relaxed);
  h.link_state = link_state.load(std::memory_order_relaxed);
  return h;
}

}  // namespace app
