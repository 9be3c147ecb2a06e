// The real demo executable under the harness's X display.
#include "demoproc.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "files.h"
#include "process.h"

DemoRun::~DemoRun() {
  if (pid > 0) procStop(pid, SIGKILL, 0.0);
  if (log >= 0) close(log);
}

bool demoStart(DemoRun &demo, const std::string &workdir, const std::vector<std::string> &env) {
  demo.log = fileTemp();
  ProcSpec spec;
  // The demo prints through stdio; line buffering keeps its lines even when it is killed.
  spec.argv = {"stdbuf", "-oL", PARKHAUS_EXE};
  spec.workdir = workdir;
  spec.setEnv = env;
  spec.stdoutFd = spec.stderrFd = demo.log;
  std::string error;
  demo.pid = demo.log >= 0 ? procStart(spec, error) : -1;
  return demo.pid > 0;
}

std::string demoWaitWindow(double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    ProcSpec spec;
    spec.argv = {"xdotool", "search", "--onlyvisible", "--name", "^Parkhaus$"};
    const std::string id = procRun(spec, 10.0).output;
    if (!id.empty() && id[0] >= '0' && id[0] <= '9') return id.substr(0, id.find('\n'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return {};
}

void demoKey(const std::string &window, const std::string &key) {
  ProcSpec spec;
  spec.argv = {"xdotool", "windowfocus", "--sync", window, "key", key};
  procRun(spec, 10.0);
}

bool demoAlive(DemoRun &demo) {
  if (demo.pid <= 0) return false;
  demo.status = procWait(demo.pid, 0.0);
  if (demo.status >= 0) demo.pid = -1;
  return demo.pid > 0;
}

int demoWaitExit(DemoRun &demo, double seconds) {
  if (demo.pid <= 0) return demo.status;
  demo.status = procWait(demo.pid, seconds);
  if (demo.status < 0) procStop(demo.pid, SIGKILL, 0.0);
  demo.pid = -1;
  return demo.status;
}

std::string demoOutput(const DemoRun &demo) { return demo.log >= 0 ? fileReadFd(demo.log) : ""; }

std::vector<uint8_t> demoScreenshot(int &width, int &height) {
  std::vector<uint8_t> rgb;
  width = height = 0;
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) return rgb;
  XWindowAttributes wa;
  XGetWindowAttributes(dpy, DefaultRootWindow(dpy), &wa);
  XImage *img = XGetImage(dpy, DefaultRootWindow(dpy), 0, 0, wa.width, wa.height, AllPlanes, ZPixmap);
  for (int y = 0; img && y < wa.height; y++) {
    for (int x = 0; x < wa.width; x++) {
      const unsigned long p = XGetPixel(img, x, y);
      rgb.insert(rgb.end(), {uint8_t((p & img->red_mask) >> 16), uint8_t((p & img->green_mask) >> 8),
                             uint8_t(p & img->blue_mask)});
    }
  }
  if (img) {
    width = wa.width;
    height = wa.height;
    XDestroyImage(img);
  }
  XCloseDisplay(dpy);
  return rgb;
}
