// The library: trace window, pack lookup, memory files, and the PNG decoder against libpng.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <functional>
#include <map>
#include <tuple>

#include "data.h"
#include "files.h"
#include "memfile.h"
#include "png.h"
#include "tempfolder.h"
#include "zaretest.h"
#include "zarelib_internal.h"

namespace {

zl_t *zl(zare_lib_t *lib) { return reinterpret_cast<zl_t *>(lib); }

TEST(ZareTrace, WindowKeepsTheLastTenTextsOldestFirst) {
  Lib c({});
  EXPECT_EQ(zare_lastError(c.lib), 0);
  EXPECT_EQ(c.trace(), "Started");
  std::string want = "Started";
  for (int i = 0; i < 9; ++i) {
    zl_trace(zl(c.lib), ZL_MSG_FOUND, i);
    want += "found @ " + std::to_string(i);
    EXPECT_EQ(c.trace(), want);
    EXPECT_EQ(i < 8 ? zl(c.lib)->traceFmt[7 - i] : nullptr, nullptr);
  }
  zl_trace(zl(c.lib), ZL_MSG_FOUND, 9);
  EXPECT_EQ(c.trace(), want.substr(7) + "found @ 9");
  // Texts that leave the window and those left in it at delete are released (LeakSanitizer).
  for (int i = 10; i < 500; ++i) zl_trace(zl(c.lib), ZL_MSG_FOUND, i);
  EXPECT_EQ(c.trace().substr(0, 11), "found @ 490");
  EXPECT_EQ(zare_delete(nullptr), 0);
}

// The messages that the traces of real loads in the other tests do not show: addresses padded to
// eight digits or longer, a length past 32 bits, a value ignored, a name cut at 99 characters.
TEST(ZareTrace, EachMessageFormatsItsOneValue) {
  Lib c({});
  const std::string longName(300, 'n');
  const struct {
    int msg;
    intptr_t value;
    std::string text;
  } cases[] = {
      {ZL_MSG_PNG_NEW, 0x1f, "png new: 0000001f"}, {ZL_MSG_IMAGE, intptr_t(0x7f12345678abLL), "image 7f12345678ab"},
      {ZL_MSG_SIZE, intptr_t(3000000000LL), "Size: 3000000000"}, {ZL_MSG_IDAT, 12345, "IDAT"},
      {ZL_MSG_SOMETHING_WRONG, 2771670, "somthing is wrong pos was 2771670"},
      {ZL_MSG_SEARCHING, reinterpret_cast<intptr_t>(longName.c_str()), "searching " + longName.substr(0, 89)},
  };
  for (const auto &k : cases) {
    EXPECT_EQ(zl_trace(zl(c.lib), k.msg, k.value), int32_t(k.text.size())) << k.text;
    EXPECT_EQ(zl(c.lib)->traceFmt[9], k.text);
  }
  for (int i = 0; i < 10; ++i) zl_trace(zl(c.lib), ZL_MSG_SEARCHING, reinterpret_cast<intptr_t>(longName.c_str()));
  EXPECT_EQ(c.trace().size(), 990u);
  EXPECT_EQ(zl_trace(zl(c.lib), ZL_NUM_MSGS, 0), -1);
  EXPECT_EQ(zl_trace(zl(c.lib), -1, 0), -1);
  EXPECT_STREQ(zare_getTrace(nullptr), "");
  EXPECT_EQ(zare_lastError(nullptr), -1);
  // One buffer serves every context and the next call overwrites it.
  Lib other({});
  zl_trace(zl(other.lib), ZL_MSG_IHDR, 0);
  zl_trace(zl(other.lib), ZL_MSG_PLTE, 0);
  char *first = zare_getTrace(c.lib);
  EXPECT_EQ(zare_getTrace(other.lib), first);
  EXPECT_STREQ(first, "StartedIHDRPLTE");
}

const std::vector<PackInput> kFiles = {
    {"data/organ.png", {1, 2, 3, 4, 5}}, {"data/tune.mp3", Bytes(40, 7)}, {"data/tex-cow-env.png", {9}}};

TEST(ZarePack, FindsEachFileInPlaceAndTracesTheLookup) {
  Lib c(kFiles);
  for (size_t k = 0; k < kFiles.size(); ++k) {
    zare_memfile_t *mf = zare_memfile_new(c.lib);
    ASSERT_TRUE(mf && !mf->pData && !mf->iSize && !mf->iPos);
    mf->iPos = 3;
    ASSERT_EQ(zare_memfile_load(c.lib, mf, kFiles[k].name.c_str()), 0);
    EXPECT_EQ(mf->pData, c.pack.data() + entryOffset(c.pack, k) + 7);
    EXPECT_EQ(Bytes(mf->pData, mf->pData + mf->iSize), kFiles[k].data);
    EXPECT_EQ(mf->iPos, 0);
    free(mf);
    if (k != 1) continue;
    // Exactly ten texts: the search, the pack's three fields, two per record examined, the match.
    const std::string a = std::to_string(entryOffset(c.pack, 0)), b = std::to_string(entryOffset(c.pack, 1));
    EXPECT_EQ(c.trace(), "searching data/tune.mp3Size: " + std::to_string(c.pack.size()) + "Dir offset: " +
                             std::to_string(getLe32(&c.pack[c.pack.size() - 4])) + "Dir entries: 3data offset: " +
                             a + "name offset: 0data offset: " + b + "name offset: 15data offset: " + b +
                             "found @ " + b);
  }
  EXPECT_EQ(zare_lastError(c.lib), 0);
}

// A failed load leaves the memory file as it was.
bool refused(zare_lib_t *lib, const char *name) {
  int marker = 0;
  zare_memfile_t mf = {reinterpret_cast<unsigned char *>(&marker), 7, 3};
  const int32_t rc = zare_memfile_load(lib, &mf, name);
  return rc == -1 && mf.pData == reinterpret_cast<unsigned char *>(&marker) && mf.iSize == 7 && mf.iPos == 3;
}

TEST(ZarePack, NamesMustMatchExactlyInTheFirstPack) {
  Lib c(kFiles);
  for (const char *name : {"Data/organ.png", "organ.png", "data/organ.png ", "data/organ.pn", ""}) {
    EXPECT_TRUE(refused(c.lib, name)) << name;
    EXPECT_TRUE(c.trace().ends_with(std::string("couldn't find ") + name)) << c.trace();
  }
  Lib dup({{"a", {1}}, {"b", {}}, {"a", {3}}});
  zare_memfile_t mf{};
  ASSERT_EQ(zare_memfile_load(dup.lib, &mf, "b") + mf.iSize, 0) << "an empty file is a file";
  ASSERT_EQ(zare_memfile_load(dup.lib, &mf, "a"), 0);
  EXPECT_EQ(mf.pData[0], 1);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(zare_dar_add(dup.lib, reinterpret_cast<zare_data_t *>(c.pack.data())), 0);
  EXPECT_TRUE(refused(dup.lib, "data/tune.mp3"));
  EXPECT_EQ(zare_dar_add(dup.lib, reinterpret_cast<zare_data_t *>(c.pack.data())), -1);
  EXPECT_EQ(zl(dup.lib)->iNumZdar, 16);
  zare_lib_t *bare = zare_new();
  EXPECT_TRUE(refused(bare, "x"));
  EXPECT_STREQ(zare_getTrace(bare), "Startedsearching xcouldn't find x");
  zare_delete(bare);
  EXPECT_EQ(zare_memfile_load(c.lib, nullptr, "x"), -1);
  EXPECT_EQ(zare_memfile_load(nullptr, &mf, "x"), -1);
  EXPECT_EQ(zare_dar_getSize(nullptr, 0) + zare_dar_getSize(c.pack.data(), -7), -2) << "no pack, or an entry before it";
}

TEST(ZarePack, DamagedPacksAreRefusedWithoutReadingPastThem) {
  const Bytes good = makePack(kFiles);
  const uint32_t dir = getLe32(&good[good.size() - 4]);
  const uint32_t size = uint32_t(good.size());
  struct Case {
    std::function<void(Bytes &)> damage;
    const char *name;
    std::string traceEnd;  // empty: the load succeeds
  };
  std::vector<Case> cases = {
      {[&](Bytes &p) { setLe32(&p[size - 4], size); }, "data/organ.png", "Dir offset: " + std::to_string(size) + "couldn't find data/organ.png"},
      {[&](Bytes &p) { setLe32(&p[size - 4], size - 4); }, "data/organ.png", "couldn't find data/organ.png"},
      {[&](Bytes &p) { setLe32(&p[size - 4], 0xFFFFFFF0u); }, "data/organ.png", "couldn't find data/organ.png"},
      {[&](Bytes &p) { setLe32(&p[size - 4], dir + 1); }, "data/organ.png", "couldn't find data/organ.png"},
      {[&](Bytes &p) { setLe16(&p[dir + 3], 0xFFFF); }, "data/organ.png", "Dir entries: 65535couldn't find data/organ.png"},
      {[&](Bytes &p) { setLe16(&p[dir + 9], 0xFFFF); }, "data/organ.png", "name offset: 65535data offset: " + std::to_string(entryOffset(good, 1)) + "name offset: 15data offset: " + std::to_string(entryOffset(good, 2)) + "name offset: 29couldn't find data/organ.png"},
      {[&](Bytes &p) { setLe16(&p[dir + 9], 0xFFFF); }, "data/tune.mp3", ""},
      {[&](Bytes &p) { setLe32(&p[dir + 5], size + 1); }, "data/organ.png", "found @ " + std::to_string(size + 1) + "somthing is wrong pos was " + std::to_string(size + 1)},
      {[&](Bytes &p) { setLe32(&p[dir + 5], size); }, "data/organ.png", "found @ " + std::to_string(size) + "couldn't find data/organ.png"},
      {[&](Bytes &p) { setLe32(&p[dir + 5], size - 6); }, "data/organ.png", "couldn't find data/organ.png"},
      {[&](Bytes &p) { setLe32(&p[dir + 5], 0x80000000u); }, "data/organ.png", "couldn't find data/organ.png"},
      {[&](Bytes &p) { setLe32(&p[entryOffset(good, 2) + 3], size - entryOffset(good, 2) - 6); }, "data/tex-cow-env.png", "couldn't find data/tex-cow-env.png"},
      {[&](Bytes &p) { setLe32(&p[entryOffset(good, 2) + 3], size - entryOffset(good, 2) - 7); }, "data/tex-cow-env.png", ""},
      {[&](Bytes &p) { p[size - 7] = 'X'; }, "data/tex-cow-env.png", ""},
      {[](Bytes &p) { p.resize(8); setLe32(&p[4], 5); }, "a", "Size: 5couldn't find a"},
      {[](Bytes &p) { p.resize(8); setLe32(&p[4], 8); }, "a", "Size: 8Dir offset: 8couldn't find a"},
  };
  // Every byte of the magic and of the directory's tag counts.
  for (size_t i = 0; i < 4; ++i) cases.push_back({[i](Bytes &p) { p[i] ^= 0x20; }, "data/organ.png", "Startedsearching data/organ.pngcouldn't find data/organ.png"});
  for (size_t i = 0; i < 3; ++i) {
    cases.push_back({[&, i](Bytes &p) { p[dir + i] ^= 0x20; }, "data/organ.png",
                     "Dir offset: " + std::to_string(dir) + "couldn't find data/organ.png"});
  }
  for (const auto &k : cases) {
    Bytes pack = good;
    k.damage(pack);
    pack.shrink_to_fit();  // exactly the pack's bytes, so AddressSanitizer sees any read past them
    zare_lib_t *lib = zare_new();
    zare_dar_add(lib, reinterpret_cast<zare_data_t *>(pack.data()));
    const std::string what = k.name + (" after damage ending " + k.traceEnd);
    if (k.traceEnd.empty()) {
      zare_memfile_t mf{};
      EXPECT_EQ(zare_memfile_load(lib, &mf, k.name), 0) << what;
    } else {
      EXPECT_TRUE(refused(lib, k.name)) << what;
      EXPECT_TRUE(std::string(zare_getTrace(lib)).ends_with(k.traceEnd)) << zare_getTrace(lib);
    }
    zare_delete(lib);
  }
}

// Decodes png as "data/img.png" of a pack; checks it against libpng's reading of the same bytes.
void expectSameAsLibpng(const Bytes &png, const std::string &what) {
  Indexed ref;
  ASSERT_TRUE(readPng(png, ref)) << what;
  Lib c({{"data/img.png", png}});
  zare_image_t *img = zare_imageFromPNG(c.lib, "data/img.png");
  ASSERT_NE(img, nullptr) << what << ": " << c.trace();
  EXPECT_EQ(zare_lastError(c.lib), 0);
  EXPECT_EQ(img->width, ref.width) << what;
  EXPECT_EQ(img->height, ref.height) << what;
  EXPECT_EQ(img->mode, 1);
  EXPECT_EQ(Bytes(img->data, img->data + ref.indices.size()), ref.indices) << what;
  EXPECT_EQ(img->palette->num, ref.palette.size() / 3) << what;
  for (size_t i = 0; i < 768; ++i) ASSERT_EQ(img->palette->data[i], i < ref.palette.size() ? ref.palette[i] : 0) << what << " palette " << i;
  zare_image_delete(c.lib, &img);
  EXPECT_EQ(img, nullptr);
}

TEST(ZarePng, DecodesEveryIndexedImageAsLibpngDoes) {
  const struct {
    uint32_t w, h;
    int palette;
    bool noisy;
    size_t idat;
    int level;
  } cases[] = {
      {1, 1, 1, false, 8192, 6},   {7, 3, 2, true, 8192, 6},     {16, 16, 18, false, 64, 6},
      {64, 33, 256, true, 100, 6}, {33, 64, 255, true, 8192, 6}, {256, 256, 256, true, 8192, 6},
      {512, 512, 256, false, 8192, 9}, {300, 7, 129, true, 1 << 20, 6}, {1, 500, 3, true, 37, 6},
      {200, 150, 256, true, 8192, 0},  // stored blocks: more data than pixels, so the IDAT buffer grows
  };
  uint32_t seed = 1;
  for (const auto &k : cases) {
    const Indexed img = makeImage(k.w, k.h, k.palette, k.noisy, seed++);
    const Bytes png = writePng(img, k.idat, k.level);
    const std::string what = std::to_string(k.w) + "x" + std::to_string(k.h) + " idat " + std::to_string(k.idat);
    expectSameAsLibpng(png, what);
    Indexed back;
    ASSERT_TRUE(readPng(png, back));
    EXPECT_EQ(back.indices, img.indices) << what;
  }
  const Indexed split = makeImage(40, 30, 200, true, 7);
  for (size_t size : {1, 5, 13, 1000}) expectSameAsLibpng(recutIdat(writePng(split), size), "split " + std::to_string(size));
  for (const auto &entry : std::filesystem::directory_iterator(std::string(PARKHAUS_SOURCE_DIR) + "/data")) {
    if (entry.path().extension() == ".png") expectSameAsLibpng(fileRead(entry.path().string()), entry.path().string());
  }
}

TEST(ZarePng, OtherChunksBadCrcsAndChunksAfterIendAreReadAsTheyCome) {
  const Indexed img = makeImage(30, 20, 5, true, 11);
  std::vector<Chunk> chunks = splitChunks(writePng(img, 100));
  chunks.insert(chunks.begin() + 1, {{"tIME", Bytes(7, 1)}, {"bKGD", {0}}, {"idat", Bytes(3)}});
  std::vector<Chunk> moved = chunks;
  std::swap(moved[moved.size() - 1], moved[moved.size() - 2]);  // the last IDAT after IEND
  Bytes badCrc = joinChunks(moved);
  badCrc[29] ^= 0x55;  // the header's CRC
  chunks.pop_back();     // no IEND at all
  for (const Bytes &png : {badCrc, joinChunks(chunks)}) {
    Lib c({{"data/img.png", png}});
    zare_image_t *out = zare_imageFromPNG(c.lib, "data/img.png");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Bytes(out->data, out->data + img.indices.size()), img.indices);
    zare_image_delete(c.lib, &out);
  }
}

TEST(ZarePng, TraceOfASuccessfulLoad) {
  Indexed img = makeImage(256, 256, 256, false, 5);
  img.palette[0] = img.palette[1] = img.palette[2] = 255;
  size_t idat = 0;
  for (const Chunk &k : splitChunks(writePng(img))) idat += k.type == "IDAT" ? k.data.size() : 0;
  const Bytes png = writePng(img, (idat + 1) / 2);
  ASSERT_EQ(splitChunks(png).size(), 5u);  // IHDR, PLTE, two IDAT, IEND
  Lib c({{"data/img.png", png}});
  zare_image_t *out = zare_imageFromPNG(c.lib, "data/img.png");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->palette->data[0] + out->palette->data[1] + out->palette->data[2], 3 * 255);
  char image[64];
  snprintf(image, sizeof image, "image %08" PRIxPTR, reinterpret_cast<uintptr_t>(out));
  const std::string t = c.trace();
  const std::string decoder = t.substr(12, t.find("IHDR") - 12);
  EXPECT_EQ(t, "zare_png_new" + decoder + "IHDRPLTEIDATIDATIENDpng loadFromMem 0palette entries: 256" + image);
  zare_image_delete(c.lib, &out);
}

// A failed load: no image, its result code, its printed message, its last trace texts.
void expectFailure(const Bytes &png, const char *name, int32_t code, const std::string &printed,
                   const std::string &traceEnd, const std::string &what) {
  Lib c({{"data/img.png", png}, {"data/tune.mp3", {'I', 'D', '3', 4, 0, 0, 0, 0}}});
  testing::internal::CaptureStdout();
  zare_image_t *img = zare_imageFromPNG(c.lib, name);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), printed) << what;
  EXPECT_EQ(img, nullptr) << what;
  zare_image_delete(c.lib, &img);
  EXPECT_EQ(zare_lastError(c.lib), code) << what;
  EXPECT_NE(c.trace().find(traceEnd), std::string::npos) << what << ": " << c.trace();
}

TEST(ZarePng, EachFailureHasItsResultMessageAndTrace) {
  const Indexed img = makeImage(16, 8, 4, true, 21);
  const Bytes good = writePng(img);
  expectFailure(good, "data/missing.png", 4097, "", "couldn't find data/missing.pngzare_png_newpng new: ", "missing");
  expectFailure(good, "data/missing.png", 4097, "", "invalid png signaturepng loadFromMem 4097", "missing, end");
  expectFailure(good, "data/tune.mp3", 4097, "", "invalid png signaturepng loadFromMem 4097", "not a PNG");
  // Other colour types and 16-bit samples decode to rows of their own size, but make no indexed image.
  for (auto [type, depth, bytes] : {std::tuple{0, 8, 1}, {2, 8, 3}, {4, 8, 2}, {6, 8, 4}, {0, 16, 2}, {6, 16, 8}}) {
    Bytes ihdr(13, 0);
    setBe32(&ihdr[0], 5);
    setBe32(&ihdr[4], 4);
    ihdr[8] = uint8_t(depth);
    ihdr[9] = uint8_t(type);
    Bytes raw, pixels;
    for (int y = 0; y < 4; ++y) {
      raw.push_back(0);
      for (int x = 0; x < 5 * bytes; ++x) raw.push_back(uint8_t(x * 7 + y)), pixels.push_back(uint8_t(x * 7 + y));
    }
    const Bytes png = withRows(joinChunks({{"IHDR", ihdr}, {"IEND", {}}}), raw);
    expectFailure(png, "data/img.png", -1, "", "IHDRIDATIENDpng loadFromMem -1", "type " + std::to_string(type));
    Lib c({});
    zare_png_t *decoder = zare_png_new(c.lib);
    Bytes after = png;  // read from the memory file's read position on
    after.insert(after.begin(), 3, 7);
    zare_memfile_t mf = {after.data(), int32_t(after.size()), 3};
    ASSERT_EQ(zare_png_loadFromMem(decoder, &mf), 0) << type;
    EXPECT_EQ(Bytes(decoder->pData, decoder->pData + decoder->iSize), pixels) << "colour type " << type;
    zare_png_delete(&decoder);
    EXPECT_EQ(decoder, nullptr);
  }
}

// Every byte of the signature and of each chunk's type counts: a changed signature is no PNG, and
// a chunk whose type differs in any byte is another chunk, skipped, so that the image lacks it.
TEST(ZarePng, SignatureAndChunkTypesAreComparedInFull) {
  const Indexed img = makeImage(9, 4, 6, true, 31);
  const Bytes good = writePng(img);
  for (size_t i = 0; i < 8; ++i) {
    Bytes png = good;
    png[i] ^= 0x01;
    expectFailure(png, "data/img.png", 4097, "", "invalid png signaturepng loadFromMem 4097", "signature byte " + std::to_string(i));
  }
  const std::vector<Chunk> chunks = splitChunks(good);
  for (size_t k = 0; k < chunks.size(); ++k) {
    for (size_t i = 0; i < 4; ++i) {
      std::vector<Chunk> changed = chunks;
      changed[k].type[i] ^= 0x20;  // the case of one letter
      const std::string what = chunks[k].type + " byte " + std::to_string(i), type = chunks[k].type;
      Lib c({{"data/img.png", joinChunks(changed)}});
      zare_image_t *out = zare_imageFromPNG(c.lib, "data/img.png");
      EXPECT_EQ(c.trace().find(type), std::string::npos) << what << ": " << c.trace();
      EXPECT_EQ(out != nullptr, type == "IEND") << what;  // the image needs all but the end marker
      zare_image_delete(c.lib, &out);
    }
  }
  std::vector<Chunk> early = chunks;  // image data before the header spoils the stream, though all of it follows
  early.insert(early.begin(), *std::find_if(chunks.begin(), chunks.end(), [](const Chunk &c) { return c.type == "IDAT"; }));
  Lib e({{"data/img.png", joinChunks(early)}});
  EXPECT_EQ(zare_imageFromPNG(e.lib, "data/img.png"), nullptr) << e.trace();
}

// Every file of the damaged folder is refused without a read out of bounds, with its result, the
// message the decoder prints (a row filter only), and the chunks it read on the way.
TEST(ZarePng, EveryDamagedFileFailsItsOwnWay) {
  const std::string all = "IHDRPLTEIDATIDATIEND", end = "png loadFromMem -1";
  const std::string one = "IHDRPLTEIDAT", shortEnd = "IHDRPLTEIDATIEND", bad = "invalid png signature";
  const std::map<std::string, std::tuple<int32_t, std::string, std::string>> want = {
      {"bit_depth_4.png", {-1, "", all}}, {"color_type_7.png", {-1, "", all}}, {"cut_between_idat.png", {-1, "", one}},
      {"cut_in_chunk_type.png", {-1, "", "IHDRPLTE"}}, {"cut_in_last_idat_crc.png", {-1, "", one}},
      {"cut_inside_idat.png", {-1, "", one}}, {"filter_type_1.png", {-1, "Filter 1 for line 0 not supported ... yet.\n", all}},
      {"filter_type_4_row_5.png", {-1, "Filter 4 for line 5 not supported ... yet.\n", all}}, {"height_0.png", {-1, "", all}},
      {"height_16385.png", {-1, "", shortEnd}}, {"huge_size_tiny_data.png", {-1, "", all}},
      {"idat_length_ffffffff.png", {-1, "", one}}, {"idat_length_past_end.png", {-1, "", one}},
      {"ihdr_12_bytes.png", {-1, "", all}}, {"ihdr_after_idat.png", {-1, "", "PLTEIDATIDATIHDRIEND"}},
      {"interlaced.png", {-1, "", all}}, {"missing_idat.png", {-1, "", "IHDRPLTEIEND"}},
      {"missing_ihdr.png", {-1, "", "PLTEIDATIDATIEND"}}, {"missing_plte.png", {-1, "", "IHDRIDATIDATIEND"}},
      {"not_png_bad_signature.png", {4097, "", bad}}, {"not_png_short.png", {4097, "", bad}},
      {"only_signature.png", {-1, "", ""}}, {"plte_2_bytes.png", {-1, "", all}}, {"plte_length_past_end.png", {-1, "", "IHDR"}},
      {"rgb_not_indexed.png", {-1, "", "IHDRIDATIDATIEND"}}, {"stream_cut_short.png", {-1, "", shortEnd}},
      {"stream_one_row_short.png", {-1, "", all}}, {"width_0.png", {-1, "", all}}, {"width_16385.png", {-1, "", shortEnd}},
      {"zlib_bad_adler.png", {-1, "", all}}, {"zlib_bad_header.png", {-1, "", all}},
  };
  size_t files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(std::string(PARKHAUS_SOURCE_DIR) + "/tests/zare/damaged")) {
    const std::string name = entry.path().filename().string();
    ASSERT_TRUE(want.count(name)) << name << " has no expectation";
    const auto &[code, printed, chunks] = want.at(name);
    expectFailure(fileRead(entry.path().string()), "data/img.png", code, printed,
                  chunks + (code == 4097 ? "png loadFromMem 4097" : end), name);
    ++files;
  }
  EXPECT_EQ(files, want.size());
}

// A header that differs from a good one in one field alone is refused, whichever field it is, after
// all the chunks are read: each field is read from its own bytes.
TEST(ZarePng, AHeaderWrongInOneFieldAloneIsRefused) {
  const Bytes good = writePng(makeImage(7, 5, 6, true, 41), 64);
  std::vector<Chunk> chunks = splitChunks(good);
  std::string read;
  for (const Chunk &c : chunks) read += c.type;
  ASSERT_EQ(chunks[0].type, "IHDR");
  const Bytes ihdr = chunks[0].data;
  // Offset, size and a wrong value: width, height, bit depth, colour type, then the three methods.
  for (auto [at, size, value] : {std::tuple{0, 4, 0u}, {0, 4, 16385u}, {4, 4, 0u}, {4, 4, 16385u}, {8, 1, 4u},
                                 {8, 1, 16u}, {9, 1, 0u}, {9, 1, 7u}, {10, 1, 1u}, {11, 1, 1u}, {12, 1, 1u}}) {
    chunks[0].data = ihdr;
    if (size == 4) setBe32(&chunks[0].data[size_t(at)], value);
    else chunks[0].data[size_t(at)] = uint8_t(value);
    const std::string what = "byte " + std::to_string(at) + " = " + std::to_string(value);
    const bool tooLarge = value == 16385u;  // the image data is then refused when it arrives
    expectFailure(joinChunks(chunks), "data/img.png", -1, "",
                  (tooLarge ? read.substr(0, 12) + "IEND" : read) + "png loadFromMem -1", what);
  }
}

// The palette's count is length / 3 - 1, exactly (count + 1) x 3 bytes are copied, and a PLTE of
// fewer than 3 or more than 768 bytes is refused, leaving the palette as it was.
TEST(ZarePng, PaletteRecordTakesWholeEntries) {
  Lib c({});
  zare_png_t *png = zare_png_new(c.lib);
  Bytes pal(768);
  for (size_t i = 0; i < pal.size(); ++i) pal[i] = uint8_t(i + 1);
  zare_png_chunk_t plte = {0, "PLTE", ZARE_PNG_PLTE, 0, pal.data(), 0};
  for (auto [length, result, num] : {std::tuple{768u, 0, 255}, {54u, 0, 17}, {56u, 0, 17}, {3u, 0, 0},
                                     {2u, -1, 0xEE}, {769u, -1, 0xEE}}) {
    memset(png->pPLTE, 0xEE, sizeof *png->pPLTE);
    plte.length = length;
    EXPECT_EQ(zare_png_addPLTEFromChunk(png, &plte), result) << length;
    EXPECT_EQ(png->pPLTE->num, num) << length;
    const size_t copied = result == 0 ? (size_t(num) + 1) * 3 : 0;
    EXPECT_EQ(png->pPLTE->data[copied ? copied - 1 : 0], copied ? uint8_t(copied) : 0xEE) << length;
    EXPECT_EQ(png->pPLTE->data[std::min<size_t>(copied, 767)], copied < 768 ? 0xEE : 0) << length;
  }
  zare_png_delete(&png);
  EXPECT_EQ(zare_png_delete(&png), 0);
}

// The file utilities that the demo does not call: a PNG read from disk, its rows written raw.
TEST(ZarePng, FileUtilitiesReadAndWrite) {
  const Indexed img = makeImage(33, 21, 40, true, 77);
  const TempFolder tmp;
  const std::string path = (tmp / "a.png").string(), raw = (tmp / "a.raw").string();
  std::string error;
  ASSERT_TRUE(fileWrite(path, writePng(img, 100), error));
  Lib c({});
  zare_png_t *p = zare_png_new(c.lib);
  // A missing file, a folder, whose size is not a file's (its FILE must be closed all the same), no decoder.
  const long before = openFileCount();
  EXPECT_EQ(zare_png_loadFromFile(p, raw.c_str()) + zare_png_loadFromFile(p, tmp.str().c_str()) + zare_png_loadFromMem(nullptr, nullptr), -3);
  EXPECT_EQ(openFileCount(), before);
  ASSERT_EQ(zare_png_loadFromFile(p, path.c_str()), 0);
  ASSERT_EQ(zare_png_saveRAW(p, raw.c_str()), 0);
  EXPECT_EQ(zare_png_saveRAW(p, "/proc/no/a.raw"), ZARE_FAILED) << "a file that cannot be made";
  testing::internal::CaptureStdout();
  zare_png_printInfo(p);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\tWidth: 33\n\tHeight: 21\n\tBit depth: 8\n\tColor type: 3\n\tCompression method: 0\n\tFilter method: 0\n\tInterlace method: 0\n");
  EXPECT_EQ(fileRead(raw), img.indices);
  zare_png_delete(&p);
}

}  // namespace
