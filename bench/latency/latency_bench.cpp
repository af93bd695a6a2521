// How soon consumers learn that an obstacle appeared: the simulator shows a box on SIGUSR1 and
// prints the moment on the wall clock; this program reads the frame stream the way a consumer
// does (XREAD BLOCK) and the Lidar document the way the robot's programs do (GET every 50 ms),
// and times the first entry whose corridor front distance, and the first document with an
// obstacle box at the box's place, shows the box. (The document's own front distance cannot: the
// scene's floor, inside the document's region of interest, holds it near 0. Its boxes can: the
// floor's box ends 0.35 m below the sensor and the appearing box rises above that.) Then it hides
// the box, waits until both say so, and starts again after a random pause, so appearances fall at
// every phase of the frame and supervisor cycles. With --zone NAME the box appears inside that
// zone of the service, and the same run also times the zone's "ocupada" as read from the zone
// stream with XREAD BLOCK and from its channel with SUBSCRIBE (and waits for its "livre" after
// each hiding).
//
//   latency_bench --sim-pid PID --sim-log FILE [--appearances N] [--distance M] [--port P]
//                 [--zone NAME]
//
// Prints one line: "appearances=N missed=K stream_p50=.. stream_p99=.. document_p50=..
// document_p99=.." (milliseconds), followed on it with a zone by "zone_xread_p50=..
// zone_xread_p99=.. zone_subscribe_p50=.. zone_subscribe_p99=..", and each appearance's figures
// before it.
#include <hiredis/hiredis.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

constexpr const char* kStreamKey = "ctx:dados_modulo_Lidar_quadros";
constexpr const char* kDocumentKey = "ctx:dados_modulo_Lidar";
constexpr const char* kZoneKey = "ctx:dados_modulo_Lidar_zonas";
constexpr auto kPollPeriod = std::chrono::milliseconds(50);
constexpr double kTolerance = 0.03;  // metres
constexpr double kGiveUpMs = 5000;

double wall_ms() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

struct Options {
  pid_t sim_pid = 0;
  std::string sim_log;
  int appearances = 60;
  double distance = 1.2;
  int port = 6379;
  std::string zone;
};

// What one reader saw: the front distance at each reading, with the moment it was read.
class Readings {
 public:
  void add(double at_ms, double value) {
    std::lock_guard<std::mutex> hold(mutex_);
    readings_.push_back({at_ms, value});
  }
  // The first reading after `since` whose value satisfies `test`.
  std::optional<double> first_after(double since, const std::function<bool(double)>& test) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const auto& r : readings_)
      if (r.at_ms >= since && test(r.value)) return r.at_ms;
    return std::nullopt;
  }

 private:
  struct Reading {
    double at_ms, value;
  };
  std::mutex mutex_;
  std::vector<Reading> readings_;
};

redisContext* connect(int port) {
  timeval timeout{2, 0};
  redisContext* c = redisConnectWithTimeout("127.0.0.1", port, timeout);
  if (c == nullptr || c->err) {
    std::fprintf(stderr, "latency_bench: cannot connect to Redis on port %d\n", port);
    std::exit(1);
  }
  return c;
}

double number(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  return end == text.c_str() ? std::nan("") : v;
}

std::string text(const redisReply* r) { return std::string(r->str, r->len); }

// XREAD BLOCK on `key` from the newest entry on, handing each entry's fields (name, value) to
// `take` with the moment they were read, until `running` is cleared.
void read_entries(int port, const char* key, const std::atomic<bool>& running,
                  const std::function<void(double, const redisReply*)>& take) {
  redisContext* c = connect(port);
  std::string last = "$";
  while (running.load()) {
    auto* reply = static_cast<redisReply*>(
        redisCommand(c, "XREAD BLOCK 500 STREAMS %s %s", key, last.c_str()));
    const double at = wall_ms();
    if (reply == nullptr) break;
    if (reply->type == REDIS_REPLY_ARRAY && reply->elements == 1) {
      const redisReply* entries = reply->element[0]->element[1];
      for (std::size_t i = 0; i < entries->elements; ++i) {
        const redisReply* entry = entries->element[i];
        last = text(entry->element[0]);
        take(at, entry->element[1]);
      }
    }
    freeReplyObject(reply);
  }
  redisFree(c);
}

// The frame stream's corridor front distance, entry by entry.
void read_stream(int port, Readings& out, const std::atomic<bool>& running) {
  read_entries(port, kStreamKey, running, [&out](double at, const redisReply* fields) {
    for (std::size_t f = 0; f + 1 < fields->elements; f += 2) {
      if (std::strcmp(fields->element[f]->str, "corredor.frente") == 0)
        out.add(at, number(fields->element[f + 1]->str));
    }
  });
}

// The zone's states as the zone stream holds them: 1 occupied, 0 free, NaN unknown.
double zone_value(const std::string& state) {
  return state == "ocupada" ? 1.0 : state == "livre" ? 0.0 : std::nan("");
}

void read_zone_stream(int port, const std::string& zone, Readings& out,
                      const std::atomic<bool>& running) {
  read_entries(port, kZoneKey, running, [&](double at, const redisReply* fields) {
    std::string name, state;
    for (std::size_t f = 0; f + 1 < fields->elements; f += 2) {
      const std::string key = text(fields->element[f]);
      if (key == "zona") name = text(fields->element[f + 1]);
      if (key == "estado") state = text(fields->element[f + 1]);
    }
    if (name == zone) out.add(at, zone_value(state));
  });
}

// SUBSCRIBE to the zone channel; the read times out every 500 ms so a stop is seen.
void subscribe_zone(int port, const std::string& zone, Readings& out,
                    const std::atomic<bool>& running) {
  redisContext* c = connect(port);
  freeReplyObject(redisCommand(c, "SUBSCRIBE %s", kZoneKey));
  const timeval slice{0, 500000};
  redisSetTimeout(c, slice);
  while (running.load()) {
    void* raw = nullptr;
    if (redisGetReply(c, &raw) != REDIS_OK) {
      if (c->err == REDIS_ERR_IO && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        c->err = 0;  // only the slice ran out
        continue;
      }
      break;
    }
    const double at = wall_ms();
    auto* reply = static_cast<redisReply*>(raw);
    if (reply->type == REDIS_REPLY_ARRAY && reply->elements == 3 &&
        text(reply->element[0]) == "message") {
      const auto message = nlohmann::json::parse(text(reply->element[2]), nullptr, false);
      if (!message.is_discarded() && message.value("zona", "") == zone)
        out.add(at, zone_value(message.value("estado", "")));
    }
    freeReplyObject(reply);
  }
  redisFree(c);
}

// Whether one of the document's boxes holds the point `probe_m` (x, y, z).
bool box_holds(const nlohmann::json& boxes, const double probe_m[3]) {
  static const char* const kMin[3] = {"min_x", "min_y", "min_z"};
  static const char* const kMax[3] = {"max_x", "max_y", "max_z"};
  for (const auto& b : boxes) {
    bool inside = b.is_object();
    for (int a = 0; inside && a < 3; ++a) {
      inside = b.contains(kMin[a]) && b[kMin[a]].is_number() && b.contains(kMax[a]) &&
               b[kMax[a]].is_number() && b[kMin[a]].get<double>() <= probe_m[a] &&
               probe_m[a] <= b[kMax[a]].get<double>();
    }
    if (inside) return true;
  }
  return false;
}

// GET every 50 ms, as a program polling the document would. Each reading is `distance` while a
// box of the document holds the middle of the appearing box's front face, and nan otherwise.
void poll_document(int port, double distance, Readings& out, const std::atomic<bool>& running) {
  const double probe_m[3] = {distance + 0.05, 0.0, -0.2};
  redisContext* c = connect(port);
  auto next = std::chrono::steady_clock::now();
  while (running.load()) {
    auto* reply = static_cast<redisReply*>(redisCommand(c, "GET %s", kDocumentKey));
    const double at = wall_ms();
    if (reply == nullptr) break;
    if (reply->type == REDIS_REPLY_STRING) {
      const auto doc = nlohmann::json::parse(std::string(reply->str, reply->len), nullptr, false);
      if (!doc.is_discarded() && doc.contains("bboxes") && doc["bboxes"].is_array())
        out.add(at, box_holds(doc["bboxes"], probe_m) ? distance : std::nan(""));
    }
    freeReplyObject(reply);
    next += kPollPeriod;
    std::this_thread::sleep_until(next);
  }
  redisFree(c);
}

// Sends SIGUSR1 and returns the simulator's stamp of the change it made ("<box> shown" or
// "<box> hidden"), read from its log past `offset`.
double toggle(const Options& o, std::streamoff& offset, const char* change) {
  kill(o.sim_pid, SIGUSR1);
  const double deadline = wall_ms() + kGiveUpMs;
  const std::string marker = "scene toggle at wall_ms ";
  while (wall_ms() < deadline) {
    std::ifstream log(o.sim_log);
    log.seekg(offset);
    std::string line;
    while (std::getline(log, line)) {
      if (log.eof()) break;  // a line still being written
      offset = log.tellg();
      const std::size_t at = line.find(marker);
      if (at != std::string::npos && line.find(change) != std::string::npos)
        return number(line.substr(at + marker.size()));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::fprintf(stderr, "latency_bench: the simulator did not report \"%s\"\n", change);
  std::exit(1);
}

std::optional<double> wait_for(Readings& r, double since, const std::function<bool(double)>& test) {
  while (wall_ms() < since + kGiveUpMs) {
    if (auto at = r.first_after(since, test)) return *at - since;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return std::nullopt;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return std::nan("");
  std::sort(v.begin(), v.end());
  const std::size_t rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size())));
  return v[std::min(v.size(), std::max<std::size_t>(rank, 1)) - 1];
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--sim-pid") o.sim_pid = static_cast<pid_t>(std::atol(value.c_str()));
    else if (name == "--sim-log") o.sim_log = value;
    else if (name == "--appearances") o.appearances = std::atoi(value.c_str());
    else if (name == "--distance") o.distance = number(value);
    else if (name == "--port") o.port = std::atoi(value.c_str());
    else if (name == "--zone")
      o.zone = value;
    else return false;
  }
  return argc % 2 == 1 && o.sim_pid > 0 && !o.sim_log.empty() && o.appearances > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::fputs(
        "usage: latency_bench --sim-pid PID --sim-log FILE [--appearances N] "
        "[--distance M] [--port P] [--zone NAME]\n",
        stderr);
    return 2;
  }
  const auto shows = [&o](double v) { return std::fabs(v - o.distance) < kTolerance; };
  const auto clear = [&o](double v) { return !(std::fabs(v - o.distance) < kTolerance); };

  std::atomic<bool> running{true};
  Readings stream, document;
  std::thread stream_reader(read_stream, o.port, std::ref(stream), std::cref(running));
  std::thread document_poller(poll_document, o.port, o.distance, std::ref(document),
                              std::cref(running));
  const bool zoned = !o.zone.empty();
  Readings zone_xread, zone_subscribe;
  std::thread zone_reader, zone_subscriber;
  if (zoned) {
    zone_reader =
        std::thread(read_zone_stream, o.port, o.zone, std::ref(zone_xread), std::cref(running));
    zone_subscriber =
        std::thread(subscribe_zone, o.port, o.zone, std::ref(zone_subscribe), std::cref(running));
  }
  const auto occupied = [](double v) { return v == 1.0; };
  const auto free = [](double v) { return v == 0.0; };

  // The service must be streaming, and both readers must see the box absent, before the first.
  const double start = wall_ms();
  if (!wait_for(stream, start, clear) || !wait_for(document, start, clear)) {
    std::fputs("latency_bench: no frame stream or no Lidar document\n", stderr);
    return 1;
  }

  std::streamoff offset = 0;
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> pause_ms(200, 700);
  std::vector<double> stream_ms, document_ms, xread_ms, subscribe_ms;
  int missed = 0;
  for (int i = 0; i < o.appearances; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(rng)));
    const double shown = toggle(o, offset, " shown");
    const auto s = wait_for(stream, shown, shows);
    const auto d = wait_for(document, shown, shows);
    std::optional<double> zx, zs;
    if (zoned) {
      zx = wait_for(zone_xread, shown, occupied);
      zs = wait_for(zone_subscribe, shown, occupied);
    }
    if (s && d && (!zoned || (zx && zs))) {
      stream_ms.push_back(*s);
      document_ms.push_back(*d);
      if (zoned) {
        xread_ms.push_back(*zx);
        subscribe_ms.push_back(*zs);
        std::printf(
            "appearance %d: stream %.1f ms, document %.1f ms, zone xread %.1f ms, "
            "subscribe %.1f ms\n",
            i + 1, *s, *d, *zx, *zs);
      } else {
        std::printf("appearance %d: stream %.1f ms, document %.1f ms\n", i + 1, *s, *d);
      }
    } else {
      ++missed;
      std::printf("appearance %d: not seen within %.0f ms\n", i + 1, kGiveUpMs);
    }
    const double hidden = toggle(o, offset, " hidden");
    wait_for(stream, hidden, clear);
    wait_for(document, hidden, clear);
    if (zoned) wait_for(zone_xread, hidden, free);
  }
  running.store(false);
  stream_reader.join();
  document_poller.join();
  if (zoned) {
    zone_reader.join();
    zone_subscriber.join();
  }

  std::printf(
      "appearances=%zu missed=%d stream_p50=%.1f stream_p99=%.1f document_p50=%.1f "
      "document_p99=%.1f",
      stream_ms.size(), missed, percentile(stream_ms, 0.5), percentile(stream_ms, 0.99),
      percentile(document_ms, 0.5), percentile(document_ms, 0.99));
  if (zoned) {
    std::printf(
        " zone_xread_p50=%.1f zone_xread_p99=%.1f zone_subscribe_p50=%.1f "
        "zone_subscribe_p99=%.1f",
        percentile(xread_ms, 0.5), percentile(xread_ms, 0.99), percentile(subscribe_ms, 0.5),
        percentile(subscribe_ms, 0.99));
  }
  std::printf("\n");
  return missed == 0 ? 0 : 1;
}
