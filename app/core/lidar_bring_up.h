// Bringing a LiDAR to streaming and keeping it there. The writes that start its streams (work
// mode, point data type, point sending) count as done only when the LiDAR acknowledges them with
// success; one that times out or is refused is sent again, paced, for as long as the LiDAR is
// known. A LiDAR whose stream was lost is brought up from the start (host configuration, then
// the writes) once it answers detection again, and one that sends nothing for a while after it
// accepted its configuration is configured again at growing gaps.
//
// The information-change callback starts a bring-up on an SDK IO thread; the supervisor runs
// everything that is paced, once per cycle. The records are guarded by a lock of their own,
// never held while calling the SDK (a write whose frame the socket refuses completes on the
// calling thread).
#pragma once

#include <cstdint>

#include "core/records.h"
#include "lidar_sdk.h"

namespace app {

// Records the handle (unless another unit is followed) and starts its bring-up: the three writes
// go out at once. Prints the handle and the three send statuses; a null info prints the handle
// only.
void on_info_change(uint32_t handle, const LidarInfo* info, void* client_data);

// What the supervisor saw this cycle of the LiDAR it follows.
struct StreamFacts {
  uint32_t handle = 0;          // lidar_handle
  bool ok = false;              // points or IMU samples arrive
  bool points_missing = false;  // heard (IMU samples or undecoded points) but no points
  bool undecoded = false;       // point datagrams arrive in a form not decoded here
  uint64_t last_points_ms = 0;  // newest point datagram that yielded points
  uint64_t last_heard_ms = 0;   // newest datagram of any kind from it
};

// One supervisor cycle at `now` (steady ms): sends again the writes that are due, asks again for
// points missing while the LiDAR is heard, configures again a LiDAR that has sent nothing since
// it accepted its configuration, and prints the operator's lines.
void bring_up_cycle(const StreamFacts& facts, const SupervisorConfig& config, uint64_t now);

// The stream of `handle` was declared OFF: its writes are forgotten and the SDK is asked to
// configure it from the start once it answers detection again.
void bring_up_stream_lost(uint32_t handle);

// Whether every write of the current bring-up of `handle` was acknowledged (`conectado`).
bool bring_up_confirmed(uint32_t handle);

// Whether `handle` came back after its stream was lost and has not streamed since.
bool bring_up_reconfiguring(uint32_t handle);

// Forgets every LiDAR.
void reset_bring_up();

}  // namespace app
