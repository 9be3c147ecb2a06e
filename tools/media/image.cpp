// Pictures, noise, palette reduction and the file writers of the media generator.
#include "media.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "bytes.h"
#include "pngwrite.h"

Picture pictureNew(int w, int h, Rgb fill, float alpha) {
  return {w, h, std::vector<Rgb>(size_t(w) * h, fill), std::vector<float>(size_t(w) * h, alpha)};
}

Rgb mix(Rgb a, Rgb b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

Rgb rgb8(int r, int g, int b) { return {r / 255.0f, g / 255.0f, b / 255.0f}; }

float clamp01(float v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

uint8_t toByte(float v) { return uint8_t(std::lround(clamp01(v) * 255)); }

std::array<uint8_t, 3> toBytes(Rgb c) { return {toByte(c.r), toByte(c.g), toByte(c.b)}; }

float smooth(float e0, float e1, float x) {
  const float t = clamp01((x - e0) / (e1 - e0));
  return t * t * (3 - 2 * t);
}

// Hash of a lattice point to 0..1.
static float lattice(int x, int y, uint32_t seed) {
  uint32_t h = uint32_t(x) * 0x8da6b343u ^ uint32_t(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return float(h & 0xffffff) / float(0xffffff);
}

float noiseTile(float x, float y, int period, uint32_t seed) {
  const float fx = std::floor(x), fy = std::floor(y);
  const int ix = int(fx), iy = int(fy);
  float tx = x - fx, ty = y - fy;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  auto at = [&](int dx, int dy) {
    int px = ((ix + dx) % period + period) % period;
    int py = ((iy + dy) % period + period) % period;
    return lattice(px, py, seed);
  };
  const float a = at(0, 0) + (at(1, 0) - at(0, 0)) * tx;
  const float b = at(0, 1) + (at(1, 1) - at(0, 1)) * tx;
  return a + (b - a) * ty;
}

float fbmTile(float x, float y, int period, int octaves, uint32_t seed) {
  float sum = 0, amp = 0.5f, norm = 0;
  for (int o = 0; o < octaves; o++) {
    sum += amp * noiseTile(x, y, period, seed + uint32_t(o) * 101u);
    norm += amp;
    amp *= 0.5f;
    x *= 2;
    y *= 2;
    period *= 2;
  }
  return sum / norm;
}

// One distinct colour of a picture, with its pixel count and its 24-bit key.
struct Col {
  int c[3];
  uint32_t n, key;
};

// One box of colours for the median cut.
struct Box {
  size_t begin, end;
};

// The 24-bit key of a colour, 8 bits per channel.
static uint32_t colourKey(Rgb c) {
  return uint32_t(toByte(c.r)) << 16 | uint32_t(toByte(c.g)) << 8 | toByte(c.b);
}

// The distinct colours of the keys with their counts, in a fixed (sorted) order.
static std::vector<Col> distinctColours(const std::vector<uint32_t> &keys) {
  std::map<uint32_t, uint32_t> hist;
  for (uint32_t k : keys) hist[k]++;
  std::vector<Col> cols;
  for (auto [k, n] : hist) cols.push_back({{int(k >> 16), int(k >> 8 & 255), int(k & 255)}, n, k});
  return cols;
}

// The box with the widest spread weighted by its pixel count, and its widest axis; -1 when no
// box holds two colours.
static int widestBox(const std::vector<Col> &cols, const std::vector<Box> &boxes, int &axis) {
  int best = -1;
  double bestScore = 0;
  for (size_t b = 0; b < boxes.size(); b++) {
    if (boxes[b].end - boxes[b].begin < 2) continue;
    int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    double n = 0;
    for (size_t i = boxes[b].begin; i < boxes[b].end; i++) {
      for (int a = 0; a < 3; a++) lo[a] = std::min(lo[a], cols[i].c[a]), hi[a] = std::max(hi[a], cols[i].c[a]);
      n += cols[i].n;
    }
    for (int a = 0; a < 3; a++) {
      const double score = double(hi[a] - lo[a]) * std::sqrt(n);
      if (score > bestScore) bestScore = score, best = int(b), axis = a;
    }
  }
  return best;
}

// Sorts a box's colours along the axis and cuts it where half of its pixels lie on each side;
// returns the first index of the upper half.
static size_t cutBox(std::vector<Col> &cols, Box box, int axis) {
  std::stable_sort(cols.begin() + long(box.begin), cols.begin() + long(box.end),
                   [&](const Col &x, const Col &y) { return x.c[axis] < y.c[axis]; });
  double total = 0;
  for (size_t i = box.begin; i < box.end; i++) total += cols[i].n;
  double run = 0;
  size_t cut = box.begin + 1;
  for (size_t i = box.begin; i < box.end - 1; i++) {
    run += cols[i].n;
    cut = i + 1;
    if (run >= total / 2) break;
  }
  return cut;
}

// The palette: the weighted mean of each box, ordered by brightness.
static std::vector<std::array<uint8_t, 3>> boxPalette(const std::vector<Col> &cols, const std::vector<Box> &boxes) {
  std::vector<std::array<uint8_t, 3>> pal;
  for (const Box &b : boxes) {
    double s[3] = {0, 0, 0}, n = 0;
    for (size_t i = b.begin; i < b.end; i++) {
      for (int a = 0; a < 3; a++) s[a] += double(cols[i].c[a]) * cols[i].n;
      n += cols[i].n;
    }
    pal.push_back({uint8_t(std::lround(s[0] / n)), uint8_t(std::lround(s[1] / n)), uint8_t(std::lround(s[2] / n))});
  }
  std::stable_sort(pal.begin(), pal.end(), [](const auto &x, const auto &y) {
    return 2 * x[0] + 5 * x[1] + x[2] < 2 * y[0] + 5 * y[1] + y[2];
  });
  return pal;
}

// The palette entry nearest to a colour, by a distance weighted towards green.
static uint8_t nearestEntry(const std::vector<std::array<uint8_t, 3>> &pal, const int c[3]) {
  int bi = 0, bd = 1 << 30;
  for (size_t p = 0; p < pal.size(); p++) {
    const int dr = c[0] - pal[p][0], dg = c[1] - pal[p][1], db = c[2] - pal[p][2];
    const int d = 2 * dr * dr + 4 * dg * dg + db * db;
    if (d < bd) bd = d, bi = int(p);
  }
  return uint8_t(bi);
}

Indexed quantize(const Picture &pic, int colours) {
  std::vector<uint32_t> keys(pic.px.size());
  for (size_t i = 0; i < pic.px.size(); i++) keys[i] = colourKey(pic.px[i]);
  std::vector<Col> cols = distinctColours(keys);
  std::vector<Box> boxes{{0, cols.size()}};
  while (int(boxes.size()) < colours) {
    int axis = 0;
    const int best = widestBox(cols, boxes, axis);
    if (best < 0) break;
    const Box box = boxes[size_t(best)];
    const size_t cut = cutBox(cols, box, axis);
    boxes[size_t(best)] = {box.begin, cut};
    boxes.push_back({cut, box.end});
  }
  Indexed out{pic.w, pic.h, {}, boxPalette(cols, boxes)};
  std::map<uint32_t, uint8_t> nearest;
  for (const Col &c : cols) nearest[c.key] = nearestEntry(out.pal, c.c);
  for (uint32_t k : keys) out.idx.push_back(nearest[k]);
  return out;
}

Indexed rampPicture(int w, int h, const std::vector<float> &field, const std::vector<Rgb> &stops, int colours) {
  Indexed out{w, h, {}, {}};
  for (int i = 0; i < colours; i++) {
    const float u = float(i) / float(colours - 1) * float(stops.size() - 1);
    const int k = std::min(int(u), int(stops.size()) - 2);
    out.pal.push_back(toBytes(mix(stops[size_t(k)], stops[size_t(k) + 1], u - float(k))));
  }
  for (float v : field) out.idx.push_back(uint8_t(std::lround(clamp01(v) * float(colours - 1))));
  return out;
}

// Compression settings tried, strongest first.
struct ZSetting {
  int level, strategy, memLevel;
};

// Writes one indexed PNG with the given zlib setting and, when filler is not empty, a tEXt chunk
// of that content after the image data.
static std::vector<uint8_t> pngWrite(const Indexed &img, ZSetting z, const std::vector<uint8_t> &filler = {}) {
  const PngSpec spec{.width = img.w, .height = img.h, .palette = img.pal, .level = z.level, .strategy = z.strategy,
                     .memLevel = z.memLevel, .text = filler};
  return pngEncode(spec, img.idx.data());
}

// Counts the IDAT chunks of a PNG file; returns the bytes of data they hold.
static size_t idatBytes(const std::vector<uint8_t> &f, int &chunks) {
  chunks = 0;
  size_t bytes = 0;
  size_t p = 8;
  while (p + 12 <= f.size()) {
    const size_t len = getBe32(&f[p]);
    if (std::memcmp(&f[p + 4], "IDAT", 4) == 0) chunks++, bytes += len;
    p += 12 + len;
  }
  return bytes;
}

// The tEXt filler of the given data length: keyword, separator, then a repeated line.
static std::vector<uint8_t> fillerText(size_t dataLength) {
  static const char key[] = "Comment";
  static const char line[] = "Parkhaus by Zared - organs, cows and a multi-storey car park. ";
  std::vector<uint8_t> d(key, key + sizeof key);  // keeps the NUL separator
  for (size_t i = 0; d.size() < dataLength; i++) d.push_back(uint8_t(line[i % (sizeof line - 1)]));
  return d;
}

static const ZSetting kSettings[] = {
    {9, 0, 9}, {9, 0, 8}, {8, 0, 9}, {7, 0, 9}, {6, 0, 9}, {9, 1, 9}, {6, 1, 9}, {5, 0, 9}, {4, 0, 9},
    {9, 3, 9}, {3, 0, 9}, {2, 0, 9}, {1, 0, 9}, {9, 0, 7}, {9, 0, 6}, {9, 2, 9}, {1, 0, 1},
};

size_t pngIdatSize(const Indexed &img) {
  int chunks;
  return idatBytes(pngWrite(img, kSettings[0]), chunks);
}

std::vector<uint8_t> pngExact(const Indexed &img, size_t length, int idatChunks) {
  for (const ZSetting &z : kSettings) {
    std::vector<uint8_t> f = pngWrite(img, z);
    int chunks;
    idatBytes(f, chunks);
    if (f.empty() || (idatChunks && chunks != idatChunks)) continue;
    if (f.size() == length) return f;
    // A tEXt chunk costs 12 bytes of frame and at least 8 of keyword and separator.
    if (length < f.size() + 20) continue;
    const std::vector<uint8_t> fill = fillerText(length - f.size() - 12);
    f = pngWrite(img, z, fill);
    if (f.size() == length) return f;
  }
  return {};
}

std::vector<uint8_t> pngRgb(int w, int h, const std::vector<uint8_t> &rgb) {
  const PngSpec spec{.width = w, .height = h, .pixels = PngPixels::Rgb, .palette = {}, .level = 9, .memLevel = 9,
                     .text = {}};
  return pngEncode(spec, rgb.data());
}

std::vector<uint8_t> pngRgba(const Picture &pic) {
  const PngSpec spec{.width = pic.w, .height = pic.h, .pixels = PngPixels::Rgba, .palette = {}, .level = 9, .memLevel = 9,
                     .text = {}};
  std::vector<uint8_t> rgba;
  for (size_t i = 0; i < pic.px.size(); i++)
    for (float v : {pic.px[i].r, pic.px[i].g, pic.px[i].b, pic.alpha[i]}) rgba.push_back(toByte(v));
  return pngEncode(spec, rgba.data());
}

std::vector<uint8_t> tga32(const Picture &pic) {
  std::vector<uint8_t> f(12, 0);
  f[2] = 2;  // uncompressed true colour; both origin fields stay 0
  putLe16(f, uint16_t(pic.w));
  putLe16(f, uint16_t(pic.h));
  f.insert(f.end(), {32, 0x28});  // 8 alpha bits, top-left origin for ordinary viewers; the demo's loader ignores it
  for (size_t i = 0; i < pic.px.size(); i++)
    for (float v : {pic.px[i].b, pic.px[i].g, pic.px[i].r, pic.alpha[i]}) f.push_back(toByte(v));
  return f;
}

// Appends a float as little-endian IEEE bytes.
static void putFloat(std::vector<uint8_t> &out, float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  putLe32(out, u);
}

std::vector<uint8_t> oiaFile(int mode, const std::vector<Vertex> &verts) {
  std::vector<uint8_t> f = {'Z', 'o', 'I', 'A', 1, 0, 0, uint8_t(mode), uint8_t(verts.size() >> 8),
                            uint8_t(verts.size() & 255)};
  for (const Vertex &v : verts) {
    if (mode == 14) putFloat(f, v.s), putFloat(f, v.t);
    if (mode == 6 || mode == 14) putFloat(f, v.nx), putFloat(f, v.ny), putFloat(f, v.nz);
    putFloat(f, v.x), putFloat(f, v.y), putFloat(f, v.z);
  }
  return f;
}

static FT_Library ftLib = nullptr;
static FT_Face ftFace = nullptr;

bool fontOpen(const char *path, int pxW, int pxH) {
  if (!ftLib && FT_Init_FreeType(&ftLib)) return false;
  if (ftFace) FT_Done_Face(ftFace), ftFace = nullptr;
  if (FT_New_Face(ftLib, path, 0, &ftFace)) return false;
  return FT_Set_Pixel_Sizes(ftFace, FT_UInt(pxW), FT_UInt(pxH)) == 0;
}

bool fontGlyph(unsigned ch, GlyphMap &g) {
  if (!ftFace || FT_Load_Char(ftFace, ch, FT_LOAD_RENDER)) return false;
  const FT_GlyphSlot s = ftFace->glyph;
  g = {int(s->bitmap.width), int(s->bitmap.rows), s->bitmap_left, s->bitmap_top, int(s->advance.x >> 6), {}};
  g.cov.assign(size_t(g.w) * g.h, 0);
  for (int y = 0; y < g.h; y++)
    for (int x = 0; x < g.w; x++) g.cov[size_t(y) * g.w + x] = s->bitmap.buffer[y * s->bitmap.pitch + x] / 255.0f;
  return true;
}

void fontClose() {
  if (ftFace) FT_Done_Face(ftFace), ftFace = nullptr;
  if (ftLib) FT_Done_FreeType(ftLib), ftLib = nullptr;
}

// Blends one glyph into a picture by its coverage, its origin on the baseline at (x, y).
static void drawGlyph(Picture &pic, const GlyphMap &g, int x, int y, Rgb colour) {
  for (int gy = 0; gy < g.h; gy++)
    for (int gx = 0; gx < g.w; gx++) {
      const int px = x + g.left + gx, py = y - g.top + gy;
      if (px < 0 || py < 0 || px >= pic.w || py >= pic.h) continue;
      const size_t i = size_t(py) * pic.w + px;
      pic.px[i] = mix(pic.px[i], colour, g.cov[size_t(gy) * g.w + gx]);
    }
}

void fontDraw(Picture &pic, int x, int y, const std::string &text, Rgb colour) {
  for (unsigned char ch : text) {
    GlyphMap g;
    if (!fontGlyph(ch, g)) continue;
    drawGlyph(pic, g, x, y, colour);
    x += g.advance;
  }
}

int fontTextWidth(const std::string &text) {
  int w = 0;
  for (unsigned char ch : text) {
    GlyphMap g;
    if (fontGlyph(ch, g)) w += g.advance;
  }
  return w;
}
