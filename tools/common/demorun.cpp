// The real demo program run as a viewer runs it.
#include "demorun.h"

#include <signal.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include "files.h"

DemoRun::DemoRun(const std::string &exe, const std::string &workdir, const std::vector<std::string> &env)
    : log(fileTemp()) {
  ProcSpec spec;
  // The demo prints through stdio; line buffering keeps its lines even when it is killed.
  spec.argv = {"stdbuf", "-oL", exe};
  spec.workdir = workdir;
  procSpecEnvironment(spec, env);
  spec.stdoutFd = spec.stderrFd = log;
  std::string error;
  pid = log >= 0 ? procStart(spec, error) : -1;
}

DemoRun::~DemoRun() {
  if (pid > 0) procStop(pid, SIGKILL, 0.0);
  if (log >= 0) close(log);
}

int DemoRun::wait(double seconds) {
  if (pid > 0 && (status = procWait(pid, seconds)) >= 0) pid = -1;
  return status;
}

std::string DemoRun::output() const { return fileReadFd(log); }

std::string demoWaitWindow(double seconds, int pollMs) {
  std::string id;
  const auto found = [&] {
    id = procRunIn({}, {"xdotool", "search", "--onlyvisible", "--name", "^Parkhaus$"}).output;
    return !id.empty() && id[0] >= '0' && id[0] <= '9';
  };
  return procWaitUntil(seconds, found, pollMs) ? id.substr(0, id.find('\n')) : std::string();
}

void demoKey(const std::string &window, const std::string &key, bool toWindow) {
  if (toWindow) {
    procRunIn({}, {"xdotool", "key", "--window", window, key});
  } else {
    procRunIn({}, {"xdotool", "windowfocus", "--sync", window, "key", key});
  }
}

DemoPicture demoGrab(unsigned long window) {
  DemoPicture picture;
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) return picture;
  XWindowAttributes attributes{};
  const Window target = window != 0 ? window : DefaultRootWindow(dpy);
  // A window that has gone away answers with an X error, which is only noted here.
  XErrorHandler previous = XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
  if (XGetWindowAttributes(dpy, target, &attributes)) {
    XImage *img = XGetImage(dpy, target, 0, 0, unsigned(attributes.width), unsigned(attributes.height), AllPlanes, ZPixmap);
    if (img) {
      picture.width = attributes.width;
      picture.height = attributes.height;
      for (int y = 0; y < picture.height; y++)
        for (int x = 0; x < picture.width; x++) picture.pixels.push_back(uint32_t(XGetPixel(img, x, y) & 0xffffff));
      XDestroyImage(img);
    }
  }
  XSync(dpy, False);
  XSetErrorHandler(previous);
  XCloseDisplay(dpy);
  return picture;
}

bool demoWaitMovingPicture(unsigned long window, double seconds, std::string &why) {
  DemoPicture first = demoGrab(window);
  return procWaitUntil(seconds, [&] {
    DemoPicture now = demoGrab(window);
    if (now.pixels.empty() || now.pixels.size() != first.pixels.size()) {
      // The first grab came while the desktop was still sizing the window, or could not be read:
      // the picture is compared with this one instead.
      why = "the window was " + std::to_string(first.width) + "x" + std::to_string(first.height) + ", now " +
            std::to_string(now.width) + "x" + std::to_string(now.height);
      first = std::move(now);
      return false;
    }
    size_t lit = 0, changed = 0;
    for (size_t i = 0; i < now.pixels.size(); i++) {
      lit += now.pixels[i] != 0;
      changed += now.pixels[i] != first.pixels[i];
    }
    why = std::to_string(lit) + " of " + std::to_string(now.pixels.size()) + " pixels lit, " + std::to_string(changed) +
          " changed";
    return lit > now.pixels.size() / 2 && changed > now.pixels.size() / 100;
  }, 50);
}

bool demoWaitCoversScreen(unsigned long window, double seconds, std::string &why) {
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    why = "no display";
    return false;
  }
  XErrorHandler previous = XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
  const int screenWidth = DisplayWidth(dpy, DefaultScreen(dpy)), screenHeight = DisplayHeight(dpy, DefaultScreen(dpy));
  const bool covers = procWaitUntil(seconds, [&] {
    XWindowAttributes a{};
    int x = -1, y = -1;
    Window child = 0;
    if (XGetWindowAttributes(dpy, window, &a) && XTranslateCoordinates(dpy, window, a.root, 0, 0, &x, &y, &child)) {
      why = std::to_string(a.width) + "x" + std::to_string(a.height) + "+" + std::to_string(x) + "+" + std::to_string(y) +
            " on a screen of " + std::to_string(screenWidth) + "x" + std::to_string(screenHeight);
      return x == 0 && y == 0 && a.width == screenWidth && a.height == screenHeight;
    }
    why = "the window cannot be read";
    return false;
  }, 50);
  XSetErrorHandler(previous);
  XCloseDisplay(dpy);
  return covers;
}

bool demoCursorHidden() {
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) return false;
  bool hidden = false;
  int eventBase = 0, errorBase = 0;
  if (XFixesQueryExtension(dpy, &eventBase, &errorBase)) {
    if (XFixesCursorImage *cursor = XFixesGetCursorImage(dpy)) {
      hidden = true;
      for (size_t i = 0; i < size_t(cursor->width) * cursor->height; i++) hidden = hidden && (cursor->pixels[i] >> 24) == 0;
      XFree(cursor);
    }
  }
  XCloseDisplay(dpy);
  return hidden;
}
