// The PNG decoder and image record: differential tests against libpng, damaged files, the
// failure table, the trace of a load, and the decoder's utilities.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "memfile.h"
#include "png.h"
#include "zare_test_util.h"
#include "zarelib.h"
#include "zarelib_internal.h"

namespace {

// One chunk of a PNG file as bytes.
struct Chunk {
  std::string type;
  Bytes data;
};

std::vector<Chunk> splitChunks(const Bytes &png) {
  std::vector<Chunk> out;
  size_t pos = 8;
  while (pos + 12 <= png.size()) {
    const uint32_t len = png[pos] << 24 | png[pos + 1] << 16 | png[pos + 2] << 8 | png[pos + 3];
    out.push_back({std::string(png.begin() + pos + 4, png.begin() + pos + 8),
                   Bytes(png.begin() + pos + 8, png.begin() + pos + 8 + len)});
    pos += 12 + len;
  }
  return out;
}

Bytes chunkBytes(const std::string &type, const Bytes &data) {
  Bytes out(8);
  putBE32(out, 0, static_cast<uint32_t>(data.size()));
  memcpy(out.data() + 4, type.data(), 4);
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef *>(type.data()), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  out.resize(out.size() + 4);
  putBE32(out, out.size() - 4, static_cast<uint32_t>(crc));
  return out;
}

const Bytes kSignature = {137, 80, 78, 71, 13, 10, 26, 10};

// Reassembles a PNG from chunks.
Bytes joinChunks(const std::vector<Chunk> &chunks) {
  Bytes out = kSignature;
  for (const Chunk &c : chunks) {
    Bytes b = chunkBytes(c.type, c.data);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

// The PNG with its joined IDAT data split into chunks of at most `size` bytes.
Bytes rechunk(const Bytes &png, size_t size) {
  std::vector<Chunk> in = splitChunks(png), out;
  Bytes stream;
  for (const Chunk &c : in) {
    if (c.type == "IDAT") stream.insert(stream.end(), c.data.begin(), c.data.end());
  }
  bool placed = false;
  for (const Chunk &c : in) {
    if (c.type != "IDAT") {
      out.push_back(c);
    } else if (!placed) {
      for (size_t i = 0; i < stream.size(); i += size) {
        out.push_back({"IDAT", Bytes(stream.begin() + i, stream.begin() + std::min(stream.size(), i + size))});
      }
      placed = true;
    }
  }
  return joinChunks(out);
}

int countChunks(const Bytes &png, const std::string &type) {
  int n = 0;
  for (const Chunk &c : splitChunks(png)) n += c.type == type;
  return n;
}

// A context with one pack that holds the given PNG as "data/img.png".
struct Loader {
  zare_lib_t *lib = zare_new();
  Bytes pack;
  explicit Loader(const Bytes &png, const std::string &name = "data/img.png") {
    pack = buildPack({{name, png}, {"data/tune.mp3", Bytes{'I', 'D', '3'}}});
    zare_dar_add(lib, reinterpret_cast<zare_data_t *>(pack.data()));
  }
  ~Loader() { zare_delete(lib); }
  zare_image_t *load(const char *name = "data/img.png") { return zare_imageFromPNG(lib, name); }
  std::string trace() { return zare_getTrace(lib); }
  const zl_t *zl() const { return reinterpret_cast<const zl_t *>(lib); }
};

// Checks that our image equals what libpng reads from the same file.
void expectSameAsLibpng(const Bytes &png, const std::string &what) {
  IndexedImage ref;
  ASSERT_TRUE(readIndexedPng(png, ref)) << what;
  Loader l(png);
  zare_image_t *img = l.load();
  ASSERT_NE(img, nullptr) << what << ": " << l.trace();
  EXPECT_EQ(zare_lastError(l.lib), 0);
  EXPECT_EQ(img->width, ref.width) << what;
  EXPECT_EQ(img->height, ref.height) << what;
  EXPECT_EQ(img->mode, 1);
  ASSERT_NE(img->data, nullptr);
  EXPECT_EQ(0, memcmp(img->data, ref.indices.data(), ref.indices.size())) << what;
  ASSERT_NE(img->palette, nullptr);
  const size_t entries = ref.palette.size() / 3;
  EXPECT_EQ(img->palette->num, entries) << what;
  for (size_t i = 0; i < 768; ++i) {
    const unsigned want = i < ref.palette.size() ? ref.palette[i] : 0;
    ASSERT_EQ(img->palette->data[i], want) << what << " palette component " << i;
  }
  zare_image_delete(l.lib, &img);
  EXPECT_EQ(img, nullptr);
}

TEST(ZarePngDifferential, AgreesWithLibpngOnIndexedImages) {
  struct Case {
    uint32_t w, h;
    int palette;
    bool noisy;
    size_t idat;
  };
  const Case cases[] = {
      {1, 1, 1, false, 8192},     {7, 3, 2, true, 8192},      {16, 16, 18, false, 64},
      {64, 33, 256, true, 100},   {33, 64, 255, true, 8192},  {128, 128, 18, false, 512},
      {256, 256, 256, true, 8192}, {256, 256, 256, false, 8192}, {512, 512, 256, false, 8192},
      {300, 7, 129, true, 1 << 20}, {1, 500, 3, true, 37},
  };
  uint32_t seed = 1;
  for (const Case &c : cases) {
    IndexedImage img = makeImage(c.w, c.h, c.palette, c.noisy, seed++);
    Bytes png = writeIndexedPng(img, c.idat);
    ASSERT_FALSE(png.empty());
    const std::string what = std::to_string(c.w) + "x" + std::to_string(c.h) + " palette " +
                             std::to_string(c.palette) + " idat " + std::to_string(c.idat);
    expectSameAsLibpng(png, what);
    IndexedImage back;
    ASSERT_TRUE(readIndexedPng(png, back));
    EXPECT_EQ(back.indices, img.indices) << what;
  }
}

TEST(ZarePngDifferential, IdatSplitsDoNotMatter) {
  const Bytes png = writeIndexedPng(makeImage(40, 30, 200, true, 7), 8192);
  for (size_t split : {1, 2, 5, 13, 256, 1000}) {
    const Bytes re = rechunk(png, split);
    expectSameAsLibpng(re, "split " + std::to_string(split));
  }
  EXPECT_GT(countChunks(rechunk(png, 1), "IDAT"), 1000);
}

TEST(ZarePngDifferential, StoredNoiseLargerThanTheRawImageGrowsTheIdatBuffer) {
  // Uncompressed blocks make the data exceed width x height bytes, the buffer's first capacity.
  IndexedImage img = makeImage(200, 150, 256, true, 99);
  Bytes png = writeIndexedPng(img, 8192, 0);
  size_t idat = 0;
  for (const Chunk &c : splitChunks(png)) idat += c.type == "IDAT" ? c.data.size() : 0;
  ASSERT_GT(idat, static_cast<size_t>(200 * 150));
  expectSameAsLibpng(png, "stored noise");
}

TEST(ZarePngDifferential, OtherChunksAreSkippedAndCrcIgnored) {
  const Bytes png = writeIndexedPng(makeImage(20, 10, 16, true, 3), 50);
  std::vector<Chunk> chunks = splitChunks(png);
  chunks.insert(chunks.begin() + 1, {"tIME", Bytes(7, 1)});
  chunks.insert(chunks.begin() + 2, {"pHYs", Bytes(9, 0)});
  chunks.insert(chunks.begin() + 3, {"bKGD", Bytes(1, 0)});
  chunks.insert(chunks.begin() + 4, {"idat", Bytes(3, 0)});
  Bytes extra = joinChunks(chunks);
  // A wrong CRC on the first IDAT chunk.
  const std::string idat = "IDAT";
  const size_t first = std::search(extra.begin(), extra.end(), idat.begin(), idat.end()) - extra.begin();
  const uint32_t len = extra[first - 4] << 24 | extra[first - 3] << 16 | extra[first - 2] << 8 | extra[first - 1];
  extra[first + 4 + len] ^= 0x55;
  IndexedImage ref;
  ASSERT_TRUE(readIndexedPng(png, ref));
  Loader l(extra);
  zare_image_t *img = l.load();
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(0, memcmp(img->data, ref.indices.data(), ref.indices.size()));
  EXPECT_EQ(l.trace().find("tIME"), std::string::npos);
  zare_image_delete(l.lib, &img);
}

TEST(ZarePngDifferential, ChunksAfterIendAndNoIend) {
  IndexedImage img = makeImage(30, 20, 5, true, 11);
  const Bytes png = rechunk(writeIndexedPng(img, 8192), 100);
  std::vector<Chunk> chunks = splitChunks(png);
  ASSERT_EQ(chunks.back().type, "IEND");
  // The last IDAT after IEND is still read.
  std::vector<Chunk> moved = chunks;
  std::swap(moved[moved.size() - 1], moved[moved.size() - 2]);
  expectSameAsLibpng(png, "reference");
  {
    Loader l(joinChunks(moved));
    zare_image_t *out = l.load();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(0, memcmp(out->data, img.indices.data(), img.indices.size()));
    zare_image_delete(l.lib, &out);
  }
  // A file cut right after its last IDAT chunk.
  chunks.pop_back();
  Loader l(joinChunks(chunks));
  zare_image_t *out = l.load();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(0, memcmp(out->data, img.indices.data(), img.indices.size()));
  EXPECT_EQ(l.trace().find("IEND"), std::string::npos);
  zare_image_delete(l.lib, &out);
}

TEST(ZarePngImage, TraceOfASuccessfulLoad) {
  IndexedImage img = makeImage(256, 256, 256, false, 5);
  img.palette[0] = img.palette[1] = img.palette[2] = 255;
  Bytes png = writeIndexedPng(img, 8192);
  // Exactly two IDAT chunks.
  png = rechunk(png, (countChunks(png, "IDAT") * 8192 + 1) / 2 + 1);
  ASSERT_EQ(countChunks(png, "IDAT"), 2);
  Loader l(png);
  zare_image_t *out = l.load();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->palette->num, 256);
  EXPECT_EQ(out->palette->data[0], 255);
  EXPECT_EQ(out->palette->data[1], 255);
  EXPECT_EQ(out->palette->data[2], 255);
  const zl_t *z = l.zl();
  EXPECT_STREQ(z->traceFmt[0], "zare_png_new");
  EXPECT_EQ(std::string(z->traceFmt[1]).substr(0, 9), "png new: ");
  EXPECT_GE(strlen(z->traceFmt[1]), 17u);
  EXPECT_STREQ(z->traceFmt[2], "IHDR");
  EXPECT_STREQ(z->traceFmt[3], "PLTE");
  EXPECT_STREQ(z->traceFmt[4], "IDAT");
  EXPECT_STREQ(z->traceFmt[5], "IDAT");
  EXPECT_STREQ(z->traceFmt[6], "IEND");
  EXPECT_STREQ(z->traceFmt[7], "png loadFromMem 0");
  EXPECT_STREQ(z->traceFmt[8], "palette entries: 256");
  char image[64];
  snprintf(image, sizeof image, "image %08" PRIxPTR, reinterpret_cast<uintptr_t>(out));
  EXPECT_STREQ(z->traceFmt[9], image);
  zare_image_delete(l.lib, &out);
}

TEST(ZarePngImage, SmallPaletteLeavesTheRestZero) {
  IndexedImage img = makeImage(512, 512, 18, false, 8);
  Loader l(writeIndexedPng(img, 8192));
  zare_image_t *out = l.load();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->palette->num, 18);
  for (int i = 18 * 3; i < 768; ++i) ASSERT_EQ(out->palette->data[i], 0) << i;
  EXPECT_STREQ(l.zl()->traceFmt[8], "palette entries: 18");
  zare_image_delete(l.lib, &out);
}

TEST(ZarePngImage, DeleteNullAndTwice) {
  zare_image_t *none = nullptr;
  EXPECT_EQ(zare_image_delete(nullptr, &none), 0);
  EXPECT_EQ(zare_image_delete(nullptr, nullptr), 0);
}

// The failure table: each situation's result, last error and trace.
struct ZarePngFailure : ::testing::Test {
  IndexedImage img = makeImage(16, 8, 4, true, 21);
  Bytes good = writeIndexedPng(img, 8192);

  Bytes withRows(uint8_t filter) {
    Bytes raw;
    for (uint32_t y = 0; y < img.height; ++y) {
      raw.push_back(y == 3 ? filter : 0);
      raw.insert(raw.end(), img.indices.begin() + y * img.width, img.indices.begin() + (y + 1) * img.width);
    }
    uLongf n = compressBound(raw.size());
    Bytes z(n);
    compress(z.data(), &n, raw.data(), raw.size());
    z.resize(n);
    std::vector<Chunk> chunks = splitChunks(good), out;
    for (const Chunk &c : chunks) {
      if (c.type == "IDAT") continue;
      if (c.type == "IEND") out.push_back({"IDAT", z});
      out.push_back(c);
    }
    return joinChunks(out);
  }
};

TEST_F(ZarePngFailure, NameNotInThePack) {
  Loader l(good);
  EXPECT_EQ(l.load("data/missing.png"), nullptr);
  EXPECT_EQ(zare_lastError(l.lib), ZARE_ERR_NOT_PNG);
  const std::string t = l.trace();
  EXPECT_NE(t.find("couldn't find data/missing.pngzare_png_newpng new: "), std::string::npos) << t;
  EXPECT_NE(t.find("invalid png signaturepng loadFromMem 4097"), std::string::npos) << t;
}

TEST_F(ZarePngFailure, NotAPng) {
  Loader l(good);
  EXPECT_EQ(l.load("data/tune.mp3"), nullptr);
  EXPECT_EQ(zare_lastError(l.lib), 4097);
  Bytes seven(good.begin(), good.begin() + 7);
  Loader s(seven);
  EXPECT_EQ(s.load(), nullptr);
  EXPECT_EQ(zare_lastError(s.lib), 4097);
  EXPECT_STREQ(s.zl()->traceFmt[8], "invalid png signature");
}

TEST_F(ZarePngFailure, ZlibDataError) {
  std::vector<Chunk> chunks = splitChunks(good);
  for (Chunk &c : chunks) {
    if (c.type == "IDAT") c.data[0] = 0x70;
  }
  Loader l(joinChunks(chunks));
  EXPECT_EQ(l.load(), nullptr);
  EXPECT_EQ(zare_lastError(l.lib), -1);
  EXPECT_STREQ(l.zl()->traceFmt[9], "png loadFromMem -1");
}

TEST_F(ZarePngFailure, FilterTypeOtherThanNonePrintsItsMessage) {
  for (uint8_t filter : {1, 2, 3, 4, 5, 255}) {
    Loader l(withRows(filter));
    testing::internal::CaptureStdout();
    EXPECT_EQ(l.load(), nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Filter " + std::to_string(filter) + " for line 3 not supported ... yet.\n");
    EXPECT_EQ(zare_lastError(l.lib), -1);
  }
  Loader ok(withRows(0));
  zare_image_t *img2 = ok.load();
  ASSERT_NE(img2, nullptr);
  EXPECT_EQ(0, memcmp(img2->data, img.indices.data(), img.indices.size()));
  zare_image_delete(ok.lib, &img2);
}

TEST_F(ZarePngFailure, ShortStreamIsAFailureNotAnImage) {
  // A complete zlib stream that holds one row less than the image needs.
  std::vector<Chunk> chunks = splitChunks(good);
  Bytes raw((img.width + 1) * (img.height - 1), 0);
  uLongf n = compressBound(raw.size());
  Bytes z(n);
  compress(z.data(), &n, raw.data(), raw.size());
  z.resize(n);
  std::vector<Chunk> out;
  for (const Chunk &c : chunks) {
    if (c.type == "IDAT") continue;
    if (c.type == "IEND") out.push_back({"IDAT", z});
    out.push_back(c);
  }
  Loader l(joinChunks(out));
  EXPECT_EQ(l.load(), nullptr);
  EXPECT_EQ(zare_lastError(l.lib), -1);
}

TEST_F(ZarePngFailure, NotIndexedIsRefused) {
  // An RGB image decodes in the decoder but gives no indexed image record.
  std::vector<Chunk> chunks = splitChunks(good), out;
  Bytes raw;
  for (uint32_t y = 0; y < 4; ++y) {
    raw.push_back(0);
    for (int x = 0; x < 3 * 5; ++x) raw.push_back(static_cast<unsigned char>(x * y));
  }
  uLongf n = compressBound(raw.size());
  Bytes z(n);
  compress(z.data(), &n, raw.data(), raw.size());
  z.resize(n);
  Bytes ihdr(13, 0);
  putBE32(ihdr, 0, 5);
  putBE32(ihdr, 4, 4);
  ihdr[8] = 8;
  ihdr[9] = 2;
  Bytes rgb = joinChunks({{"IHDR", ihdr}, {"IDAT", z}, {"IEND", {}}});
  Loader l(rgb);
  EXPECT_EQ(l.load(), nullptr);
  EXPECT_EQ(zare_lastError(l.lib), -1);

  zare_png_t *png = zare_png_new(l.lib);
  zare_memfile_t mf = {rgb.data(), static_cast<int32_t>(rgb.size()), 0};
  ASSERT_EQ(zare_png_loadFromMem(png, &mf), 0);
  EXPECT_EQ(png->iSize, 60u);
  EXPECT_EQ(0, memcmp(png->pData, raw.data() + 1, 15));
  EXPECT_EQ(0, memcmp(png->pData + 45, raw.data() + 3 * 16 + 1, 15));
  zare_png_delete(&png);
  EXPECT_EQ(png, nullptr);
}

// Every file of the damaged folder is refused, from the pack and from disk, without a read out of bounds.
TEST(ZarePngDamaged, EveryDamagedFileFails) {
  const std::filesystem::path dir = std::filesystem::path(ZARE_TEST_DIR) / "damaged";
  int files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    Bytes data = readFile(entry.path().string());
    Loader l(data);
    testing::internal::CaptureStdout();
    zare_image_t *img = l.load();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(img, nullptr) << name;
    zare_image_delete(l.lib, &img);
    const int32_t err = zare_lastError(l.lib);
    EXPECT_TRUE(err == -1 || err == 4097) << name << ": " << err;
    EXPECT_EQ(err == 4097, name.rfind("not_png", 0) == 0) << name;
    EXPECT_EQ(!out.empty(), name.find("filter_type") != std::string::npos) << name << ": " << out;
    ++files;
  }
  EXPECT_GE(files, 25);
  // The image they were made from decodes.
  Loader base(readFile(std::string(ZARE_TEST_DIR) + "/corpus/fuzz_png/base.png"));
  zare_image_t *img = base.load();
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->width, 16);
  EXPECT_EQ(img->height, 8);
  EXPECT_EQ(img->palette->num, 4);
  zare_image_delete(base.lib, &img);
}

// The asset images under data/, when they are there, decode exactly as libpng reads them.
TEST(ZarePngDifferential, AssetImagesAgreeWithLibpng) {
  const std::filesystem::path dir = std::filesystem::path(ZARE_TEST_DIR) / "../../data";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no data folder";
  int images = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".png") continue;
    const Bytes png = readFile(entry.path().string());
    IndexedImage ref;
    if (!readIndexedPng(png, ref)) continue;
    expectSameAsLibpng(png, entry.path().filename().string());
    ++images;
  }
  if (images == 0) GTEST_SKIP() << "no indexed PNG images under data/";
}

TEST(ZarePngDecoder, ChunkReaderRefusesChunksRunningPastTheEnd) {
  Bytes c = chunkBytes("IDAT", Bytes{1, 2, 3});
  zare_memfile_t mf = {c.data(), static_cast<int32_t>(c.size()), 0};
  zare_png_chunk_t *pc = zare_png_chunkNext(&mf);
  ASSERT_NE(pc, nullptr);
  EXPECT_EQ(pc->length, 3u);
  EXPECT_STREQ(pc->type, "IDAT");
  EXPECT_EQ(pc->bType, ZARE_PNG_IDAT);
  EXPECT_EQ(Bytes(pc->pData, pc->pData + 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(mf.iPos, 15);
  zare_png_chunkDelete(&pc);
  EXPECT_EQ(zare_png_chunkNext(&mf), nullptr);
  // Every cut of the chunk, inside its length, type, data or CRC, reads nothing.
  for (size_t cut = 0; cut < c.size(); ++cut) {
    Bytes part(c.begin(), c.begin() + cut);
    zare_memfile_t m = {part.data(), static_cast<int32_t>(part.size()), 0};
    EXPECT_EQ(zare_png_chunkNext(&m), nullptr) << cut;
  }
  struct Kind {
    const char *type;
    uint8_t kind;
  };
  for (Kind k : {Kind{"IHDR", 1}, Kind{"PLTE", 3}, Kind{"IEND", 255}, Kind{"idat", 0}, Kind{"IDAt", 0},
                 Kind{"tRNS", 0}}) {
    Bytes e = chunkBytes(k.type, {});
    zare_memfile_t m = {e.data(), static_cast<int32_t>(e.size()), 0};
    pc = zare_png_chunkNext(&m);
    ASSERT_NE(pc, nullptr);
    EXPECT_EQ(pc->bType, k.kind) << k.type;
    EXPECT_EQ(pc->pData, nullptr);
    zare_png_chunkDelete(&pc);
  }
}

TEST(ZarePngDecoder, HeaderAndPaletteRecords) {
  zare_lib_t *lib = zare_new();
  zare_png_t *png = zare_png_new(lib);
  ASSERT_NE(png, nullptr);
  EXPECT_EQ(png->pIDAT, nullptr);
  EXPECT_EQ(png->pData, nullptr);
  EXPECT_EQ(png->iSize, 0u);
  EXPECT_NE(png->ppcIDAT, nullptr);
  Bytes ihdr = {0, 0, 2, 0, 0, 0, 1, 0, 8, 3, 0, 0, 0};
  zare_png_chunk_t pc = {13, "IHDR", ZARE_PNG_IHDR, 0, ihdr.data(), 0};
  EXPECT_EQ(zare_png_addIHDRFromChunk(png, &pc), 0);
  EXPECT_EQ(png->pIHDR->width, 512u);
  EXPECT_EQ(png->pIHDR->height, 256u);
  EXPECT_EQ(png->pIHDR->colorType, 3);
  pc.length = 12;
  ihdr[3] = 9;
  EXPECT_EQ(zare_png_addIHDRFromChunk(png, &pc), -1);
  EXPECT_EQ(png->pIHDR->width, 512u);

  Bytes pal(770);
  for (size_t i = 0; i < pal.size(); ++i) pal[i] = static_cast<unsigned char>(i);
  zare_png_chunk_t pp = {768, "PLTE", ZARE_PNG_PLTE, 0, pal.data(), 0};
  struct Len {
    uint32_t length;
    int result;
    int num;
  };
  for (Len l : {Len{768, 0, 255}, Len{54, 0, 17}, Len{55, 0, 17}, Len{3, 0, 0}, Len{2, -1, 0}, Len{769, -1, 0}}) {
    png->pPLTE->num = 0;
    pp.length = l.length;
    EXPECT_EQ(zare_png_addPLTEFromChunk(png, &pp), l.result) << l.length;
    EXPECT_EQ(png->pPLTE->num, l.num) << l.length;
  }
  EXPECT_EQ(png->pPLTE->data[767], 767 & 255);
  zare_png_delete(&png);
  zare_delete(lib);
}

TEST(ZarePngDecoder, IdatBufferGrowsAndNeedsAHeader) {
  zare_lib_t *lib = zare_new();
  zare_png_t *png = zare_png_new(lib);
  Bytes part(70);
  zare_png_chunk_t pc = {70, "IDAT", ZARE_PNG_IDAT, 0, part.data(), 0};
  EXPECT_EQ(zare_png_addIDATFromChunk(png, &pc), -1);
  EXPECT_EQ(png->pIDAT, nullptr);
  Bytes ihdr = {0, 0, 0, 4, 0, 0, 0, 4, 8, 3, 0, 0, 0};
  zare_png_chunk_t ph = {13, "IHDR", ZARE_PNG_IHDR, 0, ihdr.data(), 0};
  ASSERT_EQ(zare_png_addIHDRFromChunk(png, &ph), 0);
  Bytes joined;
  for (int i = 0; i < 5; ++i) {
    for (size_t j = 0; j < part.size(); ++j) part[j] = static_cast<unsigned char>(i * 70 + j);
    EXPECT_EQ(zare_png_addIDATFromChunk(png, &pc), 0);
    joined.insert(joined.end(), part.begin(), part.end());
  }
  ASSERT_NE(png->pIDAT, nullptr);
  EXPECT_EQ(png->pIDAT->size, 350);
  EXPECT_GE(png->pIDAT->iCapacity, 350);
  EXPECT_EQ(Bytes(png->pIDAT->pData, png->pIDAT->pData + 350), joined);
  zare_png_delete(&png);
  zare_delete(lib);
}

TEST(ZarePngDecoder, ByteOrder) {
  const unsigned char be[4] = {0x12, 0x34, 0x56, 0x78};
  uint32_t raw;
  memcpy(&raw, be, 4);
  EXPECT_EQ(zare_png_ntohl(raw), 0x12345678u);
}

struct ZarePngFiles : ::testing::Test {
  std::string dir = testing::TempDir();
  IndexedImage img = makeImage(33, 21, 40, true, 77);
  Bytes png = writeIndexedPng(img, 100);
  std::string pngPath = dir + "zare_test_image.png";
  std::string rawPath = dir + "zare_test_image.raw";
  void SetUp() override {
    FILE *f = fopen(pngPath.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(png.data(), 1, png.size(), f);
    fclose(f);
  }
  void TearDown() override {
    remove(pngPath.c_str());
    remove(rawPath.c_str());
  }
};

TEST_F(ZarePngFiles, LoadFromFileAndSaveRaw) {
  zare_lib_t *lib = zare_new();
  zare_png_t *p = zare_png_new(lib);
  ASSERT_EQ(zare_png_loadFromFile(p, pngPath.c_str()), 0);
  EXPECT_EQ(p->iSize, 33u * 21u);
  ASSERT_EQ(zare_png_saveRAW(p, rawPath.c_str()), 0);
  EXPECT_EQ(readFile(rawPath), img.indices);
  EXPECT_EQ(zare_png_saveRAW(p, (dir + "no/such/dir/x.raw").c_str()), -1);
  zare_png_delete(&p);

  p = zare_png_new(lib);
  EXPECT_EQ(zare_png_loadFromFile(p, (dir + "zare_no_such_file.png").c_str()), -1);
  EXPECT_EQ(zare_png_saveRAW(p, rawPath.c_str()), -1);
  EXPECT_EQ(zare_png_loadFromFile(p, rawPath.c_str()), 4097);
  zare_png_delete(&p);
  EXPECT_EQ(zare_png_delete(&p), 0);
  zare_delete(lib);
}

TEST_F(ZarePngFiles, PrintInfo) {
  zare_lib_t *lib = zare_new();
  zare_png_t *p = zare_png_new(lib);
  ASSERT_EQ(zare_png_loadFromFile(p, pngPath.c_str()), 0);
  testing::internal::CaptureStdout();
  zare_png_printInfo(p);
  zare_png_printInfo(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\tWidth: 33\n\tHeight: 21\n\tBit depth: 8\n\tColor type: 3\n\tCompression method: 0\n"
            "\tFilter method: 0\n\tInterlace method: 0\n");
  zare_png_delete(&p);
  zare_delete(lib);
}

}  // namespace
