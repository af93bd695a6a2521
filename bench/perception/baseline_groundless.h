// Frame processing as it was before the ground estimate: the same thinning, distances and
// clustering, one clustering for the documents and the stream alike, the frame's entry handed to
// the stream queue. The yardstick for what the ground adds to a frame.
#pragma once

#include <cstdint>

#include "core/shared_state.h"

namespace baseline {

void process_frame_groundless(const app::PointFrame& frame, uint64_t t);

}  // namespace baseline
