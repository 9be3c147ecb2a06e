// Runs the real demo executable under the test's X display and talks to it as a user would.
#ifndef PARKHAUS_DEMOPROC_H
#define PARKHAUS_DEMOPROC_H

#include <sys/types.h>

#include <string>
#include <vector>

struct DemoProcess {
  pid_t pid = -1;
  int exitStatus = -1;     // set once the process has been reaped; -1 for a signal or not yet
  std::string outputPath;  // standard output and standard error of the demo
};

// Starts the demo (or another program given as program) in workdir with extra NAME=value settings.
bool demoStart(DemoProcess &demo, const std::string &workdir, const std::vector<std::string> &env = {},
               const std::string &program = PARKHAUS_EXE);

// Waits for the demo's window to appear; returns its X id as text, empty on timeout.
std::string demoWaitWindow(double seconds);

// Sends one key (an X key name such as "q" or "Escape") to the window with xdotool.
void demoSendKey(const std::string &window, const std::string &key);

// True while the process runs.
bool demoAlive(DemoProcess &demo);

// Waits for the process to end; returns its exit status, or -1 (after killing it) on timeout or a signal.
int demoWaitExit(DemoProcess &demo, double seconds);

// What the demo printed so far.
std::string demoOutput(const DemoProcess &demo);

// The whole X screen as RGB bytes, top row first; width and height are set.
std::vector<unsigned char> demoScreenshot(int &width, int &height);

#endif
