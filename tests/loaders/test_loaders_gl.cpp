// The loaders in a real GL context: normals as feedback lines, textures as GL reports them,
// PNG textures from a pack, and start-up loading with and without the loose files.
#include <GL/glu.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "datadata.h"
#include "display.h"
#include "globals.h"
#include "gltest.h"
#include "loaderdata.h"
#include "main.h"
#include "util.h"

namespace {

// ---------------------------------------------------------------- builders

void put32be(Bytes &b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

void put32le(Bytes &b, uint32_t v) {
  for (int s = 0; s < 32; s += 8) b.push_back(static_cast<uint8_t>(v >> s));
}

void chunk(Bytes &png, const char *type, const Bytes &data) {
  put32be(png, static_cast<uint32_t>(data.size()));
  Bytes typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  png.insert(png.end(), typed.begin(), typed.end());
  put32be(png, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

// An 8-bit indexed PNG (filter 0 on every row) of the given indices, rows from the top.
Bytes indexedPng(int w, int h, const Bytes &indices, const std::vector<std::array<uint8_t, 3>> &palette) {
  Bytes png = {137, 80, 78, 71, 13, 10, 26, 10};
  Bytes ihdr;
  put32be(ihdr, static_cast<uint32_t>(w));
  put32be(ihdr, static_cast<uint32_t>(h));
  ihdr.insert(ihdr.end(), {8, 3, 0, 0, 0});
  chunk(png, "IHDR", ihdr);
  Bytes plte;
  for (auto &e : palette) plte.insert(plte.end(), e.begin(), e.end());
  chunk(png, "PLTE", plte);
  Bytes raw;
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), indices.begin() + y * w, indices.begin() + (y + 1) * w);
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes z(size);
  EXPECT_EQ(compress(z.data(), &size, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
  z.resize(size);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", {});
  return png;
}

// A pack image holding the named files, in the byte format the library reads.
Bytes packOf(const std::vector<std::pair<std::string, Bytes>> &files) {
  Bytes pack = {'Z', 'D', 'A', 'R', 0, 0, 0, 0};
  std::vector<uint32_t> offsets;
  for (auto &f : files) {
    offsets.push_back(static_cast<uint32_t>(pack.size()));
    pack.insert(pack.end(), {'D', 'A', 'T'});
    put32le(pack, static_cast<uint32_t>(f.second.size()));
    pack.insert(pack.end(), f.second.begin(), f.second.end());
  }
  uint32_t dir = static_cast<uint32_t>(pack.size());
  pack.insert(pack.end(), {'D', 'I', 'R', static_cast<uint8_t>(files.size()), 0});
  uint16_t nameAt = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    put32le(pack, offsets[i]);
    pack.push_back(static_cast<uint8_t>(nameAt & 0xff));
    pack.push_back(static_cast<uint8_t>(nameAt >> 8));
    nameAt = static_cast<uint16_t>(nameAt + files[i].first.size() + 1);
  }
  for (auto &f : files) {
    pack.insert(pack.end(), f.first.begin(), f.first.end());
    pack.push_back(0);
  }
  pack.insert(pack.end(), {'E', 'N', 'D'});
  put32le(pack, dir);
  uint32_t total = static_cast<uint32_t>(pack.size());
  for (int i = 0; i < 4; ++i) pack[4 + i] = static_cast<uint8_t>(total >> (8 * i));
  return pack;
}

std::string stdoutOf(void (*run)(void *), void *arg) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  run(arg);
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

GLint boundTexture() {
  GLint b = -1;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &b);
  return b;
}

GLint levelParam(GLenum p) {
  GLint v = -1;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, p, &v);
  return v;
}

GLint texParam(GLenum p) {
  GLint v = -1;
  glGetTexParameteriv(GL_TEXTURE_2D, p, &v);
  return v;
}

// The bound texture's level 0 as RGBA bytes, first row first.
Bytes texels(int w, int h) {
  Bytes out(static_cast<size_t>(w) * h * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
  return out;
}

// ---------------------------------------------------------------- normals

using LoaderGl = GlTest;

util_oia_t *gMesh = nullptr;

void drawMeshNormals() { util_oiaDrawNormals(gMesh); }

// Projects a point with the current matrices, as feedback reports window coordinates.
std::array<double, 3> project(const float p[3]) {
  GLdouble mv[16], pr[16];
  GLint vp[4];
  glGetDoublev(GL_MODELVIEW_MATRIX, mv);
  glGetDoublev(GL_PROJECTION_MATRIX, pr);
  glGetIntegerv(GL_VIEWPORT, vp);
  std::array<double, 3> w{};
  gluProject(p[0], p[1], p[2], mv, pr, vp, &w[0], &w[1], &w[2]);
  return w;
}

TEST_F(LoaderGl, NormalsAreLinesFromEachPositionAlongItsNormalLastVertexFirst) {
  // Two mode-6 vertices: (normal 0,0,1; position 1,2,3) and (normal -2,0.5,0; position -1,-1,0).
  float data[12] = {0, 0, 1, 1, 2, 3, -2, 0.5f, 0, -1, -1, 0};
  util_oia_t mesh{GL_N3F_V3F, 24, GL_TRIANGLES, 2, data};
  gMesh = &mesh;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-10, 10, -10, 10, -10, 10);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_LIGHTING);
  glColor4f(0.1f, 0.2f, 0.9f, 1.0f);

  std::vector<float> fb = gltestFeedback(drawMeshNormals, GL_3D_COLOR);
  // Each line: token, then two vertices of x, y, z and r, g, b, a.
  ASSERT_EQ(fb.size(), 2u * 15u);
  const float ends[4][3] = {{-1, -1, 0}, {-3, -0.5f, 0}, {1, 2, 3}, {1, 2, 4}};
  for (int line = 0; line < 2; ++line) {
    const float *l = fb.data() + 15 * line;
    EXPECT_TRUE(l[0] == GL_LINE_TOKEN || l[0] == GL_LINE_RESET_TOKEN) << l[0];
    for (int v = 0; v < 2; ++v) {
      const float *vert = l + 1 + 7 * v;
      auto w = project(ends[2 * line + v]);
      EXPECT_NEAR(vert[0], w[0], 1e-3);
      EXPECT_NEAR(vert[1], w[1], 1e-3);
      EXPECT_NEAR(vert[2], w[2], 1e-5);
      EXPECT_NEAR(vert[3], 0.7f, 1e-2);
      EXPECT_NEAR(vert[4], 0.3f, 1e-2);
      EXPECT_NEAR(vert[5], 0.3f, 1e-2);
      EXPECT_NEAR(vert[6], 0.8f, 1e-2);
    }
  }
  // The enables and the current colour come back as they were.
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  EXPECT_FLOAT_EQ(colour[0], 0.1f);
  EXPECT_FLOAT_EQ(colour[2], 0.9f);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(LoaderGl, NormalsOfMeshesWithoutThatLayoutMakeNoGlCall) {
  float data[24] = {};
  util_oia_t v3f{GL_V3F, 12, GL_TRIANGLES, 2, data};
  util_oia_t t2f{GL_T2F_N3F_V3F, 32, GL_TRIANGLES, 1, data};
  util_oia_t n3f{GL_N3F_V3F, 24, GL_TRIANGLES, 1, data};
  // Between glBegin and glEnd every state call is an error, so any GL call but a vertex shows up.
  auto callsGl = [](util_oia_t *m) {
    while (glGetError() != GL_NO_ERROR) {
    }
    glBegin(GL_POINTS);
    util_oiaDrawNormals(m);
    glEnd();
    return glGetError() != GL_NO_ERROR;
  };
  EXPECT_FALSE(callsGl(&v3f));
  EXPECT_FALSE(callsGl(&t2f));
  EXPECT_FALSE(callsGl(nullptr));
  EXPECT_TRUE(callsGl(&n3f));  // the probe itself sees a call

  gMesh = &t2f;
  EXPECT_TRUE(gltestFeedback(drawMeshNormals, GL_3D).empty());
  gMesh = &v3f;
  EXPECT_TRUE(gltestFeedback(drawMeshNormals, GL_3D).empty());
}

// ---------------------------------------------------------------- TGA textures

TEST_F(LoaderGl, TgaTextureIsFourComponentLinearAndLeftBound) {
  TempDir dir;
  // 4 x 2, Y origin 0: the stored bottom row becomes the first row of the texture.
  TgaHeader h;
  h.width = 4;
  h.height = 2;
  Bytes stored;
  for (int i = 0; i < 8; ++i) stored.insert(stored.end(), {uint8_t(i), uint8_t(10 * i), uint8_t(200 + i), uint8_t(30 * i)});
  ASSERT_TRUE(writeFile(dir.file("t.tga"), tgaFile(h, stored)));
  GLuint name = 0;
  util_textureFromTGA(&name, dir.file("t.tga").c_str());
  ASSERT_NE(name, 0u);
  EXPECT_TRUE(glIsTexture(name));
  EXPECT_EQ(boundTexture(), static_cast<GLint>(name));
  EXPECT_EQ(levelParam(GL_TEXTURE_WIDTH), 4);
  EXPECT_EQ(levelParam(GL_TEXTURE_HEIGHT), 2);
  GLint internal = levelParam(GL_TEXTURE_INTERNAL_FORMAT);
  EXPECT_TRUE(internal == GL_RGBA || internal == 4) << internal;
  EXPECT_EQ(levelParam(GL_TEXTURE_ALPHA_SIZE), 8);
  EXPECT_EQ(texParam(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
  EXPECT_EQ(texParam(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
  EXPECT_EQ(texParam(GL_TEXTURE_WRAP_S), GL_REPEAT);
  Bytes expected;
  for (int i : {4, 5, 6, 7, 0, 1, 2, 3}) expected.insert(expected.end(), {uint8_t(200 + i), uint8_t(10 * i), uint8_t(i), uint8_t(30 * i)});
  EXPECT_EQ(texels(4, 2), expected);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(LoaderGl, AFailedTgaTouchesNeitherTheVariableNorGl) {
  TempDir dir;
  GLuint other = 0;
  glGenTextures(1, &other);
  glBindTexture(GL_TEXTURE_2D, other);
  TgaHeader h;
  h.depth = 24;
  ASSERT_TRUE(writeFile(dir.file("24.tga"), tgaFile(h, Bytes(3, 1))));
  TgaHeader cut;
  cut.width = 8;
  ASSERT_TRUE(writeFile(dir.file("cut.tga"), tgaFile(cut, Bytes(8, 1))));
  struct Case {
    std::string path;
    std::string message;
  };
  for (const Case &c : {Case{dir.file("24.tga"), "Only 32bpp (RGBA) images supported!\n"},
                        Case{dir.file("cut.tga"), "TGA file >>" + dir.file("cut.tga") + "<< is truncated!\n"},
                        Case{dir.file("missing.tga"), ""}}) {
    SCOPED_TRACE(c.path);
    GLuint name = 77;
    fflush(stdout);
    testing::internal::CaptureStdout();
    util_textureFromTGA(&name, c.path.c_str());
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    EXPECT_EQ(name, 77u);
    EXPECT_EQ(boundTexture(), static_cast<GLint>(other));
    EXPECT_FALSE(glIsTexture(other + 1));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }
}

// ---------------------------------------------------------------- PNG textures from a pack

const std::vector<std::array<uint8_t, 3>> kPalette = {
    {0, 0, 0}, {255, 255, 255}, {1, 2, 3}, {200, 100, 50}, {9, 8, 7}, {10, 20, 30}};

// A 4 x 2 colour image, a same-sized mask, a too-small mask and a broken PNG, in one pack.
struct TestPack {
  Bytes colourIdx = {5, 0, 1, 2, 3, 4, 5, 1};
  Bytes maskIdx = {0, 255, 128, 1, 5, 4, 3, 2};
  Bytes pack;
  zare_lib_t *lib = nullptr;
  TestPack() {
    Bytes broken = indexedPng(4, 2, colourIdx, kPalette);
    broken.resize(40);  // the image data is cut off
    pack = packOf({{"data/colour.png", indexedPng(4, 2, colourIdx, kPalette)},
                   {"data/mask.png", indexedPng(4, 2, maskIdx, kPalette)},
                   {"data/small_mask.png", indexedPng(2, 2, {0, 1, 2, 3}, kPalette)},
                   {"data/broken.png", broken}});
    lib = zare_new();
    zare_dar_add(lib, reinterpret_cast<zare_data_t *>(pack.data()));
  }
  ~TestPack() { zare_delete(lib); }
};

struct PngCall {
  zare_lib_t *lib;
  const char *name;
  const char *mask;
  GLuint result;
};

void callPng(void *arg) {
  auto *c = static_cast<PngCall *>(arg);
  c->result = c->mask ? util_textureFromPNGWithMask(c->lib, c->name, c->mask) : util_textureFromPNG(c->lib, c->name);
}

TEST_F(LoaderGl, PngTextureExpandsThePaletteToThreeComponents) {
  TestPack tp;
  PngCall call{tp.lib, "data/colour.png", nullptr, 0};
  EXPECT_EQ(stdoutOf(callPng, &call), "");
  ASSERT_NE(call.result, 0u);
  EXPECT_EQ(boundTexture(), static_cast<GLint>(call.result));
  EXPECT_EQ(levelParam(GL_TEXTURE_WIDTH), 4);
  EXPECT_EQ(levelParam(GL_TEXTURE_HEIGHT), 2);
  GLint internal = levelParam(GL_TEXTURE_INTERNAL_FORMAT);
  EXPECT_TRUE(internal == GL_RGB || internal == 3) << internal;
  EXPECT_EQ(levelParam(GL_TEXTURE_ALPHA_SIZE), 0);
  EXPECT_EQ(texParam(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
  EXPECT_EQ(texParam(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
  Bytes expected;
  for (uint8_t k : tp.colourIdx) expected.insert(expected.end(), {kPalette[k][0], kPalette[k][1], kPalette[k][2], 255});
  Bytes got = texels(4, 2);
  EXPECT_EQ(got, expected);
  // Palette entry 5 = (10, 20, 30) at the first pixel.
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 4), (Bytes{10, 20, 30, 255}));
}

TEST_F(LoaderGl, PngFailuresPrintOneLineAndReturnZero) {
  TestPack tp;
  GLuint other = 0;
  glGenTextures(1, &other);
  glBindTexture(GL_TEXTURE_2D, other);
  struct Case {
    const char *name;
    const char *mask;
  };
  for (Case c : {Case{"data/missing.png", nullptr}, Case{"data/broken.png", nullptr}, Case{"Data/colour.png", nullptr},
                 Case{"data/missing.png", "data/mask.png"}, Case{"data/colour.png", "data/missing.png"},
                 Case{"data/missing.png", "data/missing.png"}, Case{"data/colour.png", "data/small_mask.png"}}) {
    SCOPED_TRACE(testing::Message() << c.name << " / " << (c.mask ? c.mask : "-"));
    PngCall call{tp.lib, c.name, c.mask, 99};
    EXPECT_EQ(stdoutOf(callPng, &call), "Error loading texture\n");
    EXPECT_EQ(call.result, 0u);
    EXPECT_EQ(boundTexture(), static_cast<GLint>(other));
  }
}

TEST_F(LoaderGl, MaskedPngTakesItsAlphaFromTheMaskIndex) {
  TestPack tp;
  PngCall call{tp.lib, "data/colour.png", "data/mask.png", 0};
  EXPECT_EQ(stdoutOf(callPng, &call), "");
  ASSERT_NE(call.result, 0u);
  EXPECT_EQ(boundTexture(), static_cast<GLint>(call.result));
  EXPECT_EQ(levelParam(GL_TEXTURE_WIDTH), 4);
  EXPECT_EQ(levelParam(GL_TEXTURE_HEIGHT), 2);
  GLint internal = levelParam(GL_TEXTURE_INTERNAL_FORMAT);
  EXPECT_TRUE(internal == GL_RGBA || internal == 4) << internal;
  Bytes expected;
  for (size_t i = 0; i < 8; ++i) {
    const auto &e = kPalette[tp.colourIdx[i]];
    expected.insert(expected.end(), {e[0], e[1], e[2], uint8_t(255 - tp.maskIdx[i])});
  }
  EXPECT_EQ(texels(4, 2), expected);
}

// ---------------------------------------------------------------- start-up

void resetLoaded() {
  for (GLuint &n : texture) n = 0;
  texLogo = texParkhaus = 0;
  object = object2 = object3 = nullptr;
  pzl = nullptr;
}

// Width and height of a texture name's level 0, or 0, 0 when it is no texture.
std::pair<GLint, GLint> sizeOf(GLuint name) {
  if (!glIsTexture(name)) return {0, 0};
  glBindTexture(GL_TEXTURE_2D, name);
  return {levelParam(GL_TEXTURE_WIDTH), levelParam(GL_TEXTURE_HEIGHT)};
}

TEST_F(LoaderGl, StartUpLoadsEveryTextureAndMeshFromData) {
  resetLoaded();
  struct timespec before;
  clock_gettime(CLOCK_REALTIME, &before);
  fflush(stdout);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  myInit();
  fflush(stdout);
  std::string err = testing::internal::GetCapturedStderr();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  ASSERT_NE(pzl, nullptr);

  for (int slot : {0, 2, 3}) {
    SCOPED_TRACE(slot);
    EXPECT_NE(texture[slot], 0u);
    auto [w, h] = sizeOf(texture[slot]);
    EXPECT_GT(w, 0);
    EXPECT_GT(h, 0);
    EXPECT_EQ(levelParam(GL_TEXTURE_ALPHA_SIZE), 8);
  }
  EXPECT_EQ(texture[1], 0u);
  EXPECT_EQ(sizeOf(texLogo), std::make_pair(256, 256));
  EXPECT_EQ(sizeOf(texParkhaus), std::make_pair(512, 512));

  ASSERT_NE(object, nullptr);
  ASSERT_NE(object2, nullptr);
  ASSERT_NE(object3, nullptr);
  EXPECT_EQ(object2->format, static_cast<GLenum>(GL_T2F_N3F_V3F));
  for (util_oia_t *m : {object, object2, object3}) {
    EXPECT_TRUE(m->format == GL_N3F_V3F || m->format == GL_T2F_N3F_V3F) << m->format;
    EXPECT_GT(m->count, 0);
    EXPECT_EQ(m->primitive, static_cast<GLenum>(GL_TRIANGLES));
  }
  int64_t now = static_cast<int64_t>(before.tv_sec) * 1000000 + before.tv_nsec / 1000;
  EXPECT_GE(startTime, now);
  EXPECT_LT(startTime, now + 60 * 1000000LL);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(LoaderGl, StartUpWithoutTheLooseFilesKeepsThePackTexturesAndRunsOn) {
  resetLoaded();
  TempDir dir;
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof(here)), nullptr);
  ASSERT_EQ(chdir(dir.path.c_str()), 0);
  fflush(stdout);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  myInit();
  fflush(stdout);
  std::string err = testing::internal::GetCapturedStderr();
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(chdir(here), 0);

  EXPECT_EQ(out, "");  // a missing TGA prints nothing
  const std::string line = "Error while opening OIA: : No such file or directory\n";
  EXPECT_EQ(err, line + line + line);
  EXPECT_EQ(texture[0], 0u);
  EXPECT_EQ(texture[1], 0u);
  EXPECT_EQ(texture[2], 0u);
  EXPECT_EQ(texture[3], 0u);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(object2, nullptr);
  EXPECT_EQ(object3, nullptr);
  EXPECT_EQ(sizeOf(texLogo), std::make_pair(256, 256));
  EXPECT_EQ(sizeOf(texParkhaus), std::make_pair(512, 512));

  // The frame skips the missing meshes.
  reshapeCallBack(kGlTestWidth, kGlTestHeight);
  for (float when : {0.0f, 1.5f, 20.0f}) {
    t = when;
    displayCallBack();
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
