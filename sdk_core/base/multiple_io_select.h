// select()-based multiplexer. Each set holds at most 64 sockets, kept in registration order.
#pragma once

#include <vector>

#include "base/multiple_io_base.h"

namespace lidar::sdk {

class MultipleIOSelect : public MultipleIOBase {
 public:
  static constexpr std::size_t kMaxSetSize = 64;

  ~MultipleIOSelect() override;

  bool PollCreate(int size) override;
  void PollDestroy() override;
  bool AddDelegate(const IODescriptor& descriptor) override;
  bool RemoveDelegate(const IODescriptor& descriptor) override;
  void Poll(int timeout_ms) override;

 private:
  int max_fd_ = -1;
  std::vector<int> read_fds_;
  std::vector<int> write_fds_;
  int capacity_ = 0;
};

}  // namespace lidar::sdk
