// The real demo executable run by the end-to-end tests on the harness's X display, watched and
// driven as a viewer would: its window, its screen, its output and real key presses.
#ifndef PARKHAUS_DEMOPROC_H
#define PARKHAUS_DEMOPROC_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// One run of the demo; the destructor ends it if it still runs.
struct DemoRun {
  pid_t pid = -1;
  int log = -1;  // standard output and error, on an unlinked temporary file
  int status = -1;
  ~DemoRun();
};

// Starts the demo in workdir with NAME=value settings added to the environment.
bool demoStart(DemoRun &demo, const std::string &workdir, const std::vector<std::string> &env);

// Waits for the demo's window; its X id, empty on timeout.
std::string demoWaitWindow(double seconds);

// Focuses the window and presses one key (an X key name such as "q", "Escape" or "shift+q").
void demoKey(const std::string &window, const std::string &key);

// True while the demo runs.
bool demoAlive(DemoRun &demo);

// Waits for the demo to end; its exit status, or -1 (after killing it) on timeout.
int demoWaitExit(DemoRun &demo, double seconds);

// What the demo printed so far.
std::string demoOutput(const DemoRun &demo);

// The whole X screen as RGB bytes, top row first.
std::vector<uint8_t> demoScreenshot(int &width, int &height);

#endif
