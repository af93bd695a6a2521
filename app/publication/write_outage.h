// The one line a Redis writer thread says when its writes start failing and the one when they go
// through again, never one per lost write: the frame stream's and the zones' writers.
#pragma once

#include <string>

namespace app {

struct WriteOutage {
  const char* kind;  // "stream", "zonas": what the key holds
  const char* lost;  // what a failing write throws away, e.g. "entradas descartadas"
  std::string key;
  bool failing = false;
};

// A write failed with `error`: said once until one succeeds.
void note_write_failed(WriteOutage& outage, const char* error);
// A write went through: said once after failures.
void note_write_done(WriteOutage& outage);

}  // namespace app
