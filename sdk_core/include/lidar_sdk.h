// Public interface of the host-side LiDAR SDK: lifecycle, data callbacks and the key/value
// operations the application uses. Everything behind it lives in namespace lidar::sdk.
//
// Threads. Between LidarSdkInit and LidarSdkUninit the SDK runs a detection-broadcast thread and
// three IO threads (detection, command, data). Every callback below runs on one of the IO
// threads, synchronously: while it runs, that thread receives nothing, so callbacks return
// quickly and hand heavy work to a thread of their own. No callback may call LidarSdkUninit,
// which stops and joins the IO threads. Pointers passed to a callback are valid during the call
// only. docs/ARCHITECTURE.md maps which code runs on which thread.
#pragma once

#include <cstddef>
#include <cstdint>

// Result of a command: 0 success, negative failure.
using CommandStatus = int32_t;

constexpr CommandStatus kStatusSuccess = 0;
constexpr CommandStatus kStatusTimeout = -4;        // not acknowledged in time, or ack without data
constexpr CommandStatus kStatusNotRegistered = -7;  // handle unknown or no key list for its type
constexpr CommandStatus kStatusSendFailed = -9;     // no handler for the device, or the send failed

constexpr uint8_t kDeviceTypeOmni = 9;
constexpr uint8_t kDeviceTypeForward = 10;

// Point / IMU datagram as it arrives from the LiDAR (little-endian). The SDK hands it to the
// data callbacks only after checking that the received bytes hold the header and, for data
// types 0, 1 and 2, all dot_count records; read it through the offsets below.
struct LidarEthernetPacket {
  uint8_t header[36];
};

constexpr std::size_t kPacketHeaderSize = 36;
constexpr std::size_t kPacketDotCountOffset = 5;  // u16
constexpr std::size_t kPacketDataTypeOffset = 10; // u8

constexpr uint8_t kDataTypeImu = 0;
constexpr uint8_t kDataTypeCartesianHigh = 1;  // 14-byte records: x, y, z i32 in mm
constexpr uint8_t kDataTypeCartesianLow = 2;   // 8-byte records: x, y, z i16 in cm
constexpr std::size_t kImuRecordSize = 24;               // gx, gy, gz, ax, ay, az as f32
constexpr std::size_t kCartesianHighRecordSize = 14;
constexpr std::size_t kCartesianLowRecordSize = 8;

#pragma pack(push, 1)
// What the information-change callback receives about a device.
struct LidarInfo {
  uint8_t dev_type;
  char sn[16];        // NUL-terminated
  char lidar_ip[16];  // NUL-terminated dotted quad
};

// LiDAR log capture settings, read only in host-address mode.
struct LidarLoggerCfgInfo {
  uint8_t lidar_log_enable;
  uint32_t lidar_log_cache_size;
  char lidar_log_path[1];  // NUL-terminated, continues past the struct
};

// Acknowledgement of a key/value write.
struct LidarAsyncControlResponse {
  uint8_t ret_code;
  uint16_t error_key;
};

// Acknowledgement of an internal-information query: param_num entries of
// key u16, length u16, value follow `data`. The SDK delivers it with param_num
// limited to the entries that lie wholly inside the received acknowledgement.
struct LidarDiagInternalInfoResponse {
  uint8_t ret_code;
  uint16_t param_num;
  uint8_t data[1];
};
#pragma pack(pop)

static_assert(sizeof(LidarInfo) == 33, "LidarInfo is 33 packed bytes");

// Point and IMU datagrams: on the data IO thread, one datagram per call, in arrival order. The
// SDK delivers them while it holds the lock that guards these two registrations, so a point or
// IMU callback must not call SetLidarPointCloudCallback or SetLidarImuDataCallback (the setter
// waits for the running callback: a deadlock). It may call the key/value operations.
using LidarPointCloudCallback = void (*)(uint32_t handle, uint8_t dev_type,
                                         LidarEthernetPacket* data, void* client_data);
using LidarImuDataCallback = LidarPointCloudCallback;
// Inside a point or IMU callback: when the datagram it was given reached this host, in
// nanoseconds of std::chrono::steady_clock (the kernel's receive stamp where the platform keeps
// one, Linux; otherwise the time it was received). Datagrams are delivered in batches, so this,
// not the time of the call, is the datagram's time. 0 outside those callbacks.
int64_t LidarDatagramArrivalNs();
// A LiDAR accepted its configuration (or needs none): once per LiDAR and Init, and once more
// after each LidarReconfigure that the LiDAR answered with a new acceptance, on the IO thread
// that received the acceptance (command IO, or detection IO for a LiDAR reported from its
// detection reply). Called with no SDK lock held: it may call the key/value operations,
// QueryLidarInternalInfo and the Set*Callback functions.
using LidarInfoChangeCallback = void (*)(uint32_t handle, const LidarInfo* info,
                                         void* client_data);
// A LiDAR pushed its state (parameters, versions, temperatures, status codes): `info` is that
// message as indented JSON text, one member per key it carried, named as the device names them;
// empty when the message could not be decoded. `dev_type` is the type the handle was detected
// with. Called for LiDARs that have answered detection only, on the IO thread that received the
// push (command IO; detection IO for a Forward unit, which pushes to port 56000), with no SDK
// lock held: it may call the key/value operations, QueryLidarInternalInfo and the Set*Callback
// functions. While no callback is set, pushes are received and not decoded.
using LidarPushInfoCallback = void (*)(uint32_t handle, uint8_t dev_type, const char* info,
                                       void* client_data);
// Completion of one key/value operation whose send step succeeded (a failed send step is its
// result alone, no call), called exactly once: on the IO thread that received the
// acknowledgement; on any IO thread with kStatusTimeout when none came in time; or on the calling
// thread, before the operation returns, with kStatusSendFailed when the socket refused the
// frame. Called with no SDK lock held: it may start further operations.
using AsyncControlCallback = void (*)(CommandStatus status, uint32_t handle,
                                      LidarAsyncControlResponse* response, void* client_data);
// Completion of QueryLidarInternalInfo, on the same terms as AsyncControlCallback.
using QueryLidarInternalInfoCallback = void (*)(CommandStatus status, uint32_t handle,
                                                LidarDiagInternalInfoResponse* response,
                                                void* client_data);

// Lifecycle, from one application thread (never from a callback). `path` names the
// configuration file; with a null path, `host_ip` selects host-address mode. Init starts the
// threads and refuses a second call until Uninit, which stops and joins them.
bool LidarSdkInit(const char* path, const char* host_ip, const LidarLoggerCfgInfo* log_cfg_info);
// Before LidarSdkInit: how long the data thread gathers datagrams between the passes that
// received something (20,000 microseconds unless set; 0 does not gather). Shorter hands points
// over sooner for more wake-ups; it applies where the platform receives in batches.
void LidarSetDataGatherInterval(uint32_t microseconds);
bool LidarSdkStart();
void LidarSdkUninit();

// Brings a LiDAR up from the start again, for one whose stream was lost (a LiDAR that lost power
// comes back without the host's configuration): its next detection reply sends the configuration
// request, and once it accepts, the information-change callback is called for it again. From any
// thread; kStatusNotRegistered for a handle that never answered detection.
CommandStatus LidarReconfigure(uint32_t handle);

// Registrations, from any thread (see the point callback for the one exception); a null
// function stops delivery. Uninit clears them.
void SetLidarPointCloudCallback(LidarPointCloudCallback cb, void* client_data);
void SetLidarImuDataCallback(LidarImuDataCallback cb, void* client_data);
void SetLidarInfoChangeCallback(LidarInfoChangeCallback cb, void* client_data);
void SetLidarPushInfoCallback(LidarPushInfoCallback cb, void* client_data);

// Key/value operations, from any thread, callbacks included; the result is the status of the
// send step; when it is kStatusSuccess the callback (may be null) is called once with the
// outcome (AsyncControlCallback).
CommandStatus LidarSetWorkMode(uint32_t handle, uint8_t work_mode, AsyncControlCallback cb,
                               void* client_data);
CommandStatus LidarSetPclDataType(uint32_t handle, uint8_t data_type, AsyncControlCallback cb,
                                  void* client_data);
CommandStatus LidarEnablePointSend(uint32_t handle, AsyncControlCallback cb, void* client_data);
CommandStatus LidarEnableImuData(uint32_t handle, AsyncControlCallback cb, void* client_data);
CommandStatus QueryLidarInternalInfo(uint32_t handle, QueryLidarInternalInfoCallback cb,
                                     void* client_data);

// The host side of one record of a configuration file: the address the SDK binds ("local":
// any address) and its host ports (0: none given).
struct LidarConfigHost {
  const char* host_ip;  // NUL-terminated, valid during the callback only
  uint16_t cmd_data_port;
  uint16_t push_msg_port;
  uint16_t point_data_port;
  uint16_t imu_data_port;
  uint16_t log_data_port;
};

using LidarConfigHostCallback = void (*)(const LidarConfigHost* host, void* client_data);

// Reads the configuration file `path` as LidarSdkInit would, without starting anything, and
// calls `cb` on the calling thread once per record that names a host address (per-device-type
// records first, then per-LiDAR ones), so an application can check the machine before it starts
// the SDK. False, and no call, when the file cannot be read or parsed (the reason is logged).
// Needs no Init and may be called at any time.
bool LidarReadConfigHosts(const char* path, LidarConfigHostCallback cb, void* client_data);

// Health counters of the SDK since the process started, for an operator to see whether data is
// being lost and where. Reading them takes no lock and never disturbs the IO threads: any thread
// may call it at any time.
constexpr uint32_t kLidarHealthMaxPorts = 16;
constexpr uint32_t kLidarHealthMaxWaitingPorts = 8;

struct LidarPortDatagrams {
  uint16_t port;       // local port the datagrams arrived on
  uint64_t datagrams;  // datagrams received on it
};

struct LidarHealthCounters {
  uint32_t port_count;  // entries of `ports` in use
  LidarPortDatagrams ports[kLidarHealthMaxPorts];
  uint64_t other_port_datagrams;     // received on ports beyond the table's capacity
  uint64_t dropped_short;            // stream datagrams shorter than their header or records
  uint64_t dropped_malformed;        // control datagrams that are not a well-formed frame
  uint64_t dropped_unknown_sender;   // datagrams from an address with no LiDAR record
  uint64_t kernel_drops;             // datagrams the kernel discarded on full receive buffers
  uint64_t crc_rejected;             // control frames whose checksum did not match
  uint64_t requests_timed_out;       // requests without an acknowledgement in time
  uint32_t io_threads;               // IO threads running (0 outside Init..Uninit)
  uint64_t io_stall_ms;              // longest time since one of them last completed a pass
  uint64_t detection_replies;        // detection answers from LiDARs the configuration covers
  uint64_t unconfigured_replies;     // detection answers from LiDARs it has no record for
  uint32_t last_unconfigured_lidar;  // handle of the latest of those, 0 before any
  // True where the platform keeps no count of datagrams its kernel discarded (Windows): then
  // kernel_drops is not a count and must not be shown as 0.
  bool kernel_drops_unavailable;
  // Host ports that could not be opened because another process holds them: the SDK tries each
  // again every second until it opens.
  uint32_t waiting_port_count;
  uint16_t waiting_ports[kLidarHealthMaxWaitingPorts];
};

// Copies the counters into `out` (nothing when it is null).
void LidarGetHealthCounters(LidarHealthCounters* out);
