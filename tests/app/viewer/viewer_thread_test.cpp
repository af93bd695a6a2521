// The viewer thread as the supervisor drives it: one window per start, closed on stop, and a
// service that survives a missing display.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/shared_state.h"
#include "viewer/viewer.h"
#include "viewer/viewer_internal.h"
#include "x_server.h"

namespace app {
namespace {

constexpr int kWindowWaitMs = 5000;

class ViewerThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(test::x_server(), nullptr);
    display_ = test::x_server()->display();
    reset_shared_state();
  }
  void TearDown() override {
    stop_viewer();
    setenv("DISPLAY", display_.c_str(), 1);
  }

  // Windows on screen: a closed viewer window is hidden, not destroyed.
  int windows() const { return test::count_windows(display_, kViewerWindowTitle, true); }
  bool wait_for_windows(int expected, bool viewable_only) const {
    return test::wait_for_window_count(display_, kViewerWindowTitle, expected, viewable_only,
                                       kWindowWaitMs);
  }

  std::string display_;
};

TEST_F(ViewerThreadTest, StartOpensOneWindowAndStopClosesIt) {
  slam_enabled.store(true);
  ASSERT_TRUE(start_viewer());
  EXPECT_TRUE(viewer_active.load());
  EXPECT_FALSE(slam_enabled.load());
  ASSERT_TRUE(wait_for_windows(1, true));

  // The thread keeps the window drawn: the white HUD texts show up on screen.
  bool drawn = false;
  for (int i = 0; i < 100 && !drawn; ++i) {
    drawn = test::count_white_pixels(display_, kViewerWindowTitle) > 100;
    if (!drawn) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(drawn);

  EXPECT_TRUE(start_viewer());  // already running: nothing new
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(windows(), 1);

  EXPECT_TRUE(stop_viewer());
  EXPECT_FALSE(viewer_active.load());
  EXPECT_TRUE(wait_for_windows(0, true));
  EXPECT_FALSE(stop_viewer());  // nothing left to stop

  // The next stream-up opens a fresh window.
  ASSERT_TRUE(start_viewer());
  EXPECT_TRUE(wait_for_windows(1, true));
  EXPECT_TRUE(stop_viewer());
  EXPECT_TRUE(wait_for_windows(0, true));
}

TEST_F(ViewerThreadTest, ClosedWindowStaysClosedUntilTheViewerIsStopped) {
  ASSERT_TRUE(start_viewer());
  ASSERT_TRUE(wait_for_windows(1, true));
  ASSERT_TRUE(test::request_window_close(display_, kViewerWindowTitle));
  EXPECT_TRUE(wait_for_windows(0, true));
  EXPECT_TRUE(viewer_active.load());  // the thread ended on its own; the flag is the stopper's

  EXPECT_TRUE(start_viewer());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(windows(), 0);

  EXPECT_TRUE(stop_viewer());
  ASSERT_TRUE(start_viewer());
  EXPECT_TRUE(wait_for_windows(1, true));
}

std::string start_output_without_display(const char* display) {
  if (display == nullptr)
    unsetenv("DISPLAY");
  else
    setenv("DISPLAY", display, 1);
  ::testing::internal::CaptureStderr();
  const bool started = start_viewer();
  const std::string output = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(started);
  EXPECT_FALSE(viewer_active.load());
  return output;
}

TEST_F(ViewerThreadTest, MissingDisplayIsOneErrorLinePerProcessAndNoWindow) {
  // No DISPLAY at all, then a display nobody serves (nothing listens on TCP in the sandbox),
  // each tried on several stream starts: one line in all.
  std::string output;
  for (const char* display : {static_cast<const char*>(nullptr), "127.0.0.1:7"}) {
    SCOPED_TRACE(display == nullptr ? "unset" : display);
    for (int start = 0; start < 2; ++start) output += start_output_without_display(display);
  }
  EXPECT_EQ(output.rfind("[VIEWER] Erro: DISPLAY nao definido", 0), 0u) << output;
  EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
  EXPECT_EQ(windows(), 0);

  // Once a display is back the viewer starts normally.
  setenv("DISPLAY", display_.c_str(), 1);
  ASSERT_TRUE(start_viewer());
  EXPECT_TRUE(wait_for_windows(1, true));
}

}  // namespace
}  // namespace app
