// The entry point against the fake SDK, for console_control_test.sh to interrupt from outside
// the process as a user would. Prints "ready" once the service waits, "uninit" when the SDK is
// being shut down, then the SDK calls it saw, one per line, and returns the entry point's
// status. With "slow" as argument the SDK's shutdown takes 5 s (room for a second interrupt).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "core/entry_point.h"
#include "core/shared_state.h"
#include "tests/app/fake_sdk.h"

namespace {

void say(const char* line) {
  std::fputs(line, stdout);
  std::fflush(stdout);
}

void slow_uninit() {
  say("uninit\n");
  std::this_thread::sleep_for(std::chrono::seconds(5));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "slow") == 0) fake_sdk::set_uninit_hook(slow_uninit);
  std::thread announce([] {
    while (!app::supervisor_active.load() && app::running.load())
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    say("ready\n");
  });
  std::string program = "app", config = "config.json";
  char* args[] = {program.data(), config.data(), nullptr};
  const int status = app::run_app(2, args);
  announce.join();
  for (const std::string& call : fake_sdk::call_names()) say((call + "\n").c_str());
  return status;
}
