// The SDK's centre: starts the IO threads and UDP channels, broadcasts detection requests,
// keeps the registry of configured and detected LiDARs, routes every received datagram and
// sends the command layer's frames on the right socket. It is the delegate of every SDK socket,
// and the command layer's frame sender and detection sink. In host-address mode it also tells
// the LiDARs it views where to send (view_lidar_provisioning.cpp).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lidar_sdk.h"
#include "base/io_loop.h"
#include "base/ipv4_address.h"
#include "command_handler/detection_data.h"
#include "command_handler/device_links.h"
#include "config_types.h"
#include "device_ports.h"
#include "sdk_protocol.h"

namespace lidar::sdk {

class DeviceChannels;
class GeneralCommandHandler;
class IOThread;

constexpr uint32_t kReceiveBufferSize = 8192;
// Receive buffers of one IO thread: datagrams one call takes (256 KiB per IO thread).
constexpr std::size_t kReceiveBatchSize = 32;
// Most datagrams one readable event takes off a socket, batch after batch, where the platform
// receives in batches. The select pass serves every ready socket once and then the timers, so
// this bounds how long one busy socket holds the IO thread: 2048 point callbacks take about four
// milliseconds, against the timers' 50 ms.
constexpr std::size_t kReceiveEventLimit = 2048;
// The data thread's passes that received begin at least this far apart (where the platform
// receives in batches), so one wake-up takes what 20 ms bring: about 90 datagrams at the
// Forward type's 4,500 datagrams/s instead of one or two. A wake-up (the sleep, the switch back,
// the select) costs this machine about as much CPU as receiving and handling twenty datagrams:
// at 4 ms the data thread spent half its time on them, at 10 ms still a quarter. Points reach
// the application up to 20 ms later, against a 100 ms frame interval; with the event limit a
// socket is served at up to 102,400 datagrams/s, twice the 52,000 the fastest stream sends.
constexpr std::chrono::microseconds kDataGatherInterval{20000};

class DeviceManager : public IOLoop::IOLoopDelegate, public FrameSender, public DetectionSink {
 public:
  static DeviceManager& GetInstance();

  // Configuration mode: LiDARs are configured per device type or per LiDAR address.
  bool Init(std::shared_ptr<LidarCfgList> lidars_cfg, std::shared_ptr<LidarCfgList> custom_lidars_cfg,
            std::shared_ptr<LidarLoggerCfg> logger_cfg,
            std::shared_ptr<LidarSdkFrameworkCfg> framework_cfg);
  // Host-address mode: detected LiDARs are only received from ("view" LiDARs).
  bool Init(const std::string& host_ip, const LidarLoggerCfgInfo* log_cfg_info);
  // Stops detection and the IO threads, closes every socket and forgets every LiDAR.
  void Uninit();

  // Frame sender: on the socket of the record's host address and command port (log port for
  // SendLoggerCommand); the detection socket when there is none.
  int SendCommand(uint8_t dev_type, uint32_t handle, const uint8_t* bytes, uint32_t length,
                  const Ipv4Endpoint& to) override;
  int SendLoggerCommand(uint8_t dev_type, uint32_t handle, const uint8_t* bytes, uint32_t length,
                        const Ipv4Endpoint& to) override;

  // Detection sink.
  void HandleDetectionData(uint32_t handle, const DetectionData& data, bool fw_type_known,
                           bool fw_type_zero) override;
  // Response callback of the internal-information query of a view LiDAR.
  static void GetLidarInternalInfoCallback(CommandStatus status, uint32_t handle,
                                           LidarDiagInternalInfoResponse* response,
                                           void* client_data);
  void UpdateViewLidarCfgCallback(uint32_t handle) override;
  void ForgetViewLidarCfg(uint32_t handle) override;
  // master_sdk of the framework configuration. Host-address mode has no configuration file
  // and counts as master, like a file without "master_sdk".
  bool IsMasterSdk() const override;

  // Most datagrams one readable event takes (kReceiveEventLimit unless set); 1 receives
  // datagram by datagram without gathering, as a platform without batch receive does. Set it
  // before Init: the data thread's gathering is decided when it starts.
  void SetReceiveLimit(std::size_t limit);
  // The data thread's gathering (kDataGatherInterval unless set); set it before Init as well.
  void SetGatherInterval(std::chrono::microseconds interval);

  // IO loop delegate operations: the datagrams waiting on a socket, up to the receive limit;
  // the timed-out requests.
  void OnData(int sock, void* client_data) override;
  void OnTimer(TimePoint now) override;

 private:
  struct ViewLidarState {
    uint32_t handle = 0;
    uint16_t lidar_cmd_port = 0;
    uint8_t dev_type = 0;
    std::atomic<bool> added{false};
    std::atomic<bool> configured{false};
  };

  DeviceManager();
  ~DeviceManager();
  DeviceManager(const DeviceManager&) = delete;
  DeviceManager& operator=(const DeviceManager&) = delete;

  // Routes one received datagram: `sender` is the LiDAR's address in network byte order,
  // `local_port` the port of the socket it arrived on.
  void HandleDatagram(uint32_t sender, uint16_t local_port, uint8_t* bytes, uint32_t count);
  // The log capture, the command hub (initialised by `init_general`) and the data handler, in
  // that order: the failure line of the first that fails, or null when all started.
  const char* InitHandlers(const LidarLoggerCfg& logger_cfg,
                           const std::function<bool(GeneralCommandHandler&)>& init_general);
  bool CreateIOThread();
  // The detection channel, unless it is open, then the data and command channels of every
  // record of the custom list; existing sockets are reused. Only the detection channel fails
  // the call: a record's port held by another process waits and is opened once it is free.
  bool CreateChannel();
  void StartDetection();
  void DetectionWorker();
  void Detection();
  // A valid detection reply from a LiDAR without a record: registers it under the per-type
  // record of its device type.
  void RegisterDetectedLidar(uint32_t handle, uint8_t* bytes, uint32_t count);
  void RouteConfigured(uint32_t handle, uint16_t local_port, uint8_t* bytes, uint32_t count);
  void RouteView(uint32_t handle, uint16_t local_port, uint8_t* bytes, uint32_t count);
  // Host-address mode's part of HandleDetectionData: query, then configure, a viewed LiDAR.
  void ProvisionViewLidar(uint32_t handle, const DetectionData& data, bool fw_type_known,
                          bool fw_type_zero);
  void AddViewLidar(uint32_t handle, const LidarDiagInternalInfoResponse& response);
  // Socket for a frame to `handle`: the one open for its record's host address and host command
  // port (log port when `logger`); the detection socket, with `found` false, when there is none.
  int CommandSocket(uint32_t handle, bool logger, bool* found) const;
  // Teardown of everything Init may have created; safe to run more than once.
  void Teardown();
  // Undoes a failed Init; always false.
  bool Abandon();

  std::shared_ptr<LidarSdkFrameworkCfg> framework_cfg_;
  std::shared_ptr<LidarCfgList> lidars_cfg_;
  std::shared_ptr<LidarCfgList> custom_lidars_cfg_;
  std::shared_ptr<LidarLoggerCfg> logger_cfg_;
  std::map<uint8_t, LidarCfg> type_cfg_map_;
  std::map<uint32_t, LidarCfg> lidar_cfg_map_;
  // Guards the registry (the two lists, the two maps and device_type_map_): written on the
  // detection IO thread, read on all of them.
  mutable std::mutex registry_mutex_;

  // Detection socket, command and data sockets and their registry.
  std::shared_ptr<DeviceChannels> channels_;

  std::mutex comm_port_mutex_;  // the detection worker and the detection thread both use it
  std::unique_ptr<CommPort> comm_port_;
  std::shared_ptr<IOThread> command_thread_;
  std::shared_ptr<IOThread> data_thread_;
  std::shared_ptr<IOThread> detection_thread_;
  std::atomic<bool> detection_stop_{false};
  std::shared_ptr<std::thread> detection_worker_;
  std::mutex detection_wait_mutex_;
  std::condition_variable detection_wait_;

  std::atomic<std::size_t> receive_limit_{kReceiveEventLimit};
  std::atomic<int64_t> gather_us_{kDataGatherInterval.count()};
  std::mutex send_mutex_;
  std::mutex logger_send_mutex_;
  std::atomic<bool> is_view_{false};
  std::string host_ip_;  // written only while the IO threads are stopped
  std::atomic<uint32_t> host_addr_{0};  // host_ip_ in network byte order, 0 when not an address
  std::map<uint32_t, uint8_t> device_type_map_;

  std::mutex view_mutex_;
  std::map<uint32_t, std::shared_ptr<ViewLidarState>> view_lidars_;
  std::mutex view_info_mutex_;
  std::map<uint32_t, std::shared_ptr<ViewLidarIpInfo>> view_lidar_infos_;
};

}  // namespace lidar::sdk
