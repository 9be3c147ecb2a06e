// Helpers for the frame tests.
#include "framecheck.h"

#include <png.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "globals.h"
#include "main.h"
#include "parkhaus.h"

// The wall table as the module starts with it, so a test that edits it cannot leak into the next.
static const std::array<float, 24> kWallVerticesAtStart = [] {
  std::array<float, 24> a{};
  std::memcpy(a.data(), parkhausWallVertices, sizeof parkhausWallVertices);
  return a;
}();

std::vector<FbPrim> feedback(const std::function<void()> &draw) {
  std::vector<float> buffer(1 << 20);
  glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR_TEXTURE, buffer.data());
  glRenderMode(GL_FEEDBACK);
  draw();
  GLint n = glRenderMode(GL_RENDER);
  EXPECT_GE(n, 0) << "feedback buffer overflowed";
  std::vector<FbPrim> prims;
  size_t i = 0;
  const size_t end = n > 0 ? static_cast<size_t>(n) : 0;
  auto vertex = [&](FbPrim &p) {
    if (i + 11 > end) {
      ADD_FAILURE() << "feedback vertex cut short";
      i = end;
      return;
    }
    FbVertex v;
    std::memcpy(&v, &buffer[i], sizeof v);
    static_assert(sizeof(FbVertex) == 11 * sizeof(float));
    p.v.push_back(v);
    i += 11;
  };
  while (i < end) {
    const auto token = static_cast<GLenum>(buffer[i++]);
    FbPrim p{token, {}};
    switch (token) {
    case GL_POLYGON_TOKEN: {
      const int count = static_cast<int>(buffer[i++]);
      for (int k = 0; k < count; ++k) vertex(p);
      break;
    }
    case GL_POINT_TOKEN:
    case GL_BITMAP_TOKEN:
    case GL_DRAW_PIXEL_TOKEN:
    case GL_COPY_PIXEL_TOKEN:
      vertex(p);
      break;
    case GL_LINE_TOKEN:
    case GL_LINE_RESET_TOKEN:
      vertex(p);
      vertex(p);
      break;
    case GL_PASS_THROUGH_TOKEN:
      ++i;
      break;
    default:
      ADD_FAILURE() << "unknown feedback token " << token;
      i = end;
      break;
    }
    prims.push_back(std::move(p));
  }
  return prims;
}

std::vector<FbVertex> polygonVertices(const std::vector<FbPrim> &prims) {
  std::vector<FbVertex> out;
  for (const FbPrim &p : prims) {
    if (p.token == GL_POLYGON_TOKEN) out.insert(out.end(), p.v.begin(), p.v.end());
  }
  return out;
}

std::string matchVertexSet(const std::vector<FbVertex> &got, const std::vector<Expect> &want, float posTol,
                           float texTol) {
  auto same = [&](const FbVertex &v, const Expect &e) {
    return std::fabs(v.x - e.x) <= posTol && std::fabs(v.y - e.y) <= posTol && std::fabs(v.s - e.s) <= texTol &&
           std::fabs(v.t - e.t) <= texTol;
  };
  std::ostringstream msg;
  // Every emitted vertex must be one of the expected ones (a quad split into triangles repeats some).
  for (const FbVertex &v : got) {
    bool found = false;
    for (const Expect &e : want) found = found || same(v, e);
    if (!found) {
      msg << "unexpected vertex at (" << v.x << ", " << v.y << ") st (" << v.s << ", " << v.t << ")\n";
    }
  }
  // And every expected vertex must be emitted.
  for (const Expect &e : want) {
    bool found = false;
    for (const FbVertex &v : got) found = found || same(v, e);
    if (!found) msg << "missing vertex at (" << e.x << ", " << e.y << ") st (" << e.s << ", " << e.t << ")\n";
  }
  return msg.str();
}

void TestMesh::triangle(std::array<float, 9> xyz, std::array<float, 3> n, std::array<float, 2> st) {
  for (int k = 0; k < 3; ++k) {
    data.insert(data.end(), {st[0], st[1], n[0], n[1], n[2], xyz[k * 3], xyz[k * 3 + 1], xyz[k * 3 + 2]});
  }
}

util_oia_t *TestMesh::finish() {
  oia.format = GL_T2F_N3F_V3F;
  oia.stride = 0;
  oia.primitive = GL_TRIANGLES;
  oia.count = static_cast<GLint>(data.size() / 8);
  oia.data = data.data();
  return &oia;
}

GLuint makeTexture(int w, int h, const std::vector<uint8_t> &rgba) {
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  return name;
}

GLuint makeSolidTexture(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  std::vector<uint8_t> rgba;
  for (int k = 0; k < 4 * 4; ++k) rgba.insert(rgba.end(), {r, g, b, a});
  return makeTexture(4, 4, rgba);
}

static void clearDemoGlobals() {
  for (GLuint &name : texture) name = 0;
  texLogo = texParkhaus = texSuckBack = texSuck = texSuckFront = 0;
  object = object2 = object3 = nullptr;
  std::memcpy(parkhausWallVertices, kWallVerticesAtStart.data(), sizeof parkhausWallVertices);
}

void FrameTest::SetUp() {
  GlTest::SetUp();
  clearDemoGlobals();
}

void FrameTest::TearDown() {
  clearDemoGlobals();
  GlTest::TearDown();
}

// Finds the colour buffer that holds a frame after glutSwapBuffers: the front buffer where it can
// be read, else the back buffer where the swap copies (Mesa's software rasteriser under Xvfb).
static GLenum findShownBuffer() {
  const int want[3] = {0x12, 0x9a, 0x56};
  glClearColor(want[0] / 255.0f, want[1] / 255.0f, want[2] / 255.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glutSwapBuffers();
  for (GLenum buffer : {GL_FRONT, GL_BACK}) {
    auto p = gltestPixel(buffer, 0, 0);
    if (std::abs(p[0] - want[0]) <= 1 && std::abs(p[1] - want[1]) <= 1 && std::abs(p[2] - want[2]) <= 1) {
      return buffer;
    }
  }
  return 0;
}

void FrameTest::startDemoState() {
  glutDisplayFunc([] {});
  glutMainLoopEvent();
  shownBuffer = findShownBuffer();
  ASSERT_NE(shownBuffer, 0u) << "no colour buffer holds the picture after a swap";
  glInit();
  reshapeCallBack(kGlTestWidth, kGlTestHeight);
}

std::vector<uint8_t> FrameTest::drawFrame(float at) {
  t = at;
  displayCallBack();
  return gltestReadPixels(shownBuffer, 0, 0, kGlTestWidth, kGlTestHeight);
}

std::array<int, 4> px(const std::vector<uint8_t> &rgba, int x, int y) {
  const size_t i = (static_cast<size_t>(y) * kGlTestWidth + x) * 4;
  return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
}

std::string dumpPicture(const std::vector<uint8_t> &rgba, const std::string &name) {
  std::string path = ::testing::TempDir() + "frame-" + name + ".png";
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kGlTestWidth;
  image.height = kGlTestHeight;
  image.format = PNG_FORMAT_RGBA;
  // Negative stride: rows run bottom to top; libpng takes the buffer's start all the same.
  png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), -kGlTestWidth * 4, nullptr);
  return path;
}

std::array<double, 3> project(double x, double y, double z) {
  GLdouble mv[16], pr[16];
  GLint vp[4];
  glGetDoublev(GL_MODELVIEW_MATRIX, mv);
  glGetDoublev(GL_PROJECTION_MATRIX, pr);
  glGetIntegerv(GL_VIEWPORT, vp);
  std::array<double, 3> w{};
  gluProject(x, y, z, mv, pr, vp, &w[0], &w[1], &w[2]);
  return w;
}
