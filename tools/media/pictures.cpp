// The demo's pictures: the car park's organic walls, the cow-hide and red sphere maps, the
// signage atlas, the second scene's pictures and masks, the glass cube and the font.
#include "media.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

const char *const kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// Wraps a difference on the unit torus into -0.5..0.5, for tiling distance fields.
static float wrap(float d) { return d - std::floor(d + 0.5f); }

// Paints a picture by detail level until its compressed data lands in [lo, hi] bytes: detail
// adds grain, which costs bytes, so a bisection over it finds a fitting picture.
static Indexed fitDetail(const std::function<Indexed(float)> &make, size_t lo, size_t hi) {
  float a = 0, b = 1;
  Indexed best = make(0);
  if (std::getenv("ZMEDIA_DEBUG")) std::fprintf(stderr, "detail 0 -> %zu bytes\n", pngIdatSize(best));
  if (pngIdatSize(best) > hi) return best;  // the caller's length check reports it
  for (int i = 0; i < 18; i++) {
    const float m = 0.5f * (a + b);
    Indexed img = make(m);
    const size_t n = pngIdatSize(img);
    if (std::getenv("ZMEDIA_DEBUG")) std::fprintf(stderr, "detail %.4f -> %zu bytes (want %zu..%zu)\n", double(m), n, lo, hi);
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
  uint32_t id;
};
static Cells cellsAt(float u, float v, int n, uint32_t seed) {
  Cells c{9, 9, 0, 0, 0};
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
        c.id = uint32_t(cy * n + cx);
      } else if (d < c.f2) {
        c.f2 = d;
      }
    }
  return c;
}

// Organ walls: cells with bright membranes and dark nuclei, veins across them, fine tissue
// grain; one ramp from deep purple-red to warm white, tiling on all edges.
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
      const float n1 = fbmTile(u * 3, v * 3, 3, 4, 21);
      const float ridge = std::fabs(n1 - 0.5f);
      val -= 0.55f * (1 - smooth(0.004f, 0.013f, ridge));
      val += 0.14f * smooth(0.013f, 0.02f, ridge) * (1 - smooth(0.02f, 0.035f, ridge));
      val += 0.10f * (fbmTile(u * 16, v * 16, 16, 3, 31) - 0.5f);
      base[size_t(y) * W + x] = val;
      grainField[size_t(y) * W + x] = fbmTile(u * 128, v * 128, 128, 2, 41) - 0.5f;
    }
  const std::vector<Rgb> ramp = {rgb8(50, 0, 30),    rgb8(150, 6, 50),   rgb8(235, 30, 70),  rgb8(255, 90, 120),
                                 rgb8(255, 160, 160), rgb8(255, 220, 190), rgb8(255, 255, 240)};
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

// Logo sphere map: cow hide on a mirror ball, black patches with soft edges on white, a sky-blue
// rim and a soft key highlight; 16 levels of hide times 16 of sky make the 256 entries.
Indexed makeCowEnv() {
  const int W = 256;
  Indexed img;
  img.w = img.h = W;
  for (int p = 0; p < 16; p++)
    for (int s = 0; s < 16; s++) {
      const Rgb hide = mix(rgb8(250, 248, 242), rgb8(18, 16, 20), p / 15.0f);
      const Rgb c = mix(hide, rgb8(120, 180, 245), 0.85f * s / 15.0f);
      img.pal.push_back({uint8_t(std::lround(c.r * 255)), uint8_t(std::lround(c.g * 255)), uint8_t(std::lround(c.b * 255))});
    }
  img.idx.resize(size_t(W) * W);
  auto make = [&](float detail) {
    Indexed out = img;
    SplitMix r{5};
    for (int y = 0; y < W; y++)
      for (int x = 0; x < W; x++) {
        const float dx = (x + 0.5f) / (W / 2.0f) - 1, dy = 1 - (y + 0.5f) / (W / 2.0f);
        const float rr = std::sqrt(dx * dx + dy * dy);
        float hide = 0, sky = 1;
        if (rr < 1) {
          // Bulge the pattern towards the rim as a reflection in a ball would.
          const float k = 1.0f / (1.25f - 0.55f * rr * rr);
          const float n = fbmTile(dx * k * 6.5f + 7, dy * k * 6.5f + 7, 64, 3, 9);
          hide = smooth(0.55f, 0.62f, n);
          const float hl = std::exp(-((dx + 0.35f) * (dx + 0.35f) + (dy - 0.38f) * (dy - 0.38f)) / 0.03f);
          hide *= 1 - 0.8f * hl;
          sky = smooth(0.74f, 1.0f, rr) + 0.15f * (dy < 0 ? 0 : dy) * (1 - rr);
        }
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

// Car-park signage atlas: 4 x 4 tiles of 128 pixels, tile 0 at the top left.
Indexed makeTexPark() {
  const Rgb yellow = rgb8(250, 204, 20), black = rgb8(20, 20, 22), white = rgb8(245, 245, 240);
  const Rgb blue = rgb8(20, 70, 170), green = rgb8(0, 130, 70), red = rgb8(200, 20, 30), asphalt = rgb8(46, 48, 54);
  auto make = [&](float detail) {
    Picture p = pictureNew(512, 512, asphalt);
    for (int t = 0; t < 16; t++) concrete(p, (t % 4) * 128, (t / 4) * 128, 128, detail, 100 + t, t == 10 ? 0.45f : 1.0f);
    auto X = [](int t) { return (t % 4) * 128; };
    auto Y = [](int t) { return (t / 4) * 128; };
    // 0: the P sign.
    fillShape(p, X(0), Y(0), X(0) + 128, Y(0) + 128, [&](float x, float y) { return sdRoundBox(x, y, X(0) + 64, Y(0) + 64, 52, 52, 12); }, white);
    fillShape(p, X(0), Y(0), X(0) + 128, Y(0) + 128, [&](float x, float y) { return sdRoundBox(x, y, X(0) + 64, Y(0) + 64, 47, 47, 9); }, blue);
    textCentred(p, X(0) + 64, Y(0) + 100, 88, "P", white);
    // 1, 2, 3: level numbers, yellow on concrete with a band.
    const char *levels[] = {"1", "2", "U1"};
    for (int k = 0; k < 3; k++) {
      const int t = 1 + k;
      fillRect(p, X(t), Y(t) + 8, X(t) + 128, Y(t) + 30, yellow);
      textCentred(p, X(t) + 64, Y(t) + 26, 17, "EBENE", black);
      textCentred(p, X(t) + 64, Y(t) + 112, k == 2 ? 64 : 78, levels[k], yellow);
    }
    // 4: arrow right; 5: arrow up, white on dark asphalt.
    for (int k = 0; k < 2; k++) {
      const int t = 4 + k, cx = X(t) + 64, cy = Y(t) + 64;
      fillRect(p, X(t) + 8, Y(t) + 8, X(t) + 120, Y(t) + 120, asphalt);
      fillShape(p, X(t), Y(t), X(t) + 128, Y(t) + 128, [&](float x, float y) {
        float u = x - cx, v = y - cy;
        if (k == 1) std::swap(u, v), u = -u;  // turn the right arrow to point up
        const float shaft = sdRoundBox(u, v, -12, 0, 30, 11, 2);
        const float head = std::max({u - 42, -(u - 6) - std::fabs(v) * 0.0f, std::fabs(v) - (42 - u) * 0.9f});
        return std::min(shaft, head);
      }, white);
    }
    // 6: hazard stripes.
    fillShape(p, X(6), Y(6), X(6) + 128, Y(6) + 128, [&](float x, float y) {
      const float d = std::fmod(x - X(6) + y - Y(6) + 256.0f, 45.2548f) - 22.6274f;
      return (std::fabs(d) - 11.3137f) * 0.7071f;
    }, yellow);
    for (int y = Y(6); y < Y(6) + 128; y++)
      for (int x = X(6); x < X(6) + 128; x++) {
        Rgb &c = p.px[size_t(y) * 512 + x];
        if (c.r < 0.9f) c = mix(black, c, 0.25f);
      }
    // 7: bare concrete with a crack.
    fillShape(p, X(7), Y(7), X(7) + 128, Y(7) + 128, [&](float x, float y) {
      const float u = (x - X(7)) / 128, v = (y - Y(7)) / 128;
      return std::fabs(v - 0.3f - 0.4f * u - 0.12f * (fbmTile(u * 5, v * 5, 5, 3, 55) - 0.5f)) * 128 - 0.6f;
    }, rgb8(30, 32, 38));
    // 8: exit sign.
    fillRect(p, X(8) + 6, Y(8) + 30, X(8) + 122, Y(8) + 98, green);
    fillRect(p, X(8) + 6, Y(8) + 30, X(8) + 122, Y(8) + 33, white);
    fillRect(p, X(8) + 6, Y(8) + 95, X(8) + 122, Y(8) + 98, white);
    textCentred(p, X(8) + 50, Y(8) + 75, 30, "EXIT", white);
    fillShape(p, X(8), Y(8), X(8) + 128, Y(8) + 128, [&](float x, float y) {
      const float u = x - (X(8) + 104), v = y - (Y(8) + 64);
      return std::min(sdRoundBox(u, v, -6, 0, 8, 4, 1), std::max({u - 10, -u - 4, std::fabs(v) - (10 - u) * 0.9f}));
    }, white);
    // 9: drain grate.
    fillShape(p, X(9), Y(9), X(9) + 128, Y(9) + 128, [&](float x, float y) { return sdRoundBox(x, y, X(9) + 64, Y(9) + 64, 44, 44, 4); }, rgb8(70, 74, 82));
    for (int k = 0; k < 7; k++)
      fillShape(p, X(9), Y(9), X(9) + 128, Y(9) + 128, [&](float x, float y) { return sdRoundBox(x, y, X(9) + 64, Y(9) + 29 + 11.7f * k, 36, 3, 3); }, rgb8(8, 8, 10));
    // 10: parking bay on asphalt with its number.
    fillRect(p, X(10) + 10, Y(10), X(10) + 16, Y(10) + 128, white);
    fillRect(p, X(10) + 112, Y(10), X(10) + 118, Y(10) + 128, white);
    textCentred(p, X(10) + 64, Y(10) + 84, 44, "42", white);
    // 11: pillar foot with hazard band.
    for (int y = Y(11) + 80; y < Y(11) + 128; y++)
      for (int x = X(11); x < X(11) + 128; x++) {
        const float d = std::fmod(x - X(11) - y + 512.0f, 32.0f);
        p.px[size_t(y) * 512 + x] = d < 16 ? yellow : black;
      }
    fillRect(p, X(11), Y(11) + 78, X(11) + 128, Y(11) + 80, black);
    // 12: height limit sign.
    fillShape(p, X(12), Y(12), X(12) + 128, Y(12) + 128, [&](float x, float y) { return std::hypot(x - X(12) - 64, y - Y(12) - 64) - 54; }, red);
    fillShape(p, X(12), Y(12), X(12) + 128, Y(12) + 128, [&](float x, float y) { return std::hypot(x - X(12) - 64, y - Y(12) - 64) - 42; }, white);
    textCentred(p, X(12) + 64, Y(12) + 76, 30, "2,1m", black);
    // 13: no entry.
    fillShape(p, X(13), Y(13), X(13) + 128, Y(13) + 128, [&](float x, float y) { return std::hypot(x - X(13) - 64, y - Y(13) - 64) - 54; }, red);
    fillShape(p, X(13), Y(13), X(13) + 128, Y(13) + 128, [&](float x, float y) { return sdRoundBox(x, y, X(13) + 64, Y(13) + 64, 38, 10, 2); }, white);
    // 14: sodium lamp on a dark ceiling.
    for (int y = Y(14); y < Y(14) + 128; y++)
      for (int x = X(14); x < X(14) + 128; x++) {
        const float d = std::hypot((x - X(14) - 64) / 2.2f, float(y - Y(14) - 64));
        Rgb &c = p.px[size_t(y) * 512 + x];
        c = mix(mix(c, black, 0.7f), rgb8(255, 170, 60), std::exp(-d * d / 900.0f));
      }
    fillShape(p, X(14), Y(14), X(14) + 128, Y(14) + 128, [&](float x, float y) { return sdRoundBox(x, y, X(14) + 64, Y(14) + 64, 44, 7, 6); }, rgb8(255, 236, 180));
    // 15: a patch of cow hide, for the credits.
    for (int y = Y(15); y < Y(15) + 128; y++)
      for (int x = X(15); x < X(15) + 128; x++) {
        const float n = fbmTile((x - X(15)) / 40.0f, (y - Y(15)) / 40.0f, 64, 3, 15);
        p.px[size_t(y) * 512 + x] = mix(black, white, smooth(0.5f, 0.54f, n));
      }
    return quantize(p, 64);
  };
  // 64 entries leave 30518 bytes for the image data in four chunks, and room for the filler.
  return fitDetail(make, 27000, 30450);
}

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
      v += 0.35f * (1 - smooth(0.0f, 0.12f, rr)) * 0.0f;
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

// A grey-ramp palette: entry i is grey i.
static std::vector<std::array<uint8_t, 3>> greyRamp() {
  std::vector<std::array<uint8_t, 3>> pal;
  for (int i = 0; i < 256; i++) pal.push_back({uint8_t(i), uint8_t(i), uint8_t(i)});
  return pal;
}

// Mask of the drain cover: black (opaque) on the metal, white (clear) in the slots and around.
Indexed makeSuckMask() {
  Indexed m;
  m.w = m.h = 512;
  m.pal = greyRamp();
  m.idx.resize(512 * 512);
  for (int y = 0; y < 512; y++)
    for (int x = 0; x < 512; x++) m.idx[size_t(y) * 512 + x] = drainShape(x + 0.5f, y + 0.5f, 512) < 0 ? 0 : 255;
  return m;
}

// The small corner picture: a P sign, flat colours.
Indexed makeSuckThing() {
  Picture p = pictureNew(128, 128, rgb8(20, 70, 170));
  fillShape(p, 0, 0, 128, 128, [](float x, float y) { return -sdRoundBox(x, y, 64, 64, 58, 58, 16); }, rgb8(20, 70, 170));
  fillShape(p, 0, 0, 128, 128, [](float x, float y) { return std::fabs(sdRoundBox(x, y, 64, 64, 56, 56, 14)) - 3; }, rgb8(245, 245, 240));
  textCentred(p, 64, 100, 92, "P", rgb8(245, 245, 240));
  return quantize(p, 8);
}

// Mask of the corner picture: the rounded square, with a soft edge.
Indexed makeSuckThingMask() {
  Indexed m;
  m.w = m.h = 128;
  m.pal = greyRamp();
  m.idx.resize(128 * 128);
  for (int y = 0; y < 128; y++)
    for (int x = 0; x < 128; x++) {
      const float a = clamp01(0.5f - sdRoundBox(x + 0.5f, y + 0.5f, 64, 64, 60, 60, 18) / 1.5f);
      m.idx[size_t(y) * 128 + x] = uint8_t(255 - std::lround(a * 255));
    }
  return m;
}

// Sets a pixel's colour and alpha, keeping the stronger alpha.
static void plot(Picture &p, int x, int y, Rgb c, float a) {
  if (x < 0 || y < 0 || x >= p.w || y >= p.h) return;
  const size_t i = size_t(y) * p.w + x;
  p.px[i] = mix(p.px[i], c, clamp01(a));
  p.alpha[i] = std::max(p.alpha[i], a);
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
      for (float ring : {30.0f, 52.0f, 80.0f}) {
        const float a = clamp01(1.2f - std::fabs(r - ring));
        if (a > 0) p.px[i] = mix(p.px[i], line, a), p.alpha[i] = std::max(p.alpha[i], 0.5f + 0.3f * a);
      }
      if ((std::fabs(u * W) < 0.8f || std::fabs(v * W) < 0.8f) && r < 96) p.px[i] = mix(p.px[i], line, 0.8f), p.alpha[i] = 0.75f;
      // Edge frame: a solid glowing band, falling off inwards.
      const float e = float(std::min({x, y, W - 1 - x, W - 1 - y}));
      const float band = 1 - smooth(6, 7.5f, e), halo = std::exp(-(e - 6) * (e - 6) / 60.0f) * (e > 6 ? 1 : 0);
      p.px[i] = mix(p.px[i], glow, std::max(band, 0.7f * halo));
      p.alpha[i] = std::max(p.alpha[i], std::max(band, 0.5f + 0.5f * halo));
      // Corner brackets.
      const float cx = std::min(float(x), float(W - 1 - x)), cy = std::min(float(y), float(W - 1 - y));
      if (((cx >= 12 && cx < 16 && cy < 40) || (cy >= 12 && cy < 16 && cx < 40)) && cx >= 12 - 0.5f * 0 && std::min(cx, cy) >= 12)
        p.px[i] = glow, p.alpha[i] = 0.95f;
    }
  // A drawing label in the corner.
  fontOpen(kFontPath, 11, 11);
  Picture text = pictureNew(W, W, {0, 0, 0}, 0.0f);
  fontDraw(text, 22, W - 20, "VOSQUEL  /  ZARED  1:1", {1, 1, 1});
  for (size_t i = 0; i < text.px.size(); i++)
    if (text.px[i].r > 0) plot(p, int(i % W), int(i / W), glow, std::max(p.alpha[i], 0.5f + 0.5f * text.px[i].r)), p.px[i] = mix(p.px[i], glow, text.px[i].r);
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

// The font: 16 x 16 cells of 32 pixels, glyph i of fontOrder in column i mod 16 and row i div 16
// counted from the top, white with antialiased alpha, ink kept inside the middle 60 % of the cell
// width and clear of the cell's top and bottom.
Picture makeFont() {
  const int W = 512, C = 32;
  Picture p = pictureNew(W, W, {1, 1, 1}, 0.0f);
  std::string order;
  for (int c = 0x20; c <= 0x7e; c++) order += char(c >= 'A' && c <= 'Z' ? c + 32 : c >= 'a' && c <= 'z' ? c - 32 : c);
  // Measure at a trial size, then scale so the widest ink fits 19 pixels and the tallest 26.
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
  const int baseline = 3 + int(std::lround(float(maxTop) * pxH / trial));
  for (size_t i = 0; i < order.size(); i++) {
    GlyphMap g;
    if (!fontGlyph((unsigned char)order[i], g)) continue;
    const int cx = int(i % 16) * C, cy = int(i / 16) * C;
    const int ox = cx + (C - g.w) / 2, oy = cy + baseline - g.top;
    for (int y = 0; y < g.h; y++)
      for (int x = 0; x < g.w; x++) {
        const int px = ox + x, py = oy + y;
        // Keep the ink inside its cell band even if a glyph's box rounds out by a pixel.
        if (px < cx + 7 || px > cx + C - 8 || py < cy + 1 || py > cy + C - 2) continue;
        p.alpha[size_t(py) * W + px] = std::min(1.0f, g.cov[size_t(y) * g.w + x] * 1.1f);
      }
  }
  return p;
}
