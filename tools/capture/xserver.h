// The X display the capture draws on: the user's when it answers, otherwise an Xvfb of our own.
#ifndef PARKHAUS_CAPTURE_XSERVER_H
#define PARKHAUS_CAPTURE_XSERVER_H

#include <sys/types.h>

#include <string>

// An X server started by the tool; pid is -1 when none runs.
struct CaptureXServer {
  pid_t pid = -1;
  std::string display;
};

// True when the named display (null: $DISPLAY) answers, offers GLX and has a screen of at
// least width x height; otherwise false with the reason. A usable display's connection is held
// open until captureReleaseDisplay, so that the next connection is not made right after a close.
bool captureDisplayUsable(const char *name, int width, int height, std::string &why);
void captureReleaseDisplay(void);

// Starts "Xvfb -displayfd" on a free display number with a 24-bit screen of at least
// width x height, in a process group of its own (so a Ctrl-C at the terminal reaches only us)
// and set to end when we do. Waits until it answers.
bool captureStartXvfb(int width, int height, CaptureXServer &server, std::string &error);

// Ends the server and waits for it.
void captureStopXvfb(CaptureXServer &server);

// Finds an executable on the PATH; empty when there is none.
std::string captureFindProgram(const char *name);

#endif
