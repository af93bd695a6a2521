// Starting and signalling the redis-server process behind RedisServer, per platform.
#pragma once

namespace testing_support::redis_process {

// Starts redis-server on 127.0.0.1:port; its process id, or -1 when it cannot be started.
long long start(int port);
// Ends it as a crash would (SIGKILL) and reaps it.
void kill(long long pid);
// SIGSTOP and SIGCONT.
void pause(long long pid);
void resume(long long pid);

}  // namespace testing_support::redis_process
