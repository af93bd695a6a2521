// The device manager's UDP channels: the detection socket, the command and data sockets of the
// configuration records and of viewed LiDARs, and the registry that lets records sharing an
// address and port share one socket. Each socket is served by the IO loop of its channel.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/io_loop.h"
#include "base/socket_platform.h"
#include "config_types.h"
#include "device_ports.h"

namespace lidar::sdk {

// Registered with every socket as its client data, so routing a received datagram asks the
// system nothing about the socket it arrived on: recorded once, when the socket is opened.
struct ChannelSocket {
  uint16_t local_port = 0;
};

class DeviceChannels {
 public:
  DeviceChannels() = default;
  // Closes whatever is still open.
  ~DeviceChannels();
  DeviceChannels(const DeviceChannels&) = delete;
  DeviceChannels& operator=(const DeviceChannels&) = delete;

  // Loops that serve the detection, command and data sockets, and the delegate registered with
  // every socket (not owned). Must be called before any channel is created.
  void SetLoops(std::shared_ptr<IOLoop> detection_loop, std::shared_ptr<IOLoop> command_loop,
                std::shared_ptr<IOLoop> data_loop, IOLoop::IOLoopDelegate* delegate);

  // Port 56000 on the command host address, with broadcast, on the detection loop; where the
  // platform needs it, a second socket on port 56000 of every address for replies sent to the
  // broadcast address.
  bool CreateDetectionChannel(const std::string& host_ip);
  // The channels below open every port they can. A port that cannot be opened (another
  // process holds it) makes them return false and waits: RetryWaiting opens it later.
  // Command, push, (type 16: 42867,) log ports of the host description, on the command loop.
  bool CreateCommandChannel(uint8_t dev_type, const HostNetInfo& host);
  // Point-data, IMU and debug point-cloud ports, joined to the record's multicast group, on the
  // data loop.
  bool CreateDataChannel(const HostNetInfo& host);
  // Host point-data and IMU ports of a viewed LiDAR, on the data loop.
  bool CreateViewDataChannel(const ViewLidarIpInfo& info);
  // Tries once more to open each waiting port; those that open join their loops.
  void RetryWaiting();

  SocketHandle detection_socket() const;
  // The socket open for `ip` and `port`, or kInvalidSocket.
  SocketHandle FindSocket(const std::string& ip, uint16_t port) const;

  // Teardown, in the device manager's order: post the removal of every socket from its loop,
  // close the command and data sockets, and (after the detection thread has stopped) close the
  // detection socket.
  void RemoveDelegates();
  void CloseCommandAndDataSockets();
  void CloseDetectionSocket();

 private:
  // How to open a socket for a port, kept for a port that waits; `command` puts it on the
  // command loop, else on the data loop.
  struct SocketRequest {
    bool command = false;
    std::string host_ip;
    uint16_t port = 0;
    bool broadcast = false;
    std::string multicast_ip;
  };

  // Opens (or finds) the socket of `request` and registers it with its loop; a port that cannot
  // be opened joins the waiting list. Caller holds mutex_.
  bool OpenAndRegister(const SocketRequest& request);
  // Socket for the key of (ip, port): the registered one, or a new one recorded in the registry
  // and in the command or data list. kInvalidSocket when it cannot be opened.
  SocketHandle OpenShared(const SocketRequest& request);
  // The waiting ports into the health counters. Caller holds mutex_.
  void PublishWaiting() const;
  const std::shared_ptr<IOLoop>& LoopOf(const SocketRequest& request) const {
    return request.command ? command_loop_ : data_loop_;
  }
  // Registers an open socket bound to `port` with `loop` (when there is one), its ChannelSocket
  // as client data. A socket already registered stays as it is.
  void Register(const std::shared_ptr<IOLoop>& loop, SocketHandle sock, uint16_t port);

  mutable std::mutex mutex_;  // the registry is read from every IO thread
  std::shared_ptr<IOLoop> detection_loop_;
  std::shared_ptr<IOLoop> command_loop_;
  std::shared_ptr<IOLoop> data_loop_;
  IOLoop::IOLoopDelegate* delegate_ = nullptr;

  SocketHandle detection_socket_ = kInvalidSocket;
  SocketHandle detection_broadcast_socket_ = kInvalidSocket;  // receives only
  std::map<std::string, SocketHandle> sockets_;  // "address:port" -> open socket
  std::vector<SocketHandle> command_sockets_;
  std::vector<SocketHandle> data_sockets_;
  std::vector<SocketRequest> waiting_;  // ports another process held when they were opened
  // The client data of every registered socket. Entries go only when the sockets close, after
  // the IO threads that hand them to the delegate have stopped.
  std::map<SocketHandle, ChannelSocket> registered_;
};

}  // namespace lidar::sdk
