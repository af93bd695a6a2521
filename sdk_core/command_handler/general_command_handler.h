// Host-side hub of the control protocol: device types of the LiDAR handles, one command handler
// per device type, the requests waiting for their acknowledgement, and the detection replies.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "lidar_sdk.h"
#include "command_handler/command_handler.h"
#include "command_handler/detection_data.h"
#include "command_handler/device_links.h"
#include "config_types.h"
#include "sdk_protocol.h"

namespace lidar::sdk {

// What the host knows about a LiDAR that answered detection.
struct DetectedLidar {
  std::string sn;
  std::string lidar_ip;
  uint8_t dev_type = 0;
  std::atomic<bool> config_done{false};    // the LiDAR accepted its configuration
  std::atomic<bool> fw_type_known{false};  // the firmware-type query has ended
  std::atomic<bool> fw_type_zero{false};   // the device reported firmware type 0
  std::atomic<bool> info_reported{false};  // the application has been told about it
};

// The LiDAR log capture's view of every valid detection reply.
using DetectionHook = std::function<void(uint32_t handle, const DetectionData& data)>;

class GeneralCommandHandler {
 public:
  static GeneralCommandHandler& GetInstance();

  // Configuration mode; called again whenever the device manager registers a LiDAR. Frames
  // leave through `sender`; what detection finds goes to `detections` (both the device manager).
  bool Init(const std::vector<LidarCfg>& custom_lidar_cfgs, FrameSender* sender,
            DetectionSink* detections);
  // Host-address mode.
  bool InitView(const std::string& host_ip, bool host_mode, FrameSender* sender,
                DetectionSink* detections);
  void Uninit();

  void SetLidarInfoChangeCallback(LidarInfoChangeCallback cb, void* client_data);
  void SetLidarPushInfoCallback(LidarPushInfoCallback cb, void* client_data);
  void SetLoggerDetectionHook(DetectionHook hook);

  void CreateCommandHandler(uint8_t dev_type);
  std::shared_ptr<CommandHandler> GetCommandHandler(uint8_t dev_type);
  std::shared_ptr<CommandHandler> GetLidarCommandHandler(uint32_t handle);

  // Sends a request to the LiDAR; its callback is completed once, later, with the
  // acknowledgement, -4 at the time-out, or -9 when the send fails. A negative result
  // (-9: no handler for the device) means the callback is never called.
  CommandStatus SendCommand(uint32_t handle, uint16_t cmd_id, uint8_t* data, uint16_t data_len,
                            std::shared_ptr<CommandCallback> callback);
  CommandStatus SendLoggerCommand(uint32_t handle, uint16_t cmd_id, uint8_t* data,
                                  uint16_t data_len, std::shared_ptr<CommandCallback> callback);

  // Pending requests, keyed by sequence number; acknowledgements are not stored.
  void AddCommand(const Command& command);
  // Takes a request whose frame could not be sent out of the table; true when it was still
  // waiting (so its callback has not been completed).
  bool WithdrawCommand(uint32_t seq_num, const CommandCallback* callback);
  // Completes every request whose time ran out before `now` with -4.
  void CommandsHandle(std::chrono::steady_clock::time_point now);

  // A control datagram from a LiDAR whose device type is known: acknowledgements and the
  // LiDAR's requests go on to the type's handler, which completes and decodes them.
  void Handler(uint8_t dev_type, uint32_t handle, uint16_t local_port, uint8_t* bytes,
               uint32_t count);
  // One from a LiDAR whose type is not known yet: push messages go to the handler of the type
  // registered for the handle; an acknowledgement is completed here (CompletePending).
  void Handler(uint32_t handle, uint16_t local_port, uint8_t* bytes, uint32_t count);

  // Internal-information keys of the handle's device type; false when there are none.
  bool GetInternalInfoKeys(uint32_t handle, std::set<uint16_t>& keys);

  // A push message of a registered handle, rendered as JSON text for the push-information
  // callback. Without a callback it is not decoded at all: nothing else reads it.
  void PushLidarInfo(uint32_t handle, const CommPacket& packet);

  // Detection replies and the firmware-type query.
  void HandleDetectionData(uint32_t handle, uint16_t local_port, const CommPacket& packet);
  bool VerifyNetSegment(const DetectionData& data);
  CommandStatus QueryFwType(uint32_t handle);
  static void QueryFwTypeCallback(CommandStatus status, uint32_t handle,
                                  LidarDiagInternalInfoResponse* response, void* client_data);
  void LidarInfoChange(uint32_t handle);
  void UpdateViewLidarCfg(const ViewLidarIpInfo& info);
  // Brings a detected LiDAR up from the start again: its acceptance is forgotten, so its next
  // detection reply sends the configuration request and the next acceptance is reported to the
  // application again. kStatusNotRegistered for a handle that never answered detection.
  CommandStatus Reconfigure(uint32_t handle);

 private:
  GeneralCommandHandler() = default;
  GeneralCommandHandler(const GeneralCommandHandler&) = delete;
  GeneralCommandHandler& operator=(const GeneralCommandHandler&) = delete;

  using Clock = std::chrono::steady_clock;

  CommandStatus Send(uint32_t handle, uint16_t cmd_id, uint8_t* data, uint16_t data_len,
                     std::shared_ptr<CommandCallback> callback, bool logger);
  // Takes the pending request that `ack` answers out of the table, with the received packet.
  bool TakeAcknowledged(const CommPacket& ack, Command& out);
  // Takes the request `ack` answers out of the table and completes its callback without a
  // device handler; false when nothing waited for it.
  bool CompletePending(const CommPacket& ack, uint32_t handle);
  // A detection reply (or the host's own request) on the detection port: the reply goes to
  // HandleDetectionData. True when `packet` was one, so the caller is done with it.
  bool DivertDetection(uint32_t handle, uint16_t local_port, const CommPacket& packet);
  bool ParseFrame(uint8_t* bytes, uint32_t count, CommPacket& packet);
  bool IsMasterSdk() const;
  void ReportFwType(uint32_t handle, bool known, bool zero);
  // One failed firmware-type answer: counted, and the query is sent again when `retry`.
  void FwQueryFailed(uint32_t handle, bool retry);

  std::atomic<FrameSender*> sender_{nullptr};
  std::atomic<DetectionSink*> detections_{nullptr};
  std::mutex comm_port_mutex_;  // the comm port's checksum state is not shared between threads
  std::unique_ptr<CommPort> comm_port_;
  std::map<uint32_t, LidarCfg> custom_lidar_cfgs_;

  std::mutex device_types_mutex_;
  std::map<uint32_t, uint8_t> device_types_;

  std::mutex detected_mutex_;
  std::map<uint32_t, DetectedLidar> detected_lidars_;

  std::mutex handlers_mutex_;
  std::map<uint8_t, std::shared_ptr<CommandHandler>> handlers_;

  std::mutex pending_mutex_;
  std::map<uint32_t, std::pair<Command, int64_t>> pending_;  // seq -> (request, deadline ns)

  std::mutex callbacks_mutex_;
  LidarInfoChangeCallback info_change_cb_ = nullptr;
  void* info_change_client_data_ = nullptr;
  LidarPushInfoCallback push_info_cb_ = nullptr;
  void* push_info_client_data_ = nullptr;
  DetectionHook detection_hook_;

  std::mutex host_mutex_;
  std::string host_ip_;
  std::atomic<bool> host_mode_{false};

  std::atomic<uint8_t> fw_query_retries_{0};  // failed firmware-type answers of all LiDARs
};

}  // namespace lidar::sdk
