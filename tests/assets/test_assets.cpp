// The committed media and pack: layout, zpack on good and bad input, regeneration, the font and meshes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "datadata.h"
#include "files.h"
#include "loosefiles.h"
#include "packfmt.h"
#include "packlengths.h"
#include "process.h"
#include "tempfolder.h"
#include "util.h"

namespace fs = std::filesystem;

namespace {

// The pack as its layout table gives it: the files of data/ in directory order at their fixed
// lengths, each followed by a byte repeating its last one, and the same bytes linked into the demo.
TEST(Pack, IsLaidOutAsTheTableSaysAndLinkedIntoTheDemo) {
  const Bytes pack = fileRead(PACK_FILE);
  PackDirectory dir;
  std::string err;
  ASSERT_TRUE(packRead(pack, dir, err)) << err;
  ASSERT_EQ(dir.records.size(), std::size(kPackFixedLengths));
  for (size_t i = 0; i < dir.records.size(); i++) {
    const PackRecord &r = dir.records[i];
    EXPECT_EQ(r.name, kPackFixedLengths[i].name);
    EXPECT_EQ(r.dataLength, kPackFixedLengths[i].length) << r.name;
    const Bytes file = fileRead(r.name);
    EXPECT_TRUE(Bytes(pack.begin() + r.dataOffset, pack.begin() + r.dataOffset + r.dataLength) == file) << r.name;
    EXPECT_EQ(pack[r.dataOffset + r.dataLength], file.back()) << r.name;
  }
  ASSERT_EQ(dataData_size, pack.size());
  EXPECT_EQ(std::memcmp(dataData, pack.data(), pack.size()), 0) << "the linked pack is not the one built from data/";
}

// zpack on a manifest of its own: the pack and module it builds, and list, extract and verify on
// them, each with the exit status the build step relies on.
TEST(PackTool, BuildsListsExtractsAndVerifies) {
  const TempFolder d;
  fs::create_directories(d / "data");
  std::string err;
  ASSERT_TRUE(fileWrite((d / "data/a.bin").string(), Bytes{1, 2, 3}, err) && fileWrite((d / "data/empty").string(), Bytes{}, err));
  const std::string manifest = "# test pack\r\ndata/a.bin\n\ndata/empty  \ndata/a.bin\n";
  ASSERT_TRUE(fileWrite((d / "m.txt").string(), manifest.data(), manifest.size(), err));
  const std::string p = (d / "p\"\\.pack").string();  // a quote and a backslash, which the module's assembler must be given quoted
  ProcResult r = procRunIn({}, {ZPACK_EXE, "build", (d / "m.txt").string(), d.str(), p, (d / "mod").string()});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(procRunIn({}, {CXX_COMPILER, "-c", (d / "mod/datadata_pack.S").string(), "-o", (d / "mod.o").string()}).status, 0);
  PackDirectory dir;
  ASSERT_TRUE(packRead(fileRead(p), dir, err)) << err;
  ASSERT_EQ(dir.records.size(), 3u);
  r = procRunIn({}, {ZPACK_EXE, "list", p});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find(" records 3 names 33\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("\n1 " + std::to_string(dir.records[1].entryOffset) + " 11 0 data/empty\n"), std::string::npos) << r.output;
  r = procRunIn({}, {ZPACK_EXE, "extract", p, "data/a.bin", (d / "x").string()});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(fileRead((d / "x").string()), (Bytes{1, 2, 3}));
  r = procRunIn({}, {ZPACK_EXE, "extract", p, "data/A.bin", (d / "y").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("no entry named \"data/A.bin\""), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(d / "y"));
  EXPECT_NE(procRunIn({}, {ZPACK_EXE, "extract", p, "data/a.bin", "/proc/x"}).output.find("zpack: cannot write '/proc/x"), std::string::npos);
  r = procRunIn({}, {ZPACK_EXE, "verify", p});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, p + ": pack OK, 3 entries, " + std::to_string(dir.totalLength) + " bytes\n");
}

// What zpack refuses, with its exit status and its reason, leaving no pack and no module behind:
// a wrong command line, bad manifests, a missing file.
TEST(PackTool, RefusesBadCommandLinesAndManifests) {
  const TempFolder d;
  fs::create_directories(d / "data");
  std::string err;
  ASSERT_TRUE(fileWrite((d / "data/a.bin").string(), Bytes{1}, err));
  const std::string relative = "a name must be a relative path without NUL or \"..\"";
  std::string name = "data/", longNames;  // the 18th name of 4010 bytes starts past 16 bits
  while (name.size() < 4005) name += "./";
  for (int i = 0; i < 18; i++) longNames += name + "a.bin\n";
  for (const auto &[manifest, reason] : std::vector<std::pair<std::string, std::string>>{
           {"data/a.bin\n../secret\n", "manifest line 2: " + relative}, {"/etc/passwd\n", "manifest line 1: " + relative},
           {"data/../data/a.bin\n", "manifest line 1: " + relative}, {"# nothing\n\n", "manifest lists no files"},
           {"", "manifest lists no files"}, {"data/a.bin\ndata/none\n", "cannot read "}, {"-", "cannot read manifest"},
           {longNames, "name table too long"}, {"data/a.bin\n", "'" + d.str() + "/data/a.bin' exists and is not a folder"}}) {
    const std::string m = manifest == "-" ? "none.txt" : "m.txt";  // "-": no manifest at all
    ASSERT_TRUE(manifest == "-" || fileWrite((d / m).string(), manifest.data(), manifest.size(), err));
    const fs::path mod = d / (manifest == "data/a.bin\n" ? "data/a.bin/mod" : "mod");
    const ProcResult r = procRunIn({}, {ZPACK_EXE, "build", (d / m).string(), d.str(), (d / "p.pack").string(), mod.string()});
    EXPECT_EQ(r.status, 1) << reason;
    EXPECT_NE(r.output.find(reason), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(d / "p.pack") || fs::exists(d / "mod")) << reason;
  }
  EXPECT_EQ(procRunIn({}, {ZPACK_EXE, "build", (d / "m.txt").string(), d.str(), "/proc/p.pack", (d / "mod").string()}).status, 1);  // a good manifest
  for (const std::vector<std::string> &args : {std::vector<std::string>{}, {"build"}, {"list"}, {"verify", "a", "b"},
                                              {"extract", "a", "b"}, {"pack", "a"}}) {
    std::vector<std::string> argv = {ZPACK_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcResult r = procRunIn({}, argv);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
    EXPECT_EQ(r.output.rfind("usage: zpack build", 0), 0u) << r.output;
  }
  for (const char *cmd : {"list", "verify"}) {
    const ProcResult r = procRunIn({}, {ZPACK_EXE, cmd, (d / "none.pack").string()});
    EXPECT_TRUE(r.status == 1 && r.output == "zpack: cannot read " + (d / "none.pack").string() + "\n") << cmd << ": " << r.output;
  }
}

// The writer refuses what the format's fields cannot hold: more files than a 16-bit count, a
// name whose offset in the name table passes 16 bits, an empty name or one with a NUL.
TEST(PackTool, WriterRefusesWhatTheFieldsCannotHold) {
  Bytes out;
  std::string err;
  EXPECT_FALSE(packWrite(std::vector<PackInput>(65536, PackInput{"a", {}}), out, err));
  EXPECT_EQ(err, "too many files for the directory (at most 65535)");
  const std::vector<PackInput> fits = {{std::string(65534, 'n'), {}}, {"last", {}}};
  for (int i = 0; i < 2; i++) ASSERT_TRUE(packWrite(fits, out, err)) << err;  // the second replaces the first; "last" at 65535
  PackDirectory dir;
  ASSERT_TRUE(packRead(out, dir, err)) << err;
  EXPECT_EQ(dir.records[1].nameOffset, 65535);
  EXPECT_FALSE(packWrite({{std::string(65535, 'n'), {}}, {"last", {}}}, out, err));
  EXPECT_EQ(err, "name table too long: the name offset of \"last\" does not fit 16 bits");
  ASSERT_TRUE(packWrite({{"a", {1}}}, out, err));  // the layout around one byte of data
  std::vector<PackInput> huge = {{"a", {}}};
  huge[0].data.resize(0x80000000u - (out.size() - 1));  // one byte past the 2 GiB - 1 that readers take
  EXPECT_TRUE(!packWrite(huge, out, err) && err == "pack would exceed 2 GiB") << err;
  for (const std::string &bad : {std::string(), std::string("a\0b", 3)}) {
    EXPECT_FALSE(packWrite({{"a", {}}, {bad, {1}}}, out, err));
    EXPECT_EQ(err, "a name is empty or holds a NUL byte");
  }
}

// Damaged copies of the real pack, each refused by the reader and by zpack verify with its reason;
// every byte of the magic and of the three tags counts.
TEST(PackTool, RefusesDamagedPacksWithTheirReason) {
  const TempFolder d;
  const Bytes good = fileRead(PACK_FILE);
  const size_t n = good.size(), dir = getLe32(&good[n - 4]), tune = dir - packFixedLength("data/tune.mp3") - 8;
  struct Damage { size_t at; uint8_t value; std::string reason; };
  std::vector<Damage> damages = {{4, 0, "header says"}, {n - 4, 0, "directory offset"}, {n - 1, 0x7f, "directory offset"},
                                 {dir + 4, 0x40, "runs past the trailer"}, {dir + 8, 0x70, "entry offset"},
                                 {dir + 64, 0x10, "name offset"}, {tune + 6, 0x40, "runs into the directory"},
                                 {n - 8, 'x', "not terminated"}};
  for (size_t i = 0; i < 4; i++) damages.push_back({i, uint8_t(good[i] ^ 0x20), "no \"ZDAR\" magic"});
  for (size_t i = 0; i < 3; i++) {
    damages.push_back({n - 7 + i, uint8_t(good[n - 7 + i] ^ 0x20), "no \"END\" trailer tag"});
    damages.push_back({dir + i, uint8_t(good[dir + i] ^ 0x20), "no \"DIR\" tag"});
    damages.push_back({tune + i, uint8_t(good[tune + i] ^ 0x20), "record 9: no \"DAT\" tag"});
  }
  const std::string p = (d / "bad.pack").string();
  for (const Damage &k : damages) {
    Bytes bad = good;
    bad[k.at] = k.value;
    std::string err;
    ASSERT_TRUE(fileWrite(p, bad, err));
    const ProcResult r = procRunIn({}, {ZPACK_EXE, "verify", p});
    EXPECT_EQ(r.status, 1) << k.reason;
    EXPECT_EQ(r.output.find("zpack: " + p + ": damaged pack: "), 0u) << r.output;
    EXPECT_NE(r.output.find(k.reason), std::string::npos) << r.output;
  }
  PackDirectory none;
  std::string err;
  for (size_t cut : {size_t(0), n - 300, n - 1, size_t(19)}) EXPECT_FALSE(packRead({good.data(), cut}, none, err)) << cut;
  EXPECT_EQ(err, "file of 19 bytes is too short for a pack (at least 20)");
  Bytes late = good;  // a directory whose five-byte header would run into the trailer
  setLe32(&late[n - 4], uint32_t(n - 11));
  EXPECT_FALSE(packRead(late, none, err));
  EXPECT_EQ(err, "directory offset " + std::to_string(n - 11) + " lies outside the pack body (8 to " + std::to_string(n - 12) + ")");
}

TEST(Media, RegenerateToTheCommittedBytes) {
  const TempFolder d;
  const ProcResult r = procRunIn({}, {ZMEDIA_EXE, d.str(), "data/tune.mp3"});
  ASSERT_EQ(r.status, 0) << r.output;
  size_t files = 0;
  for (const auto &e : fs::recursive_directory_iterator(d.path)) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), d.path).string();
    EXPECT_TRUE(fileRead(e.path().string()) == fileRead(rel)) << rel << " differs from its regenerated bytes";
    files++;
  }
  EXPECT_EQ(files, 24u) << "fifteen files of data/, seven icons, the contact sheet and the spectrogram";
}

// The font as the demo's loader gives it (row 0 at texture t = 0): glyph k of the font order in
// cell (k mod 16, k div 16) with its top at the larger t, white ink (alpha times whiteness) in the
// middle 60 % of the cell's width, framed above and below by a nearly opaque black ring; grey
// levels only, so that the text colour alone colours it; and nothing of a cell where a
// neighbour's ink lands (the pen advances 60 of the cell's 100 units).
TEST(Media, FontCellsHoldFramedGlyphsInFontOrderUpright) {
  util_image_t *font = util_imageFromTGA(kFontTga);
  ASSERT_NE(font, nullptr);
  const int W = font->width, H = font->height, C = W / 16;
  ASSERT_EQ(W, H);
  const auto at = [&](int x, int y, int c) { return font->data[(size_t(y) * W + x) * 4 + c]; };
  std::string order;
  for (int c = 0x20; c <= 0x7e; c++) order += char(isupper(c) ? tolower(c) : islower(c) ? toupper(c) : c);
  const auto ink = [&](int x, int y) { return at(x, y, 0) * at(x, y, 3) / 255; };
  int framed = 0, inkLeft = C, inkRight = -1, left = C, right = -1;
  for (int cell = 0; cell < 256; cell++) {
    const int x0 = cell % 16 * C, y0 = H - (cell / 16 + 1) * C;
    bool inked = false;
    for (int y = y0; y < y0 + C; y++) {
      for (int x = 0; x < C; x++) {
        ASSERT_TRUE(at(x0 + x, y, 0) == at(x0 + x, y, 1) && at(x0 + x, y, 1) == at(x0 + x, y, 2)) << "cell " << cell;
        if (at(x0 + x, y, 3)) left = std::min(left, x), right = std::max(right, x);
        if (!ink(x0 + x, y)) continue;
        inked = true;
        inkLeft = std::min(inkLeft, x), inkRight = std::max(inkRight, x);
        for (int dy : {-2, 2}) {
          const int r = y + dy;
          if (r < y0 || r >= y0 + C || ink(x0 + x, r) || ink(x0 + x, y) < 128) continue;
          EXPECT_TRUE(at(x0 + x, r, 3) >= 240 && at(x0 + x, r, 0) <= 8) << "unframed ink in cell " << cell;
          framed++;
        }
      }
    }
    EXPECT_EQ(inked, cell < 95 && order[size_t(cell)] != ' ') << "cell " << cell;
  }
  EXPECT_GT(framed, 2000);
  EXPECT_TRUE(inkLeft >= C / 5 && inkRight < C - C / 5) << "ink from " << inkLeft << " to " << inkRight;
  EXPECT_TRUE(left > inkRight - 0.6 * C + 1 && right < inkLeft + 0.6 * C - 1) << "reaches a neighbour's ink";
  // The bar of 'T' is its highest ink, at the larger t.
  const int k = int(order.find('T')), x0 = k % 16 * C, y0 = H - (k / 16 + 1) * C;
  int widest = 0, widestRow = 0, highest = 0;
  for (int y = 0; y < C; y++) {
    int n = 0;
    for (int x = 0; x < C; x++) n += ink(x0 + x, y0 + y) > 128;
    if (n > widest) widest = n, widestRow = y;
    if (n) highest = y;
  }
  EXPECT_GE(widestRow, highest - 3);
  free(font->data);
  free(font);
}

using Vec = std::array<double, 3>;
double dot(Vec a, Vec b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// The cube and the inner object, as the demo's loader gives them, are closed, convex and wound
// outwards with normals pointing out: from the second frame on nothing is depth-tested, so a
// concave shape would overdraw itself.
TEST(Media, MeshesHaveTheShapesTheFrameNeeds) {
  for (auto [name, format] : {std::pair{kCubeOia, GL_T2F_N3F_V3F}, {kThingOia, GL_N3F_V3F}}) {
    util_oia_t *m = util_oiaLoad(name);
    ASSERT_NE(m, nullptr) << name;
    EXPECT_EQ(m->format, GLenum(format)) << name;
    ASSERT_TRUE(m->count >= 36 && m->count % 3 == 0 && m->count <= 12000) << name;
    // Per vertex the normal, then the position, at the end of its floats.
    std::vector<Vec> pos, nor;
    const size_t floats = size_t(m->stride) / 4;
    const float *v = static_cast<const float *>(m->data);
    for (GLint i = 0; i < m->count; i++, v += floats) {
      nor.push_back({v[floats - 6], v[floats - 5], v[floats - 4]});
      pos.push_back({v[floats - 3], v[floats - 2], v[floats - 1]});
    }
    for (size_t t = 0; t < pos.size() / 3; t++) {
      const Vec &a = pos[3 * t], &b = pos[3 * t + 1], &c = pos[3 * t + 2];
      const Vec u = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, w = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
      const Vec f = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
      EXPECT_GT(dot(f, nor[3 * t]), 0) << name << " triangle " << t << " winds against its normal";
      EXPECT_GT(dot(nor[3 * t], a), 0) << name << " triangle " << t << " faces inwards";
      for (size_t q = 0; q < pos.size(); q += 5) {
        const Vec &p = pos[q];
        ASSERT_LE(dot(f, {p[0] - a[0], p[1] - a[1], p[2] - a[2]}) / std::sqrt(dot(f, f) + 1e-30), 1e-4) << name << " is not convex";
      }
    }
    free(m->data);
    free(m);
  }
}

}  // namespace
