#include "command_handler.h"

#include <utility>

namespace lidar::sdk {

Command MakeRequest(uint32_t handle, uint16_t cmd_id, uint8_t* data, uint16_t data_len,
                    uint32_t seq_num, std::shared_ptr<CommandCallback> callback) {
  Command command;
  command.packet.protocol = 0;
  command.packet.version = kRequestVersion;
  command.packet.seq_num = seq_num;
  command.packet.cmd_id = cmd_id;
  command.packet.cmd_type = kCommandTypeRequest;
  command.packet.sender_type = kSenderHost;
  command.packet.data = data;
  command.packet.data_len = data_len;
  command.handle = handle;
  command.lidar_ip = HandleToIp(handle);
  command.time_out = kCommandTimeoutMs;
  command.callback = std::move(callback);
  return command;
}

void CompleteAcknowledged(const Command& command, uint32_t handle) {
  if (!command.callback) return;
  const CommPacket& ack = command.packet;
  if (ack.data == nullptr || ack.data_len == 0) {
    (*command.callback)(kStatusTimeout, handle, nullptr, 0);
  } else {
    (*command.callback)(kStatusSuccess, handle, ack.data, ack.data_len);
  }
}

}  // namespace lidar::sdk
