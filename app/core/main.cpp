#include <cstdio>

#include "app/core/entry_point.h"

int main(int argc, char** argv) {
  // Status lines reach a log collector or a pipe as they happen, not when a buffer fills.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return app::run_app(argc, argv);
}
