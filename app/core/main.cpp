#include "core/entry_point.h"
#include "core/platform.h"

int main(int argc, char** argv) {
  // Status lines reach a log collector or a pipe as they happen, not when a buffer fills.
  app::use_line_output();
  return app::run_app(argc, argv);
}
