// The GL test harness and the main() of every GL test binary.
#include "gltest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "files.h"
#include "globals.h"
#include "main.h"
#include "pngwrite.h"
#include "xvfb.h"

// Every global of the demo, where it lives and how large it is; their values as the program starts
// are taken in main() before any test runs, so globals.cpp stays the one place that gives them.
#define GLOBAL(name) std::pair<void *, size_t>(&name, sizeof name)
static const std::pair<void *, size_t> kGlobals[] = {
    GLOBAL(t),           GLOBAL(startTime),     GLOBAL(cam),          GLOBAL(shadeModel),   GLOBAL(aspect),
    GLOBAL(fovy),        GLOBAL(zNear),         GLOBAL(zFar),         GLOBAL(lightAmbient), GLOBAL(lightDiffuse),
    GLOBAL(lightPosition), GLOBAL(matEmission), GLOBAL(texture),      GLOBAL(texLogo),      GLOBAL(texParkhaus),
    GLOBAL(texSuckBack), GLOBAL(texSuck),       GLOBAL(texSuckFront), GLOBAL(object),       GLOBAL(object2),
    GLOBAL(object3),     GLOBAL(pzl),           GLOBAL(mus)};
#undef GLOBAL
static std::vector<std::vector<uint8_t>> gAtStart;

// Copies the globals' start values aside.
static void gltestSaveGlobals() {
  for (const auto &[at, size] : kGlobals) {
    const auto *bytes = static_cast<const uint8_t *>(at);
    gAtStart.emplace_back(bytes, bytes + size);
  }
}

void gltestResetGlobals() {
  for (size_t i = 0; i < gAtStart.size(); i++) memcpy(kGlobals[i].first, gAtStart[i].data(), kGlobals[i].second);
}

void GlTest::SetUp() {
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(kGlTestWidth, kGlTestHeight);
  glutInitWindowPosition(0, 0);
  window = glutCreateWindow("parkhaus-test");
  glutDisplayFunc([] {});
  glutMainLoopEvent();
  glViewport(0, 0, kGlTestWidth, kGlTestHeight);
  gltestResetGlobals();
}

void GlTest::TearDown() {
  glFinish();
  if (window) glutDestroyWindow(window);
  glutMainLoopEvent();
  window = 0;
  gltestResetGlobals();
}

std::vector<uint8_t> gltestReadPixels(GLenum buffer, int x, int y, int w, int h) {
  std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
  glFinish();
  glReadBuffer(buffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  return rgba;
}

std::array<float, 16> gltestMatrix(GLenum which) {
  std::array<float, 16> m{};
  glGetFloatv(which, m.data());
  return m;
}

std::vector<float> gltestFeedback(void (*draw)()) {
  std::vector<float> buffer(1 << 20);
  glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR_TEXTURE, buffer.data());
  glRenderMode(GL_FEEDBACK);
  draw();
  const GLint n = glRenderMode(GL_RENDER);
  buffer.resize(static_cast<size_t>(n < 0 ? 0 : n));
  return buffer;
}

void gltestStartDemo() {
  glInit();
  reshapeCallBack(kGlTestWidth, kGlTestHeight);
}

// The swap copies the back buffer to the window; under Mesa's software rasteriser the front
// buffer then reads back black, so the picture is read from the back buffer.
std::vector<uint8_t> gltestDrawFrame(float at) {
  t = at;
  displayCallBack();
  return gltestReadPixels(GL_BACK, 0, 0, kGlTestWidth, kGlTestHeight);
}

std::array<int, 4> gltestAt(const std::vector<uint8_t> &rgba, int x, int y) {
  const size_t i = (static_cast<size_t>(y) * kGlTestWidth + x) * 4;
  return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
}

std::string gltestDump(const std::vector<uint8_t> &rgba, const std::string &name) {
  PngSpec spec;
  spec.width = kGlTestWidth;
  spec.height = kGlTestHeight;
  spec.pixels = PngPixels::Rgba;
  std::vector<const uint8_t *> rows;
  for (int y = kGlTestHeight - 1; y >= 0; y--) rows.push_back(&rgba[static_cast<size_t>(y) * kGlTestWidth * 4]);
  Bytes png;
  std::string path = ::testing::TempDir() + "frame-" + name + ".png", error;
  if (!pngEncodeRows(spec, rows.data(), png) || !fileWrite(path, png, error)) return "(not written)";
  return path;
}

// Starts an Xvfb of the binary's own, so tests never draw on a user's screen and parallel
// test binaries cannot disturb each other's windows and keys.
int main(int argc, char **argv) {
  gltestSaveGlobals();
  ::testing::InitGoogleTest(&argc, argv);
  XvfbServer server;
  std::string error;
  if (!xvfbStart(kGlTestWidth, kGlTestHeight, server, error)) {
    fprintf(stderr, "GL tests need an X server: %s\n", error.c_str());
    return 1;
  }
  setenv("DISPLAY", server.display.c_str(), 1);
  static int glutArgc = 1;
  static char arg0[] = "parkhaus-test";
  static char *glutArgv[] = {arg0, nullptr};
  glutInit(&glutArgc, glutArgv);
  xvfbReleaseDisplay();
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
  const int failed = RUN_ALL_TESTS();
  glutExit();
  xvfbStop(server);
  return failed;
}
