// The OIA and TGA file loaders: header checks and their messages, layouts, truncated and missing files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "loaderdata.h"
#include "util.h"

namespace {

// Output of one loader call: its result and what it printed on standard output and standard error.
template <typename T> struct Captured {
  T *result;
  std::string out;
  std::string err;
};

template <typename T, typename F> Captured<T> capture(F load) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  T *r = load();
  fflush(stdout);
  fflush(stderr);
  std::string err = testing::internal::GetCapturedStderr();
  std::string out = testing::internal::GetCapturedStdout();
  return {r, out, err};
}

Captured<util_oia_t> loadOia(const std::string &path) {
  return capture<util_oia_t>([&] { return util_oiaLoad(path.c_str()); });
}

Captured<util_image_t> loadTga(const std::string &path) {
  return capture<util_image_t>([&] { return util_imageFromTGA(path.c_str()); });
}

void freeMesh(util_oia_t *m) {
  if (m) free(m->data);
  free(m);
}

void freeImage(util_image_t *i) {
  if (i) free(i->data);
  free(i);
}

Bytes meshBytes(const util_oia_t *m) {
  const auto *p = static_cast<const uint8_t *>(m->data);
  return Bytes(p, p + static_cast<size_t>(m->count) * m->stride);
}

Bytes imageBytes(const util_image_t *i) {
  return Bytes(i->data, i->data + static_cast<size_t>(i->width) * i->height * 4);
}

std::vector<float> ramp(size_t n) {
  std::vector<float> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = 0.25f * static_cast<float>(i) - 3.0f;
  return v;
}

// ---------------------------------------------------------------- OIA

TEST(OiaLoad, EachModeGivesItsFormatStrideAndTheDataAsStored) {
  TempDir dir;
  struct Case {
    uint8_t mode;
    GLenum format;
    GLint stride;
  };
  for (Case c : {Case{2, GL_V3F, 12}, Case{6, GL_N3F_V3F, 24}, Case{14, GL_T2F_N3F_V3F, 32}}) {
    SCOPED_TRACE(int(c.mode));
    auto floats = ramp(3 * static_cast<size_t>(c.stride) / 4);
    Bytes file = oiaFile(c.mode, 3, floats);
    ASSERT_TRUE(writeFile(dir.file("m.oia"), file));
    auto r = loadOia(dir.file("m.oia"));
    ASSERT_NE(r.result, nullptr);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.result->format, c.format);
    EXPECT_EQ(r.result->stride, c.stride);
    EXPECT_EQ(r.result->primitive, static_cast<GLenum>(GL_TRIANGLES));
    EXPECT_EQ(r.result->count, 3);
    EXPECT_EQ(meshBytes(r.result), Bytes(file.begin() + 10, file.end()));
    freeMesh(r.result);
  }
}

TEST(OiaLoad, CountIsBigEndianAndTrailingBytesAndFreeHeaderBytesChangeNothing) {
  TempDir dir;
  // 0x05 0xBE: 1470 vertices of mode 2, 17640 bytes of data, 17650 bytes in all.
  auto floats = ramp(1470 * 3);
  Bytes plain = oiaFile(2, 0x05BE, floats);
  ASSERT_EQ(plain.size(), 17650u);
  Bytes other = oiaFile(2, 0x05BE, floats, 0, "ZoIA", 0xAB, 0xCD);
  other.insert(other.end(), {'t', 'r', 'a', 'i', 'l', 'e', 'r', 0xff});
  ASSERT_TRUE(writeFile(dir.file("a.oia"), plain));
  ASSERT_TRUE(writeFile(dir.file("b.oia"), other));
  auto a = loadOia(dir.file("a.oia"));
  auto b = loadOia(dir.file("b.oia"));
  ASSERT_NE(a.result, nullptr);
  ASSERT_NE(b.result, nullptr);
  EXPECT_EQ(a.result->count, 1470);
  EXPECT_EQ(a.result->count / 3, 490);
  EXPECT_EQ(b.result->count, 1470);
  EXPECT_EQ(meshBytes(a.result), meshBytes(b.result));
  EXPECT_EQ(meshBytes(a.result), Bytes(plain.begin() + 10, plain.end()));
  freeMesh(a.result);
  freeMesh(b.result);
}

TEST(OiaLoad, CountZeroAndCountsNotAMultipleOfThreeLoad) {
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.file("zero.oia"), oiaFile(6, 0, {})));
  auto zero = loadOia(dir.file("zero.oia"));
  ASSERT_NE(zero.result, nullptr);
  EXPECT_EQ(zero.out, "");
  EXPECT_EQ(zero.result->count, 0);
  EXPECT_EQ(zero.result->format, static_cast<GLenum>(GL_N3F_V3F));
  freeMesh(zero.result);

  ASSERT_TRUE(writeFile(dir.file("four.oia"), oiaFile(2, 4, ramp(12))));
  auto four = loadOia(dir.file("four.oia"));
  ASSERT_NE(four.result, nullptr);
  EXPECT_EQ(four.result->count, 4);
  freeMesh(four.result);
}

TEST(OiaLoad, HeaderChecksPrintTheirMessageInOrder) {
  TempDir dir;
  struct Case {
    const char *name;
    Bytes file;
    std::string message;
  };
  const std::string bad = dir.file("bad.oia");
  std::vector<Case> cases = {
      {"wrong magic", oiaFile(2, 0, {}, 0, "ZOIA"), "Not >>" + bad + "<< is not an oia file!\n"},
      {"wrong magic before extended and mode", oiaFile(3, 0, {}, 1, "oiaZ"),
       "Not >>" + bad + "<< is not an oia file!\n"},
      {"extended with a valid mode", oiaFile(6, 1, ramp(6), 1), "Extended modes not supported!\n"},
      {"extended before a bad mode", oiaFile(0xff, 0, {}, 0x80), "Extended modes not supported!\n"},
      {"mode 3", oiaFile(3, 0, {}), "Mode 03 not supported!\n"},
      {"mode 255", oiaFile(0xff, 0, {}), "Mode ff not supported!\n"},
      {"mode 0", oiaFile(0, 0, {}), "Mode 00 not supported!\n"},
      {"mode 7", oiaFile(7, 0, {}), "Mode 07 not supported!\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(writeFile(bad, c.file));
    auto r = loadOia(bad);
    EXPECT_EQ(r.result, nullptr);
    EXPECT_EQ(r.out, c.message);
    EXPECT_EQ(r.err, "");
    freeMesh(r.result);
  }
}

TEST(OiaLoad, TheWrongMagicMessageShowsThePathAsPassed) {
  TempDir dir;
  ASSERT_TRUE(writeFile(dir.file("x.oia"), Bytes(10, 'x')));
  std::string relative = dir.file("./x.oia");
  auto r = loadOia(relative);
  EXPECT_EQ(r.result, nullptr);
  EXPECT_EQ(r.out, "Not >>" + relative + "<< is not an oia file!\n");
}

TEST(OiaLoad, AMissingFileReportsWithPerrorOnly) {
  TempDir dir;
  auto r = loadOia(dir.file("missing.oia"));
  EXPECT_EQ(r.result, nullptr);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Error while opening OIA: : No such file or directory\n");
}

TEST(OiaLoad, TruncatedFilesAreRefusedWithOneLineNamingTheFile) {
  TempDir dir;
  const std::string path = dir.file("short.oia");
  const std::string message = "OIA file >>" + path + "<< is truncated!\n";
  Bytes full = oiaFile(14, 2, ramp(16));
  struct Case {
    const char *name;
    Bytes file;
  };
  std::vector<Case> cases = {
      {"empty", {}},
      {"half a header", Bytes(full.begin(), full.begin() + 5)},
      {"nine header bytes", Bytes(full.begin(), full.begin() + 9)},
      {"header only", Bytes(full.begin(), full.begin() + 10)},
      {"one data byte short", Bytes(full.begin(), full.end() - 1)},
      {"count far beyond the file", oiaFile(14, 0xffff, ramp(8))},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(writeFile(path, c.file));
    auto r = loadOia(path);
    EXPECT_EQ(r.result, nullptr);
    EXPECT_EQ(r.out, message);
    freeMesh(r.result);
  }
  // The exact length loads.
  ASSERT_TRUE(writeFile(path, full));
  auto ok = loadOia(path);
  ASSERT_NE(ok.result, nullptr);
  EXPECT_EQ(ok.out, "");
  freeMesh(ok.result);
}

// Feeds bytes to a loader through a named pipe, which cannot seek: the reads themselves must notice the end.
template <typename T, typename F> Captured<T> throughPipe(const TempDir &dir, const Bytes &bytes, F load) {
  std::string fifo = dir.file("pipe");
  unlink(fifo.c_str());
  EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    FILE *f = fopen(fifo.c_str(), "wb");
    if (!f) return;
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  });
  auto r = capture<T>([&] { return load(fifo.c_str()); });
  writer.join();
  return r;
}

TEST(OiaLoad, AStreamThatCannotSeekIsStillCheckedForItsLength) {
  TempDir dir;
  Bytes full = oiaFile(6, 2, ramp(12));
  auto good = throughPipe<util_oia_t>(dir, full, util_oiaLoad);
  ASSERT_NE(good.result, nullptr);
  EXPECT_EQ(meshBytes(good.result), Bytes(full.begin() + 10, full.end()));
  freeMesh(good.result);

  auto cut = throughPipe<util_oia_t>(dir, Bytes(full.begin(), full.end() - 3), util_oiaLoad);
  EXPECT_EQ(cut.result, nullptr);
  EXPECT_EQ(cut.out, "OIA file >>" + dir.file("pipe") + "<< is truncated!\n");
}

// ---------------------------------------------------------------- TGA

TEST(TgaLoad, TwoByOneSwapsChannelsAndMirrorsOnlyWithAnXOrigin) {
  TempDir dir;
  const Bytes stored = {1, 2, 3, 4, 5, 6, 7, 8};
  TgaHeader h;
  h.width = 2;
  h.height = 1;
  ASSERT_TRUE(writeFile(dir.file("a.tga"), tgaFile(h, stored)));
  auto a = loadTga(dir.file("a.tga"));
  ASSERT_NE(a.result, nullptr);
  EXPECT_EQ(a.out, "");
  EXPECT_EQ(a.result->width, 2);
  EXPECT_EQ(a.result->height, 1);
  EXPECT_EQ(imageBytes(a.result), (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
  freeImage(a.result);

  h.xOrigin = 1;
  ASSERT_TRUE(writeFile(dir.file("b.tga"), tgaFile(h, stored)));
  auto b = loadTga(dir.file("b.tga"));
  ASSERT_NE(b.result, nullptr);
  EXPECT_EQ(imageBytes(b.result), (Bytes{7, 6, 5, 8, 3, 2, 1, 4}));
  freeImage(b.result);
}

TEST(TgaLoad, OneByTwoReversesRowsOnlyWithAZeroYOrigin) {
  TempDir dir;
  const Bytes stored = {10, 20, 30, 40, 50, 60, 70, 80};
  TgaHeader h;
  h.width = 1;
  h.height = 2;
  ASSERT_TRUE(writeFile(dir.file("a.tga"), tgaFile(h, stored)));
  auto a = loadTga(dir.file("a.tga"));
  ASSERT_NE(a.result, nullptr);
  EXPECT_EQ(imageBytes(a.result), (Bytes{70, 60, 50, 80, 30, 20, 10, 40}));
  freeImage(a.result);

  h.yOrigin = 2;
  ASSERT_TRUE(writeFile(dir.file("b.tga"), tgaFile(h, stored)));
  auto b = loadTga(dir.file("b.tga"));
  ASSERT_NE(b.result, nullptr);
  EXPECT_EQ(imageBytes(b.result), (Bytes{30, 20, 10, 40, 70, 60, 50, 80}));
  freeImage(b.result);
}

TEST(TgaLoad, OrientationOfALargerImageIgnoresTheDescriptorBits) {
  TempDir dir;
  // 3 x 2; pixel (x, y) stored as B = 10y + x, G = 100, R = 200, A = x + y.
  Bytes stored;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      stored.insert(stored.end(), {uint8_t(10 * y + x), 100, 200, uint8_t(x + y)});
  // Where stored pixel (x, y) lands, for each origin setting.
  auto expect = [&](bool flipRows, bool mirror) {
    Bytes out;
    for (int r = 0; r < 2; ++r)
      for (int c = 0; c < 3; ++c) {
        int y = flipRows ? 1 - r : r;
        int x = mirror ? 2 - c : c;
        out.insert(out.end(), {200, 100, uint8_t(10 * y + x), uint8_t(x + y)});
      }
    return out;
  };
  struct Case {
    uint16_t xo, yo;
    uint8_t descriptor;
    bool flip, mirror;
  };
  for (Case c : {Case{0, 0, 0x28, true, false}, Case{0, 0, 0x08, true, false}, Case{5, 0, 0x00, true, true},
                 Case{0, 7, 0x30, false, false}, Case{640, 480, 0x20, false, true}}) {
    SCOPED_TRACE(testing::Message() << c.xo << "," << c.yo << " desc " << int(c.descriptor));
    TgaHeader h;
    h.width = 3;
    h.height = 2;
    h.xOrigin = c.xo;
    h.yOrigin = c.yo;
    h.descriptor = c.descriptor;
    ASSERT_TRUE(writeFile(dir.file("o.tga"), tgaFile(h, stored)));
    auto r = loadTga(dir.file("o.tga"));
    ASSERT_NE(r.result, nullptr);
    EXPECT_EQ(imageBytes(r.result), expect(c.flip, c.mirror));
    freeImage(r.result);
  }
}

TEST(TgaLoad, TheImageIdIsSkippedAndTrailingBytesIgnored) {
  TempDir dir;
  TgaHeader h;
  h.idLength = 200;
  h.width = 2;
  h.height = 1;
  h.yOrigin = 1;
  Bytes file = tgaFile(h, {1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_EQ(file.size(), 18u + 200u + 8u);
  file.insert(file.end(), 26, 0x55);  // an extension area or footer
  ASSERT_TRUE(writeFile(dir.file("id.tga"), file));
  auto r = loadTga(dir.file("id.tga"));
  ASSERT_NE(r.result, nullptr);
  EXPECT_EQ(imageBytes(r.result), (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
  freeImage(r.result);
}

TEST(TgaLoad, RefusalsPrintOnlyTheFirstFailedCheck) {
  TempDir dir;
  const std::string type = "Only mode 2 (unmapped, uncompressed) supported\n";
  const std::string paletted = "Paletted images not supported!\n";
  const std::string depth = "Only 32bpp (RGBA) images supported!\n";
  struct Case {
    uint8_t imageType, colourMap, bpp;
    std::string message;
  };
  for (const Case &c : {Case{10, 0, 32, type}, Case{2, 1, 32, paletted}, Case{2, 0, 24, depth},
                        Case{10, 1, 24, type}, Case{1, 1, 8, type}, Case{2, 1, 24, paletted},
                        Case{0, 0, 32, type}, Case{2, 0, 16, depth}}) {
    SCOPED_TRACE(testing::Message() << int(c.imageType) << "/" << int(c.colourMap) << "/" << int(c.bpp));
    TgaHeader h;
    h.imageType = c.imageType;
    h.colourMapType = c.colourMap;
    h.depth = c.bpp;
    ASSERT_TRUE(writeFile(dir.file("r.tga"), tgaFile(h, Bytes(4, 9))));
    auto r = loadTga(dir.file("r.tga"));
    EXPECT_EQ(r.result, nullptr);
    EXPECT_EQ(r.out, c.message);
    EXPECT_EQ(r.err, "");
    freeImage(r.result);
  }
}

TEST(TgaLoad, AMissingFilePrintsNothing) {
  TempDir dir;
  auto r = loadTga(dir.file("nothing.tga"));
  EXPECT_EQ(r.result, nullptr);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(TgaLoad, TruncatedFilesAreRefusedWithOneLineNamingTheFile) {
  TempDir dir;
  const std::string path = dir.file("short.tga");
  const std::string message = "TGA file >>" + path + "<< is truncated!\n";
  TgaHeader h;
  h.idLength = 3;
  h.width = 2;
  h.height = 2;
  Bytes full = tgaFile(h, Bytes(16, 7));
  TgaHeader huge;
  huge.width = 0xffff;
  huge.height = 0xffff;
  struct Case {
    const char *name;
    Bytes file;
  };
  std::vector<Case> cases = {
      {"empty", {}},
      {"seventeen header bytes", Bytes(full.begin(), full.begin() + 17)},
      {"image ID cut", Bytes(full.begin(), full.begin() + 20)},
      {"one pixel byte short", Bytes(full.begin(), full.end() - 1)},
      {"a 65535 x 65535 claim", tgaFile(huge, Bytes(64, 1))},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(writeFile(path, c.file));
    auto r = loadTga(path);
    EXPECT_EQ(r.result, nullptr);
    EXPECT_EQ(r.out, message);
    freeImage(r.result);
  }
  // A header check still comes first when the header is whole.
  TgaHeader rle = h;
  rle.imageType = 10;
  ASSERT_TRUE(writeFile(path, tgaFile(rle, {})));
  EXPECT_EQ(loadTga(path).out, "Only mode 2 (unmapped, uncompressed) supported\n");

  ASSERT_TRUE(writeFile(path, full));
  auto ok = loadTga(path);
  ASSERT_NE(ok.result, nullptr);
  freeImage(ok.result);
}

TEST(TgaLoad, AStreamThatCannotSeekIsStillCheckedForItsLength) {
  TempDir dir;
  TgaHeader h;
  h.idLength = 5;
  h.width = 2;
  h.height = 1;
  Bytes full = tgaFile(h, {1, 2, 3, 4, 5, 6, 7, 8});
  auto good = throughPipe<util_image_t>(dir, full, util_imageFromTGA);
  ASSERT_NE(good.result, nullptr);
  EXPECT_EQ(imageBytes(good.result), (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
  freeImage(good.result);

  auto cut = throughPipe<util_image_t>(dir, Bytes(full.begin(), full.end() - 2), util_imageFromTGA);
  EXPECT_EQ(cut.result, nullptr);
  EXPECT_EQ(cut.out, "TGA file >>" + dir.file("pipe") + "<< is truncated!\n");
}

}  // namespace
