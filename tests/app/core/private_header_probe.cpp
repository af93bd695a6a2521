// Built only by the include-scope tests: an application source that includes one of the SDK's
// own headers, which the build must refuse.
#include LIDAR_PROBE_HEADER
