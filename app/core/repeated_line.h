// Console lines that a fault outside the service repeats every cycle (Redis down, a write the
// server refuses) are written at most once a second per place that writes them; the next one
// written is preceded by a count of those left out, so the log keeps the fact and the rate
// without the flood.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace app {

// One place that writes a repeated line.
struct RepeatedLine {
  std::mutex mutex;
  bool written = false;
  uint64_t last_ms = 0;
  uint64_t left_out = 0;
};

constexpr uint64_t kRepeatedLineIntervalMs = 1000;

// Writes `line` (a whole console line, newline included) to `out` and flushes it, unless this
// place wrote one less than a second before `now_ms`; then it only counts it. Before a line
// that follows left-out ones comes "<tag> (N linhas semelhantes omitidas)", the tag being the
// line's own leading "[...]". Returns whether the line was written.
bool write_repeated(RepeatedLine& place, std::FILE* out, const std::string& line, uint64_t now_ms);

}  // namespace app
