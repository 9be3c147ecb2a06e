// parkhaus-render: draws the demo's frames in sequence from t = 0 at a fixed frame rate, with the
// real start-up and display callback, and writes chosen frames as PNG files.
#include <GL/freeglut.h>
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "globals.h"
#include "main.h"

namespace {

struct RenderOptions {
  int width = 640;
  int height = 480;
  double fps = 60.0;
  std::vector<long> frames;  // frame numbers to write, ascending, no duplicates
  std::string outDir = ".";
};

// One frame read back from the screen: RGBA rows, bottom row first, as GL returns them.
struct RenderedFrame {
  long number;
  float time;
  int width;
  int height;
  const std::vector<unsigned char> &rgba;
};

void usage(FILE *to) {
  fprintf(to,
          "usage: parkhaus-render [--size WxH] [--fps N] [--frames LIST] [--out DIR]\n"
          "  --size WxH    picture size in pixels (default 640x480)\n"
          "  --fps N       frames per second of the demo clock (default 60)\n"
          "  --frames LIST comma-separated frames to write: a frame number (150) or seconds\n"
          "                with an 's' (2.5s); default 0\n"
          "  --out DIR     folder for frame-NNNNNN.png (default .)\n"
          "Every frame from 0 up to the last one asked for is drawn, since the demo carries\n"
          "GL state from one frame to the next. Run it from the folder that holds data/.\n");
}

bool parseInt(std::string_view text, long &out) {
  if (text.empty()) return false;
  std::string s(text);
  char *end = nullptr;
  errno = 0;
  long v = strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

bool parseDouble(std::string_view text, double &out) {
  if (text.empty()) return false;
  std::string s(text);
  char *end = nullptr;
  errno = 0;
  double v = strtod(s.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  out = v;
  return true;
}

// Turns "0,2.5s,150" into frame numbers at the given rate.
bool parseFrames(std::string_view list, double fps, std::vector<long> &out) {
  out.clear();
  while (!list.empty()) {
    size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (item.empty()) return false;
    long frame = 0;
    if (item.back() == 's') {
      double seconds = 0;
      if (!parseDouble(item.substr(0, item.size() - 1), seconds) || seconds < 0 || seconds > 1e6) return false;
      frame = std::lround(seconds * fps);
    } else if (!parseInt(item, frame) || frame < 0) {
      return false;
    }
    out.push_back(frame);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return !out.empty();
}

bool parseArgs(int argc, char **argv, RenderOptions &o) {
  std::string frameList = "0";
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--help" || a == "-h") {
      usage(stdout);
      exit(0);
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "parkhaus-render: %s needs a value\n", argv[i]);
      return false;
    }
    std::string_view v = argv[++i];
    if (a == "--size") {
      size_t x = v.find('x');
      long w = 0, h = 0;
      if (x == std::string_view::npos || !parseInt(v.substr(0, x), w) || !parseInt(v.substr(x + 1), h) ||
          w < 1 || h < 1 || w > 8192 || h > 8192) {
        fprintf(stderr, "parkhaus-render: bad size '%s' (want WxH, e.g. 640x480)\n", argv[i]);
        return false;
      }
      o.width = static_cast<int>(w);
      o.height = static_cast<int>(h);
    } else if (a == "--fps") {
      if (!parseDouble(v, o.fps) || o.fps <= 0 || o.fps > 10000) {
        fprintf(stderr, "parkhaus-render: bad frame rate '%s'\n", argv[i]);
        return false;
      }
    } else if (a == "--frames") {
      frameList = std::string(v);
    } else if (a == "--out") {
      o.outDir = std::string(v);
    } else {
      fprintf(stderr, "parkhaus-render: unknown option %s\n", argv[i - 1]);
      return false;
    }
  }
  if (!parseFrames(frameList, o.fps, o.frames)) {
    fprintf(stderr, "parkhaus-render: bad frame list '%s'\n", frameList.c_str());
    return false;
  }
  return true;
}

// Writes RGBA rows (bottom row first) as a PNG file.
bool writePng(const std::string &path, const std::vector<unsigned char> &rgba, int w, int h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = PNG_FORMAT_RGB;
  // GL reads RGBA; the file keeps RGB, since the demo's alpha is not part of the picture.
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0, n = static_cast<size_t>(w) * h; i < n; ++i) {
    std::memcpy(&rgb[i * 3], &rgba[i * 4], 3);
  }
  // A negative stride tells libpng that the rows run bottom to top; it still takes the buffer's start.
  return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), -w * 3, nullptr) != 0;
}

// Where the frame being drawn is read into, or null when this frame is not wanted.
std::vector<unsigned char> *gReadInto = nullptr;
int gReadWidth = 0, gReadHeight = 0;

}  // namespace

extern "C" void __real_glutSwapBuffers(void);

// The demo's buffer swap, wrapped at link time: a wanted frame is read from the back buffer
// while it is still there, then the swap goes on as usual.
extern "C" void __wrap_glutSwapBuffers(void) {
  if (gReadInto) {
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, gReadWidth, gReadHeight, GL_RGBA, GL_UNSIGNED_BYTE, gReadInto->data());
  }
  __real_glutSwapBuffers();
}

namespace {

// Draws frames 0..last in sequence with t = k / fps through the demo's own display callback
// and hands each frame the caller wants to onFrame; stops early when onFrame returns false.
template <typename OnFrame>
bool renderSequence(const RenderOptions &o, long last, const std::vector<long> &wanted, OnFrame onFrame) {
  std::vector<unsigned char> rgba(static_cast<size_t>(o.width) * o.height * 4);
  gReadWidth = o.width;
  gReadHeight = o.height;
  size_t next = 0;
  for (long k = 0; k <= last; ++k) {
    const bool want = next < wanted.size() && wanted[next] == k;
    t = static_cast<float>(static_cast<double>(k) / o.fps);
    gReadInto = want ? &rgba : nullptr;
    displayCallBack();
    gReadInto = nullptr;
    glutMainLoopEvent();
    if (want) {
      if (!onFrame(RenderedFrame{k, t, o.width, o.height, rgba})) return false;
      ++next;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  RenderOptions o;
  if (!parseArgs(argc, argv, o)) {
    usage(stderr);
    return 2;
  }
  if (!getenv("DISPLAY")) {
    fprintf(stderr, "parkhaus-render: no X display (set DISPLAY, e.g. to an Xvfb screen)\n");
    return 1;
  }
  struct stat st;
  if (stat(o.outDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    fprintf(stderr, "parkhaus-render: output folder %s does not exist\n", o.outDir.c_str());
    return 1;
  }

  int glutArgc = 1;
  char arg0[] = "parkhaus-render";
  char *glutArgv[] = {arg0, nullptr};
  glutInit(&glutArgc, glutArgv);
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(o.width, o.height);
  glutInitWindowPosition(0, 0);
  int window = glutCreateWindow("parkhaus-render");
  glutSetWindow(window);
  // Frames are drawn by the loop below; GLUT's own redisplay events are ignored.
  glutDisplayFunc([] {});
  glutMainLoopEvent();

  glInit();
  myInit();
  reshapeCallBack(o.width, o.height);

  int written = 0;
  bool ok = renderSequence(o, o.frames.back(), o.frames, [&](const RenderedFrame &f) {
    char name[64];
    snprintf(name, sizeof name, "/frame-%06ld.png", f.number);
    std::string path = o.outDir + name;
    if (!writePng(path, f.rgba, f.width, f.height)) {
      fprintf(stderr, "parkhaus-render: cannot write %s\n", path.c_str());
      return false;
    }
    printf("%s  (frame %ld, t = %.3f s)\n", path.c_str(), f.number, static_cast<double>(f.time));
    ++written;
    return true;
  });
  glutDestroyWindow(window);
  if (!ok) {
    fprintf(stderr, "parkhaus-render: stopped after %d of %zu frames\n", written, o.frames.size());
    return 1;
  }
  return 0;
}
