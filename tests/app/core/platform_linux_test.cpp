// The Linux platform pieces: notifications to a service manager (a datagram socket this test
// binds, as systemd would), SIGTERM ending the entry point in order, and the owner of a bound
// UDP port read from /proc. Opens sockets, so it runs in the sandbox.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/entry_point.h"
#include "core/app_health.h"
#include "core/platform.h"
#include "core/service_health.h"
#include "core/service_notify.h"
#include "core/shared_state.h"
#include "tests/app/core/entry_point_runner.h"

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

// --- console control -------------------------------------------------------------------

using entry_point_test::EntryPoint;
using entry_point_test::run;

TEST_F(EntryPoint, SigtermLeadsThroughOrderlyShutdownWithinOneSecond) {
  std::chrono::steady_clock::time_point signalled;
  std::thread signaller([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!app::supervisor_active.load() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    signalled = std::chrono::steady_clock::now();
    kill(getpid(), SIGTERM);
  });
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = run({"app", "cfg.json"});
  const auto returned = std::chrono::steady_clock::now();
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  signaller.join();

  EXPECT_EQ(status, 0);
  EXPECT_LT(returned - signalled, std::chrono::seconds(1));
  const auto calls = fake_sdk::call_names();
  ASSERT_GE(calls.size(), 6u);
  EXPECT_EQ(calls.front(), "LidarSdkInit");
  EXPECT_EQ(calls[4], "LidarSdkStart");
  EXPECT_EQ(calls.back(), "LidarSdkUninit");
  EXPECT_FALSE(app::running.load());
}

// --- owner of a bound port -------------------------------------------------------------

TEST(PortOwner, ProcessHoldingAUdpPortIsNamed) {
  const int holder = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(addr);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&addr), &size), 0);
  std::string name;
  std::getline(std::ifstream("/proc/self/comm"), name);
  EXPECT_EQ(app::udp_port_owner(ntohs(addr.sin_port)),
            "pid " + std::to_string(getpid()) + " (" + name + ")");
  close(holder);
}

}  // namespace
