#include "redis_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace testing_support::redis_process {

long long start(int port) {
  const std::string port_text = std::to_string(port);
  std::vector<std::string> args = {"redis-server", "--port", port_text,   "--bind", "127.0.0.1",
                                   "--save",       "",       "--appendonly", "no"};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, "redis-server", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

void kill(long long pid) {
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
}

void pause(long long pid) { ::kill(static_cast<pid_t>(pid), SIGSTOP); }

void resume(long long pid) { ::kill(static_cast<pid_t>(pid), SIGCONT); }

}  // namespace testing_support::redis_process
