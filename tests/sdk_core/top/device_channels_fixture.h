// What the channel tests share: host descriptions, a delegate that records which socket was
// served on which thread for which port, and three running IO threads with the channels over them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/io_thread.h"
#include "base/socket_platform.h"
#include "device_channels.h"
#include "tests/sdk_core/base/log_capture.h"

namespace lidar::sdk::testing {

// Host ports first_port, +100, ... +400 for command, push, point, IMU and log.
inline HostNetInfo Host(const std::string& ip, uint16_t first_port,
                        const std::string& multicast = "") {
  HostNetInfo host;
  host.host_ip = ip;
  host.multicast_ip = multicast;
  host.cmd_data_port = first_port;
  host.push_msg_port = static_cast<uint16_t>(first_port + 100);
  host.point_data_port = static_cast<uint16_t>(first_port + 200);
  host.imu_data_port = static_cast<uint16_t>(first_port + 300);
  host.log_data_port = static_cast<uint16_t>(first_port + 400);
  return host;
}

class RecordingDelegate final : public IOLoop::IOLoopDelegate {
 public:
  void OnData(int sock, void* client_data) override {
    const uint16_t port =
        client_data ? static_cast<const ChannelSocket*>(client_data)->local_port : 0;
    uint8_t buffer[64];
    while (ReceiveDatagram(sock, buffer, sizeof(buffer)).length >= 0) {
      std::lock_guard<std::mutex> lock(mutex);
      received.push_back({sock, std::this_thread::get_id(), port});
      cv.notify_all();
    }
  }
  void OnTimer(TimePoint) override {}

  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, std::chrono::milliseconds(2000),
                       [&] { return received.size() >= count; });
  }

  struct Event {
    int sock;
    std::thread::id thread;
    uint16_t port;  // from the socket's client data
  };
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<Event> received;
};

class DeviceChannelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto* thread : {&detection_, &command_, &data_}) {
      ASSERT_TRUE(thread->Init(true));
      ASSERT_TRUE(thread->Start());
    }
    channels_.SetLoops(detection_.loop(), command_.loop(), data_.loop(), &delegate_);
  }
  void TearDown() override {
    channels_.RemoveDelegates();
    StopThreads();
    channels_.CloseCommandAndDataSockets();
    channels_.CloseDetectionSocket();
  }

  // The device manager's order: no thread may still serve a socket (and its client data)
  // being closed.
  void StopThreads() {
    if (stopped_) return;
    for (auto* thread : {&detection_, &command_, &data_}) thread->Join();
    stopped_ = true;
  }

  bool stopped_ = false;
  LogCapture log_;
  RecordingDelegate delegate_;
  IOThread detection_, command_, data_;
  DeviceChannels channels_;
};

}  // namespace lidar::sdk::testing
