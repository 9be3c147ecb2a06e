// The file loaders and their textures, each allocation counted and any one made to fail (wrapped at link time).
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <numeric>
#include <string>

#include "failalloc.h"
#include "files.h"
#include "globals.h"
#include "loosefiles.h"
#include "gltest.h"
#include "main.h"
#include "packfmt.h"
#include "pngwrite.h"
#include "tempfolder.h"
#include "util.h"

namespace {

// What a call printed: its standard output, then its standard error after "stderr: ".
template <typename Call> std::string printed(Call call) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  call();
  fflush(stdout);
  const std::string err = testing::internal::GetCapturedStderr();
  return testing::internal::GetCapturedStdout() + (err.empty() ? "" : "stderr: " + err);
}

// The bytes in an unlinked temporary file, or in a pipe, which cannot seek; the caller closes it.
int source(const Bytes &bytes, bool pipe) {
  int ends[2] = {-1, -1};
  if (pipe ? ::pipe(ends) != 0 : (ends[0] = ends[1] = fileTemp()) < 0) return -1;
  EXPECT_TRUE(fileWriteFd(ends[1], bytes.data(), bytes.size()));
  if (pipe) close(ends[1]);
  return ends[0];
}

// An OIA file: magic, two free bytes, extended-mode byte, mode, big-endian count, then n bytes.
Bytes oia(const char *magic, uint8_t extended, uint8_t mode, uint16_t count, size_t n) {
  Bytes b(magic, magic + 4);
  b.insert(b.end(), {0xAB, 0xCD, extended, mode, uint8_t(count >> 8), uint8_t(count)});
  for (size_t i = 0; i < n; ++i) b.push_back(uint8_t(7 * i + 1));
  return b;
}

// A TGA file with a 0x30 descriptor (whose origin bits play no part), the ID, then the pixels.
Bytes tga(uint8_t id, uint8_t map, uint8_t type, uint16_t xo, uint16_t yo, uint16_t w, uint16_t h,
          uint8_t depth, const Bytes &pixels) {
  Bytes b = {id, map, type, 0, 0, 0, 0, 0};
  for (uint16_t v : {xo, yo, w, h}) putLe16(b, v);
  b.insert(b.end(), {depth, 0x30});
  b.insert(b.end(), id, 0xEE);
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// A loader call: file or path, what it prints (%s: the path), the record and data it gives.
struct Row {
  const char *what;
  bool isTga;
  Bytes file;
  std::string message;
  std::vector<int> fields = {};  // OIA: format, stride, primitive, count; TGA: width, height
  Bytes data = {};
  long failAt = -1;  // the allocation that fails
  const char *path = nullptr;
};

// A 257 x 3 TGA: channels swapped, rows reversed for a zero Y origin, mirrored for a non-zero X.
Row wideTga(uint16_t xo, uint16_t yo) {
  Bytes stored, want;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 257; ++x) {
      const int wx = xo ? 256 - x : x, wy = yo ? y : 2 - y;
      stored.insert(stored.end(), {uint8_t(x), uint8_t(x >> 8), uint8_t(y), uint8_t(9 - y)});
      want.insert(want.end(), {uint8_t(wy), uint8_t(wx >> 8), uint8_t(wx), uint8_t(9 - wy)});
    }
  return {"257 x 3", true, tga(0, 0, 2, xo, yo, 257, 3, 32, stored), "", {257, 3}, want};
}

TEST(Loaders, EveryFileGivesItsMessageAndRecordFromAFileAndFromAPipe) {
  const Bytes px = {1, 2, 3, 4, 5, 6, 7, 8}, swapped = {3, 2, 1, 4, 7, 6, 5, 8}, mirrored = {7, 6, 5, 8, 3, 2, 1, 4};
  const Bytes big = oia("ZoIA", 0, 2, 0x05BE, 17640 + 9);  // 1470 vertices, then trailing bytes
  const Bytes id200 = tga(200, 0, 2, 0, 1, 2, 1, 32, px);
  Bytes trailer = id200;
  trailer.insert(trailer.end(), 26, 0x55);  // an extension area and footer
  std::vector<Row> rows = {
      {"missing oia", false, {}, "stderr: Error while opening OIA: : No such file or directory\n", {}, {}, -1, "data/none.oia"},
      {"magic first", false, oia("ZoIa", 1, 3, 0, 0), "Not >>%s<< is not an oia file!\n"},
      {"extended before mode", false, oia("ZoIA", 1, 0xff, 0, 0), "Extended modes not supported!\n"},
      {"extended, valid mode", false, oia("ZoIA", 0x80, 6, 1, 24), "Extended modes not supported!\n"},
      {"mode 3", false, oia("ZoIA", 0, 3, 0, 0), "Mode 03 not supported!\n"},
      {"mode 255", false, oia("ZoIA", 0, 0xff, 0, 0), "Mode ff not supported!\n"},
      {"empty oia", false, {}, "OIA file >>%s<< is truncated!\n"},
      {"nine header bytes", false, Bytes(big.begin(), big.begin() + 9), "OIA file >>%s<< is truncated!\n"},
      {"data one short", false, oia("ZoIA", 0, 14, 2, 63), "OIA file >>%s<< is truncated!\n"},
      {"count 65535, header only", false, oia("ZoIA", 0, 14, 0xffff, 0), "OIA file >>%s<< is truncated!\n"},
      {"no memory, first block", false, big, "Out of memory loading >>%s<<!\n", {}, {}, 0},
      {"no memory, second block", false, big, "Out of memory loading >>%s<<!\n", {}, {}, 1},
      {"mode 2, 0x05BE", false, big, "", {GL_V3F, 12, GL_TRIANGLES, 1470}},
      {"mode 6", false, oia("ZoIA", 0, 6, 2, 48), "", {GL_N3F_V3F, 24, GL_TRIANGLES, 2}},
      {"mode 14", false, oia("ZoIA", 0, 14, 1, 32), "", {GL_T2F_N3F_V3F, 32, GL_TRIANGLES, 1}},
      {"count 0", false, oia("ZoIA", 0, 6, 0, 5), "", {GL_N3F_V3F, 24, GL_TRIANGLES, 0}},
      {"missing tga", true, {}, "", {}, {}, -1, "data/none.tga"},
      {"type first", true, tga(0, 1, 10, 0, 0, 1, 1, 24, px), "Only mode 2 (unmapped, uncompressed) supported\n"},
      {"map before depth", true, tga(0, 1, 2, 0, 0, 1, 1, 24, px), "Paletted images not supported!\n"},
      {"depth 24", true, tga(0, 0, 2, 0, 0, 1, 1, 24, px), "Only 32bpp (RGBA) images supported!\n"},
      {"seventeen bytes", true, Bytes(id200.begin(), id200.begin() + 17), "TGA file >>%s<< is truncated!\n"},
      {"ID cut", true, Bytes(id200.begin(), id200.begin() + 117), "TGA file >>%s<< is truncated!\n"},
      {"pixels one short", true, Bytes(id200.begin(), id200.end() - 1), "TGA file >>%s<< is truncated!\n"},
      {"1024 x 1024, header only", true, tga(0, 0, 2, 0, 0, 1024, 1024, 32, {}), "TGA file >>%s<< is truncated!\n"},
      {"no memory, first block", true, id200, "Out of memory loading >>%s<<!\n", {}, {}, 0},
      {"no memory, second block", true, id200, "Out of memory loading >>%s<<!\n", {}, {}, 1},
      {"2 x 1", true, tga(0, 0, 2, 0, 0, 2, 1, 32, px), "", {2, 1}, swapped},
      {"2 x 1, X origin, ID 1", true, tga(1, 0, 2, 1, 0, 2, 1, 32, px), "", {2, 1}, mirrored},
      {"1 x 2", true, tga(0, 0, 2, 0, 0, 1, 2, 32, px), "", {1, 2}, mirrored},
      {"1 x 2, Y origin 2", true, tga(0, 0, 2, 0, 2, 1, 2, 32, px), "", {1, 2}, swapped},
      {"ID 200, trailer", true, trailer, "", {2, 1}, swapped},
      wideTga(0, 0), wideTga(0x100, 0), wideTga(0, 0x100), wideTga(0x100, 0x100)};
  for (const Row &r : rows)
    for (bool pipe : {false, true}) {
      SCOPED_TRACE(testing::Message() << r.what << (pipe ? " (pipe)" : ""));
      const int fd = source(r.file, pipe);
      const std::string path = r.path ? r.path : "/proc/self/fd/" + std::to_string(fd);
      std::vector<int> fields;
      Bytes data, want = r.data;  // a mesh's data is the file's bytes after the header, as stored
      if (!r.isTga && !r.fields.empty()) want.assign(&r.file[10], &r.file[10] + r.fields[1] * r.fields[3]);
      const long before = liveBlocks;
      largestAsked = 0;
      failIn = r.failAt;
      const std::string out = printed([&] {
        if (util_image_t *i = r.isTga ? util_imageFromTGA(path.c_str()) : nullptr) {
          fields = {i->width, i->height};
          data.assign(i->data, i->data + size_t(i->width) * i->height * 4);
          free(i->data), free(i);
        } else if (util_oia_t *m = r.isTga ? nullptr : util_oiaLoad(path.c_str())) {
          fields = {int(m->format), m->stride, int(m->primitive), m->count};
          data.assign(static_cast<uint8_t *>(m->data), static_cast<uint8_t *>(m->data) + size_t(m->stride) * m->count);
          free(m->data), free(m);
        }
      });
      close(fd);
      EXPECT_EQ(failIn, -1);  // the allocation to fail was made
      failIn = -1;
      const size_t at = r.message.find("%s");
      EXPECT_EQ(out, at == std::string::npos ? r.message : std::string(r.message).replace(at, 2, path));
      EXPECT_EQ(liveBlocks, before);
      // A regular file is measured before anything is allocated for it.
      if (!pipe && r.message.find("truncated") != std::string::npos) {
        EXPECT_EQ(largestAsked, 0u);
      }
      EXPECT_EQ(fields, r.fields);
      EXPECT_EQ(data, want);
    }
}

// Keeps Mesa's driver mapped, so that LeakSanitizer can name it in the leaks tests/lsan.supp lists.
struct KeepDriver : testing::Environment {
  void TearDown() override { dlopen("libgallium_dri.so", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE); }
};
testing::Environment *const keepDriver = testing::AddGlobalTestEnvironment(new KeepDriver);

using LoadersGl = GlTest;

// A level-0 parameter of the bound texture, or with level -1 a GL integer.
GLint query(GLenum p, int level = 0) {
  GLint v = -1;
  level < 0 ? glGetIntegerv(p, &v) : glGetTexLevelParameteriv(GL_TEXTURE_2D, level, p, &v);
  return v;
}

// Width, height and byte sum of a texture's level 0, and its texels as RGBA bytes, first row first.
std::vector<long> summary(GLuint name, Bytes &texels) {
  glBindTexture(GL_TEXTURE_2D, name);
  texels.assign(size_t(query(GL_TEXTURE_WIDTH)) * query(GL_TEXTURE_HEIGHT) * 4, 0);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  if (name) glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  return {query(GL_TEXTURE_WIDTH), query(GL_TEXTURE_HEIGHT), std::accumulate(texels.begin(), texels.end(), 0L)};
}

// Checks a new texture: left bound, linear filters, the internal format and the texels.
void expectTexture(GLuint name, GLint components, const Bytes &want) {
  ASSERT_TRUE(glIsTexture(name));
  EXPECT_EQ(query(GL_TEXTURE_BINDING_2D, -1), GLint(name));
  GLint filters[2] = {-1, -1};
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filters[0]);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &filters[1]);
  EXPECT_EQ(std::vector<GLint>(filters, filters + 2), std::vector<GLint>(2, GL_LINEAR));
  const GLint format = query(GL_TEXTURE_INTERNAL_FORMAT);
  EXPECT_TRUE(format == components || format == (components == 4 ? GL_RGBA : GL_RGB)) << format;
  Bytes texels;
  summary(name, texels);
  EXPECT_EQ(texels, want);
}

// The mesh that drawNormals hands to util_oiaDrawNormals.
util_oia_t *normalsMesh = nullptr;
void drawNormals() { util_oiaDrawNormals(normalsMesh); }

// The normals drawing, which the frame does not call: a line per vertex of a mode-6 mesh, last first; else nothing.
TEST_F(LoadersGl, NormalsAreLinesLastVertexFirstForMode6Only) {
  float floats[12] = {0, 0, 1, 1, 2, 3, -2, 0.5f, 0, 10, 20, 0};
  util_oia_t mode6{GL_N3F_V3F, 24, GL_TRIANGLES, 2, floats}, mode2{GL_V3F, 12, GL_TRIANGLES, 4, floats};
  glOrtho(0, kGlTestWidth, 0, kGlTestHeight, -10, 10);  // window x, y as given
  normalsMesh = &mode2;
  EXPECT_TRUE(gltestFeedback(drawNormals).empty());
  normalsMesh = &mode6;
  const std::vector<float> fb = gltestFeedback(drawNormals);  // per line: its token, two of x, y, z, colour, s, t, r, q
  ASSERT_EQ(fb.size(), 2u * 23u);
  const std::array<float, 8> got = {fb[1], fb[2], fb[12], fb[13], fb[24], fb[25], fb[35], fb[36]}, want = {10, 20, 8, 20.5f, 1, 2, 1, 2};
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-3) << i;
  // Texturing and lighting, which it turns off for the lines, are as they were after it.
  glEnable(GL_TEXTURE_2D), glEnable(GL_LIGHTING);
  drawNormals();
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D) && glIsEnabled(GL_LIGHTING) && glGetError() == GL_NO_ERROR);
}

TEST_F(LoadersGl, TgaTexturesHaveFourComponentsAndAFailureTouchesNothing) {
  Bytes stored, want;  // 4 x 2 with a zero Y origin: the stored bottom row comes first
  for (int i = 0; i < 8; ++i) stored.insert(stored.end(), {uint8_t(i), uint8_t(10 * i), uint8_t(200 + i), uint8_t(30 * i)});
  for (int i : {4, 5, 6, 7, 0, 1, 2, 3}) want.insert(want.end(), {uint8_t(200 + i), uint8_t(10 * i), uint8_t(i), uint8_t(30 * i)});
  const int good = source(tga(0, 0, 2, 0, 0, 4, 2, 32, stored), false), bad = source(tga(0, 0, 2, 0, 0, 1, 1, 24, stored), false);
  GLuint name = 0;
  const long before = liveBlocks;
  EXPECT_EQ(printed([&] { util_textureFromTGA(&name, ("/proc/self/fd/" + std::to_string(good)).c_str()); }), "");
  expectTexture(name, 4, want);
  for (const std::string &path : {"/proc/self/fd/" + std::to_string(bad), std::string("data/none.tga")}) {
    GLuint kept = 77;
    printed([&] { util_textureFromTGA(&kept, path.c_str()); });
    EXPECT_EQ(kept, 77u);
    EXPECT_EQ(query(GL_TEXTURE_BINDING_2D, -1), GLint(name));
  }
  EXPECT_EQ(liveBlocks, before);
  close(good), close(bad);
}

// Indices of the 4 x 2 colour image and its mask in the test pack.
const Bytes kColour = {5, 0, 1, 2, 3, 4, 5, 1}, kMask = {0, 255, 128, 1, 5, 4, 3, 2};

// An indexed PNG of the indices, w pixels wide, whose palette entry k is (k, 255 - k, 7k).
Bytes png(int w, const Bytes &indices) {
  PngSpec spec;
  spec.width = w;
  spec.height = int(indices.size()) / w;
  for (int k = 0; k < 256; ++k) spec.palette.push_back({uint8_t(k), uint8_t(255 - k), uint8_t(7 * k)});
  return pngEncode(spec, indices.data());
}

// A texture of the test pack's images, allocation n failing; checks that nothing stays allocated.
GLuint pngTexture(const char *name, const char *mask, long n, std::string &out, bool &failed) {
  static Bytes pack;  // the colour image, a mask of its size and a smaller one, and a cut-off PNG
  if (pack.empty()) {
    Bytes broken = png(4, kColour);
    broken.resize(60);
    std::string error;
    packWrite({{"data/colour.png", png(4, kColour)}, {"data/mask.png", png(4, kMask)},
               {"data/small.png", png(2, Bytes(4, 1))}, {"data/broken.png", broken}}, pack, error);
  }
  const long before = liveBlocks;
  zare_lib_t *lib = zare_new();
  zare_dar_add(lib, reinterpret_cast<zare_data_t *>(pack.data()));
  GLuint tex = 99;
  failIn = n;
  out = printed([&] { tex = mask ? util_textureFromPNGWithMask(lib, name, mask) : util_textureFromPNG(lib, name); });
  failed = n >= 0 && failIn < 0;
  failIn = -1;
  zare_delete(lib);
  EXPECT_EQ(liveBlocks, before);
  return tex;
}

TEST_F(LoadersGl, PngTexturesComeWholeOrAsZeroWhicheverAllocationFails) {
  std::string out;
  bool failed;
  for (const char *mask : {static_cast<const char *>(nullptr), "data/mask.png"}) {
    Bytes want;
    for (size_t i = 0; i < 8; ++i)
      want.insert(want.end(), {kColour[i], uint8_t(255 - kColour[i]), uint8_t(7 * kColour[i]), uint8_t(mask ? 255 - kMask[i] : 255)});
    long n = 0;
    for (failed = true; failed; ++n) {  // only a lost trace text may leave the texture whole
      SCOPED_TRACE(testing::Message() << (mask ? mask : "no mask") << ", allocation " << n << " failing");
      GLuint name = pngTexture("data/colour.png", mask, n, out, failed);
      EXPECT_EQ(out, name ? "" : "Error loading texture\n");
      EXPECT_TRUE(name || failed);
      if (name) expectTexture(name, mask ? 4 : 3, want);
      glDeleteTextures(1, &name);
    }
    EXPECT_GT(n, 5);
  }
  GLuint other = 0;
  glGenTextures(1, &other);
  glBindTexture(GL_TEXTURE_2D, other);
  for (auto [name, mask] : std::vector<std::pair<const char *, const char *>>{
           {"data/none.png", nullptr}, {"data/broken.png", nullptr}, {"data/none.png", "data/mask.png"},
           {"data/colour.png", "data/none.png"}, {"data/colour.png", "data/small.png"}}) {
    EXPECT_EQ(pngTexture(name, mask, -1, out, failed), 0u) << name << " " << (mask ? mask : "");
    EXPECT_EQ(out, "Error loading texture\n");
    EXPECT_EQ(query(GL_TEXTURE_BINDING_2D, -1), GLint(other));
  }
}

TEST_F(LoadersGl, StartUpWithAndWithoutTheLooseFiles) {
  const TempFolder empty;
  const std::string line = "Error while opening OIA: : No such file or directory\n";
  const char *tgas[4] = {kCubeTga, nullptr, kFontTga, kRedMapTga};
  const char *oias[3] = {kLogoOia, kCubeOia, kThingOia};
  for (bool loose : {true, false}) {
    char here[4096];
    ASSERT_TRUE(getcwd(here, sizeof(here)) && chdir(loose ? here : empty.path.c_str()) == 0);
    EXPECT_EQ(printed(myInit), loose ? "" : "stderr: " + line + line + line);
    ASSERT_EQ(chdir(here), 0);
    Bytes texels;
    for (int slot = 0; slot < 4; ++slot) {  // size and byte sum of the file's pixels, kept by the orientation rule
      const Bytes f = loose && tgas[slot] ? fileRead(tgas[slot]) : Bytes(18);
      const long w = getLe16(&f[12]), h = getLe16(&f[14]), start = 18 + f[0];
      EXPECT_EQ(texture[slot] != 0, w > 0) << slot;
      EXPECT_EQ(summary(texture[slot], texels), (std::vector<long>{w, h, std::accumulate(f.begin() + start, f.begin() + start + w * h * 4, 0L)}));
    }
    for (auto [name, path] : {std::pair{texLogo, "data/tex-cow-env.png"}, {texParkhaus, "data/organ.png"}}) {
      const Bytes f = fileRead(path);
      EXPECT_EQ(summary(name, texels).front(), long(getBe32(&f[16])));
      EXPECT_EQ(query(GL_TEXTURE_HEIGHT), long(getBe32(&f[20])));
    }
    util_oia_t *meshes[3] = {object, object2, object3};
    for (int i = 0; i < 3; ++i) {  // the file's vertex data, as stored
      const Bytes f = loose ? fileRead(oias[i]) : Bytes(10);
      const auto *p = static_cast<uint8_t *>(meshes[i] ? meshes[i]->data : nullptr);
      EXPECT_EQ(p ? Bytes(p, p + size_t(meshes[i]->count) * meshes[i]->stride) : Bytes(), Bytes(f.begin() + 10, f.end())) << oias[i];
      EXPECT_EQ(meshes[i] != nullptr, loose);
      if (meshes[i]) free(meshes[i]->data);
      free(meshes[i]);
    }
    zare_delete(pzl);
    gltestResetGlobals();
  }
}

}  // namespace
