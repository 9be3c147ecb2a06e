// The X display to draw on: checking that one answers with GLX and room enough, and starting
// and stopping an Xvfb of our own where there is none.
#ifndef PARKHAUS_TOOLS_XVFB_H
#define PARKHAUS_TOOLS_XVFB_H

#include <sys/types.h>

#include <string>

// An X server we started; pid is -1 when none runs.
struct XvfbServer {
  pid_t pid = -1;
  std::string display;
};

// True when the named display (null: $DISPLAY) answers, offers GLX and has a screen of at
// least width x height; otherwise false with the reason. A usable display's connection is held
// open until xvfbReleaseDisplay, so that the next connection is not made right after a close.
bool xvfbDisplayUsable(const char *name, int width, int height, std::string &why);
void xvfbReleaseDisplay(void);

// Starts "Xvfb -displayfd" on a free display number with a 24-bit screen of at least
// width x height, in a process group of its own (so a Ctrl-C at the terminal reaches only us)
// and set to end when we do. Waits until it answers.
bool xvfbStart(int width, int height, XvfbServer &server, std::string &error);

// Ends the server and waits for it.
void xvfbStop(XvfbServer &server);

#endif
