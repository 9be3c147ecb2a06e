// Capture speed at 640 x 480 (PNG frames, MP4) against the frames per second of the demo's own loop.
#include <GL/freeglut.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "globals.h"
#include "main.h"
#include "process.h"
#include "progress.h"
#include "tempfolder.h"
#include "xvfb.h"

static long gSwaps = 0;

extern "C" void __real_glutSwapBuffers(void);

// The demo's swap, counted.
extern "C" void __wrap_glutSwapBuffers(void) {
  gSwaps++;
  __real_glutSwapBuffers();
}

static double gLoopSeconds = 10.0;
static double gLoopStart = 0.0;
static long gSwapsAtStart = 0;

// Leaves the GLUT loop once the span is over; the first call marks its start.
static void stopTimer(int phase) {
  if (phase == 0) {
    gLoopStart = captureNow();
    gSwapsAtStart = gSwaps;
    glutTimerFunc(static_cast<unsigned>(gLoopSeconds * 1000.0), stopTimer, 1);
    return;
  }
  glutLeaveMainLoop();
}

// The demo as main() runs it, in a 640 x 480 window instead of game mode, counting swaps over a
// fixed span that begins one second in, so start-up and the first frames are not part of it.
static double demoFps(void) {
  static int argc = 1;
  static char arg0[] = "bench_capture";
  static char *argv[] = {arg0, nullptr};
  glutInit(&argc, argv);
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(640, 480);
  glutCreateWindow("bench_capture");
  xvfbReleaseDisplay();
  glInit();
  myInit();
  registerCallBacks();
  glutTimerFunc(1000, stopTimer, 0);
  glutMainLoop();  // returns after glutLeaveMainLoop, having closed the window and the display
  return static_cast<double>(gSwaps - gSwapsAtStart) / (captureNow() - gLoopStart);
}

// Runs the capture tool; returns the wall-clock seconds it took and its frame loop's own rate
// ("..., 61.2 frames/s" in its last line), or -1 when it failed.
static double timeCapture(const std::vector<std::string> &args, double &loopFps) {
  ProcSpec spec;
  spec.argv = {CAPTURE_EXE};
  spec.argv.insert(spec.argv.end(), args.begin(), args.end());
  const double begin = captureNow();
  const ProcResult r = procRun(spec, 600.0);
  const double took = captureNow() - begin;
  const size_t at = r.output.rfind(" frames/s");
  if (r.status != 0 || at == std::string::npos) return -1.0;
  loopFps = atof(r.output.c_str() + r.output.rfind(' ', at - 1) + 1);
  return took;
}

// Load average over the last minute, since this machine's cores may be shared.
static double loadAverage(void) {
  double l[1] = {0.0};
  return getloadavg(l, 1) == 1 ? l[0] : -1.0;
}

// Measures the demo loop, then a PNG and an MP4 capture of the same span, and prints the figures.
int main(int argc, char **argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const double seconds = argc > 1 && atof(argv[1]) > 0.0 ? atof(argv[1]) : 10.0;
  gLoopSeconds = seconds;
  XvfbServer server;
  std::string error;
  const bool usable = xvfbDisplayUsable(nullptr, 640, 480, error);
  if (chdir(PARKHAUS_SOURCE_DIR) != 0 || (!usable && !xvfbStart(640, 480, server, error))) {
    fprintf(stderr, "bench_capture: no display to draw on: %s\n", error.c_str());
    return 1;
  }
  if (!usable) setenv("DISPLAY", server.display.c_str(), 1);
  const TempFolder folder("bench-capture");
  const std::string dir = folder.str();
  if (dir.empty()) return perror("bench_capture: no temporary folder"), 1;
  const std::string span = std::to_string(seconds);
  const double frames = seconds * 60.0;
  printf("bench_capture: %d cores, load average %.2f, %g s spans at 640x480, 60 fps\n",
         static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)), loadAverage(), seconds);
  printf("  demo loop (idle + display callbacks, swaps counted): %7.1f frames/s\n", demoFps());
  const struct {
    const char *label, *format, *out;
  } runs[] = {{"PNG frames", "--png", "/frames"}, {"MP4       ", "--mp4", "/a.mp4"}};
  for (const auto &run : runs) {
    double loop = 0.0;
    const double took = timeCapture({run.format, "--duration", span, "--out", dir + run.out}, loop);
    if (took > 0.0) {
      printf("  capture to %s: frame loop %7.1f frames/s, whole run %7.1f frames/s (%.1f s)\n", run.label, loop,
             frames / took, took);
    } else {
      printf("  capture to %s: failed\n", run.label);
    }
  }
  printf("  load average afterwards %.2f\n", loadAverage());
  xvfbStop(server);
  return 0;
}
