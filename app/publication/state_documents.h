// The two state documents published every supervisor cycle, and the value-text builders that
// turn their members into (path, JSON text) entries.
#pragma once

#include <cstdint>
#include <string>

#include "core/shared_state.h"
#include "publication/redis_publisher.h"

namespace app {

inline constexpr const char* kLidarDocumentKey = "ctx:dados_modulo_Lidar";
inline constexpr const char* kImuDocumentKey = "ctx:dados_modulo_Imu";
inline constexpr int32_t kLidarDocumentTtlSeconds = 10;
inline constexpr int32_t kImuDocumentTtlSeconds = 3;

// Decimal digits.
void add_integer(PathEntryList& entries, const std::string& path, uint64_t value);
// "true" or "false".
void add_bool(PathEntryList& entries, const std::string& path, bool value);
// Fixed notation with that many decimals; a non-finite value gives nan/inf text, which the merge
// stores as a string.
void add_fixed(PathEntryList& entries, const std::string& path, double value, int decimals);
// The text as a JSON string, escaped, with bytes that are not UTF-8 replaced.
void add_quoted(PathEntryList& entries, const std::string& path, const std::string& text);

// The six distances as "<group>.frente", ".tras", ".esquerda", ".direita", ".sup" and ".inf",
// two decimals each, in that order.
void add_distances(PathEntryList& entries, const std::string& group, double frente, double tras,
                   double esquerda, double direita, double cima, double baixo);

// Array text of the 20 boxes nearest ahead (smallest frente_m first); "[]" without boxes.
std::string render_bboxes(const StatusSnapshot& snapshot);

// Entries of the two documents, in publication order.
PathEntryList build_lidar_entries(const StatusSnapshot& snapshot);
PathEntryList build_imu_entries(const AttitudeState& attitude);

// Merges the Lidar document into Redis; false (with a status line) without a publisher.
bool publish_lidar_document(const StatusSnapshot& snapshot);
// Merges the Imu document, built from a copy of the current attitude.
void publish_imu_document();

}  // namespace app
