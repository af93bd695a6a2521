#include "device_manager.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "base/sdk_health_counters.h"
#include "base/io_thread.h"
#include "base/socket_platform.h"
#include "base/sdk_log.h"
#include "command_handler/command_handler.h"
#include "command_handler/general_command_handler.h"
#include "base/log_throttle.h"
#include "data_handler/data_handler.h"
#include "device_channels.h"
#include "logger_handler/logger_manager.h"

namespace lidar::sdk {
namespace {

constexpr auto kDetectionPeriod = std::chrono::seconds(1);
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFFu;  // 255.255.255.255 in any byte order

// Ports the LiDARs send their log stream from, whatever the configuration says.
bool IsFixedLogPort(uint16_t port) {
  return port == kForwardLogPort || port == kLogPort1002 || port == kOmniLogPort;
}

// What routing needs from a LiDAR's record: the host ports its sockets are bound to. Only the
// ports: the record's address texts need not be copied for every datagram.
struct RouteInfo {
  uint8_t dev_type = 0;
  uint16_t cmd_data_port = 0;
  uint16_t push_msg_port = 0;
  uint16_t point_data_port = 0;
  uint16_t imu_data_port = 0;
  uint16_t log_data_port = 0;
};

}  // namespace

DeviceManager::DeviceManager() : channels_(std::make_shared<DeviceChannels>()) {
  // The singletons this one calls are created first, so they are destroyed after it at exit.
  LoggerManager::GetInstance();
  DataHandler::Instance();
  GeneralCommandHandler::GetInstance();
}

DeviceManager::~DeviceManager() { Teardown(); }

DeviceManager& DeviceManager::GetInstance() {
  static DeviceManager instance;
  return instance;
}

bool DeviceManager::Init(std::shared_ptr<LidarCfgList> lidars_cfg,
                         std::shared_ptr<LidarCfgList> custom_lidars_cfg,
                         std::shared_ptr<LidarLoggerCfg> logger_cfg,
                         std::shared_ptr<LidarSdkFrameworkCfg> framework_cfg) {
  if (!lidars_cfg) lidars_cfg = std::make_shared<LidarCfgList>();
  if (!custom_lidars_cfg) custom_lidars_cfg = std::make_shared<LidarCfgList>();
  if (!logger_cfg) logger_cfg = std::make_shared<LidarLoggerCfg>();
  is_view_ = false;
  LidarCfgList custom_records;
  {
    std::lock_guard<std::mutex> lock(registry_mutex_);
    framework_cfg_ = std::move(framework_cfg);
    lidars_cfg_ = std::move(lidars_cfg);
    custom_lidars_cfg_ = std::move(custom_lidars_cfg);
    logger_cfg_ = std::move(logger_cfg);
    custom_records = *custom_lidars_cfg_;

    if (!lidars_cfg_->empty()) {
      host_ip_ = lidars_cfg_->front().host_net_info.host_ip;
    } else if (!custom_lidars_cfg_->empty()) {
      host_ip_ = custom_lidars_cfg_->front().host_net_info.host_ip;
    } else {
      LIDAR_LOG_ERROR("Device manager init failed, can not find cmd host ip.");
      return false;
    }
    host_addr_ = IpToHandle(host_ip_);
  }
  {
    std::lock_guard<std::mutex> lock(comm_port_mutex_);
    comm_port_ = std::make_unique<CommPort>();
  }

  const char* failure = InitHandlers(*logger_cfg_, [&](GeneralCommandHandler& general) {
    return general.Init(custom_records, this, this);
  });
  if (failure != nullptr) {
    LIDAR_LOG_ERROR("{}", failure);
    return Abandon();
  }

  bool any_lidar = false;
  {
    std::lock_guard<std::mutex> lock(registry_mutex_);
    for (const LidarCfg& cfg : *lidars_cfg_) type_cfg_map_[cfg.device_type] = cfg;
    for (const LidarCfg& cfg : *custom_lidars_cfg_) {
      lidar_cfg_map_[IpToHandle(cfg.lidar_net_info.lidar_ip)] = cfg;
    }
    any_lidar = !lidars_cfg_->empty() || !custom_lidars_cfg_->empty();
  }

  if (!CreateIOThread()) {
    LIDAR_LOG_ERROR("Create IO thread failed.");
    return Abandon();
  }
  if (!CreateChannel()) {
    LIDAR_LOG_ERROR("Create channel failed.");
    return Abandon();
  }
  if (any_lidar) StartDetection();
  LIDAR_LOG_INFO("Init lidars succ.");
  return true;
}

bool DeviceManager::Init(const std::string& host_ip, const LidarLoggerCfgInfo* log_cfg_info) {
  is_view_ = true;
  host_ip_ = host_ip;
  host_addr_ = IpToHandle(host_ip_);
  {
    std::lock_guard<std::mutex> lock(comm_port_mutex_);
    comm_port_ = std::make_unique<CommPort>();
  }
  auto logger_cfg = std::make_shared<LidarLoggerCfg>();
  if (log_cfg_info != nullptr) {
    logger_cfg->lidar_log_enable = log_cfg_info->lidar_log_enable != 0;
    logger_cfg->lidar_log_cache_size = log_cfg_info->lidar_log_cache_size;
    logger_cfg->lidar_log_path = log_cfg_info->lidar_log_path;
  }
  {
    std::lock_guard<std::mutex> lock(registry_mutex_);
    logger_cfg_ = logger_cfg;
  }
  const char* failure = InitHandlers(*logger_cfg, [this](GeneralCommandHandler& general) {
    return general.InitView(host_ip_, true, this, this);
  });
  if (failure != nullptr) {
    LIDAR_LOG_ERROR("{}", failure);
    return Abandon();
  }
  if (!CreateIOThread()) {
    LIDAR_LOG_ERROR("Create IO thread failed.");
    return Abandon();
  }
  if (!channels_->CreateDetectionChannel(host_ip_)) {
    LIDAR_LOG_ERROR("Create detection channel failed.");
    return Abandon();
  }
  StartDetection();
  LIDAR_LOG_INFO("Init lidars succ.");
  return true;
}

void DeviceManager::Uninit() { Teardown(); }

const char* DeviceManager::InitHandlers(
    const LidarLoggerCfg& logger_cfg,
    const std::function<bool(GeneralCommandHandler&)>& init_general) {
  if (!LoggerManager::GetInstance().Init(logger_cfg)) return "Logger manager init failed.";
  GeneralCommandHandler& general = GeneralCommandHandler::GetInstance();
  if (!init_general(general)) return "General command handle init failed.";
  general.SetLoggerDetectionHook([](uint32_t handle, const DetectionData& data) {
    LoggerManager::GetInstance().HandleDetectionData(handle, data);
  });
  if (!DataHandler::Instance().Init()) return "Data handle init failed.";
  return nullptr;
}

bool DeviceManager::Abandon() {
  // A failed start leaves nothing running: the caller will not tear this session down.
  Teardown();
  LoggerManager::GetInstance().Uninit();
  return false;
}

bool DeviceManager::CreateIOThread() {
  // Streamed datagrams gather between passes only where a readable event takes many of them:
  // taking one per pass, gathering would cap a socket at one datagram per interval.
  const bool gather = MaxDatagramsPerReceive() > 1 && receive_limit_.load() > 1;
  const std::chrono::microseconds interval(gather_us_.load());
  auto create = [gather, interval](std::shared_ptr<IOThread>& thread, HealthCounters::IoRole role) {
    thread = std::make_shared<IOThread>();
    thread->ReportProgressTo(&HealthCounters::Instance().IoProgress(role));
    const bool ready = thread->Init(true);
    if (ready && gather && role == HealthCounters::kDataIo) {
      thread->loop()->SetGatherInterval(interval);
    }
    if (!ready || !thread->Start()) {
      LIDAR_LOG_ERROR(
          "Create command io thread failed, thread_ptr is nullptr or thread init failed");
      thread.reset();
      return false;
    }
    return true;
  };
  if (!create(detection_thread_, HealthCounters::kDetectionIo)) {
    LIDAR_LOG_ERROR("Device manager init failed, create detection io thread failed.");
    return false;
  }
  if (!create(command_thread_, HealthCounters::kCommandIo)) {
    LIDAR_LOG_ERROR("Device manager init failed, create comman io thread failed.");
    return false;
  }
  if (!create(data_thread_, HealthCounters::kDataIo)) {
    LIDAR_LOG_ERROR("Device manager init failed, create data io thread failed.");
    return false;
  }
  channels_->SetLoops(detection_thread_->loop(), command_thread_->loop(), data_thread_->loop(),
                      this);
  return true;
}

bool DeviceManager::CreateChannel() {
  if (!IsOpenSocket(channels_->detection_socket()) &&
      !channels_->CreateDetectionChannel(host_ip_)) {
    LIDAR_LOG_ERROR("Create detection channel failed.");
    return false;
  }
  LidarCfgList records;
  {
    std::lock_guard<std::mutex> lock(registry_mutex_);
    if (custom_lidars_cfg_) records = *custom_lidars_cfg_;
  }
  for (const LidarCfg& cfg : records) {
    if (!channels_->CreateDataChannel(cfg.host_net_info)) {
      LIDAR_LOG_ERROR("Create data channel failed.");
    }
    if (!channels_->CreateCommandChannel(cfg.device_type, cfg.host_net_info)) {
      LIDAR_LOG_ERROR("Create command channel failed.");
    }
  }
  return true;
}

void DeviceManager::StartDetection() {
  detection_stop_ = false;
  detection_worker_ = std::make_shared<std::thread>([this] { DetectionWorker(); });
}

void DeviceManager::DetectionWorker() {
  while (!detection_stop_) {
    const auto round_start = std::chrono::steady_clock::now();
    channels_->RetryWaiting();
    Detection();
    std::unique_lock<std::mutex> lock(detection_wait_mutex_);
    detection_wait_.wait_until(lock, round_start + kDetectionPeriod,
                               [this] { return detection_stop_.load(); });
  }
}

void DeviceManager::Detection() {
  CommPacket packet;
  packet.protocol = 0;
  packet.version = 3;
  packet.seq_num = GenerateSeq();
  packet.cmd_id = kCommandIdDetection;
  packet.cmd_type = kCommandTypeRequest;
  packet.sender_type = kSenderHost;
  uint8_t frame[kMaxCommandBufferSize + 1] = {};
  uint32_t length = 0;
  {
    std::lock_guard<std::mutex> lock(comm_port_mutex_);
    if (!comm_port_ || comm_port_->Pack(frame, kMaxCommandBufferSize, packet, &length) != 0) {
      return;
    }
  }
  const int sent = SendDatagram(channels_->detection_socket(), frame, length,
                                Ipv4Endpoint{kBroadcastAddress, kDetectionPort});
  if (sent < 0) LIDAR_LOG_INFO("Detection lidars failed, Send to lidar failed.");
}

void DeviceManager::OnData(int sock, void* client_data) {
  // Every channel socket is registered with its ChannelSocket; asking the system is the way
  // for a socket registered without one.
  uint16_t local_port = 0;
  if (client_data != nullptr) {
    local_port = static_cast<const ChannelSocket*>(client_data)->local_port;
  } else {
    Ipv4Endpoint local;
    if (!LocalEndpoint(sock, &local)) return;
    local_port = local.port;
  }
  // One batch per IO thread: this manager is the delegate of all three.
  thread_local ReceiveBatch batch(kReceiveBatchSize, kReceiveBufferSize);
  // A full batch means more may be waiting: take them too, up to the limit, while a call takes
  // several. Where it takes one, select says again when more wait.
  std::size_t budget = receive_limit_.load(std::memory_order_relaxed);
  while (budget > 0) {
    const std::size_t asked = std::min(budget, batch.capacity());
    const std::size_t received = batch.Receive(sock, asked);
    for (std::size_t i = 0; i < received; ++i) {
      const ReceivedDatagram& datagram = batch.datagram(i);
      if (datagram.drop_count_reported) {
        HealthCounters::Instance().NoteKernelDrops(sock, datagram.socket_drops);
      }
      if (datagram.length <= 0) continue;
      DataHandler::NoteArrival(datagram.arrival_ns);
      HandleDatagram(datagram.from.address, local_port, batch.bytes(i),
                     static_cast<uint32_t>(datagram.length));
    }
    DataHandler::NoteArrival(0);
    if (received < asked || batch.capacity() == 1) return;
    budget -= received;
  }
}

void DeviceManager::SetGatherInterval(std::chrono::microseconds interval) {
  gather_us_.store(std::max<int64_t>(0, interval.count()));
}

void DeviceManager::SetReceiveLimit(std::size_t limit) {
  receive_limit_.store(std::max<std::size_t>(1, limit), std::memory_order_relaxed);
}

void DeviceManager::HandleDatagram(uint32_t sender, uint16_t local_port, uint8_t* bytes,
                                   uint32_t count) {
  if (bytes == nullptr || count == 0) return;
  // The host's own detection broadcast comes back wherever a socket receives broadcasts on the
  // detection port; it is no datagram from a LiDAR and is not counted as one.
  const uint32_t host = host_addr_;
  if (host != 0 && sender == host) return;
  HealthCounters::Instance().CountReceived(local_port);
  if (IsFixedLogPort(local_port)) {
    LoggerManager::GetInstance().HandleLogData(sender, local_port, bytes, count);
  }
  if (is_view_) {
    RouteView(sender, local_port, bytes, count);
  } else {
    RouteConfigured(sender, local_port, bytes, count);
  }
}

void DeviceManager::RouteConfigured(uint32_t handle, uint16_t local_port, uint8_t* bytes,
                                    uint32_t count) {
  RouteInfo route;
  bool known = false;
  {
    std::lock_guard<std::mutex> lock(registry_mutex_);
    const auto it = lidar_cfg_map_.find(handle);
    if (it != lidar_cfg_map_.end()) {
      known = true;
      const HostNetInfo& host = it->second.host_net_info;
      route = RouteInfo{it->second.device_type, host.cmd_data_port, host.push_msg_port,
                        host.point_data_port, host.imu_data_port, host.log_data_port};
    }
  }
  if (!known) {
    if (local_port == kDetectionPort) {
      RegisterDetectedLidar(handle, bytes, count);
    } else {
      HealthCounters::Instance().CountUnknownSender();
    }
    return;
  }

  // The sockets are bound to the host ports of the record, so those are the ports datagrams
  // arrive on; the LiDAR-side ports may differ from them.
  if (local_port == route.log_data_port && !IsFixedLogPort(local_port)) {
    LoggerManager::GetInstance().HandleLogData(handle, local_port, bytes, count);
  }
  if (local_port == route.point_data_port || local_port == route.imu_data_port) {
    DataHandler::Instance().Dispatch(route.dev_type, handle, bytes, count);
    return;
  }
  if (local_port == kDetectionPort || local_port == route.cmd_data_port ||
      local_port == route.push_msg_port || local_port == route.log_data_port ||
      local_port == kThirdPartyCommandPort) {
    GeneralCommandHandler::GetInstance().Handler(route.dev_type, handle, local_port, bytes, count);
  }
}

void DeviceManager::RegisterDetectedLidar(uint32_t handle, uint8_t* bytes, uint32_t count) {
  CommPacket packet;
  {
    std::lock_guard<std::mutex> lock(comm_port_mutex_);
    if (!comm_port_) return;
    if (!comm_port_->ParseCommStream(bytes, count, &packet)) {
      LIDAR_LOG_LIMITED(LIDAR_LOG_ERROR, "Parse Command Stream failed.");
      return;
    }
  }
  DetectionData detection;
  if (packet.cmd_id != kCommandIdDetection || packet.cmd_type == kCommandTypeRequest ||
      !ParseDetectionData(packet.data, packet.data_len, &detection) || detection.ret_code != 0) {
    return;
  }

  LidarCfgList records;
  {
    std::lock_guard<std::mutex> lock(registry_mutex_);
    if (lidar_cfg_map_.count(handle) != 0 || !custom_lidars_cfg_) return;
    const auto type = type_cfg_map_.find(detection.dev_type);
    if (type == type_cfg_map_.end()) {
      HealthCounters::Instance().CountUnconfiguredReply(handle);
      return;
    }
    LidarCfg record = type->second;
    record.lidar_net_info.lidar_ip = HandleToIp(handle);
    lidar_cfg_map_[handle] = record;
    custom_lidars_cfg_->push_back(record);
    records = *custom_lidars_cfg_;
  }
  HealthCounters::Instance().CountDetectionReply();
  LIDAR_LOG_INFO("Register lidar, the handle:{}, lidar_ip:{}, dev_type:{}", handle,
                 HandleToIp(handle), detection.dev_type);
  GeneralCommandHandler& general = GeneralCommandHandler::GetInstance();
  general.Init(records, this, this);
  general.CreateCommandHandler(detection.dev_type);
  CreateChannel();
}

void DeviceManager::RouteView(uint32_t handle, uint16_t local_port, uint8_t* bytes,
                              uint32_t count) {
  std::shared_ptr<ViewLidarIpInfo> info;
  {
    std::lock_guard<std::mutex> lock(view_info_mutex_);
    const auto it = view_lidar_infos_.find(handle);
    if (it != view_lidar_infos_.end()) info = it->second;
  }
  if (info && (local_port == info->host_point_port || local_port == info->host_imu_port)) {
    DataHandler::Instance().Dispatch(info->dev_type, handle, bytes, count);
    return;
  }
  if (local_port != kDetectionPort && local_port != kThirdPartyCommandPort) {
    if (!info) HealthCounters::Instance().CountUnknownSender();
    return;
  }

  std::shared_ptr<ViewLidarState> state;
  {
    std::lock_guard<std::mutex> lock(view_mutex_);
    const auto it = view_lidars_.find(handle);
    if (it != view_lidars_.end()) state = it->second;
  }
  GeneralCommandHandler& general = GeneralCommandHandler::GetInstance();
  if (state) {
    general.Handler(state->dev_type, handle, local_port, bytes, count);
  } else {
    general.Handler(handle, local_port, bytes, count);
  }
}

void DeviceManager::OnTimer(TimePoint now) { GeneralCommandHandler::GetInstance().CommandsHandle(now); }

int DeviceManager::CommandSocket(uint32_t handle, bool logger, bool* found) const {
  std::string ip;
  uint16_t port = 0;
  {
    std::lock_guard<std::mutex> lock(registry_mutex_);
    const auto it = lidar_cfg_map_.find(handle);
    if (it != lidar_cfg_map_.end()) {
      ip = it->second.host_net_info.host_ip;
      port = logger ? it->second.host_net_info.log_data_port
                    : it->second.host_net_info.cmd_data_port;
    }
  }
  if (port != 0) {
    const int sock = channels_->FindSocket(ip, port);
    if (IsOpenSocket(sock)) {
      *found = true;
      return sock;
    }
  }
  *found = false;
  return channels_->detection_socket();
}

int DeviceManager::SendCommand(uint8_t, uint32_t handle, const uint8_t* bytes, uint32_t length,
                               const Ipv4Endpoint& to) {
  bool found = false;
  const int sock = CommandSocket(handle, false, &found);
  if (!found) LIDAR_LOG_WARN("Get cmd channel faileld, the lidar handle: {}", handle);
  if (!IsOpenSocket(sock) || bytes == nullptr) return -1;
  std::lock_guard<std::mutex> lock(send_mutex_);
  return SendDatagram(sock, bytes, length, to);
}

int DeviceManager::SendLoggerCommand(uint8_t, uint32_t handle, const uint8_t* bytes,
                                     uint32_t length, const Ipv4Endpoint& to) {
  bool found = false;
  const int sock = CommandSocket(handle, true, &found);
  if (!IsOpenSocket(sock) || bytes == nullptr) return -1;
  std::lock_guard<std::mutex> lock(logger_send_mutex_);
  return SendDatagram(sock, bytes, length, to);
}

bool DeviceManager::IsMasterSdk() const {
  if (is_view_) return true;
  std::lock_guard<std::mutex> lock(registry_mutex_);
  return !framework_cfg_ || framework_cfg_->master_sdk;
}

void DeviceManager::HandleDetectionData(uint32_t handle, const DetectionData& data,
                                        bool fw_type_known, bool fw_type_zero) {
  if (handle == 0) return;
  if (is_view_) {
    ProvisionViewLidar(handle, data, fw_type_known, fw_type_zero);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(registry_mutex_);
    const auto it = device_type_map_.find(handle);
    if (it != device_type_map_.end() && it->second != data.dev_type) {
      LIDAR_LOG_ERROR(
          "The lidar of handle:{} dev_type is error, the dev_type1:{}, the dev_type2:{}", handle,
          it->second, data.dev_type);
      return;
    }
    device_type_map_[handle] = data.dev_type;
  }
  if (fw_type_known && fw_type_zero) GeneralCommandHandler::GetInstance().LidarInfoChange(handle);
}

void DeviceManager::Teardown() {
  // Detection first, so nothing is sent on a socket being closed; then the IO threads, so no
  // handler runs on (or receives from) a socket being closed, whose number may be reused.
  {
    std::lock_guard<std::mutex> lock(detection_wait_mutex_);
    detection_stop_ = true;
  }
  detection_wait_.notify_all();
  if (detection_worker_ && detection_worker_->joinable()) detection_worker_->join();
  detection_worker_.reset();

  channels_->RemoveDelegates();
  detection_thread_.reset();
  command_thread_.reset();
  data_thread_.reset();
  channels_->CloseCommandAndDataSockets();
  channels_->CloseDetectionSocket();
  channels_->SetLoops(nullptr, nullptr, nullptr, nullptr);

  {
    std::lock_guard<std::mutex> lock(comm_port_mutex_);
    comm_port_.reset();
  }
  {
    std::lock_guard<std::mutex> lock(registry_mutex_);
    type_cfg_map_.clear();
    lidar_cfg_map_.clear();
    device_type_map_.clear();
    lidars_cfg_.reset();
    custom_lidars_cfg_.reset();
    logger_cfg_.reset();
    framework_cfg_.reset();
  }
  {
    std::lock_guard<std::mutex> lock(view_mutex_);
    view_lidars_.clear();
  }
  {
    std::lock_guard<std::mutex> lock(view_info_mutex_);
    view_lidar_infos_.clear();
  }
  host_ip_.clear();
  host_addr_ = 0;
  is_view_ = false;
}

}  // namespace lidar::sdk
