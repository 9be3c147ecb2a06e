// Capture speed at 640 x 480 (PNG frames, MP4) against the frames per second of the demo's own loop.
#include <GL/freeglut.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "globals.h"
#include "main.h"
#include "progress.h"
#include "xserver.h"

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

// The demo as main() runs it (window instead of game mode), counting swaps over a fixed span
// that begins one second in, so start-up and the first frames are not part of it.
static double demoFps(void) {
  static int argc = 1;
  static char arg0[] = "bench_capture";
  static char *argv[] = {arg0, nullptr};
  glutInit(&argc, argv);
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(640, 480);
  glutInitWindowPosition(0, 0);
  glutCreateWindow("bench_capture");
  captureReleaseDisplay();
  glInit();
  myInit();
  glutDisplayFunc(displayCallBack);
  glutReshapeFunc(reshapeCallBack);
  glutKeyboardFunc(keyboardCallBack);
  glutIdleFunc(idleCallBack);
  glutTimerFunc(1000, stopTimer, 0);
  glutMainLoop();  // returns after glutLeaveMainLoop, having closed the window and the display
  double seconds = captureNow() - gLoopStart;
  long swaps = gSwaps - gSwapsAtStart;
  return static_cast<double>(swaps) / seconds;
}

// Runs the capture tool and returns the wall-clock seconds it took; its own report is kept in line.
static double runCapture(const std::vector<std::string> &args, std::string &line) {
  std::string cmd = std::string("cd '") + PROJECT_ROOT + "' && '" + CAPTURE_EXE + "'";
  for (const std::string &a : args) cmd += " '" + a + "'";
  cmd += " 2>&1 | grep 'parkhaus-capture: wrote'";
  double begin = captureNow();
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return -1.0;
  char buf[512];
  line.clear();
  while (fgets(buf, sizeof buf, p)) line += buf;
  int status = pclose(p);
  double took = captureNow() - begin;
  if (status != 0 || line.empty()) return -1.0;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  return took;
}

// The frame loop's rate as the tool reports it ("..., 61.2 frames/s").
static double reportedFps(const std::string &line) {
  size_t at = line.rfind(" frames/s");
  if (at == std::string::npos) return 0.0;
  size_t from = line.rfind(' ', at - 1);
  return atof(line.c_str() + from + 1);
}

// Load average over the last minute, since this machine's cores may be shared.
static double loadAverage(void) {
  double l[1] = {0.0};
  return getloadavg(l, 1) == 1 ? l[0] : -1.0;
}

// Measures the demo loop, then a PNG and an MP4 capture of the same span, and prints the figures.
int main(int argc, char **argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  double seconds = argc > 1 ? atof(argv[1]) : 10.0;
  if (seconds <= 0.0) seconds = 10.0;
  gLoopSeconds = seconds;
  if (chdir(PROJECT_ROOT) != 0) {
    perror(PROJECT_ROOT);
    return 1;
  }
  CaptureXServer server;
  std::string why, error;
  if (!captureDisplayUsable(nullptr, 640, 480, why)) {
    if (!captureStartXvfb(640, 480, server, error)) {
      fprintf(stderr, "bench_capture: no display (%s) and no Xvfb: %s\n", why.c_str(), error.c_str());
      return 1;
    }
    setenv("DISPLAY", server.display.c_str(), 1);
  }
  char dir[] = "/tmp/bench-capture-XXXXXX";
  if (!mkdtemp(dir)) {
    perror("mkdtemp");
    return 1;
  }
  char span[32];
  snprintf(span, sizeof span, "%g", seconds);
  const int frames = static_cast<int>(seconds * 60.0 + 0.5);
  printf("bench_capture: %d cores, load average %.2f, %s s spans at 640x480, 60 fps\n",
         static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)), loadAverage(), span);

  const double demo = demoFps();
  printf("  demo loop (idle + display callbacks, swaps counted): %7.1f frames/s\n", demo);

  std::string line;
  double png = runCapture({"--png", "--duration", span, "--out", std::string(dir) + "/frames"}, line);
  if (png > 0.0) {
    printf("  capture to PNG frames:  frame loop %7.1f frames/s, whole run %7.1f frames/s (%.1f s)\n",
           reportedFps(line), frames / png, png);
  } else {
    printf("  capture to PNG frames:  failed\n");
  }
  double mp4 = runCapture({"--mp4", "--duration", span, "--out", std::string(dir) + "/a.mp4"}, line);
  if (mp4 > 0.0) {
    printf("  capture to MP4:         frame loop %7.1f frames/s, whole run %7.1f frames/s (%.1f s)\n",
           reportedFps(line), frames / mp4, mp4);
  } else {
    printf("  capture to MP4:         failed (is ffmpeg there?)\n");
  }
  printf("  load average afterwards %.2f\n", loadAverage());
  std::string rm = std::string("rm -rf '") + dir + "'";
  if (system(rm.c_str()) != 0) fprintf(stderr, "bench_capture: could not remove %s\n", dir);
  captureStopXvfb(server);
  return 0;
}
