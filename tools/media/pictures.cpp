// The demo's pictures: the car park's organic walls, the cow-hide and red sphere maps, the
// signage atlas, the second scene's pictures and masks, the glass cube and the font.
#include "media.h"

#include <algorithm>
#include <cmath>
#include <functional>

const char *const kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// Wraps a difference on the unit torus into -0.5..0.5, for tiling distance fields.
static float wrap(float d) { return d - std::floor(d + 0.5f); }

// Paints a picture by detail level until its compressed data lands in [lo, hi] bytes: detail
// adds grain, which costs bytes, so a bisection over it finds a fitting picture.
static Indexed fitDetail(const std::function<Indexed(float)> &make, size_t lo, size_t hi) {
  float a = 0, b = 1;
  Indexed best = make(0);
  if (pngIdatSize(best) > hi) return best;  // the caller's length check reports it
  for (int i = 0; i < 18; i++) {
    const float m = 0.5f * (a + b);
    Indexed img = make(m);
    const size_t n = pngIdatSize(img);
    if (n > hi) {
      b = m;
    } else {
      best = std::move(img);
      a = m;
      if (n >= lo) break;
    }
  }
  return best;
}

// Periodic cell field: distance to the nearest and second-nearest of jittered points, and the
// nearest point's own position, on a grid of n x n cells over the unit torus.
struct Cells {
  float f1, f2, cx, cy;
};
static Cells cellsAt(float u, float v, int n, uint32_t seed) {
  Cells c{9, 9, 0, 0};
  const int gx = int(std::floor(u * n)), gy = int(std::floor(v * n));
  for (int dy = -2; dy <= 2; dy++)
    for (int dx = -2; dx <= 2; dx++) {
      const int cx = ((gx + dx) % n + n) % n, cy = ((gy + dy) % n + n) % n;
      SplitMix r{seed * 7919u + uint64_t(cy) * 1000u + uint64_t(cx)};
      const float px = (cx + 0.15f + 0.7f * splitMixUniform(r)) / n, py = (cy + 0.15f + 0.7f * splitMixUniform(r)) / n;
      const float ddx = wrap(px - u), ddy = wrap(py - v);
      const float d = std::sqrt(ddx * ddx + ddy * ddy) * n;
      if (d < c.f1) {
        c.f2 = c.f1;
        c.f1 = d;
        c.cx = ddx * n;
        c.cy = ddy * n;
      } else if (d < c.f2) {
        c.f2 = d;
      }
    }
  return c;
}

// Organ walls: cells with bright membranes and dark nuclei, veins across them, fine tissue
// grain, tiling on all edges. One ramp from violet-black through strong reds to a pale pink: the
// walls are lit at about a quarter, where pastel tones turn to brown and grey but saturated reds
// stay red, so the cell bodies are saturated and only the membranes come near white.
Indexed makeOrgan() {
  const int W = 512;
  std::vector<float> base(size_t(W) * W), grainField(size_t(W) * W);
  for (int y = 0; y < W; y++)
    for (int x = 0; x < W; x++) {
      const float u = (x + 0.5f) / W, v = (y + 0.5f) / W;
      const float warpX = fbmTile(u * 4, v * 4, 4, 3, 11) - 0.5f, warpY = fbmTile(u * 4, v * 4, 4, 3, 12) - 0.5f;
      const Cells c = cellsAt(u + 0.04f * warpX, v + 0.04f * warpY, 9, 3);
      const float wall = c.f2 - c.f1;
      float val = 0.58f + 0.22f * smooth(0.0f, 0.7f, c.f1);              // cell body, lighter to its rim
      val += 0.40f * (1 - smooth(0.03f, 0.20f, wall));                   // bright membrane
      const float nuc = std::sqrt((c.cx + 0.08f) * (c.cx + 0.08f) + (c.cy - 0.06f) * (c.cy - 0.06f));
      val -= 0.42f * (1 - smooth(0.14f, 0.22f, nuc));                     // dark nucleus
      val += 0.18f * (1 - smooth(0.0f, 0.05f, std::fabs(nuc - 0.2f)));  // its lit rim
      // Veins: thin ridges of a separate noise, dark with a bright edge on one side.
      const float ridge = std::fabs(fbmTile(u * 3, v * 3, 3, 4, 21) - 0.5f);
      val -= 0.55f * (1 - smooth(0.004f, 0.013f, ridge));
      val += 0.14f * smooth(0.013f, 0.02f, ridge) * (1 - smooth(0.02f, 0.035f, ridge));
      val += 0.10f * (fbmTile(u * 16, v * 16, 16, 3, 31) - 0.5f);
      base[size_t(y) * W + x] = val;
      grainField[size_t(y) * W + x] = fbmTile(u * 128, v * 128, 128, 2, 41) - 0.5f;
    }
  const std::vector<Rgb> ramp = {rgb8(25, 0, 20),   rgb8(80, 0, 40),    rgb8(170, 0, 50),   rgb8(240, 30, 70),
                                 rgb8(255, 70, 100), rgb8(255, 130, 145), rgb8(255, 205, 195)};
  auto make = [&](float detail) {
    std::vector<float> f(base.size());
    SplitMix r{77};
    for (size_t i = 0; i < f.size(); i++)
      f[i] = base[i] + detail * 0.35f * grainField[i] + detail * 0.10f * (splitMixUniform(r) - 0.5f);
    return rampPicture(W, W, f, ramp, 256);
  };
  // 23 image-data chunks, and room for the filler: 180225 to 185314 bytes.
  return fitDetail(make, 182000, 185300);
}

// The cow sphere map's levels at (dx, dy) in the unit disc, before grain: hide from 0 (white)
// to 1 (black patch), and sky from 0 to 1 towards the rim; outside the disc all sky.
static void cowLevels(float dx, float dy, float &hide, float &sky) {
  const float rr = std::sqrt(dx * dx + dy * dy);
  hide = 0, sky = 1;
  if (rr >= 1) return;
  // Bulge the pattern towards the rim as a reflection in a ball would.
  const float k = 1.0f / (1.25f - 0.55f * rr * rr);
  const float n = fbmTile(dx * k * 6.5f + 7, dy * k * 6.5f + 7, 64, 3, 9);
  hide = smooth(0.55f, 0.62f, n);
  const float hl = std::exp(-((dx + 0.35f) * (dx + 0.35f) + (dy - 0.38f) * (dy - 0.38f)) / 0.03f);
  hide *= 1 - 0.8f * hl;
  sky = smooth(0.74f, 1.0f, rr) + 0.15f * (dy < 0 ? 0 : dy) * (1 - rr);
}

// Logo sphere map: cow hide on a mirror ball, black patches with soft edges on white, a sky-blue
// rim and a soft key highlight; 16 levels of hide times 16 of sky make the 256 entries.
Indexed makeCowEnv() {
  const int W = 256;
  Indexed img{W, W, {}, {}};
  for (int p = 0; p < 16; p++)
    for (int s = 0; s < 16; s++) {
      const Rgb hide = mix(rgb8(250, 248, 242), rgb8(18, 16, 20), p / 15.0f);
      img.pal.push_back(toBytes(mix(hide, rgb8(120, 180, 245), 0.85f * s / 15.0f)));
    }
  img.idx.resize(size_t(W) * W);
  auto make = [&](float detail) {
    Indexed out = img;
    SplitMix r{5};
    for (int y = 0; y < W; y++)
      for (int x = 0; x < W; x++) {
        float hide, sky;
        cowLevels((x + 0.5f) / (W / 2.0f) - 1, 1 - (y + 0.5f) / (W / 2.0f), hide, sky);
        hide += detail * 0.12f * (splitMixUniform(r) - 0.5f);
        const int hi = std::clamp(int(std::lround(clamp01(hide) * 15)), 0, 15);
        const int si = std::clamp(int(std::lround(clamp01(sky) * 15)), 0, 15);
        out.idx[size_t(y) * W + x] = uint8_t(hi * 16 + si);
      }
    return out;
  };
  // Two image-data chunks (8193 to 16384 bytes) inside the 15163 bytes left for them.
  return fitDetail(make, 13000, 15100);
}

// Fills a rectangle of a picture.
static void fillRect(Picture &p, int x0, int y0, int x1, int y1, Rgb c) {
  for (int y = std::max(0, y0); y < std::min(p.h, y1); y++)
    for (int x = std::max(0, x0); x < std::min(p.w, x1); x++) p.px[size_t(y) * p.w + x] = c;
}

// Paints a shape given by a signed distance (negative inside) with a one-pixel soft edge.
static void fillShape(Picture &p, int x0, int y0, int x1, int y1, const std::function<float(float, float)> &sd, Rgb c) {
  for (int y = std::max(0, y0); y < std::min(p.h, y1); y++)
    for (int x = std::max(0, x0); x < std::min(p.w, x1); x++) {
      const float a = clamp01(0.5f - sd(x + 0.5f, y + 0.5f));
      if (a > 0) p.px[size_t(y) * p.w + x] = mix(p.px[size_t(y) * p.w + x], c, a);
    }
}

// Signed distance to a rounded box centred at (cx, cy).
static float sdRoundBox(float x, float y, float cx, float cy, float hw, float hh, float r) {
  const float qx = std::fabs(x - cx) - hw + r, qy = std::fabs(y - cy) - hh + r;
  const float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0f) - r;
}

// Concrete with a blue cast: mottled noise, pits and a few darker stains.
static void concrete(Picture &p, int x0, int y0, int size, float detail, uint32_t seed, float level = 1.0f) {
  SplitMix r{seed};
  for (int y = y0; y < y0 + size; y++)
    for (int x = x0; x < x0 + size; x++) {
      const float u = float(x - x0) / size, v = float(y - y0) / size;
      float n = 0.55f + 0.2f * (fbmTile(u * 4, v * 4, 4, 2, seed) - 0.5f);
      n -= 0.18f * smooth(0.62f, 0.75f, fbmTile(u * 3, v * 3, 3, 3, seed + 5));
      n += detail * 0.16f * (splitMixUniform(r) - 0.5f);
      n *= level;
      p.px[size_t(y) * p.w + x] = mix(rgb8(40, 44, 52), rgb8(196, 202, 212), clamp01(n));
    }
}

// Draws text centred on (cx, baseline) at the given pixel size.
static void textCentred(Picture &p, int cx, int baseline, int px, const std::string &s, Rgb c) {
  fontOpen(kFontPath, px, px);
  fontDraw(p, cx - fontTextWidth(s) / 2, baseline, s, c);
}

// The signage atlas's colours.
static const Rgb kYellow = rgb8(250, 204, 20), kBlack = rgb8(20, 20, 22), kWhite = rgb8(245, 245, 240);
static const Rgb kBlue = rgb8(20, 70, 170), kGreen = rgb8(0, 130, 70), kRed = rgb8(200, 20, 30);
static const Rgb kAsphalt = rgb8(46, 48, 54);

// The top left corner of atlas tile t: 4 x 4 tiles of 128 pixels, tile 0 at the top left.
static int tileX(int t) { return (t % 4) * 128; }
static int tileY(int t) { return (t / 4) * 128; }

// Paints a shape given by its signed distance anywhere in tile t.
static void tileShape(Picture &p, int t, const std::function<float(float, float)> &sd, Rgb c) {
  fillShape(p, tileX(t), tileY(t), tileX(t) + 128, tileY(t) + 128, sd, c);
}

// The tile painters: each draws tile t, whose top left corner is (x0, y0), over its concrete.
using TilePainter = void (*)(Picture &p, int t, int x0, int y0);

// The P sign, a white-rimmed blue square.
static void tileParkSign(Picture &p, int t, int x0, int y0) {
  tileShape(p, t, [&](float x, float y) { return sdRoundBox(x, y, x0 + 64, y0 + 64, 52, 52, 12); }, kWhite);
  tileShape(p, t, [&](float x, float y) { return sdRoundBox(x, y, x0 + 64, y0 + 64, 47, 47, 9); }, kBlue);
  textCentred(p, x0 + 64, y0 + 100, 88, "P", kWhite);
}

// The level numbers of tiles 1, 2 and 3, yellow on concrete with a band.
static void tileLevel(Picture &p, int t, int x0, int y0) {
  const char *levels[] = {"1", "2", "U1"};
  fillRect(p, x0, y0 + 8, x0 + 128, y0 + 30, kYellow);
  textCentred(p, x0 + 64, y0 + 26, 17, "EBENE", kBlack);
  textCentred(p, x0 + 64, y0 + 112, t == 3 ? 64 : 78, levels[t - 1], kYellow);
}

// An arrow pointing right, centred on the origin.
static float sdArrowRight(float u, float v) {
  const float shaft = sdRoundBox(u, v, -12, 0, 30, 11, 2);
  const float head = std::max({u - 42, -(u - 6), std::fabs(v) - (42 - u) * 0.9f});
  return std::min(shaft, head);
}

// An arrow, right in tile 4 and up in tile 5, white on dark asphalt.
static void tileArrow(Picture &p, int t, int x0, int y0) {
  const int cx = x0 + 64, cy = y0 + 64;
  fillRect(p, x0 + 8, y0 + 8, x0 + 120, y0 + 120, kAsphalt);
  tileShape(p, t, [&](float x, float y) { return t == 5 ? sdArrowRight(cy - y, x - cx) : sdArrowRight(x - cx, y - cy); }, kWhite);
}

// Yellow and black hazard stripes.
static void tileHazard(Picture &p, int t, int x0, int y0) {
  tileShape(p, t, [&](float x, float y) {
    const float d = std::fmod(x - x0 + y - y0 + 256.0f, 45.2548f) - 22.6274f;
    return (std::fabs(d) - 11.3137f) * 0.7071f;
  }, kYellow);
  for (int y = y0; y < y0 + 128; y++)
    for (int x = x0; x < x0 + 128; x++) {
      Rgb &c = p.px[size_t(y) * 512 + x];
      if (c.r < 0.9f) c = mix(kBlack, c, 0.25f);
    }
}

// Bare concrete with a crack.
static void tileCrack(Picture &p, int t, int x0, int y0) {
  tileShape(p, t, [&](float x, float y) {
    const float u = (x - x0) / 128, v = (y - y0) / 128;
    return std::fabs(v - 0.3f - 0.4f * u - 0.12f * (fbmTile(u * 5, v * 5, 5, 3, 55) - 0.5f)) * 128 - 0.6f;
  }, rgb8(30, 32, 38));
}

// The exit sign, white on green with an arrow.
static void tileExit(Picture &p, int t, int x0, int y0) {
  fillRect(p, x0 + 6, y0 + 30, x0 + 122, y0 + 98, kGreen);
  fillRect(p, x0 + 6, y0 + 30, x0 + 122, y0 + 33, kWhite);
  fillRect(p, x0 + 6, y0 + 95, x0 + 122, y0 + 98, kWhite);
  textCentred(p, x0 + 50, y0 + 75, 30, "EXIT", kWhite);
  tileShape(p, t, [&](float x, float y) {
    const float u = x - (x0 + 104), v = y - (y0 + 64);
    return std::min(sdRoundBox(u, v, -6, 0, 8, 4, 1), std::max({u - 10, -u - 4, std::fabs(v) - (10 - u) * 0.9f}));
  }, kWhite);
}

// A drain grate of seven slots.
static void tileDrain(Picture &p, int t, int x0, int y0) {
  tileShape(p, t, [&](float x, float y) { return sdRoundBox(x, y, x0 + 64, y0 + 64, 44, 44, 4); }, rgb8(70, 74, 82));
  for (int k = 0; k < 7; k++)
    tileShape(p, t, [&](float x, float y) { return sdRoundBox(x, y, x0 + 64, y0 + 29 + 11.7f * k, 36, 3, 3); }, rgb8(8, 8, 10));
}

// A parking bay on dark asphalt with its number.
static void tileBay(Picture &p, int, int x0, int y0) {
  fillRect(p, x0 + 10, y0, x0 + 16, y0 + 128, kWhite);
  fillRect(p, x0 + 112, y0, x0 + 118, y0 + 128, kWhite);
  textCentred(p, x0 + 64, y0 + 84, 44, "42", kWhite);
}

// A pillar foot with a hazard band.
static void tilePillarFoot(Picture &p, int, int x0, int y0) {
  for (int y = y0 + 80; y < y0 + 128; y++)
    for (int x = x0; x < x0 + 128; x++) {
      const float d = std::fmod(x - x0 - y + 512.0f, 32.0f);
      p.px[size_t(y) * 512 + x] = d < 16 ? kYellow : kBlack;
    }
  fillRect(p, x0, y0 + 78, x0 + 128, y0 + 80, kBlack);
}

// The height limit sign.
static void tileHeightLimit(Picture &p, int t, int x0, int y0) {
  tileShape(p, t, [&](float x, float y) { return std::hypot(x - x0 - 64, y - y0 - 64) - 54; }, kRed);
  tileShape(p, t, [&](float x, float y) { return std::hypot(x - x0 - 64, y - y0 - 64) - 42; }, kWhite);
  textCentred(p, x0 + 64, y0 + 76, 30, "2,1m", kBlack);
}

// The no-entry sign.
static void tileNoEntry(Picture &p, int t, int x0, int y0) {
  tileShape(p, t, [&](float x, float y) { return std::hypot(x - x0 - 64, y - y0 - 64) - 54; }, kRed);
  tileShape(p, t, [&](float x, float y) { return sdRoundBox(x, y, x0 + 64, y0 + 64, 38, 10, 2); }, kWhite);
}

// A sodium lamp on a dark ceiling.
static void tileLamp(Picture &p, int t, int x0, int y0) {
  for (int y = y0; y < y0 + 128; y++)
    for (int x = x0; x < x0 + 128; x++) {
      const float d = std::hypot((x - x0 - 64) / 2.2f, float(y - y0 - 64));
      Rgb &c = p.px[size_t(y) * 512 + x];
      c = mix(mix(c, kBlack, 0.7f), rgb8(255, 170, 60), std::exp(-d * d / 900.0f));
    }
  tileShape(p, t, [&](float x, float y) { return sdRoundBox(x, y, x0 + 64, y0 + 64, 44, 7, 6); }, rgb8(255, 236, 180));
}

// A patch of cow hide, for the credits.
static void tileCowPatch(Picture &p, int, int x0, int y0) {
  for (int y = y0; y < y0 + 128; y++)
    for (int x = x0; x < x0 + 128; x++) {
      const float n = fbmTile((x - x0) / 40.0f, (y - y0) / 40.0f, 64, 3, 15);
      p.px[size_t(y) * 512 + x] = mix(kBlack, kWhite, smooth(0.5f, 0.54f, n));
    }
}

// The signage atlas at one detail level: concrete under every tile, then each tile's drawing.
static Indexed texParkAt(float detail) {
  static const TilePainter painters[16] = {
      tileParkSign, tileLevel, tileLevel, tileLevel, tileArrow, tileArrow, tileHazard, tileCrack,
      tileExit, tileDrain, tileBay, tilePillarFoot, tileHeightLimit, tileNoEntry, tileLamp, tileCowPatch};
  Picture p = pictureNew(512, 512, kAsphalt);
  for (int t = 0; t < 16; t++) concrete(p, tileX(t), tileY(t), 128, detail, 100 + t, t == 10 ? 0.45f : 1.0f);
  for (int t = 0; t < 16; t++) painters[t](p, t, tileX(t), tileY(t));
  return quantize(p, 64);
}

// Car-park signage atlas: sixteen tiles of signs and surfaces. 64 entries leave 30518 bytes for
// the image data in four chunks, and room for the filler.
Indexed makeTexPark() { return fitDetail(texParkAt, 27000, 30450); }

// Second scene's background: a violet-tinted drain vortex, spiral arms in a grey ramp that the
// scene's tint colours.
Indexed makeSuckBack() {
  const int W = 512;
  std::vector<float> base(size_t(W) * W), grain(size_t(W) * W);
  SplitMix r{99};
  for (int y = 0; y < W; y++)
    for (int x = 0; x < W; x++) {
      const float dx = (x + 0.5f) / 256 - 1, dy = (y + 0.5f) / 256 - 1;
      const float rr = std::sqrt(dx * dx + dy * dy) + 1e-4f, a = std::atan2(dy, dx);
      const float arms = 0.5f + 0.5f * std::sin(5 * a + 9 * std::log(rr) + 2 * fbmTile(dx * 3 + 3, dy * 3 + 3, 64, 3, 7));
      float v = 0.18f + 0.62f * arms * smooth(0.02f, 0.5f, rr);
      v *= 0.55f + 0.45f * smooth(0.0f, 1.1f, rr);
      base[size_t(y) * W + x] = v;
      grain[size_t(y) * W + x] = splitMixUniform(r) - 0.5f;
    }
  const std::vector<Rgb> ramp = {rgb8(0, 0, 0), rgb8(60, 60, 80), rgb8(170, 170, 200), rgb8(255, 255, 255)};
  auto make = [&](float detail) {
    std::vector<float> f(base.size());
    for (size_t i = 0; i < f.size(); i++) f[i] = base[i] + detail * 0.3f * grain[i];
    return rampPicture(W, W, f, ramp, 256);
  };
  // 16 chunks and the filler inside the 127818 bytes left after the full palette.
  return fitDetail(make, 118000, 127500);
}

// The drain cover's distance: negative on the metal, positive in the slots and outside.
static float drainShape(float x, float y, float size) {
  const float c = size / 2, R = size * 0.46f;
  const float disc = std::hypot(x - c, y - c) - R;
  float slots = 1e9f;
  for (int k = -4; k <= 4; k++) {
    const float sy = c + k * R * 0.19f, half = std::sqrt(std::max(0.0f, R * R * 0.72f - (sy - c) * (sy - c)));
    if (half > 4) slots = std::min(slots, sdRoundBox(x, y, c, sy, half, R * 0.045f, R * 0.045f));
  }
  return std::max(disc, -slots);
}

// Second scene's front picture: a round cast-iron drain cover with rust, 18 colours.
Indexed makeSuckFront() {
  const int W = 512;
  auto make = [&](float detail) {
    Picture p = pictureNew(W, W, rgb8(20, 16, 30));
    SplitMix r{18};
    for (int y = 0; y < W; y++)
      for (int x = 0; x < W; x++) {
        const float d = drainShape(x + 0.5f, y + 0.5f, W);
        const float u = x / float(W), v = y / float(W);
        const float rust = smooth(0.5f, 0.7f, fbmTile(u * 6, v * 6, 6, 4, 3) + detail * 0.5f * (splitMixUniform(r) - 0.5f));
        const float pit = detail * 0.5f * (splitMixUniform(r) - 0.5f);
        float shade = 0.55f + pit + 0.3f * (0.5f - v) + 0.25f * (fbmTile(u * 20, v * 20, 20, 2, 4) - 0.5f);
        shade += 0.25f * smooth(-6, 0, d) * (v < 0.5f ? 1 : -0.5f);  // raised rims catch the light
        const Rgb metal = mix(rgb8(30, 32, 38), rgb8(150, 156, 168), clamp01(shade));
        const Rgb c = mix(metal, rgb8(150, 70, 30), rust * 0.8f);
        p.px[size_t(y) * W + x] = d < 0 ? c : rgb8(20, 16, 30);
      }
    return quantize(p, 18);
  };
  return fitDetail(make, 38000, 42600);
}

// A square mask in a grey-ramp palette (entry i is grey i), each pixel's entry from its centre.
static Indexed greyMask(int size, const std::function<uint8_t(float, float)> &entry) {
  Indexed m{size, size, {}, {}};
  for (int i = 0; i < 256; i++) m.pal.push_back({uint8_t(i), uint8_t(i), uint8_t(i)});
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) m.idx.push_back(entry(x + 0.5f, y + 0.5f));
  return m;
}

// Mask of the drain cover: black (opaque) on the metal, white (clear) in the slots and around.
Indexed makeSuckMask() {
  return greyMask(512, [](float x, float y) { return uint8_t(drainShape(x, y, 512) < 0 ? 0 : 255); });
}

// The small corner picture: a P sign, flat colours.
// The corner picture's P sign, drawn at s times its 128 pixels: a blue rounded square with a white
// rim (never thinner than a pixel) and a white P.
static Picture paintParkSign(float s) {
  const int size = int(128 * s);
  Picture p = pictureNew(size, size, rgb8(20, 70, 170));
  const float rim = std::max(3 * s, 1.0f);
  fillShape(p, 0, 0, size, size, [s](float x, float y) { return -sdRoundBox(x, y, 64 * s, 64 * s, 58 * s, 58 * s, 16 * s); },
            rgb8(20, 70, 170));
  fillShape(p, 0, 0, size, size,
            [s, rim](float x, float y) { return std::fabs(sdRoundBox(x, y, 64 * s, 64 * s, 56 * s, 56 * s, 14 * s)) - rim; },
            rgb8(245, 245, 240));
  textCentred(p, int(64 * s), int(100 * s), int(92 * s), "P", rgb8(245, 245, 240));
  return p;
}

Indexed makeSuckThing() { return quantize(paintParkSign(1.0f), 8); }

// The program's icon: the corner picture's P sign at size x size, clear outside its rounded square.
Picture makeIcon(int size) {
  const float s = float(size) / 128;
  Picture p = paintParkSign(s);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++)
      p.alpha[size_t(y) * size + x] = clamp01(0.5f - sdRoundBox(x + 0.5f, y + 0.5f, 64 * s, 64 * s, 60 * s, 60 * s, 18 * s));
  return p;
}

// Mask of the corner picture: the rounded square, with a soft edge.
Indexed makeSuckThingMask() {
  return greyMask(128, [](float x, float y) {
    return uint8_t(255 - toByte(0.5f - sdRoundBox(x, y, 64, 64, 60, 60, 18) / 1.5f));
  });
}

// Draws the blueprint's three concentric rings into pixel i, at distance r from the centre.
static void cubeRings(Picture &p, size_t i, float r, Rgb line) {
  for (float ring : {30.0f, 52.0f, 80.0f}) {
    const float a = clamp01(1.2f - std::fabs(r - ring));
    if (a > 0) p.px[i] = mix(p.px[i], line, a), p.alpha[i] = std::max(p.alpha[i], 0.5f + 0.3f * a);
  }
}

// The glass cube's faces: a blueprint panel (alpha about a half) with a fine grid, a drawing of
// concentric rings, and a glowing frame of alpha 1 along the edges.
Picture makeCubeTexture() {
  const int W = 256;
  Picture p = pictureNew(W, W, rgb8(24, 70, 150), 0.5f);
  const Rgb line = rgb8(120, 190, 255), glow = rgb8(210, 245, 255);
  for (int y = 0; y < W; y++)
    for (int x = 0; x < W; x++) {
      const size_t i = size_t(y) * W + x;
      const float u = (x + 0.5f) / W - 0.5f, v = (y + 0.5f) / W - 0.5f;
      p.alpha[i] = 0.44f + 0.08f * (0.5f - std::hypot(u, v));
      p.px[i] = mix(rgb8(30, 84, 170), rgb8(64, 136, 224), 0.5f - v);
      const bool minor = x % 16 == 0, major = x % 64 == 0 || y % 64 == 0;
      if (minor || y % 16 == 0) p.px[i] = mix(p.px[i], line, 0.35f), p.alpha[i] = 0.55f;
      if (major) p.px[i] = mix(p.px[i], line, 0.6f), p.alpha[i] = 0.6f;
      // Rings and a cross-hair at the centre.
      const float r = std::hypot(u, v) * W;
      cubeRings(p, i, r, line);
      if ((std::fabs(u * W) < 0.8f || std::fabs(v * W) < 0.8f) && r < 96) p.px[i] = mix(p.px[i], line, 0.8f), p.alpha[i] = 0.75f;
      // Edge frame: a solid glowing band, falling off inwards.
      const float e = float(std::min({x, y, W - 1 - x, W - 1 - y}));
      const float band = 1 - smooth(6, 7.5f, e), halo = std::exp(-(e - 6) * (e - 6) / 60.0f) * (e > 6 ? 1 : 0);
      p.px[i] = mix(p.px[i], glow, std::max(band, 0.7f * halo));
      p.alpha[i] = std::max(p.alpha[i], std::max(band, 0.5f + 0.5f * halo));
      // Corner brackets.
      const float cx = std::min(float(x), float(W - 1 - x)), cy = std::min(float(y), float(W - 1 - y));
      if (((cx < 16 && cy < 40) || (cy < 16 && cx < 40)) && std::min(cx, cy) >= 12)
        p.px[i] = glow, p.alpha[i] = 0.95f;
    }
  // A drawing label in the corner, glowing and at least half opaque.
  fontOpen(kFontPath, 11, 11);
  Picture text = pictureNew(W, W, {0, 0, 0}, 0.0f);
  fontDraw(text, 22, W - 20, "VOSQUEL  /  ZARED  1:1", {1, 1, 1});
  for (size_t i = 0; i < text.px.size(); i++) {
    const float ink = text.px[i].r, a = std::max(p.alpha[i], 0.5f + 0.5f * ink);
    if (ink > 0) p.px[i] = mix(mix(p.px[i], glow, clamp01(a)), glow, ink), p.alpha[i] = a;
  }
  return p;
}

// The inner object's sphere map: deep red lacquer with a large soft key highlight, a small sharp
// one and a brighter rim.
Picture makeRedLightmap() {
  const int W = 256;
  Picture p = pictureNew(W, W, rgb8(70, 0, 8));
  for (int y = 0; y < W; y++)
    for (int x = 0; x < W; x++) {
      const float dx = (x + 0.5f) / 128 - 1, dy = 1 - (y + 0.5f) / 128;
      const float r = std::min(1.0f, std::hypot(dx, dy));
      Rgb c = mix(rgb8(150, 4, 18), rgb8(235, 34, 44), std::pow(r, 2.5f));
      c = mix(c, rgb8(110, 0, 12), 0.35f * (1 - r) * (0.5f - 0.5f * dy));
      const float k1 = std::exp(-((dx + 0.32f) * (dx + 0.32f) / 0.05f + (dy - 0.4f) * (dy - 0.4f) / 0.025f));
      const float k2 = std::exp(-((dx - 0.45f) * (dx - 0.45f) + (dy + 0.3f) * (dy + 0.3f)) / 0.004f);
      const float strip = std::exp(-(dy + 0.62f) * (dy + 0.62f) / 0.004f) * smooth(0.95f, 0.6f, std::fabs(dx));
      c = mix(c, rgb8(255, 210, 200), clamp01(k1 * 1.1f));
      c = mix(c, rgb8(255, 245, 240), clamp01(k2 * 1.2f));
      c = mix(c, rgb8(255, 120, 110), clamp01(strip * 0.5f));
      p.px[size_t(y) * W + x] = c;
    }
  return p;
}

// The font's glyph order: ASCII 0x20 to 0x7e with the two letter cases swapped.
static std::string fontOrderText() {
  std::string order;
  for (int c = 0x20; c <= 0x7e; c++) order += char(c >= 'A' && c <= 'Z' ? c + 32 : c >= 'a' && c <= 'z' ? c - 32 : c);
  return order;
}

// Opens the font at the size that fits every glyph of the order into its cell: measured at a
// trial size, then scaled so that the widest ink is 18 pixels and the tallest 26. Returns the
// baseline's row in the cell.
static int fontOpenFitted(const std::string &order) {
  const int trial = 64;
  fontOpen(kFontPath, trial, trial);
  int maxW = 0, maxTop = 0, maxBottom = 0;
  for (char ch : order) {
    GlyphMap g;
    if (!fontGlyph((unsigned char)ch, g)) continue;
    maxW = std::max(maxW, g.w);
    maxTop = std::max(maxTop, g.top);
    maxBottom = std::max(maxBottom, g.h - g.top);
  }
  const int pxW = int(trial * 18.0f / maxW), pxH = int(trial * 26.0f / (maxTop + maxBottom));
  fontOpen(kFontPath, pxW, pxH);
  return 3 + int(std::lround(float(maxTop) * pxH / trial));
}

// Puts a glyph's coverage as alpha into the 32-pixel cell at (cx, cy), centred across it on the
// baseline, and keeps it inside the cell's ink band even if its box rounds out by a pixel.
static void placeGlyph(Picture &p, const GlyphMap &g, int cx, int cy, int baseline) {
  const int C = 32, ox = cx + (C - g.w) / 2, oy = cy + baseline - g.top;
  for (int y = 0; y < g.h; y++)
    for (int x = 0; x < g.w; x++) {
      const int px = ox + x, py = oy + y;
      if (px < cx + 7 || px > cx + C - 8 || py < cy + 1 || py > cy + C - 2) continue;
      p.alpha[size_t(py) * p.w + px] = std::min(1.0f, g.cov[size_t(y) * g.w + x] * 1.1f);
    }
}

// The dark ring around each glyph: opaque up to 3 texels from the ink, fading out over one more.
// Across, distances count half, since the text is squeezed across two to three times more than
// down: the ring then fills the glyph's own band of the cell, the widest it can be.
constexpr float kRingWidth = 3.0f, kRingSoft = 1.0f, kRingAcross = 0.5f;

// The distance in texels from (x, y) to the nearest texel of the cell at (cx, cy) whose ink
// covers at least half of it.
static float inkDistance(const Picture &p, int cx, int cy, int x, int y) {
  float best = 1e9f;
  for (int v = cy; v < cy + 32; v++)
    for (int u = cx; u < cx + 32; u++) {
      if (p.alpha[size_t(v) * p.w + u] < 0.5f) continue;
      best = std::min(best, std::hypot((u - x) * kRingAcross, float(v - y)));
    }
  return best;
}

// Frames the glyph in the cell at (cx, cy) with a black ring under its white ink, so that the
// text reads against light and dark walls alike. The ring stays in the columns 7 to 24 of the
// cell, as the ink does: the pen advances 19.2 of the cell's 32 texels, so a neighbour's ink
// comes no nearer than columns 5.8 and 26.2, and filtering spreads a texel by one at most.
static void ringGlyph(Picture &p, int cx, int cy) {
  std::vector<float> ring(32 * 32, 0.0f);
  for (int y = cy; y < cy + 32; y++)
    for (int x = cx + 7; x <= cx + 24; x++) {
      ring[size_t(y - cy) * 32 + x - cx] = 1 - smooth(kRingWidth, kRingWidth + kRingSoft, inkDistance(p, cx, cy, x, y));
    }
  for (int y = cy; y < cy + 32; y++)
    for (int x = cx; x < cx + 32; x++) {
      const size_t i = size_t(y) * p.w + x;
      const float ink = p.alpha[i], a = ink + ring[size_t(y - cy) * 32 + x - cx] * (1 - ink);
      p.alpha[i] = a;
      p.px[i] = a > 0 ? Rgb{ink / a, ink / a, ink / a} : Rgb{0, 0, 0};
    }
}

// The font: 16 x 16 cells of 32 pixels, glyph i of fontOrder in column i mod 16 and row i div 16
// counted from the top, white ink with antialiased alpha kept inside the middle 60 % of the cell
// width and clear of the cell's top and bottom, framed by a black ring; clear texels are black.
Picture makeFont() {
  const int W = 512, C = 32;
  Picture p = pictureNew(W, W, {0, 0, 0}, 0.0f);
  const std::string order = fontOrderText();
  const int baseline = fontOpenFitted(order);
  for (size_t i = 0; i < order.size(); i++) {
    GlyphMap g;
    if (!fontGlyph((unsigned char)order[i], g)) continue;
    placeGlyph(p, g, int(i % 16) * C, int(i / 16) * C, baseline);
    ringGlyph(p, int(i % 16) * C, int(i / 16) * C);
  }
  return p;
}
