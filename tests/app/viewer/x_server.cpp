#include "x_server.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace app::test {
namespace {

constexpr int kStartTimeoutMs = 10000;

// Reads the display number Xvfb writes once it accepts connections.
bool read_display_number(int fd, std::string& number) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  char c = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, 100);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    const ssize_t got = read(fd, &c, 1);
    if (got <= 0) return false;
    if (c == '\n') return !number.empty();
    number.push_back(c);
  }
  return false;
}

int ignore_x_error(Display*, XErrorEvent*) { return 0; }

int count_in_tree(Display* display, Window window, const std::string& title, bool viewable_only) {
  int count = 0;
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name != nullptr) {
    if (title == name) {
      XWindowAttributes attributes{};
      const bool viewable = XGetWindowAttributes(display, window, &attributes) &&
                            attributes.map_state == IsViewable;
      if (!viewable_only || viewable) ++count;
    }
    XFree(name);
  }
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int child_count = 0;
  if (XQueryTree(display, window, &root, &parent, &children, &child_count)) {
    for (unsigned int i = 0; i < child_count; ++i)
      count += count_in_tree(display, children[i], title, viewable_only);
    if (children != nullptr) XFree(children);
  }
  return count;
}

Window find_in_tree(Display* display, Window window, const std::string& title) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name != nullptr) {
    const bool match = title == name;
    XFree(name);
    if (match) return window;
  }
  Window root = 0, parent = 0, found = 0;
  Window* children = nullptr;
  unsigned int child_count = 0;
  if (XQueryTree(display, window, &root, &parent, &children, &child_count)) {
    for (unsigned int i = 0; i < child_count && found == 0; ++i)
      found = find_in_tree(display, children[i], title);
    if (children != nullptr) XFree(children);
  }
  return found;
}

}  // namespace

XServer::~XServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

bool XServer::start() {
  int fds[2];
  if (pipe(fds) != 0) {
    error_ = std::strerror(errno);
    return false;
  }
  const std::string fd_text = std::to_string(fds[1]);
  pid_ = fork();
  if (pid_ < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  if (pid_ == 0) {
    close(fds[0]);
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) {
      dup2(null_fd, STDOUT_FILENO);
      dup2(null_fd, STDERR_FILENO);
    }
    execlp("Xvfb", "Xvfb", "-displayfd", fd_text.c_str(), "-screen", "0", "1280x800x24",
           "-nolisten", "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  const bool started = read_display_number(fds[0], number);
  close(fds[0]);
  if (!started) {
    error_ = "Xvfb did not report a display number";
    return false;
  }
  display_ = ":" + number;
  setenv("DISPLAY", display_.c_str(), 1);
  return true;
}

int count_windows(const std::string& display_name, const std::string& title, bool viewable_only) {
  Display* display = XOpenDisplay(display_name.c_str());
  if (display == nullptr) return -1;
  // A window may vanish while the tree is walked; the default handler would end the process.
  const XErrorHandler previous = XSetErrorHandler(ignore_x_error);
  const int count = count_in_tree(display, DefaultRootWindow(display), title, viewable_only);
  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  return count;
}

bool request_window_close(const std::string& display_name, const std::string& title) {
  Display* display = XOpenDisplay(display_name.c_str());
  if (display == nullptr) return false;
  const XErrorHandler previous = XSetErrorHandler(ignore_x_error);
  const Window window = find_in_tree(display, DefaultRootWindow(display), title);
  if (window != 0) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
  }
  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  return window != 0;
}

int count_white_pixels(const std::string& display_name, const std::string& title) {
  Display* display = XOpenDisplay(display_name.c_str());
  if (display == nullptr) return -1;
  const XErrorHandler previous = XSetErrorHandler(ignore_x_error);
  int count = -1;
  const Window window = find_in_tree(display, DefaultRootWindow(display), title);
  XWindowAttributes attributes{};
  if (window != 0 && XGetWindowAttributes(display, window, &attributes) &&
      attributes.map_state == IsViewable) {
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image != nullptr) {
      count = 0;
      for (int y = 0; y < attributes.height; ++y)
        for (int x = 0; x < attributes.width; ++x) {
          const unsigned long pixel = XGetPixel(image, x, y);
          if ((pixel & 0xff) > 200 && ((pixel >> 8) & 0xff) > 200 && ((pixel >> 16) & 0xff) > 200)
            ++count;
        }
      XDestroyImage(image);
    }
  }
  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  return count;
}

bool wait_for_window_count(const std::string& display, const std::string& title, int expected,
                           bool viewable_only, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    if (count_windows(display, title, viewable_only) == expected) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace app::test
