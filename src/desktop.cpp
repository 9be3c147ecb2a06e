// What kind of X server the demo runs on.
#include "desktop.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstring>
#include <string_view>

bool desktopIsXwayland(const char *displayName) {
  Display *dpy = XOpenDisplay(displayName);
  if (dpy == nullptr) return false;
  bool xwayland = false;
  int eventBase = 0, errorBase = 0;
  if (XRRQueryExtension(dpy, &eventBase, &errorBase)) {
    XRRScreenResources *res = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy));
    for (int i = 0; res != nullptr && i < res->noutput && !xwayland; ++i) {
      XRROutputInfo *output = XRRGetOutputInfo(dpy, res, res->outputs[i]);
      if (output == nullptr) continue;
      xwayland = std::string_view(output->name, size_t(output->nameLen)).starts_with("XWAYLAND");
      XRRFreeOutputInfo(output);
    }
    if (res != nullptr) XRRFreeScreenResources(res);
  }
  XCloseDisplay(dpy);
  return xwayland;
}

const char *desktopDisplayArgument(int argc, char **argv) {
  const char *name = nullptr;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "-display") == 0) name = argv[++i];
  }
  return name;
}
