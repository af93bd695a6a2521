// Operating the service: the watchdog verdict, the start-up self-check and the diagnostics
// document. Opens sockets, so it runs in the sandbox.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/app_health.h"
#include "core/self_check.h"
#include "core/service_health.h"
#include "core/service_notify.h"
#include "core/shared_state.h"
#include "publication/diag_document.h"
#include "publication/redis_publisher.h"
#include "base/sdk_socket.h"
#include "tests/app/publication/redis_server.h"

namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

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

std::string temp_dir() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("self-check-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  return dir.string();
}

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
    settings_.redis = redis_.uri();
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

  // Another socket holds a host port, even one that allows sharing it as the SDK's own do.
  settings_.config_path = write_config(dir_, "127.0.0.1");
  ASSERT_TRUE(lidar::sdk::SocketLibraryStartup());
  const lidar::sdk::SocketHandle holder =
      lidar::sdk::CreateSocket(56301, false, lidar::sdk::PortSharing::kShared, false, "127.0.0.1",
                               "");
  ASSERT_TRUE(lidar::sdk::IsOpenSocket(holder));
  problems = app::find_setup_problems(settings_);
  lidar::sdk::CloseSocket(holder);
  lidar::sdk::SocketLibraryCleanup();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_THAT(problems[0],
              HasSubstr("[ERR] porta UDP 56301 em 127.0.0.1 ja esta em uso por outro processo"));

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

// An interface list the system will not give leaves the host address unchecked: one line says
// so, and neither a missing address nor a needless fix is claimed. The ports are still checked.
TEST_F(SelfCheck, UnlistableInterfacesLeaveTheAddressUncheckedNotMissing) {
  settings_.list_interfaces = [] { return std::optional<std::set<std::string>>(); };
  auto problems = app::find_setup_problems(settings_);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0],
            "[ERR] nao foi possivel listar as interfaces desta maquina: host_ip "
            "127.0.0.1 de " +
                settings_.config_path + " nao verificado\n");

  ASSERT_TRUE(lidar::sdk::SocketLibraryStartup());
  const lidar::sdk::SocketHandle holder = lidar::sdk::CreateSocket(
      56401, false, lidar::sdk::PortSharing::kShared, false, "127.0.0.1", "");
  ASSERT_TRUE(lidar::sdk::IsOpenSocket(holder));
  problems = app::find_setup_problems(settings_);
  lidar::sdk::CloseSocket(holder);
  lidar::sdk::SocketLibraryCleanup();
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_THAT(problems[1], HasSubstr("[ERR] porta UDP 56401 em 127.0.0.1 ja esta em uso"));
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
