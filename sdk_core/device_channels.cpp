#include "device_channels.h"

#include <utility>

#include "base/receive_scope.h"
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
  for (uint16_t port : ports) {
    if (!CreateCmdSocketAndAddDelegate(dev_type, host.host_ip, port)) {
      LIDAR_LOG_ERROR("Create socket and add delegate failed.");
      return false;
    }
  }
  return true;
}

bool DeviceChannels::CreateDataChannel(const HostNetInfo& host) {
  for (uint16_t port : {host.point_data_port, host.imu_data_port}) {
    if (!CreateDataSocketAndAddDelegate(host.host_ip, port, host.multicast_ip)) {
      LIDAR_LOG_ERROR("Create socket and add delegate failed.");
      return false;
    }
  }
  if (!CreateDataSocketAndAddDelegate(host.host_ip, kDebugPointCloudPort, host.multicast_ip)) {
    LIDAR_LOG_ERROR("Create debug point cloud socket and add delegate failed.");
    return false;
  }
  return true;
}

bool DeviceChannels::CreateViewDataChannel(const ViewLidarIpInfo& info) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (uint16_t port : {info.host_point_port, info.host_imu_port}) {
    if (info.host_ip.empty() || port == 0) continue;
    const SocketHandle sock = OpenShared(info.host_ip, port, true, "", data_sockets_);
    if (!IsOpenSocket(sock)) {
      LIDAR_LOG_ERROR(
          "Create View point data channel faileld, can not create socket, the ip {} port {}",
          info.host_ip, port);
      return false;
    }
    Register(data_loop_, sock, port);
  }
  return true;
}

bool DeviceChannels::CreateCmdSocketAndAddDelegate(uint8_t dev_type, const std::string& host_ip,
                                                   uint16_t port) {
  if (host_ip.empty() || port == 0) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  const SocketHandle sock = OpenShared(host_ip, port, true, "", command_sockets_);
  if (!IsOpenSocket(sock)) {
    LIDAR_LOG_ERROR("Add command channel faileld, can not create socket, dev_type:{}, the ip {} port {}",
                    static_cast<int>(dev_type), host_ip, port);
    return false;
  }
  Register(command_loop_, sock, port);
  return true;
}

bool DeviceChannels::CreateDataSocketAndAddDelegate(const std::string& host_ip, uint16_t port,
                                                    const std::string& multicast_ip) {
  // 56000 belongs to the detection socket.
  if (host_ip.empty() || port == 0 || port == kDetectionPort) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  const SocketHandle sock = OpenShared(host_ip, port, false, multicast_ip, data_sockets_);
  if (!IsOpenSocket(sock)) {
    LIDAR_LOG_ERROR("Add command channel faileld, can not create socket, the ip {} port {}",
                    host_ip, port);
    return false;
  }
  Register(data_loop_, sock, port);
  return true;
}

SocketHandle DeviceChannels::OpenShared(const std::string& host_ip, uint16_t port, bool broadcast,
                                        const std::string& multicast_ip,
                                        std::vector<SocketHandle>& list) {
  const std::string key = RegistryKey(host_ip, port);
  const auto it = sockets_.find(key);
  if (it != sockets_.end()) return it->second;
  const SocketHandle sock =
      CreateSocket(port, true, PortSharing::kOwned, broadcast, BindAddress(host_ip), multicast_ip);
  if (!IsOpenSocket(sock)) return kInvalidSocket;
  sockets_.emplace(key, sock);
  list.push_back(sock);
  return sock;
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
