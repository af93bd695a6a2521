#include "wake_up_pipe.h"

namespace lidar::sdk {

WakeUpPipe::~WakeUpPipe() { Close(); }

bool WakeUpPipe::Open() {
  Close();
  return OpenLoopbackPair(&writer_, &reader_);
}

void WakeUpPipe::Close() {
  CloseSocket(writer_);
  CloseSocket(reader_);
  writer_ = kInvalidSocket;
  reader_ = kInvalidSocket;
}

bool WakeUpPipe::WakeUp() { return IsOpenSocket(writer_) && SendWakeByte(writer_); }

void WakeUpPipe::Drain() {
  if (IsOpenSocket(reader_)) DrainSocket(reader_);
}

}  // namespace lidar::sdk
