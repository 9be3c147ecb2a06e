// The X display to draw on: checking the one there is, starting and stopping an Xvfb.
#include "xvfb.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "process.h"
#include "refuse.h"

// The connection of the last successful check, held open until the GL window has its own:
// an Xvfb can refuse a connection made right after another one was closed.
static Display *gHeld = nullptr;

void xvfbReleaseDisplay(void) {
  if (gHeld) XCloseDisplay(gHeld);
  gHeld = nullptr;
}

// Xlib reports a failed request by calling this instead of ending the process.
static int ignoreXError(Display *, XErrorEvent *) { return 0; }

// Connects, asks for GLX and the screen size, and keeps the connection on success.
bool xvfbDisplayUsable(const char *name, int width, int height, std::string &why) {
  const char *shown = name ? name : getenv("DISPLAY");
  if (!shown || !*shown) {
    why = "DISPLAY is not set";
    return false;
  }
  Display *dpy = XOpenDisplay(name);
  if (!dpy) {
    why = std::string("the X display ") + shown + " does not answer";
    return false;
  }
  XErrorHandler old = XSetErrorHandler(ignoreXError);
  int opcode = 0, event = 0, error = 0;
  const bool glx = XQueryExtension(dpy, "GLX", &opcode, &event, &error);
  const int sw = DisplayWidth(dpy, DefaultScreen(dpy));
  const int sh = DisplayHeight(dpy, DefaultScreen(dpy));
  XSetErrorHandler(old);
  if (!glx || sw < width || sh < height) {
    XCloseDisplay(dpy);
    why = !glx ? std::string("the X display ") + shown + " offers no GLX"
               : std::string("the screen of ") + shown + " (" + std::to_string(sw) + "x" + std::to_string(sh) +
                     ") is smaller than the capture";
    return false;
  }
  xvfbReleaseDisplay();
  gHeld = dpy;
  return true;
}

// Reads the display number that Xvfb writes, with a newline, once it accepts connections.
static std::string readDisplayNumber(int fd, double seconds) {
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    const int r = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
    if (r < 0 && errno == EINTR) continue;
    char c = 0;
    const ssize_t n = r > 0 ? read(fd, &c, 1) : 0;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    if (c == '\n') return number;
    number += c;
  }
}

bool xvfbStart(int width, int height, XvfbServer &server, std::string &error) {
  if (procFind("Xvfb").empty()) return refuse(error, "Xvfb is not on the PATH (Debian package xvfb)");
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return refuse(error, std::string("pipe: ") + strerror(errno));
  ProcSpec spec;
  spec.argv = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
               std::to_string(std::max(width, 640)) + "x" + std::to_string(std::max(height, 480)) + "x24",
               "-nolisten", "tcp", "-noreset"};
  spec.stdoutFd = spec.stderrFd = kProcDevNull;
  spec.extraFds = {{fds[1], fds[1]}};
  spec.ownGroup = true;
  spec.deathSignal = SIGTERM;
  server.pid = procStart(spec, error);
  close(fds[1]);
  const std::string number = server.pid > 0 ? readDisplayNumber(fds[0], 20.0) : "";
  close(fds[0]);
  if (server.pid <= 0) return false;
  std::string why;
  server.display = ":" + number;
  if (number.empty() || !xvfbDisplayUsable(server.display.c_str(), width, height, why)) {
    xvfbStop(server);
    error = number.empty() ? "Xvfb did not start" : "the Xvfb that was started is not usable: " + why;
    return false;
  }
  return true;
}

// TERM first, so it can remove its socket and lock file; KILL only when it lingers well past that.
void xvfbStop(XvfbServer &server) {
  if (server.pid <= 0) return;
  procStop(server.pid, SIGTERM, 10.0);
  server.pid = -1;
}
