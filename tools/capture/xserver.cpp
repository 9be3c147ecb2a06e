// The X display the capture draws on: checking the user's, starting and ending an Xvfb.
#include "xserver.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

// The connection of the last successful check, held open until the GL window has its own:
// an Xvfb can refuse a connection made right after another one was closed.
static Display *gHeld = nullptr;

// Closes the held connection of the last check.
void captureReleaseDisplay(void) {
  if (gHeld) XCloseDisplay(gHeld);
  gHeld = nullptr;
}

// Xlib reports a failed request by calling this instead of ending the process.
static int ignoreXError(Display *, XErrorEvent *) { return 0; }

// Connects, asks for GLX and the screen size, and keeps the connection on success.
bool captureDisplayUsable(const char *name, int width, int height, std::string &why) {
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
  bool glx = XQueryExtension(dpy, "GLX", &opcode, &event, &error);
  int sw = DisplayWidth(dpy, DefaultScreen(dpy));
  int sh = DisplayHeight(dpy, DefaultScreen(dpy));
  XSetErrorHandler(old);
  if (!glx) {
    XCloseDisplay(dpy);
    why = std::string("the X display ") + shown + " offers no GLX";
    return false;
  }
  if (sw < width || sh < height) {
    XCloseDisplay(dpy);
    why = std::string("the screen of ") + shown + " (" + std::to_string(sw) + "x" + std::to_string(sh) +
          ") is smaller than the capture";
    return false;
  }
  captureReleaseDisplay();
  gHeld = dpy;
  return true;
}

// Looks for an executable along $PATH.
std::string captureFindProgram(const char *name) {
  const char *path = getenv("PATH");
  if (!path) return {};
  std::string_view rest = path;
  while (true) {
    size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return {};
}

// Starts Xvfb with -displayfd and waits for its display number.
bool captureStartXvfb(int width, int height, CaptureXServer &server, std::string &error) {
  std::string xvfb = captureFindProgram("Xvfb");
  if (xvfb.empty()) {
    error = "Xvfb is not on the PATH (Debian package xvfb)";
    return false;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  std::string screen = std::to_string(std::max(width, 640)) + "x" + std::to_string(std::max(height, 480)) + "x24";
  std::string fdText = std::to_string(fds[1]);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    error = std::string("fork: ") + strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    // The child: its own process group, ended with us, quiet, told where to write its number.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    fcntl(fds[1], F_SETFD, 0);  // this end stays open across exec
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    execl(xvfb.c_str(), "Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
          "-noreset", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  server.pid = pid;
  // Xvfb writes its display number and a newline once it accepts connections.
  std::string number;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool done = false;
  while (!done) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left <= 0) break;
    pollfd p{fds[0], POLLIN, 0};
    int r = poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char c;
    ssize_t n = read(fds[0], &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (c == '\n') done = true;
    else number += c;
  }
  close(fds[0]);
  if (!done || number.empty()) {
    captureStopXvfb(server);
    error = "Xvfb did not start";
    return false;
  }
  server.display = ":" + number;
  std::string why;
  if (!captureDisplayUsable(server.display.c_str(), width, height, why)) {
    captureStopXvfb(server);
    error = "the Xvfb that was started is not usable: " + why;
    return false;
  }
  return true;
}

// Sends TERM, waits a little, then KILL.
void captureStopXvfb(CaptureXServer &server) {
  if (server.pid <= 0) return;
  kill(server.pid, SIGTERM);
  // Give it a moment to remove its socket and lock file, then insist.
  for (int i = 0; i < 100; i++) {
    int status = 0;
    pid_t r = waitpid(server.pid, &status, WNOHANG);
    if (r == server.pid || (r < 0 && errno == ECHILD)) {
      server.pid = -1;
      return;
    }
    usleep(20000);
  }
  kill(server.pid, SIGKILL);
  waitpid(server.pid, nullptr, 0);
  server.pid = -1;
}
