// The committed media in the forms their readers accept: PNGs (pngcheck, libpng, the decoder's
// subset), TGAs and OIA meshes (read by the tests' own readers), and what the frame expects of them.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cmath>
#include <cstring>

#include "asset_readers.h"

namespace {

struct PngSpec {
  const char *name;
  int w, h;
  int palette;  // 0: as the picture needs
  int idat;     // 0: any number
  bool greyRamp;
};
const PngSpec kPngs[] = {
    {"data/organ.png", 512, 512, 256, 23, false},       {"data/suck_thing_mask.png", 128, 128, 256, 0, true},
    {"data/suck_thing.png", 128, 128, 0, 0, false},     {"data/suck_front.png", 512, 512, 18, 0, false},
    {"data/suck_mask.png", 512, 512, 256, 0, true},     {"data/suck_back.png", 512, 512, 0, 0, false},
    {"data/tex-park.png", 512, 512, 0, 0, false},       {"data/tex-cow-env.png", 256, 256, 256, 2, false},
};

// Decodes an indexed PNG with libpng into rows of indices and its palette; false on any error.
bool libpngDecode(const std::vector<uint8_t> &f, int &w, int &h, std::vector<uint8_t> &idx, std::vector<png_color> &pal) {
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, f.data(), f.size())) return false;
  img.format = PNG_FORMAT_RGB_COLORMAP;
  w = int(img.width);
  h = int(img.height);
  idx.resize(PNG_IMAGE_SIZE(img));
  std::vector<png_byte> cmap(PNG_IMAGE_COLORMAP_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, idx.data(), 0, cmap.data())) return false;
  pal.clear();
  for (unsigned i = 0; i < img.colormap_entries; i++) pal.push_back({cmap[3 * i], cmap[3 * i + 1], cmap[3 * i + 2]});
  return true;
}

}  // namespace

// Every PNG passes pngcheck and decodes with libpng to its size and palette.
TEST(Png, PassesPngcheckAndDecodesWithLibpng) {
  for (const PngSpec &s : kPngs) {
    std::string out;
    EXPECT_EQ(runCommand(std::string("pngcheck ") + s.name + " 2>&1", out), 0) << s.name << ": " << out;
    EXPECT_EQ(out.rfind("OK:", 0), 0u) << out;
    const std::vector<uint8_t> f = readAll(s.name);
    int w = 0, h = 0;
    std::vector<uint8_t> idx;
    std::vector<png_color> pal;
    ASSERT_TRUE(libpngDecode(f, w, h, idx, pal)) << s.name;
    EXPECT_EQ(w, s.w) << s.name;
    EXPECT_EQ(h, s.h) << s.name;
    if (s.palette) { EXPECT_EQ(int(pal.size()), s.palette) << s.name; }
    if (s.greyRamp) {
      for (size_t i = 0; i < pal.size(); i++) {
        EXPECT_TRUE(pal[i].red == i && pal[i].green == i && pal[i].blue == i) << s.name << " " << i;
      }
    }
  }
}

// The subset the demo's decoder reads: 8-bit indexed, not interlaced, IHDR then PLTE then the
// IDAT run (chunks of at most 8192 bytes), only ancillary chunks besides, IEND last, and filter
// type 0 on every row of the inflated data.
TEST(Png, StaysInsideTheDecodersSubset) {
  for (const PngSpec &s : kPngs) {
    const std::vector<uint8_t> f = readAll(s.name);
    std::vector<PngChunk> chunks;
    ASSERT_TRUE(pngChunks(f, chunks)) << s.name;
    ASSERT_GE(chunks.size(), 4u);
    EXPECT_EQ(chunks[0].type, "IHDR");
    EXPECT_EQ(chunks[1].type, "PLTE");
    EXPECT_EQ(chunks.back().type, "IEND");
    const uint8_t *ihdr = &f[chunks[0].offset];
    EXPECT_EQ(ihdr[8], 8) << s.name;   // bit depth
    EXPECT_EQ(ihdr[9], 3) << s.name;   // indexed colour
    EXPECT_EQ(ihdr[12], 0) << s.name;  // not interlaced
    std::vector<uint8_t> z;
    int idats = 0;
    bool idatRunEnded = false;
    for (size_t i = 2; i + 1 < chunks.size(); i++) {
      if (chunks[i].type == "IDAT") {
        EXPECT_FALSE(idatRunEnded) << s.name << ": IDAT chunks must follow each other";
        EXPECT_LE(chunks[i].length, 8192u) << s.name;
        z.insert(z.end(), f.begin() + long(chunks[i].offset), f.begin() + long(chunks[i].offset + chunks[i].length));
        idats++;
      } else {
        idatRunEnded = idats > 0;
        EXPECT_TRUE(chunks[i].type[0] >= 'a' && chunks[i].type[0] <= 'z') << s.name << ": " << chunks[i].type << " is critical";
      }
    }
    if (s.idat) { EXPECT_EQ(idats, s.idat) << s.name; }
    // The decoder's buffer for the joined data holds width x height bytes.
    EXPECT_LE(z.size(), size_t(s.w) * s.h) << s.name;
    std::vector<uint8_t> raw(size_t(s.h) * (s.w + 1));
    uLongf n = uLongf(raw.size());
    ASSERT_EQ(uncompress(raw.data(), &n, z.data(), uLong(z.size())), Z_OK) << s.name;
    ASSERT_EQ(n, raw.size()) << s.name;
    for (int y = 0; y < s.h; y++) ASSERT_EQ(raw[size_t(y) * (s.w + 1)], 0) << s.name << " row " << y;
  }
}

// The organ walls are lit at a quarter of their brightness: the picture must be bright and
// contrasty to show, and tile without a hard seam.
TEST(Png, OrganIsBrightHighContrastAndTiles) {
  int w, h;
  std::vector<uint8_t> idx;
  std::vector<png_color> pal;
  ASSERT_TRUE(libpngDecode(readAll("data/organ.png"), w, h, idx, pal));
  auto lum = [&](int x, int y) {
    const png_color c = pal[idx[size_t(y) * w + x]];
    return 0.3 * c.red + 0.59 * c.green + 0.11 * c.blue;
  };
  double sum = 0, sum2 = 0, seam = 0, inner = 0;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) sum += lum(x, y), sum2 += lum(x, y) * lum(x, y);
  const double mean = sum / (w * h), sd = std::sqrt(sum2 / (w * h) - mean * mean);
  EXPECT_GT(mean, 120.0);
  EXPECT_GT(sd, 40.0);
  // Steps across the wrap-around edges are no larger than steps inside the picture.
  for (int i = 0; i < w; i++) {
    seam += std::fabs(lum(w - 1, i) - lum(0, i)) + std::fabs(lum(i, h - 1) - lum(i, 0));
    inner += std::fabs(lum(w / 2 - 1, i) - lum(w / 2, i)) + std::fabs(lum(i, h / 2 - 1) - lum(i, h / 2));
  }
  EXPECT_LT(seam, 1.5 * inner);
}

// The three TGAs: uncompressed 32-bit, and what the frame draws with them.
TEST(Tga, CubeTextureIsTranslucentGlassWithSolidEdges) {
  Tga t;
  std::string err;
  ASSERT_TRUE(tgaRead(readAll("data/vosquel.tga"), t, err)) << err;
  ASSERT_GE(t.width, 64);
  ASSERT_EQ(t.width, t.height);
  auto a = [&](int x, int y) { return t.rgba[(size_t(y) * t.width + x) * 4 + 3] / 255.0; };
  double panel = 0;
  int n = 0;
  for (int y = t.height / 4; y < t.height * 3 / 4; y += 3)
    for (int x = t.width / 4; x < t.width * 3 / 4; x += 3) panel += a(x, y), n++;
  panel /= n;
  EXPECT_GT(panel, 0.4);
  EXPECT_LT(panel, 0.6);
  for (int i = 0; i < t.width; i++) {
    EXPECT_GT(a(i, 1), 0.95) << i;
    EXPECT_GT(a(1, i), 0.95) << i;
    EXPECT_GT(a(i, t.height - 2), 0.95) << i;
    EXPECT_GT(a(t.width - 2, i), 0.95) << i;
  }
}

TEST(Tga, RedLightmapIsADeepRedFieldWithHighlights) {
  Tga t;
  std::string err;
  ASSERT_TRUE(tgaRead(readAll("data/lightmap-red.tga"), t, err)) << err;
  double r = 0, g = 0;
  int bright = 0;
  for (size_t i = 0; i < t.rgba.size(); i += 4) {
    r += t.rgba[i], g += t.rgba[i + 1];
    if (t.rgba[i + 1] > 180) bright++;
    EXPECT_EQ(t.rgba[i + 3], 255);
  }
  EXPECT_GT(r, 4 * g);
  const size_t pixels = t.rgba.size() / 4;
  EXPECT_GT(bright, 0.003 * pixels);  // some highlight
  EXPECT_LT(bright, 0.05 * pixels);   // but a red field
}

// The font: 16 x 16 cells, glyph i of the font order in cell (i mod 16, i div 16) with its top at
// the larger t after the loader's orientation rule, white ink in the middle 60 % of the cell
// width, so that the tint alone colours it, framed by a black ring that reaches no neighbour's ink.
TEST(Tga, FontCellsHoldTheGlyphsInFontOrderUpright) {
  Tga t;
  std::string err;
  ASSERT_TRUE(tgaRead(readAll("data/SouthPark.tga"), t, err)) << err;
  ASSERT_EQ(t.width, t.height);
  ASSERT_EQ(t.width % 16, 0);
  const int C = t.width / 16;
  std::string order;
  for (int c = 0x20; c <= 0x7e; c++) order += char(c >= 'A' && c <= 'Z' ? c + 32 : c >= 'a' && c <= 'z' ? c - 32 : c);
  ASSERT_EQ(order[0x21], 'a');
  ASSERT_EQ(order[0x41], 'A');
  // Ink is what the text colour shows: alpha times whiteness, 0..255.
  auto ink = [&](int x, int row) {
    const uint8_t *p = &t.rgba[(size_t(row) * t.width + x) * 4];
    return p[0] * p[3] / 255;
  };
  // Every texel is grey: white ink, black ring, or a mix of the two at the ink's edge.
  for (size_t i = 0; i < t.rgba.size(); i += 4) ASSERT_TRUE(t.rgba[i] == t.rgba[i + 1] && t.rgba[i] == t.rgba[i + 2]) << i / 4;
  for (int cell = 0; cell < 256; cell++) {
    const int col = cell % 16, row = cell / 16;
    // Texture rows of the cell: t from 1 - (row + 1) / 16 to 1 - row / 16.
    const int r0 = t.height - (row + 1) * C, r1 = t.height - row * C;
    int inked = 0, minX = C, maxX = -1;
    for (int r = r0; r < r1; r++)
      for (int x = 0; x < C; x++)
        if (ink(col * C + x, r)) inked++, minX = std::min(minX, x), maxX = std::max(maxX, x);
    const bool printable = cell < 95 && order[size_t(cell)] != ' ';
    EXPECT_EQ(inked > 0, printable) << "cell " << cell;
    if (inked) {
      EXPECT_GE(minX, int(std::floor(0.2 * C))) << "cell " << cell;
      EXPECT_LE(maxX + 1, int(std::ceil(0.8 * C))) << "cell " << cell;
    }
  }
  // 'T': its bar is the top of the glyph, at the larger t; '_' sits at the bottom (smaller t).
  // Rows are counted from the cell's t = bottom edge.
  auto inkRows = [&](char ch, int &lowest, int &highest, int &widest) {
    const int i = int(order.find(ch)), col = i % 16, row = i / 16, r0 = t.height - (row + 1) * C;
    lowest = 1 << 30, highest = -1, widest = -1;
    int best = 0;
    for (int r = 0; r < C; r++) {
      int n = 0;
      for (int x = 0; x < C; x++) n += ink(col * C + x, r0 + r) > 128;
      if (n) lowest = std::min(lowest, r), highest = std::max(highest, r);
      if (n > best) best = n, widest = r;
    }
  };
  int lo, hi, wide, ulo, uhi, uwide;
  inkRows('T', lo, hi, wide);
  EXPECT_GE(wide, hi - 3) << "the bar of T is at the top, the larger t";
  inkRows('_', ulo, uhi, uwide);
  EXPECT_LT(uhi, lo + (hi - lo) / 2) << "the underscore lies below the middle of a capital";
  // Antialiased: some partial ink at the glyph edges, and solid ink in the strokes.
  int partial = 0, solid = 0;
  for (int r = 0; r < t.height; r++)
    for (int x = 0; x < t.width; x++) partial += ink(x, r) > 0 && ink(x, r) < 255, solid += ink(x, r) == 255;
  EXPECT_GT(partial, 1000);
  EXPECT_GT(solid, 5000);
}

// The ring: the texels right above and below each ink texel that are not ink themselves are
// black and nearly opaque, so the ink is framed wherever it is drawn. And nothing of a cell, ring
// or ink, lies where a neighbour's ink lands: the pen advances 60 of the 100 units of a cell, and
// GL_LINEAR filtering spreads a texel over one more.
TEST(Tga, FontRingFramesTheInkAndStaysOffTheNeighbours) {
  Tga t;
  std::string err;
  ASSERT_TRUE(tgaRead(readAll("data/SouthPark.tga"), t, err)) << err;
  const int C = t.width / 16;
  auto at = [&](int x, int row) { return &t.rgba[(size_t(row) * t.width + x) * 4]; };
  auto isInk = [&](int x, int row) { return at(x, row)[0] * at(x, row)[3] >= 128 * 255; };
  int inkLeft = C, inkRight = -1, framed = 0;
  for (int row = 0; row < t.height; row++)
    for (int x = 0; x < t.width; x++) {
      if (at(x, row)[0] * at(x, row)[3] == 0) continue;
      inkLeft = std::min(inkLeft, x % C), inkRight = std::max(inkRight, x % C);
      if (!isInk(x, row)) continue;
      for (int dr : {-2, -1, 1, 2}) {
        const int r = row + dr;
        if (r / C != row / C || at(x, r)[0] * at(x, r)[3] > 0) continue;  // another cell, or ink
        EXPECT_GE(at(x, r)[3], 240) << "column " << x << ", row " << r;
        EXPECT_LE(at(x, r)[0], 8) << "column " << x << ", row " << r;
        framed++;
      }
    }
  EXPECT_GT(framed, 2000);
  // A neighbour's ink lies 0.6 cells to either side: its columns in this cell's coordinates.
  const double advance = 0.6 * C, leftEnds = inkRight + 1 - advance, rightBegins = inkLeft + advance;
  for (int row = 0; row < t.height; row++)
    for (int x = 0; x < t.width; x++) {
      if (at(x, row)[3] == 0) continue;
      ASSERT_GE(x % C, leftEnds + 1) << "column " << x << ", row " << row << " covers the left neighbour's ink";
      ASSERT_LE(x % C + 1, rightBegins - 1) << "column " << x << ", row " << row << " covers the right neighbour's ink";
    }
}

// The meshes: the forms the loader accepts, and what the frame needs of each.
TEST(Oia, AllCarryTheirHeaderAndExactLength) {
  struct Spec {
    const char *name;
    int modes[2];
  };
  const Spec specs[] = {{"data/vosquel.oia", {2, 2}}, {"data/quad-mapped.oia", {14, 14}}, {"data/thing.oia", {6, 14}}, {"data/vosqu-el.oia", {6, 14}}};
  for (const Spec &s : specs) {
    const std::vector<uint8_t> f = readAll(s.name);
    Oia o;
    std::string err;
    ASSERT_TRUE(oiaRead(f, o, err)) << s.name << ": " << err;
    EXPECT_EQ(o.b4, 1) << s.name;
    EXPECT_EQ(o.b5, 0) << s.name;
    EXPECT_TRUE(o.mode == s.modes[0] || o.mode == s.modes[1]) << s.name;
    EXPECT_EQ(o.count % 3, 0) << s.name;
    for (float v : o.data) ASSERT_TRUE(std::isfinite(v)) << s.name;
  }
  Oia o;
  std::string err;
  const std::vector<uint8_t> pack = readAll("data/vosquel.oia");
  ASSERT_TRUE(oiaRead(pack, o, err));
  EXPECT_EQ(o.count, 1470);
  EXPECT_EQ(pack.size(), 17650u);
  EXPECT_EQ(pack[8], 0x05);
  EXPECT_EQ(pack[9], 0xBE);
}

namespace {
struct P3 {
  double x, y, z;
};
// Position and normal of vertex i of a mesh of mode 6 or 14.
void vertexAt(const Oia &o, int i, P3 &p, P3 &n) {
  const float *v = &o.data[size_t(i) * (o.stride / 4)] + (o.mode == 14 ? 2 : 0);
  n = {v[0], v[1], v[2]};
  p = {v[3], v[4], v[5]};
}
double dot(P3 a, P3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
P3 sub(P3 a, P3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
P3 cross(P3 a, P3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
}  // namespace

// The cube: 12 triangles on the faces of the unit cube, wound outwards, each face with its own
// texture coordinates spanning the whole picture.
TEST(Oia, CubeIsTheTexturedUnitCube) {
  Oia o;
  std::string err;
  ASSERT_TRUE(oiaRead(readAll("data/quad-mapped.oia"), o, err)) << err;
  ASSERT_EQ(o.mode, 14);
  ASSERT_EQ(o.count, 36);
  for (int t = 0; t < 12; t++) {
    P3 p[3], n[3];
    double smin = 1, smax = 0;
    for (int k = 0; k < 3; k++) {
      vertexAt(o, 3 * t + k, p[k], n[k]);
      const float s = o.data[size_t(3 * t + k) * 8], tt = o.data[size_t(3 * t + k) * 8 + 1];
      EXPECT_TRUE(s >= 0 && s <= 1 && tt >= 0 && tt <= 1);
      smin = std::min(smin, double(s)), smax = std::max(smax, double(s));
      EXPECT_NEAR(std::max({std::fabs(p[k].x), std::fabs(p[k].y), std::fabs(p[k].z)}), 1.0, 1e-6);
    }
    EXPECT_EQ(smax - smin, 1.0);
    const P3 face = cross(sub(p[1], p[0]), sub(p[2], p[0]));
    EXPECT_GT(dot(face, n[0]), 0) << "triangle " << t << " winds against its normal";
    EXPECT_GT(dot(n[0], p[0]), 0) << "normal of triangle " << t << " points inwards";
  }
}

// The inner object: convex (no depth test from the second frame on), closed, wound outwards with
// unit normals pointing out, a few thousand triangles at most, inside the cube.
TEST(Oia, InnerObjectIsConvexAndSmooth) {
  Oia o;
  std::string err;
  ASSERT_TRUE(oiaRead(readAll("data/thing.oia"), o, err)) << err;
  ASSERT_TRUE(o.mode == 6 || o.mode == 14);
  ASSERT_GE(o.count, 300);
  EXPECT_LE(o.count / 3, 4000);
  std::vector<P3> pos(size_t(o.count)), nor(size_t(o.count));
  for (int i = 0; i < o.count; i++) vertexAt(o, i, pos[size_t(i)], nor[size_t(i)]);
  double area = 0;
  for (int t = 0; t < o.count / 3; t++) {
    const P3 a = pos[size_t(3 * t)], b = pos[size_t(3 * t + 1)], c = pos[size_t(3 * t + 2)];
    const P3 f = cross(sub(b, a), sub(c, a));
    const double len = std::sqrt(dot(f, f));
    area += len / 2;
    if (len < 1e-9) continue;
    EXPECT_GT(dot(f, a), 0) << "triangle " << t << " faces inwards";
    // Convex: every vertex lies on the inner side of every face's plane (tolerance for rounding).
    if (t % 7 == 0) {
      for (const P3 &q : pos) {
        ASSERT_LE(dot(f, sub(q, a)) / len, 1e-4) << "triangle " << t;
      }
    }
  }
  EXPECT_GT(area, 1.0);
  for (int i = 0; i < o.count; i++) {
    EXPECT_NEAR(dot(nor[size_t(i)], nor[size_t(i)]), 1.0, 1e-4);
    EXPECT_GT(dot(nor[size_t(i)], pos[size_t(i)]), 0);
    EXPECT_LT(std::sqrt(dot(pos[size_t(i)], pos[size_t(i)])), 1.2);
  }
}

// The logo: a nearly flat slab facing +z, within about 2 units of its centre, unit normals.
TEST(Oia, LogoIsAFlatSlabFacingZ) {
  Oia o;
  std::string err;
  ASSERT_TRUE(oiaRead(readAll("data/vosqu-el.oia"), o, err)) << err;
  ASSERT_TRUE(o.mode == 6 || o.mode == 14);
  ASSERT_GT(o.count, 30);
  double zmin = 1e9, zmax = -1e9, rmax = 0, facingZ = 0, facingAway = 0;
  for (int i = 0; i < o.count; i++) {
    P3 p, n;
    vertexAt(o, i, p, n);
    zmin = std::min(zmin, p.z), zmax = std::max(zmax, p.z);
    rmax = std::max(rmax, std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z));
    EXPECT_NEAR(dot(n, n), 1.0, 1e-4);
  }
  for (int t = 0; t < o.count / 3; t++) {
    P3 a, b, c, n;
    vertexAt(o, 3 * t, a, n);
    vertexAt(o, 3 * t + 1, b, n);
    vertexAt(o, 3 * t + 2, c, n);
    const P3 f = cross(sub(b, a), sub(c, a));
    const double area = std::sqrt(dot(f, f)) / 2;
    if (f.z > 0) facingZ += area * f.z / (2 * area + 1e-12);
    if (f.z < 0) facingAway -= area * f.z / (2 * area + 1e-12);
  }
  EXPECT_LE(rmax, 2.05);
  EXPECT_GT(rmax, 1.0);
  EXPECT_LT(zmax - zmin, 0.5);
  EXPECT_GT(facingZ, 0.8 * facingAway) << "the front is as large as the back";
  EXPECT_GT(facingZ, 2.0);
}
