// The GL test harness and the main() of every GL test binary.
#include "gltest.h"

#include <png.h>

#include <cstdio>

#include "globals.h"

static int gArgc = 1;
static char gArg0[] = "parkhaus-test";
static char *gArgv[] = {gArg0, nullptr};

void gltestResetGlobals() {
  t = 0.0f;
  startTime = 0;
  cam[0] = 0.0f;
  cam[1] = 0.0f;
  cam[2] = 5.0f;
  shadeModel = GL_SMOOTH;
  aspect = 1.0;
}

void GlTest::SetUp() {
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(kGlTestWidth, kGlTestHeight);
  glutInitWindowPosition(0, 0);
  window = glutCreateWindow("parkhaus-test");
  glutSetWindow(window);
  glViewport(0, 0, kGlTestWidth, kGlTestHeight);
  gltestResetGlobals();
}

void GlTest::TearDown() {
  glFinish();
  if (window) glutDestroyWindow(window);
  glutMainLoopEvent();
  window = 0;
}

std::vector<uint8_t> gltestReadPixels(GLenum buffer, int x, int y, int w, int h) {
  std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
  glFinish();
  glReadBuffer(buffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  return rgba;
}

std::array<uint8_t, 4> gltestPixel(GLenum buffer, int x, int y) {
  auto p = gltestReadPixels(buffer, x, y, 1, 1);
  return {p[0], p[1], p[2], p[3]};
}

std::array<float, 16> gltestMatrix(GLenum which) {
  std::array<float, 16> m{};
  glGetFloatv(which, m.data());
  return m;
}

bool gltestWritePng(const std::string &path, const std::vector<uint8_t> &rgba, int w, int h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = PNG_FORMAT_RGBA;
  // Negative stride: GL's rows run bottom to top; libpng itself starts at the last
  // row in memory, so the buffer is passed from its first byte.
  if (rgba.size() < static_cast<size_t>(w) * h * 4) return false;
  return png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), -w * 4, nullptr) != 0;
}

std::vector<float> gltestFeedback(void (*draw)(), GLenum type) {
  std::vector<float> buffer(1 << 20);
  glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), type, buffer.data());
  glRenderMode(GL_FEEDBACK);
  draw();
  GLint n = glRenderMode(GL_RENDER);
  if (n < 0) n = 0;
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

int main(int argc, char **argv) {
  glutInit(&gArgc, gArgv);
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
