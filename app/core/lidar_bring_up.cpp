#include "lidar_bring_up.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/app_health.h"
#include "core/clocks.h"
#include "core/shared_state.h"

namespace app {
namespace {

constexpr uint8_t kWorkModeNormal = 1;

enum Write : uint8_t { kWorkMode = 0, kDataType = 1, kPointSend = 2, kWrites = 3 };
const char* const kWriteNames[kWrites] = {"modo de trabalho", "tipo de dado", "envio de pontos"};

// Every send carries a token as its client data: the write in its two low bits, above them a
// count that grows with every send, so an answer tells which send it belongs to.
constexpr uintptr_t kTokenWriteBits = 2;

struct WriteState {
  bool wanted = false;     // part of the current bring-up
  bool done = false;       // acknowledged with success
  bool in_flight = false;  // sent, not answered yet
  bool failed = false;     // timed out, refused or not sent: to be sent again
  uint64_t failed_ms = 0;
  uint64_t gap_ms = 0;  // wait before the next re-send; 0 until the first failure
  uintptr_t token = 0;  // of the latest send
  CommandStatus fail_status = kStatusSuccess;
  uint8_t fail_code = 0;  // the LiDAR's return code of a refusal
};

// Re-sends of the point configuration while the LiDAR is heard but its points are missing.
struct PointRequests {
  bool missing = false;  // an episode is under way
  uint64_t next_ms = 0;  // next re-send due
  uint64_t gap_ms = 0;   // the gap before the one after it
  bool told = false;     // the episode's console line is out
};

struct LidarRecord {
  WriteState writes[kWrites];
  uintptr_t first_token = 0;  // answers to sends older than the current bring-up are stale
  uint32_t info_changes = 0;  // bring-ups started by an information change
  bool confirmed = false;     // every wanted write of this bring-up acknowledged
  bool lost = false;          // stream lost: waiting for the LiDAR to come back
  bool returning = false;     // came back after a loss, not streaming yet
  bool announce_return = false;
  bool told_repeat = false;    // this bring-up's line about a repeated write is out
  uint64_t accepted_ms = 0;    // the configuration was accepted (or last asked again)
  uint64_t silent_gap_ms = 0;  // before the next reconfiguration of a silent LiDAR
  PointRequests points;
};

std::mutex bring_up_mutex;
std::map<uint32_t, LidarRecord> lidars;
uintptr_t sends_made = 0;

// One write to send, decided under the lock and sent after it.
struct Send {
  uint32_t handle;
  Write write;
  uintptr_t token;
};

void on_write_done(CommandStatus status, uint32_t handle, LidarAsyncControlResponse* response,
                   void* client_data);

Send prepare_send(LidarRecord& record, uint32_t handle, Write write) {
  WriteState& w = record.writes[write];
  w.wanted = true;
  w.done = false;
  w.in_flight = true;
  w.failed = false;
  w.token = (++sends_made << kTokenWriteBits) | write;
  return Send{handle, write, w.token};
}

// A new bring-up: answers to earlier sends no longer count, and the writes start afresh.
void begin_writes(LidarRecord& record, std::initializer_list<Write> writes) {
  record.first_token = (sends_made + 1) << kTokenWriteBits;
  for (WriteState& w : record.writes) w = WriteState{};
  for (Write write : writes) record.writes[write].wanted = true;
  record.confirmed = false;
  record.told_repeat = false;
}

void note_failure(WriteState& w, CommandStatus status, uint8_t code, uint64_t now) {
  w.in_flight = false;
  w.failed = true;
  w.failed_ms = now;
  w.fail_status = status;
  w.fail_code = code;
}

// Time since `then`; the answers that stamp `then` run on other threads and may come after the
// cycle read its clock.
uint64_t since(uint64_t then, uint64_t now) { return now > then ? now - then : 0; }

void update_confirmed(LidarRecord& record) {
  bool all = true;
  for (const WriteState& w : record.writes) all = all && (!w.wanted || w.done);
  record.confirmed = record.confirmed || all;
}

CommandStatus issue(const Send& send) {
  void* token = reinterpret_cast<void*>(send.token);
  switch (send.write) {
    case kWorkMode: return LidarSetWorkMode(send.handle, kWorkModeNormal, on_write_done, token);
    case kDataType:
      return LidarSetPclDataType(send.handle, kDataTypeCartesianHigh, on_write_done, token);
    case kPointSend: return LidarEnablePointSend(send.handle, on_write_done, token);
    case kWrites: break;
  }
  return kStatusSendFailed;
}

// Sends outside the lock; a send step that failed is a failed write, its callback never comes.
std::vector<CommandStatus> issue_all(const std::vector<Send>& sends) {
  std::vector<CommandStatus> statuses;
  for (const Send& send : sends) {
    const CommandStatus status = issue(send);
    statuses.push_back(status);
    if (status == kStatusSuccess) continue;
    std::lock_guard<std::mutex> hold(bring_up_mutex);
    const auto it = lidars.find(send.handle);
    if (it == lidars.end()) continue;
    WriteState& w = it->second.writes[send.write];
    if (w.token == send.token && w.in_flight) note_failure(w, status, 0, steady_ms());
  }
  return statuses;
}

void on_write_done(CommandStatus status, uint32_t handle, LidarAsyncControlResponse* response,
                   void* client_data) {
  const auto token = reinterpret_cast<uintptr_t>(client_data);
  const uint8_t code = response != nullptr ? response->ret_code : 0;
  const bool accepted =
      status == kStatusSuccess && response != nullptr && code == 0 && response->error_key == 0;
  std::lock_guard<std::mutex> hold(bring_up_mutex);
  const auto it = lidars.find(handle);
  if (it == lidars.end() || token < it->second.first_token) return;
  LidarRecord& record = it->second;
  WriteState& w = record.writes[token & ((uintptr_t{1} << kTokenWriteBits) - 1)];
  if (w.done) return;
  if (accepted) {
    // Any send of this bring-up that the LiDAR applied will do, the latest or an earlier one.
    w.done = true;
    w.in_flight = false;
    w.failed = false;
    update_confirmed(record);
    return;
  }
  // A failed earlier send says nothing while a later one is on its way.
  if (w.token != token) return;
  note_failure(w, status, code, steady_ms());
}

// Whether the point configuration (which also sets the data type) is due again. Points are
// missing while the LiDAR is heard otherwise, by IMU samples or by point datagrams in a form not
// decoded here: it came back from a reboot with point sending off or another data type, or
// another program changed them. The first re-send comes once points have been missing for the
// point time-out; each later gap doubles up to the information query period, so a unit whose
// points were stopped on purpose is not written to every cycle for as long as that lasts.
bool point_request_due(PointRequests& r, bool missing, uint64_t now, uint64_t last_points_ms,
                       const SupervisorConfig& config) {
  if (!missing) {
    r = PointRequests{};
    return false;
  }
  if (!r.missing) {
    r.missing = true;
    r.next_ms = (last_points_ms != 0 ? last_points_ms : now) + config.pcl_timeout_ms;
    r.gap_ms = config.cycle_ms;
  }
  if (now < r.next_ms) return false;
  r.gap_ms = std::min(2 * r.gap_ms, std::max(config.info_query_period_ms, config.cycle_ms));
  r.next_ms = now + r.gap_ms;
  return true;
}

std::string points_missing_line(bool undecoded) {
  if (!undecoded) {
    return "[SUP] LiDAR sem pontos enquanto a IMU continua; pedindo o envio de pontos de novo, "
           "com intervalo crescente\n";
  }
  char line[200];
  std::snprintf(line, sizeof(line),
                "[SUP] LiDAR envia pontos em formato nao decodificado (tipo de dado %u); pedindo "
                "o tipo %u de novo, com intervalo crescente\n",
                static_cast<unsigned>(undecoded_data_type.load()),
                static_cast<unsigned>(kDataTypeCartesianHigh));
  return line;
}

std::string repeat_line(uint32_t handle, Write write, const WriteState& w,
                        const SupervisorConfig& config) {
  char reason[48];
  if (w.fail_status != kStatusSuccess) {
    std::snprintf(reason, sizeof(reason), "status %d", static_cast<int>(w.fail_status));
  } else {
    std::snprintf(reason, sizeof(reason), "recusada, codigo %u",
                  static_cast<unsigned>(w.fail_code));
  }
  char line[260];
  std::snprintf(line, sizeof(line),
                "[SUP] LiDAR %s nao confirmou a escrita de %s (%s); enviando de novo apos %llu "
                "ms, depois a intervalos crescentes ate %llu ms\n",
                handle_address(handle).c_str(), kWriteNames[write], reason,
                static_cast<unsigned long long>(config.write_retry_ms),
                static_cast<unsigned long long>(config.write_retry_max_ms));
  return line;
}

// The followed LiDAR's part of a cycle: the points-missing re-sends and a silent LiDAR
// configured again. True when the SDK is to be asked to configure it again.
bool follow_stream(LidarRecord& record, const StreamFacts& facts, const SupervisorConfig& config,
                   uint64_t now, std::vector<Send>& sends, std::vector<std::string>& lines) {
  if (facts.ok) record.returning = false;
  if (point_request_due(record.points, facts.points_missing, now, facts.last_points_ms, config)) {
    if (!record.points.told) {
      record.points.told = true;
      lines.push_back(points_missing_line(facts.undecoded));
    }
    for (Write write : {kDataType, kPointSend}) {
      sends.push_back(prepare_send(record, facts.handle, write));
      note_repeated_write();
    }
  }
  if (record.info_changes == 0 || record.lost) return false;
  if (facts.last_heard_ms >= record.accepted_ms) {
    record.silent_gap_ms = 0;
    return false;
  }
  if (record.silent_gap_ms == 0) record.silent_gap_ms = config.silent_reconfigure_ms;
  if (since(record.accepted_ms, now) < record.silent_gap_ms) return false;
  record.accepted_ms = now;
  record.silent_gap_ms = std::min(2 * record.silent_gap_ms, 10 * config.silent_reconfigure_ms);
  return true;
}

// Failed writes whose wait is over, for every LiDAR known.
void resend_due(uint32_t handle, LidarRecord& record, const SupervisorConfig& config, uint64_t now,
                std::vector<Send>& sends, std::vector<std::string>& lines) {
  for (uint8_t i = 0; i < kWrites; ++i) {
    WriteState& w = record.writes[i];
    if (!w.failed) continue;
    if (w.gap_ms == 0) w.gap_ms = config.write_retry_ms;
    if (since(w.failed_ms, now) < w.gap_ms) continue;
    if (!record.told_repeat) {
      record.told_repeat = true;
      lines.push_back(repeat_line(handle, static_cast<Write>(i), w, config));
    }
    const uint64_t gap = w.gap_ms;
    sends.push_back(prepare_send(record, handle, static_cast<Write>(i)));
    w.gap_ms = std::min(2 * gap, config.write_retry_max_ms);
    note_repeated_write();
  }
}

void print_lines(const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  for (const std::string& line : lines) std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

void on_info_change(uint32_t handle, const LidarInfo* info, void*) {
  std::printf("[INFO] InfoChange handle=%u\n", static_cast<unsigned>(handle));
  std::fflush(stdout);
  if (!info) return;
  // A second unit coming up does not take the place of the one whose stream is followed.
  const uint32_t followed = followed_handle.load();
  if (followed == 0 || followed == handle) lidar_handle.store(handle);

  std::vector<Send> sends;
  {
    std::lock_guard<std::mutex> hold(bring_up_mutex);
    LidarRecord& record = lidars[handle];
    if (record.info_changes++ > 0) note_reconfiguration();
    if (record.lost) {
      record.lost = false;
      record.returning = true;
      record.announce_return = true;
    }
    record.accepted_ms = steady_ms();
    begin_writes(record, {kWorkMode, kDataType, kPointSend});
    for (Write write : {kWorkMode, kDataType, kPointSend}) {
      sends.push_back(prepare_send(record, handle, write));
    }
  }
  const std::vector<CommandStatus> status = issue_all(sends);
  std::printf("  WM=%d DT=%d EN=%d\n", static_cast<int>(status[kWorkMode]),
              static_cast<int>(status[kDataType]), static_cast<int>(status[kPointSend]));
  std::fflush(stdout);
}

void bring_up_cycle(const StreamFacts& facts, const SupervisorConfig& config, uint64_t now) {
  std::vector<Send> sends;
  std::vector<std::string> lines;
  bool reconfigure = false;
  {
    std::lock_guard<std::mutex> hold(bring_up_mutex);
    if (facts.handle != 0 && lidars.count(facts.handle) == 0) {
      // Streaming without having been reported (another program configures it, this one is
      // not the master): the point configuration is still made sure of.
      LidarRecord& record = lidars[facts.handle];
      begin_writes(record, {kDataType, kPointSend});
      for (Write write : {kDataType, kPointSend}) {
        sends.push_back(prepare_send(record, facts.handle, write));
      }
    }
    for (auto& [handle, record] : lidars) {
      if (record.announce_return) {
        record.announce_return = false;
        lines.push_back("[SUP] LiDAR " + handle_address(handle) +
                        " voltou a responder; configurando de novo\n");
      }
      if (handle == facts.handle) {
        reconfigure = follow_stream(record, facts, config, now, sends, lines);
      }
      resend_due(handle, record, config, now, sends, lines);
    }
  }
  print_lines(lines);
  issue_all(sends);
  if (reconfigure) LidarReconfigure(facts.handle);
}

void bring_up_stream_lost(uint32_t handle) {
  {
    std::lock_guard<std::mutex> hold(bring_up_mutex);
    const auto it = lidars.find(handle);
    if (it == lidars.end()) return;
    LidarRecord& record = it->second;
    begin_writes(record, {});
    record.points = PointRequests{};
    record.lost = true;
    record.returning = false;
  }
  LidarReconfigure(handle);
}

bool bring_up_confirmed(uint32_t handle) {
  std::lock_guard<std::mutex> hold(bring_up_mutex);
  const auto it = lidars.find(handle);
  return it != lidars.end() && it->second.confirmed;
}

bool bring_up_reconfiguring(uint32_t handle) {
  std::lock_guard<std::mutex> hold(bring_up_mutex);
  const auto it = lidars.find(handle);
  return it != lidars.end() && it->second.returning;
}

void reset_bring_up() {
  std::lock_guard<std::mutex> hold(bring_up_mutex);
  lidars.clear();
}

}  // namespace app
