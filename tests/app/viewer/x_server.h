// A private X server for tests that open windows, and a way to look at its windows from outside
// the code under test.
#pragma once

#include <string>

#include <sys/types.h>

namespace app::test {

// Xvfb on the first free display number (it picks the number itself), killed on destruction.
class XServer {
 public:
  XServer() = default;
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  ~XServer();

  // Starts the server and points DISPLAY at it; false (with the reason in error()) on failure.
  bool start();
  const std::string& display() const { return display_; }
  const std::string& error() const { return error_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
  std::string error_;
};

// The server every window test of this executable shares, started once before the first test;
// null if it could not be started.
const XServer* x_server();

// Number of windows on the display whose title is exactly `title` (-1 when the display cannot be
// opened); only mapped, viewable windows count when `viewable_only` is set.
int count_windows(const std::string& display, const std::string& title, bool viewable_only);

// Asks the window titled `title` to close, as a window manager does when the user clicks its
// close button; false when no such window exists.
bool request_window_close(const std::string& display, const std::string& title);

// Number of near-white pixels currently shown in the window titled `title` (-1 if none is
// found), read from the server as any screen grabber would.
int count_white_pixels(const std::string& display, const std::string& title);

// Polls count_windows until it returns `expected` or about `timeout_ms` has passed.
bool wait_for_window_count(const std::string& display, const std::string& title, int expected,
                           bool viewable_only, int timeout_ms);

}  // namespace app::test
