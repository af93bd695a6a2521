// The IO loop, its multiplexer and threads, over UDP sockets on loopback.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/io_loop.h"
#include "base/io_thread.h"
#include "base/multiple_io_select.h"
#include "tests/sdk_core/base/socket_test_support.h"

namespace lidar::sdk {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testing::DatagramPair;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class RecordingDelegate final : public IOLoop::IOLoopDelegate {
 public:
  // One datagram per call, as the device manager reads: a delegate that drained until the
  // socket was empty would never return while a fast sender keeps it busy.
  void OnData(int sock, void* client_data) override {
    uint8_t buffer[64];
    ReceiveDatagram(sock, buffer, sizeof(buffer));
    std::lock_guard<std::mutex> lock(mutex);
    ++data_calls;
    last_client_data = client_data;
    cv.notify_all();
  }
  void OnTimer(TimePoint now) override {
    std::lock_guard<std::mutex> lock(mutex);
    timer_calls.push_back(now);
  }

  bool WaitForData(int calls, milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, timeout, [&] { return data_calls >= calls; });
  }

  std::mutex mutex;
  std::condition_variable cv;
  int data_calls = 0;
  void* last_client_data = nullptr;
  std::vector<TimePoint> timer_calls;
};

TEST(MultipleIOSelect, EmptyLoopSleepsTheTimeout) {
  MultipleIOSelect poller;
  const auto start = Clock::now();
  poller.Poll(50);
  EXPECT_GE(MsSince(start), 50.0);
}

TEST(MultipleIOSelect, RegistrationsAreBoundedByCapacityAndSetSize) {
  MultipleIOSelect poller;
  ASSERT_TRUE(poller.PollCreate(IOLoop::kPollSize));  // the wake-up reader takes one place
  IODescriptor d;
  d.mask = kEventRead;
  d.on_event = [](uint32_t) {};
  const int base = 900;
  for (int i = 0; i < IOLoop::kPollSize; ++i) {
    d.fd = base + i;
    ASSERT_TRUE(poller.AddDelegate(d)) << "registration " << i + 2;
  }
  d.fd = base + IOLoop::kPollSize;
  EXPECT_FALSE(poller.AddDelegate(d)) << "the 50th registration";
  d.fd = base;
  EXPECT_TRUE(poller.AddDelegate(d)) << "re-registering a known socket replaces it";
  poller.RemoveDelegate(d);
  d.fd = -1;
  EXPECT_FALSE(poller.AddDelegate(d));
  d.fd = base + IOLoop::kPollSize;
  EXPECT_TRUE(poller.AddDelegate(d)) << "a removal frees a place";

  // Beyond the loop's capacity, a set still holds no more than 64 sockets, the wake-up reader
  // included: the 65th is refused rather than accepted and never watched.
  MultipleIOSelect wide;
  ASSERT_TRUE(wide.PollCreate(100));
  for (int i = 0; i < 63; ++i) {
    d.fd = base + i;
    ASSERT_TRUE(wide.AddDelegate(d)) << "registration " << i + 2;
  }
  d.fd = base + 63;
  EXPECT_FALSE(wide.AddDelegate(d));
  d.mask = kEventWrite;
  EXPECT_TRUE(wide.AddDelegate(d)) << "the write set has room";
}

TEST(MultipleIOSelect, HandlerMayRemoveRegistrationsDuringDispatch) {
  MultipleIOSelect poller;
  ASSERT_TRUE(poller.PollCreate(8));
  DatagramPair a, b;
  a.Send();
  b.Send();
  int a_calls = 0, b_calls = 0;
  IODescriptor da{a.sock, kEventRead, nullptr, nullptr};
  IODescriptor db{b.sock, kEventRead, nullptr, nullptr};
  auto first = a.sock < b.sock ? &da : &db;
  auto second = a.sock < b.sock ? &db : &da;
  int* first_calls = a.sock < b.sock ? &a_calls : &b_calls;
  int* second_calls = a.sock < b.sock ? &b_calls : &a_calls;
  first->on_event = [&, first, second](uint32_t) {
    ++*first_calls;
    poller.RemoveDelegate(*first);
    poller.RemoveDelegate(*second);
  };
  second->on_event = [&](uint32_t) { ++*second_calls; };
  ASSERT_TRUE(poller.AddDelegate(da));
  ASSERT_TRUE(poller.AddDelegate(db));
  poller.Poll(100);
  EXPECT_EQ(*first_calls, 1);
  EXPECT_EQ(*second_calls, 0) << "a removed registration is not called";
  poller.Poll(0);
  EXPECT_EQ(*first_calls, 1);
}

TEST(IOLoop, PostedRegistrationTakesEffectWithoutWaitingForTheTimeout) {
  IOLoop loop(true);
  ASSERT_TRUE(loop.Init());
  loop.Loop();  // settle the first timer dispatch
  RecordingDelegate delegate;
  DatagramPair pair;
  pair.Send();
  int client_data = 0;
  const auto start = Clock::now();
  loop.AddDelegate(pair.sock, &delegate, &client_data);
  loop.Loop();  // woken at once; runs the registration task
  loop.Loop();  // the datagram is already waiting
  EXPECT_LT(MsSince(start), 45.0) << "two passes must not wait for the 50 ms timeout";
  EXPECT_EQ(delegate.data_calls, 1);
  EXPECT_EQ(delegate.last_client_data, &client_data);

  loop.RemoveDelegate(pair.sock, &delegate);
  loop.Loop();
  pair.Send();
  loop.Loop();
  EXPECT_EQ(delegate.data_calls, 1) << "removed sockets are no longer served";
}

TEST(IOThread, RegistrationFromAnotherThreadIsServedPromptly) {
  // Each trial registers a socket 10 ms after the loop served the previous one, so a loop that
  // were not woken would serve it only at the end of its 50 ms wait, some 40 ms later. The best
  // of three trials is compared, so that one trial delayed by a busy machine does not count.
  RecordingDelegate delegate;
  DatagramPair pairs[3];
  DatagramPair first;
  IOThread thread;
  ASSERT_TRUE(thread.Init(true));
  ASSERT_TRUE(thread.Start());
  EXPECT_FALSE(thread.Start()) << "one thread per object";
  first.Send();
  thread.loop()->AddDelegate(first.sock, &delegate, nullptr);
  ASSERT_TRUE(delegate.WaitForData(1, milliseconds(1000)));

  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(milliseconds(10));  // the loop is now blocked in select
    pairs[i].Send();
    const auto start = Clock::now();
    thread.loop()->AddDelegate(pairs[i].sock, &delegate, nullptr);
    ASSERT_TRUE(delegate.WaitForData(i + 2, milliseconds(1000)));
    best = std::min(best, MsSince(start));
  }
  EXPECT_LT(best, 25.0);
  thread.Join();
}

TEST(IOThread, TimersFireAtMostEvery50MsUnderLoad) {
  RecordingDelegate delegate;
  DatagramPair pair;
  {
    IOThread thread;
    ASSERT_TRUE(thread.Init(true));
    ASSERT_TRUE(thread.Start());
    thread.loop()->AddDelegate(pair.sock, &delegate, nullptr);
    const auto end = Clock::now() + milliseconds(400);
    while (Clock::now() < end) {
      pair.Send();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }  // destruction joins the thread
  std::lock_guard<std::mutex> lock(delegate.mutex);
  EXPECT_GT(delegate.data_calls, 50);
  ASSERT_GE(delegate.timer_calls.size(), 4u);
  for (std::size_t i = 1; i < delegate.timer_calls.size(); ++i) {
    EXPECT_GT(delegate.timer_calls[i] - delegate.timer_calls[i - 1], milliseconds(50));
  }
}

class IdleThread : public ThreadBase {
 protected:
  void ThreadFunc() override {
    while (!quit_) std::this_thread::sleep_for(milliseconds(1));
  }
};

TEST(ThreadBase, JoinReportsAThreadThatWasNeverStarted) {
  IdleThread thread;
  ::testing::internal::CaptureStdout();
  thread.Join();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "failed to join thread, joinable: 0\n");

  ASSERT_TRUE(thread.Start());
  ::testing::internal::CaptureStdout();
  thread.Join();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  ASSERT_TRUE(thread.Start()) << "a joined thread may be started again";
  thread.Join();
}

}  // namespace
}  // namespace lidar::sdk
