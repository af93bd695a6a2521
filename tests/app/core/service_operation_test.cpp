// Operating the service: notifications to a service manager (a datagram socket this test binds,
// as systemd would), the watchdog verdict, the start-up self-check and the diagnostics
// document. Opens sockets, so it runs in the sandbox.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/core/health_counters.h"
#include "app/core/self_check.h"
#include "app/core/service_health.h"
#include "app/core/service_notify.h"
#include "app/core/shared_state.h"
#include "app/publication/diag_document.h"
#include "app/publication/redis_publisher.h"
#include "tests/app/publication/redis_server.h"

namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string temp_dir() {
  char path[] = "/tmp/service-test-XXXXXX";
  return mkdtemp(path);
}

// The service manager's end: a datagram socket named by NOTIFY_SOCKET.
class FakeServiceManager {
 public:
  FakeServiceManager() : path_(temp_dir() + "/notify") {
    fd_ = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path_.c_str());
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    setenv("NOTIFY_SOCKET", path_.c_str(), 1);
  }
  ~FakeServiceManager() {
    unsetenv("NOTIFY_SOCKET");
    close(fd_);
    unlink(path_.c_str());
  }
  // Every message received within the wait, in order.
  std::vector<std::string> messages(int wait_ms = 100) {
    std::vector<std::string> got;
    pollfd p{fd_, POLLIN, 0};
    while (poll(&p, 1, wait_ms) > 0) {
      char buffer[512];
      const ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      got.emplace_back(buffer, static_cast<std::size_t>(n));
      wait_ms = 0;
    }
    return got;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

app::ProgressVerdict healthy() { return app::ProgressVerdict{}; }
app::ProgressVerdict stalled() { return app::ProgressVerdict{false, "worker parado"}; }

TEST(ServiceNotify, ReadyWatchdogAndStoppingReachTheServiceManager) {
  FakeServiceManager manager;
  app::notify_ready(3);
  EXPECT_EQ(manager.messages(), std::vector<std::string>{"READY=1"});
  EXPECT_EQ(app::expected_io_threads(), 3u);

  app::watchdog_cycle(healthy());
  app::watchdog_cycle(healthy());
  EXPECT_EQ(manager.messages(), (std::vector<std::string>{"WATCHDOG=1", "WATCHDOG=1"}));

  // A stall stops the keep-alive and says so once; progress brings both back.
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  app::watchdog_cycle(stalled());
  app::watchdog_cycle(stalled());
  EXPECT_THAT(manager.messages(), IsEmpty());
  app::watchdog_cycle(healthy());
  EXPECT_EQ(manager.messages(), std::vector<std::string>{"WATCHDOG=1"});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[ERR] worker parado; watchdog suspenso\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[SUP] progresso retomado; watchdog reativado\n");

  app::notify_stopping();
  EXPECT_EQ(manager.messages(), std::vector<std::string>{"STOPPING=1"});
}

TEST(ServiceNotify, WithoutAServiceManagerNothingIsSentOrPrinted) {
  unsetenv("NOTIFY_SOCKET");
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  app::notify_ready(3);
  app::watchdog_cycle(stalled());
  app::watchdog_cycle(healthy());
  app::notify_stopping();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(ServiceNotify, WatchdogStopsWhenTheWorkerStalls) {
  FakeServiceManager manager;
  app::notify_ready(0);
  manager.messages();
  // The worker turns: the supervisor's health step feeds the watchdog.
  app::note_worker_pass(false);
  app::service_health_cycle();
  EXPECT_EQ(manager.messages(), std::vector<std::string>{"WATCHDOG=1"});

  // Six seconds later without a turn the worker counts as stalled.
  const app::AppHealth health = app::copy_app_health();
  const app::ProgressVerdict later =
      app::judge_progress(health.worker_pass_ms + 6000, health, 0, 0, 0);
  EXPECT_FALSE(later.ok);
  EXPECT_THAT(later.stalled, HasSubstr("worker de processamento parado ha 6000 ms"));
  testing::internal::CaptureStderr();
  app::watchdog_cycle(later);
  testing::internal::GetCapturedStderr();
  EXPECT_THAT(manager.messages(), IsEmpty());
}

TEST(ProgressVerdict, JudgesTheWorkerAndTheSdkIoThreads) {
  app::AppHealth h;
  h.worker_pass_ms = 10000;
  EXPECT_TRUE(app::judge_progress(12000, h, 3, 3, 40).ok);
  EXPECT_TRUE(app::judge_progress(9000, h, 3, 3, 40).ok) << "a turn stamped after now is fresh";
  EXPECT_FALSE(app::judge_progress(15001, h, 3, 3, 40).ok);

  const app::ProgressVerdict io_gone = app::judge_progress(12000, h, 2, 3, 40);
  EXPECT_FALSE(io_gone.ok);
  EXPECT_THAT(io_gone.stalled, HasSubstr("2 de 3"));
  const app::ProgressVerdict io_stuck = app::judge_progress(12000, h, 3, 3, 5001);
  EXPECT_FALSE(io_stuck.ok);
  EXPECT_THAT(io_stuck.stalled, HasSubstr("parada ha 5001 ms"));

  h.worker_pass_ms = 0;
  EXPECT_FALSE(app::judge_progress(12000, h, 3, 3, 40).ok) << "a worker that never turned";
}

// --- start-up self-check ----------------------------------------------------------------

std::string write_config(const std::string& dir, const std::string& host_ip) {
  const std::string path = dir + "/config.json";
  std::ofstream(path) << R"({"OMNI": {"lidar_net_info": {"cmd_data_port": 56100,
      "push_msg_port": 56200, "point_data_port": 56300, "imu_data_port": 56400,
      "log_data_port": 56500}, "host_net_info": [{"host_ip": ")"
                      << host_ip << R"(", "multicast_ip": "", "cmd_data_port": 56101,
      "push_msg_port": 56201, "point_data_port": 56301, "imu_data_port": 56401,
      "log_data_port": 56501}]}})";
  return path;
}

class SelfCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_dir();
    rmem_ = dir_ + "/rmem_max";
    std::ofstream(rmem_) << "209715200\n";
    ASSERT_TRUE(redis_.start());
    settings_.config_path = write_config(dir_, "127.0.0.1");
    settings_.redis_uri = redis_.uri();
    settings_.rmem_max_path = rmem_;
  }
  std::string dir_, rmem_;
  testing_support::RedisServer redis_;
  app::SelfCheckSettings settings_;
};

TEST_F(SelfCheck, SoundSetUpReportsNothingAndSaysSo) {
  EXPECT_THAT(app::find_setup_problems(settings_), IsEmpty());
  testing::internal::CaptureStdout();
  app::run_self_check(settings_);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[INFO] verificacao de inicio: nenhum problema encontrado\n");
}

TEST_F(SelfCheck, EachProblemGetsOneActionableLine) {
  // The host address is on no interface of this (sandboxed) machine.
  settings_.config_path = write_config(dir_, "192.0.2.10");
  auto problems = app::find_setup_problems(settings_);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_THAT(problems[0], HasSubstr("[ERR] host_ip 192.0.2.10 de " + settings_.config_path +
                                     " nao esta em nenhuma interface"));
  EXPECT_THAT(problems[0], HasSubstr("ip addr add 192.0.2.10/24"));

  // Another socket holds a host port, even one that allows sharing it.
  settings_.config_path = write_config(dir_, "127.0.0.1");
  const int holder = socket(AF_INET, SOCK_DGRAM, 0);
  const int on = 1;
  setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(56301);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  problems = app::find_setup_problems(settings_);
  close(holder);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_THAT(problems[0], HasSubstr("[ERR] porta UDP 56301 em 127.0.0.1 ja esta em uso por "
                                     "outro processo, pid " + std::to_string(getpid())));

  // The receive buffer limit is below what the SDK asks for.
  std::ofstream(rmem_) << "4194304\n";
  problems = app::find_setup_problems(settings_);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_THAT(problems[0], HasSubstr("[ERR] net.core.rmem_max e 4194304 bytes"));
  EXPECT_THAT(problems[0], HasSubstr("sysctl -w net.core.rmem_max=209715200"));
  std::ofstream(rmem_) << "209715200\n";

  // Redis does not answer.
  redis_.kill();
  problems = app::find_setup_problems(settings_);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_THAT(problems[0], HasSubstr("[ERR] servidor Redis em " + redis_.uri() + " nao responde"));

  // Lines go to standard error, each on its own line, and the check never stops anything.
  settings_.config_path = write_config(dir_, "192.0.2.10");
  testing::internal::CaptureStderr();
  app::run_self_check(settings_);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("[ERR] host_ip 192.0.2.10"));
  EXPECT_THAT(err, HasSubstr("\n[ERR] servidor Redis"));
}

// A configuration it cannot read leaves the network unchecked: it must not say all is well.
TEST_F(SelfCheck, UnreadableConfigurationIsNotReportedAsSound) {
  settings_.config_path = dir_ + "/missing.json";
  const auto problems = app::find_setup_problems(settings_);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_THAT(problems[0], HasSubstr("nao foi possivel ler a configuracao " +
                                     settings_.config_path + ": host_ip e portas do host nao "
                                     "verificados"));
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  app::run_self_check(settings_);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), problems[0]);
}

// --- diagnostics document ---------------------------------------------------------------

TEST(DiagDocument, CountersArePublishedBesideTheStateDocuments) {
  testing_support::RedisServer redis;
  ASSERT_TRUE(redis.start());
  app::redis_publisher = std::make_unique<app::RedisPublisher>(redis.uri());

  LidarHealthCounters sdk{};
  sdk.port_count = 2;
  sdk.ports[0] = {56301, 1234};
  sdk.ports[1] = {56401, 99};
  sdk.dropped_short = 3;
  sdk.dropped_malformed = 4;
  sdk.dropped_unknown_sender = 5;
  sdk.kernel_drops = 6;
  sdk.crc_rejected = 7;
  sdk.requests_timed_out = 8;
  sdk.io_threads = 3;
  sdk.io_stall_ms = 12;
  app::note_frame_processed(2500000);
  app::note_worker_pass(true);
  ASSERT_TRUE(app::publish_diag_document(sdk, app::ProgressVerdict{}));

  testing_support::RedisProbe probe(redis.port());
  const auto text = probe.get(app::kDiagDocumentKey);
  ASSERT_TRUE(text);
  const nlohmann::json doc = nlohmann::json::parse(*text);
  EXPECT_EQ(doc["sdk"]["recebidos"]["56301"], 1234);
  EXPECT_EQ(doc["sdk"]["recebidos"]["56401"], 99);
  EXPECT_EQ(doc["sdk"]["descartados"]["curtos"], 3);
  EXPECT_EQ(doc["sdk"]["descartados"]["malformados"], 4);
  EXPECT_EQ(doc["sdk"]["descartados"]["remetente_desconhecido"], 5);
  EXPECT_EQ(doc["sdk"]["descartados"]["kernel"], 6);
  EXPECT_EQ(doc["sdk"]["crc_rejeitados"], 7);
  EXPECT_EQ(doc["sdk"]["comandos_expirados"], 8);
  EXPECT_EQ(doc["sdk"]["threads_io"], 3);
  EXPECT_GE(doc["app"]["quadros"]["processados"].get<int>(), 1);
  EXPECT_GE(doc["app"]["quadros"]["pulados"].get<int>(), 1);
  EXPECT_DOUBLE_EQ(doc["app"]["processamento_ms"]["ultimo"].get<double>(), 2.5);
  EXPECT_GE(doc["app"]["processamento_ms"]["maximo"].get<double>(), 2.5);
  EXPECT_EQ(doc["progresso_ok"], true);
  EXPECT_EQ(doc["parado"], "");
  EXPECT_TRUE(doc["timestamp"].is_number_integer());
  const long long ttl = probe.ttl(app::kDiagDocumentKey);
  EXPECT_GT(ttl, 0);
  EXPECT_LE(ttl, 10);

  // A publication that does not reach Redis is counted.
  const uint64_t failures = app::copy_app_health().redis_failures;
  redis.kill();
  std::fflush(stderr);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(app::publish_diag_document(sdk, app::ProgressVerdict{}));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(app::copy_app_health().redis_failures, failures + 1);
  app::redis_publisher.reset();
}

}  // namespace
