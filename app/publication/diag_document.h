// The diagnostics document: the SDK's and the application's health counters, so an operator
// can see whether data is being lost and where, published every supervisor cycle beside the
// two state documents.
#pragma once

#include <cstdint>

#include "core/app_health.h"
#include "core/service_notify.h"
#include "core/shared_state.h"
#include "publication/redis_publisher.h"
#include "lidar_sdk.h"

namespace app {

inline constexpr const char* kDiagDocumentKey = "ctx:dados_modulo_Lidar_diag";
inline constexpr int32_t kDiagDocumentTtlSeconds = 10;

// What the document says about where the LiDAR sits.
struct DiagGeometry {
  MountingPose mounting;  // "montagem.xyz_m", only when the configuration file gives it
  GroundEstimate ground;  // "chao.visto", "chao.altura_m", "chao.inclinacao_graus" (null unseen)
};

// Entries of the document for one cycle; `timestamp` is wall_ms.
PathEntryList build_diag_entries(uint64_t timestamp, const LidarHealthCounters& sdk,
                                 const AppHealth& app, const ProgressVerdict& progress,
                                 const DiagGeometry& geometry);

// Merges the document into Redis; false without a publisher (nothing printed: the Lidar
// document reports that every cycle) or when Redis refused it.
bool publish_diag_document(const LidarHealthCounters& sdk, const ProgressVerdict& progress);

}  // namespace app
