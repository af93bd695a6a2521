#include "write_outage.h"

#include <cstdio>

namespace app {

void note_write_failed(WriteOutage& outage, const char* error) {
  if (outage.failing) return;
  outage.failing = true;
  std::fprintf(stderr, "[REDIS] %s %s: escrita falhou (%s); %s ate o Redis responder\n",
               outage.kind, outage.key.c_str(), error, outage.lost);
  std::fflush(stderr);
}

void note_write_done(WriteOutage& outage) {
  if (!outage.failing) return;
  outage.failing = false;
  std::fprintf(stdout, "[REDIS] %s %s: escrita retomada\n", outage.kind, outage.key.c_str());
  std::fflush(stdout);
}

}  // namespace app
