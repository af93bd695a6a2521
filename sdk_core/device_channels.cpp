#include "device_channels.h"

#include <algorithm>
#include <utility>

#include "base/receive_scope.h"
#include "base/sdk_health_counters.h"
#include "base/sdk_log.h"
#include "base/sdk_socket.h"

namespace lidar::sdk {
namespace {

// "local" in the configuration means every local address.
std::string BindAddress(const std::string& host_ip) {
  return host_ip == "local" ? std::string() : host_ip;
}

std::string RegistryKey(const std::string& ip, uint16_t port) {
  return ip + ":" + std::to_string(port);
}

}  // namespace

DeviceChannels::~DeviceChannels() {
  CloseCommandAndDataSockets();
  CloseDetectionSocket();
}

void DeviceChannels::SetLoops(std::shared_ptr<IOLoop> detection_loop,
                              std::shared_ptr<IOLoop> command_loop,
                              std::shared_ptr<IOLoop> data_loop, IOLoop::IOLoopDelegate* delegate) {
  std::lock_guard<std::mutex> lock(mutex_);
  detection_loop_ = std::move(detection_loop);
  command_loop_ = std::move(command_loop);
  data_loop_ = std::move(data_loop);
  delegate_ = delegate;
}

bool DeviceChannels::CreateDetectionChannel(const std::string& host_ip) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (IsOpenSocket(detection_socket_)) return true;
  const std::string bind_ip = BindAddress(host_ip);
  // Shared: other LiDAR programs on this computer may listen for detection broadcasts on it.
  const SocketHandle sock =
      CreateSocket(kDetectionPort, true, PortSharing::kShared, true, bind_ip, "");
  if (!IsOpenSocket(sock)) {
    LIDAR_LOG_ERROR("Create detection socket failed.");
    return false;
  }
  detection_socket_ = sock;
  Register(detection_loop_, sock, kDetectionPort);

  // The detection socket stays on the host address, so the broadcasts leave on its interface;
  // replies that a LiDAR sends to the broadcast address then need a receiver of their own.
  // Without it unicast replies still arrive, so its failure does not fail the channel.
  if (BroadcastNeedsSeparateReceiver(bind_ip)) {
    const SocketHandle receiver =
        CreateSocket(kDetectionPort, true, PortSharing::kShared, false, "", "");
    if (!IsOpenSocket(receiver)) {
      LIDAR_LOG_WARN("Detection replies sent to the broadcast address will not be received, "
                     "port {} cannot be opened on every address.", kDetectionPort);
    } else {
      detection_broadcast_socket_ = receiver;
      Register(detection_loop_, receiver, kDetectionPort);
    }
  }
  return true;
}

bool DeviceChannels::CreateCommandChannel(uint8_t dev_type, const HostNetInfo& host) {
  std::vector<uint16_t> ports = {host.cmd_data_port, host.push_msg_port};
  if (dev_type == kDeviceTypeThirdParty) ports.push_back(kThirdPartyHostCommandPort);
  ports.push_back(host.log_data_port);
  std::lock_guard<std::mutex> lock(mutex_);
  bool all_open = true;
  for (uint16_t port : ports) {
    if (host.host_ip.empty() || port == 0) continue;
    if (!OpenAndRegister({true, host.host_ip, port, true, ""})) {
      LIDAR_LOG_ERROR(
          "Add command channel faileld, can not create socket, dev_type:{}, the ip {} port {}",
          static_cast<int>(dev_type), host.host_ip, port);
      LIDAR_LOG_ERROR("Create socket and add delegate failed.");
      all_open = false;
    }
  }
  return all_open;
}

bool DeviceChannels::CreateDataChannel(const HostNetInfo& host) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool all_open = true;
  for (uint16_t port : {host.point_data_port, host.imu_data_port, kDebugPointCloudPort}) {
    // 56000 belongs to the detection socket.
    if (host.host_ip.empty() || port == 0 || port == kDetectionPort) continue;
    if (!OpenAndRegister({false, host.host_ip, port, false, host.multicast_ip})) {
      LIDAR_LOG_ERROR("Add command channel faileld, can not create socket, the ip {} port {}",
                      host.host_ip, port);
      LIDAR_LOG_ERROR(port == kDebugPointCloudPort
                          ? "Create debug point cloud socket and add delegate failed."
                          : "Create socket and add delegate failed.");
      all_open = false;
    }
  }
  return all_open;
}

bool DeviceChannels::CreateViewDataChannel(const ViewLidarIpInfo& info) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool all_open = true;
  for (uint16_t port : {info.host_point_port, info.host_imu_port}) {
    if (info.host_ip.empty() || port == 0) continue;
    if (!OpenAndRegister({false, info.host_ip, port, true, ""})) {
      LIDAR_LOG_ERROR(
          "Create View point data channel faileld, can not create socket, the ip {} port {}",
          info.host_ip, port);
      all_open = false;
    }
  }
  return all_open;
}

void DeviceChannels::RetryWaiting() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (waiting_.empty()) return;
  std::vector<SocketRequest> still;
  for (const SocketRequest& request : waiting_) {
    const SocketHandle sock = OpenShared(request);
    if (!IsOpenSocket(sock)) {
      still.push_back(request);
      continue;
    }
    Register(LoopOf(request), sock, request.port);
    LIDAR_LOG_INFO("The port {} of {} is free again and open.", request.port, request.host_ip);
  }
  waiting_ = std::move(still);
  PublishWaiting();
}

bool DeviceChannels::OpenAndRegister(const SocketRequest& request) {
  const SocketHandle sock = OpenShared(request);
  if (IsOpenSocket(sock)) {
    Register(LoopOf(request), sock, request.port);
    return true;
  }
  const std::string key = RegistryKey(request.host_ip, request.port);
  const bool known = std::any_of(waiting_.begin(), waiting_.end(), [&](const SocketRequest& w) {
    return RegistryKey(w.host_ip, w.port) == key;
  });
  if (!known) {
    waiting_.push_back(request);
    LIDAR_LOG_WARN("The port {} of {} is taken, it is tried again every second.", request.port,
                   request.host_ip);
    PublishWaiting();
  }
  return false;
}

SocketHandle DeviceChannels::OpenShared(const SocketRequest& request) {
  const std::string key = RegistryKey(request.host_ip, request.port);
  const auto it = sockets_.find(key);
  if (it != sockets_.end()) return it->second;
  const SocketHandle sock = CreateSocket(request.port, true, PortSharing::kOwned, request.broadcast,
                                         BindAddress(request.host_ip), request.multicast_ip);
  if (!IsOpenSocket(sock)) return kInvalidSocket;
  sockets_.emplace(key, sock);
  (request.command ? command_sockets_ : data_sockets_).push_back(sock);
  return sock;
}

void DeviceChannels::PublishWaiting() const {
  std::vector<uint16_t> ports;
  for (const SocketRequest& request : waiting_) ports.push_back(request.port);
  HealthCounters::Instance().SetWaitingPorts(ports);
}

void DeviceChannels::Register(const std::shared_ptr<IOLoop>& loop, SocketHandle sock,
                              uint16_t port) {
  // A shared socket comes back for every record and every newly detected LiDAR: its entry is
  // already being read by the thread that serves it, and a second loop must not watch it too.
  const auto [entry, added] = registered_.emplace(sock, ChannelSocket{port});
  if (added && loop) loop->AddDelegate(sock, delegate_, &entry->second);
}

SocketHandle DeviceChannels::detection_socket() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return detection_socket_;
}

SocketHandle DeviceChannels::FindSocket(const std::string& ip, uint16_t port) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = sockets_.find(RegistryKey(ip, port));
  return it == sockets_.end() ? kInvalidSocket : it->second;
}

void DeviceChannels::RemoveDelegates() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (SocketHandle sock : {detection_socket_, detection_broadcast_socket_}) {
    if (detection_loop_ && IsOpenSocket(sock)) detection_loop_->RemoveDelegate(sock, delegate_);
  }
  for (SocketHandle sock : command_sockets_) {
    if (command_loop_ && IsOpenSocket(sock)) command_loop_->RemoveDelegate(sock, delegate_);
  }
  for (SocketHandle sock : data_sockets_) {
    if (data_loop_ && IsOpenSocket(sock)) data_loop_->RemoveDelegate(sock, delegate_);
  }
}

void DeviceChannels::CloseCommandAndDataSockets() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto* list : {&command_sockets_, &data_sockets_}) {
    for (SocketHandle& sock : *list) {
      registered_.erase(sock);
      CloseSocket(sock);
      sock = kInvalidSocket;
    }
    list->clear();
  }
  sockets_.clear();
  waiting_.clear();
  PublishWaiting();
}

void DeviceChannels::CloseDetectionSocket() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (SocketHandle* sock : {&detection_socket_, &detection_broadcast_socket_}) {
    registered_.erase(*sock);
    CloseSocket(*sock);
    *sock = kInvalidSocket;
  }
}

}  // namespace lidar::sdk
