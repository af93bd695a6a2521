// One service, one LiDAR: the stream callbacks take datagrams from the unit the application
// follows and drop those of any other unit that answers detection and streams to this host.
#pragma once

#include <cstdint>

namespace app {

// Whether a stream datagram from `handle` is taken. With no unit followed yet, every datagram is
// taken and the first one that yields points makes its unit the followed one. Datagrams of other
// units are counted, and each such unit is named once in an "[ERR]" line while the same unit is
// followed. The supervisor releases the unit (followed_handle 0) when it declares the stream OFF.
bool take_unit(uint32_t handle, bool yields_points);

}  // namespace app
