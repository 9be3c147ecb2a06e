// How long a viewer waits: from starting the built demo to its window on the screen and to a
// moving picture in it, and from Escape (once sent) to the process gone. Each run starts the
// program afresh on an Xvfb of the benchmark's own, with SDL's dummy sound driver unless
// SDL_AUDIODRIVER is set; the window is looked for every 5 ms and the screen grabbed every 50 ms,
// so those figures are upper bounds by that much.
//
// Usage: bench_launch [runs]   (default 11)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "demorun.h"
#include "xvfb.h"

// Milliseconds on the steady clock.
static double nowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The median, fastest and slowest of the figures, as one column of the table.
static std::string summary(std::vector<double> v) {
  if (v.empty()) return "(no run finished)";
  std::sort(v.begin(), v.end());
  char text[96];
  snprintf(text, sizeof text, "%8.1f %8.1f %8.1f", v[v.size() / 2], v.front(), v.back());
  return text;
}

int main(int argc, char **argv) {
  const int runs = argc > 1 && atoi(argv[1]) > 0 ? atoi(argv[1]) : 11;
  XvfbServer server;
  std::string error;
  if (!xvfbStart(640, 480, server, error)) return fprintf(stderr, "bench_launch: %s\n", error.c_str()), 1;
  setenv("DISPLAY", server.display.c_str(), 1);
  // The sound driver the caller set, or SDL's dummy one, so that no run is heard.
  const std::vector<std::string> sound = getenv("SDL_AUDIODRIVER") ? std::vector<std::string>{} : std::vector<std::string>{"SDL_AUDIODRIVER=dummy"};
  std::vector<double> window, picture, quit;
  for (int i = 0; i < runs; i++) {
    const double start = nowMs();
    DemoRun demo(PARKHAUS_EXE, PARKHAUS_SOURCE_DIR, sound);
    const std::string id = demoWaitWindow(60.0, 5);
    if (id.empty()) continue;
    window.push_back(nowMs() - start);
    std::string why;
    if (!demoWaitMovingPicture(0, 60.0, why)) continue;
    picture.push_back(nowMs() - start);
    demoKey(id, "Escape");
    const double escape = nowMs();  // xdotool has sent the key
    if (demo.wait(60.0) == 0) quit.push_back(nowMs() - escape);
  }
  xvfbStop(server);
  printf("bench_launch: %d runs on Xvfb 640x480, milliseconds as median, fastest, slowest\n", runs);
  printf("  start to window shown:   %s\n", summary(window).c_str());
  printf("  start to moving picture: %s\n", summary(picture).c_str());
  printf("  Escape to process gone:  %s\n", summary(quit).c_str());
  return window.size() == size_t(runs) && quit.size() == size_t(runs) ? 0 : 1;
}
