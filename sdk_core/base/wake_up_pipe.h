// A connected loopback TCP pair: a byte written on `writer` makes `reader` readable and so
// wakes a select() that watches it.
#pragma once

#include "base/socket_platform.h"

namespace lidar::sdk {

class WakeUpPipe {
 public:
  WakeUpPipe() = default;
  virtual ~WakeUpPipe();
  WakeUpPipe(const WakeUpPipe&) = delete;
  WakeUpPipe& operator=(const WakeUpPipe&) = delete;

  // Connects the pair; on failure nothing stays open.
  bool Open();
  void Close();
  // Sends one byte on the writer; true when it went out. Never blocks: a full pipe means a
  // wake-up is already pending.
  bool WakeUp();
  // Reads and discards what is waiting on the reader (up to 512 bytes).
  void Drain();

  SocketHandle reader() const { return reader_; }
  SocketHandle writer() const { return writer_; }

 private:
  SocketHandle writer_ = kInvalidSocket;
  SocketHandle reader_ = kInvalidSocket;
};

}  // namespace lidar::sdk
