// The committed media and the pack: the pack against its layout table and linked into the demo,
// the pack tool on good and damaged packs, byte-exact regeneration, and what the frame needs of
// the font and the meshes, read by the tests' own readers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <algorithm>
#include <array>
#include <filesystem>

#include "datadata.h"
#include "files.h"
#include "packlengths.h"
#include "packfmt.h"
#include "process.h"

namespace fs = std::filesystem;

namespace {

// Runs a program with arguments; its status and output.
ProcResult run(const std::vector<std::string> &argv) {
  ProcSpec spec;
  spec.argv = argv;
  return procRun(spec, 120.0);
}

// A fresh temporary folder for one test.
fs::path tempDir(const char *tag) {
  const fs::path d = fs::temp_directory_path() / (std::string("parkhaus-assets-") + tag + std::to_string(getpid()));
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

// The pack as its layout table gives it: the files of data/ in directory order at their fixed
// lengths, each followed by a byte repeating its last one, and the same bytes linked into the demo.
TEST(Pack, IsLaidOutAsTheTableSaysAndLinkedIntoTheDemo) {
  const Bytes pack = fileRead(PACK_FILE);
  PackDirectory dir;
  std::string err;
  ASSERT_TRUE(packRead(pack, dir, err)) << err;
  EXPECT_EQ(std::vector<uint32_t>({dir.totalLength, dir.dirOffset, dir.nameTableLength}),
            std::vector<uint32_t>({2771669, 2771409, 188}));
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

TEST(PackTool, BuildsExtractsVerifiesAndRefusesDamage) {
  const fs::path d = tempDir("tool");
  fs::create_directories(d / "data");
  std::string err;
  ASSERT_TRUE(fileWrite((d / "data/a.bin").string(), Bytes{1, 2, 3}, err) && fileWrite((d / "data/empty").string(), Bytes{}, err));
  const std::string manifest = "# test pack\r\ndata/a.bin\n\ndata/empty  \ndata/a.bin\n";
  ASSERT_TRUE(fileWrite((d / "m.txt").string(), manifest.data(), manifest.size(), err));
  const std::string p = (d / "p.pack").string();
  ProcResult r = run({ZPACK_EXE, "build", (d / "m.txt").string(), d.string(), p, (d / "mod").string()});
  ASSERT_EQ(r.status, 0) << r.output;
  const Bytes pack = fileRead(p);
  EXPECT_EQ(Bytes(pack.begin(), pack.begin() + 20),
            (Bytes{'Z', 'D', 'A', 'R', uint8_t(pack.size()), 0, 0, 0, 'D', 'A', 'T', 3, 0, 0, 0, 1, 2, 3, 3, 'D'}));
  EXPECT_EQ(pack.size(), 8u + 11 + 8 + 11 + 5 + 18 + 33 + 7);
  EXPECT_NE(fileRead((d / "mod/datadata_pack.cpp").string()).size(), 0u);
  r = run({ZPACK_EXE, "extract", p, "data/a.bin", (d / "x").string()});
  EXPECT_EQ(fileRead((d / "x").string()), (Bytes{1, 2, 3})) << r.output;
  EXPECT_NE(run({ZPACK_EXE, "extract", p, "data/A.bin", (d / "y").string()}).output.find("no entry named"), std::string::npos);
  EXPECT_NE(run({ZPACK_EXE, "verify", p}).output.find("pack OK, 3 entries"), std::string::npos);
  // Damaged copies of the real pack, each refused with its reason by the reader and the tool.
  const Bytes good = fileRead(PACK_FILE);
  const size_t dir = 2771409, n = good.size();
  const struct {
    size_t at;
    uint8_t value;
    const char *reason;
  } damages[] = {{0, 'z', "ZDAR"}, {4, 0, "header says"}, {n - 7, 'X', "END"}, {n - 4, 0, "directory offset"},
                 {n - 1, 0x7f, "directory offset"}, {dir, 'd', "DIR"}, {dir + 4, 0x40, "runs past the trailer"},
                 {dir + 8, 0x70, "entry offset"}, {dir + 64, 0x10, "name offset"}, {8, 'd', "DAT"},
                 {430543, 0x40, "runs into the directory"}, {n - 8, 'x', "not terminated"}};
  for (const auto &k : damages) {
    Bytes bad = good;
    bad[k.at] = k.value;
    ASSERT_TRUE(fileWrite(p, bad, err));
    r = run({ZPACK_EXE, "verify", p});
    EXPECT_EQ(r.status, 1) << k.reason;
    EXPECT_NE(r.output.find(": damaged pack: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(k.reason), std::string::npos) << r.output;
  }
  PackDirectory none;
  for (size_t cut : {size_t(0), size_t(19), n - 300, n - 1}) EXPECT_FALSE(packRead({good.data(), cut}, none, err)) << cut;
  // A listed file that is missing is named, and no pack is left.
  ASSERT_TRUE(fileWrite((d / "bad.txt").string(), std::string("data/missing\n").data(), 13, err));
  r = run({ZPACK_EXE, "build", (d / "bad.txt").string(), d.string(), (d / "q.pack").string(), (d / "mod2").string()});
  EXPECT_NE(r.output.find("data/missing"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(d / "q.pack"));
  fs::remove_all(d);
}

TEST(Media, RegenerateToTheCommittedBytes) {
  const fs::path d = tempDir("regen");
  const ProcResult r = run({ZMEDIA_EXE, d.string()});
  ASSERT_EQ(r.status, 0) << r.output;
  size_t files = 0;
  for (const auto &e : fs::recursive_directory_iterator(d)) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), d).string();
    EXPECT_TRUE(fileRead(e.path().string()) == fileRead(rel)) << rel << " differs from its regenerated bytes";
    files++;
  }
  EXPECT_EQ(files, 23u) << "fifteen files of data/, seven icons and the contact sheet";
  fs::remove_all(d);
}

// A 32-bit TGA as the demo's loader orients it (rows reversed when the Y origin is 0, mirrored
// when the X origin is not), so that row 0 is texture t = 0; RGBA bytes.
struct Tga {
  int w = 0, h = 0;
  Bytes rgba;
  uint8_t at(int x, int y, int c) const { return rgba[(size_t(y) * w + x) * 4 + c]; }
};
Tga readTga(const std::string &path) {
  const Bytes f = fileRead(path);
  Tga t;
  if (f.size() < 18 || f[2] != 2 || f[1] != 0 || f[16] != 32) return t;
  t.w = getLe16(&f[12]), t.h = getLe16(&f[14]);
  const size_t from = 18 + f[0];
  if (f.size() < from + size_t(t.w) * t.h * 4) return {};
  t.rgba.resize(size_t(t.w) * t.h * 4);
  for (int y = 0; y < t.h; y++) {
    for (int x = 0; x < t.w; x++) {
      const int sy = getLe16(&f[10]) == 0 ? t.h - 1 - y : y, sx = getLe16(&f[8]) != 0 ? t.w - 1 - x : x;
      const uint8_t *p = &f[from + (size_t(sy) * t.w + sx) * 4];
      for (int c = 0; c < 4; c++) t.rgba[(size_t(y) * t.w + x) * 4 + c] = p[c == 3 ? 3 : 2 - c];
    }
  }
  return t;
}

// The font: glyph k of the font order in cell (k mod 16, k div 16) with its top at the larger t,
// white ink (alpha times whiteness) in the middle 60 % of the cell's width, framed above and below
// by a nearly opaque black ring; grey levels only, so that the text colour alone colours it; and
// nothing of a cell where a neighbour's ink lands (the pen advances 60 of the cell's 100 units).
TEST(Media, FontCellsHoldFramedGlyphsInFontOrderUpright) {
  const Tga t = readTga("data/SouthPark.tga");
  ASSERT_EQ(t.w, t.h);
  const int C = t.w / 16;
  std::string order;
  for (int c = 0x20; c <= 0x7e; c++) order += char(isupper(c) ? tolower(c) : islower(c) ? toupper(c) : c);
  const auto ink = [&](int x, int y) { return t.at(x, y, 0) * t.at(x, y, 3) / 255; };
  int framed = 0, inkLeft = C, inkRight = -1, left = C, right = -1;
  for (int cell = 0; cell < 256; cell++) {
    const int x0 = cell % 16 * C, y0 = t.h - (cell / 16 + 1) * C;
    bool inked = false;
    for (int y = y0; y < y0 + C; y++) {
      for (int x = 0; x < C; x++) {
        ASSERT_TRUE(t.at(x0 + x, y, 0) == t.at(x0 + x, y, 1) && t.at(x0 + x, y, 1) == t.at(x0 + x, y, 2)) << "cell " << cell;
        if (t.at(x0 + x, y, 3)) left = std::min(left, x), right = std::max(right, x);
        if (!ink(x0 + x, y)) continue;
        inked = true;
        inkLeft = std::min(inkLeft, x), inkRight = std::max(inkRight, x);
        for (int dy : {-2, 2}) {
          const int r = y + dy;
          if (r < y0 || r >= y0 + C || ink(x0 + x, r) || ink(x0 + x, y) < 128) continue;
          EXPECT_TRUE(t.at(x0 + x, r, 3) >= 240 && t.at(x0 + x, r, 0) <= 8) << "unframed ink in cell " << cell;
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
  const int k = int(order.find('T')), x0 = k % 16 * C, y0 = t.h - (k / 16 + 1) * C;
  int widest = 0, widestRow = 0, highest = 0;
  for (int y = 0; y < C; y++) {
    int n = 0;
    for (int x = 0; x < C; x++) n += ink(x0 + x, y0 + y) > 128;
    if (n > widest) widest = n, widestRow = y;
    if (n) highest = y;
  }
  EXPECT_GE(widestRow, highest - 3);
}

// An OIA mesh's vertices: position and normal of each (modes 6 and 14).
struct Mesh {
  int mode = 0;
  std::vector<std::array<double, 3>> pos, nor;
};
Mesh readMesh(const std::string &path) {
  const Bytes f = fileRead(path);
  Mesh m;
  m.mode = f.size() >= 10 ? f[7] : 0;
  const size_t floats = m.mode == 14 ? 8 : 6, count = f.size() >= 10 ? size_t(f[8]) << 8 | f[9] : 0;
  for (size_t i = 0; i < count && f.size() >= 10 + (i + 1) * floats * 4; i++) {
    float v[8];
    memcpy(v, &f[10 + i * floats * 4], floats * 4);
    const float *n = v + floats - 6;
    m.nor.push_back({n[0], n[1], n[2]});
    m.pos.push_back({n[3], n[4], n[5]});
  }
  return m;
}
double dot(std::array<double, 3> a, std::array<double, 3> b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
std::array<double, 3> faceNormal(const Mesh &m, size_t t) {
  const auto &a = m.pos[3 * t], &b = m.pos[3 * t + 1], &c = m.pos[3 * t + 2];
  const std::array<double, 3> u = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
  return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

// The cube and the inner object are closed, convex and wound outwards with normals pointing
// out: from the second frame on nothing is depth-tested, so a concave shape would overdraw itself.
TEST(Media, MeshesHaveTheShapesTheFrameNeeds) {
  for (const char *name : {"data/quad-mapped.oia", "data/thing.oia"}) {
    const Mesh m = readMesh(name);
    ASSERT_TRUE(m.pos.size() >= 36 && m.pos.size() % 3 == 0 && m.pos.size() <= 12000) << name;
    EXPECT_EQ(m.mode, std::string(name) == "data/thing.oia" ? 6 : 14) << name;
    for (size_t t = 0; t < m.pos.size() / 3; t++) {
      const auto f = faceNormal(m, t);
      EXPECT_GT(dot(f, m.nor[3 * t]), 0) << name << " triangle " << t << " winds against its normal";
      EXPECT_GT(dot(m.nor[3 * t], m.pos[3 * t]), 0) << name << " triangle " << t << " faces inwards";
      for (size_t q = 0; q < m.pos.size(); q += 5) {
        const auto &a = m.pos[3 * t], &p = m.pos[q];
        ASSERT_LE(dot(f, {p[0] - a[0], p[1] - a[1], p[2] - a[2]}) / std::sqrt(dot(f, f) + 1e-30), 1e-4) << name << " is not convex";
      }
    }
  }
}

}  // namespace
