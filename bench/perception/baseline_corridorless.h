// Frame processing as it was before the corridor distances and the frame stream's hand-off: the
// same thinning and clustering, the six distances alone, nothing handed on. The yardstick for
// what those two add to a frame.
#pragma once

#include <cstdint>

#include "core/shared_state.h"

namespace baseline {

// Processes and stores the frame as the worker did then, timing it for the diagnostics.
void process_frame_six_distances(const app::PointFrame& frame, uint64_t t);

}  // namespace baseline
