// The real demo program run as a viewer runs it, its window found and its keys pressed with
// xdotool, and its pictures read back through Xlib: for the end-to-end and desktop tests and the
// launch benchmark.
#ifndef PARKHAUS_TOOLS_DEMORUN_H
#define PARKHAUS_TOOLS_DEMORUN_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "process.h"

// One run of the demo program exe in workdir, with NAME=value settings added to its environment
// and plain NAMEs taken out of it; the destructor ends it if it still runs.
struct DemoRun {
  pid_t pid = -1;
  int log = -1;  // standard output and error, on an unlinked temporary file
  int status = -1;
  DemoRun(const std::string &exe, const std::string &workdir, const std::vector<std::string> &env);
  ~DemoRun();
  DemoRun(const DemoRun &) = delete;
  DemoRun &operator=(const DemoRun &) = delete;
  // Waits for the demo to end, at most the given seconds (0: only looks); its exit status, -1
  // while it runs.
  int wait(double seconds);
  // What the demo printed so far.
  std::string output() const;
};

// Waits for the demo's visible window on $DISPLAY, looking every pollMs; its X id in decimal,
// empty on timeout.
std::string demoWaitWindow(double seconds, int pollMs = 100);

// Focuses the window and presses one key (an X key name such as "q", "Escape" or "shift+q"). With
// toWindow the key event is sent to the window itself, wherever the desktop has put the focus.
void demoKey(const std::string &window, const std::string &key, bool toWindow = false);

// A window's (or the root's, for window 0) pixels on $DISPLAY, one 24-bit colour each, row by
// row; empty when it cannot be read.
struct DemoPicture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
};
DemoPicture demoGrab(unsigned long window);

// Waits until two grabs of the window at the same size show a moving picture: more than half of
// it lit, and more than 1 % of it changed since the first. False, saying why in `why`, after the deadline.
bool demoWaitMovingPicture(unsigned long window, double seconds, std::string &why);

// Waits until the window covers its screen exactly, from the top-left corner; false, saying where
// it lies in `why`, after the deadline.
bool demoWaitCoversScreen(unsigned long window, double seconds, std::string &why);

// True when the cursor that $DISPLAY shows now is invisible: every pixel of its image transparent.
bool demoCursorHidden();

#endif
