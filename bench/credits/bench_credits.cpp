// Credits contrast in rendered frames. For each chosen time it takes the frame that
// parkhaus-capture draws, finds the glyph ink from the text layout and the font picture, and
// compares the ink's luminance with that of the pixels just outside it, glyph by glyph.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "display.h"
#include "loosefiles.h"
#include "pngwrite.h"
#include "tempfolder.h"
#include "util.h"

namespace {

constexpr int kFps = 60;

// The block's rotation (degrees), translation and scale at time t, as 32-bit floats like GL gets them.
struct Pose {
  float angle, tx, ty, sx, sy;
};
Pose poseAt(double t) {
  return {float(5.0 * std::sin(t / 10.0)), float(20.0 * std::sin(t / 4.0) + 20.0), float(100.0 * std::sin(t / 2.0) + 100.0),
          float(0.3 * std::sin(t / 4.0) + 0.2), float(0.2 * std::sin(t / 4.1) + 1.2)};
}

// Ink of the font at (s, t) with GL_LINEAR filtering: alpha times whiteness, so a dark ring is no ink.
float inkSample(const util_image_t &f, double s, double t) {
  const double x = s * f.width - 0.5, y = t * f.height - 0.5;
  const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
  auto at = [&](int dx, int dy) {
    const unsigned char *p = f.data + (size_t(std::clamp(y0 + dy, 0, f.height - 1)) * f.width + std::clamp(x0 + dx, 0, f.width - 1)) * 4;
    return p[0] / 255.0 * p[3] / 255.0;
  };
  const double fx = x - x0, fy = y - y0;
  return float((at(0, 0) * (1 - fx) + at(1, 0) * fx) * (1 - fy) + (at(0, 1) * (1 - fx) + at(1, 1) * fx) * fy);
}

// The most ink any character quad puts on a pixel centre of a w x h frame, and that quad's glyph id.
float inkAt(const util_image_t &font, const Pose &p, int w, int h, int x, int y, int &glyph) {
  const double cx = (x + 0.5) * 1200.0 / w, cy = (y + 0.5) * 900.0 / h;  // the canvas, y down
  const double a = -p.angle * M_PI / 180.0;
  const double qx = (cx * std::cos(a) - cy * std::sin(a) - p.tx) / p.sx, qy = (cx * std::sin(a) + cy * std::cos(a) - p.ty) / p.sy;
  const int line = int(std::floor((qy - 100.0) / 50.0));
  const double v = qy - 100.0 - 50.0 * line;
  if (line < 0 || line > 8 || v >= 40.0) return 0.0f;
  float best = 0.0f;
  const int last = int(std::floor((qx - 100.0) / 60.0)), n = int(std::strlen(kCreditLines[line]));
  for (int k = std::max(0, last - 1); k <= std::min(last, n - 1); k++) {
    const double u = qx - 100.0 - 60.0 * k;
    if (u < 0.0 || u >= 100.0) continue;
    int i = 0;  // the glyph's index, found as the frame finds it
    while (fontOrder[i] != '\0' && fontOrder[i] != kCreditLines[line][k]) i++;
    const float ink = inkSample(font, (i % 16 + u / 100.0) / 16.0, 1.0 - (i / 16 + v / 40.0) / 16.0);
    if (ink > best) best = ink, glyph = line * 64 + k;
  }
  return best;
}

// Relative luminance of an 8-bit sRGB pixel.
double luminance(const unsigned char *p) {
  auto linear = [](int c) { return c / 255.0 <= 0.04045 ? c / 255.0 / 12.92 : std::pow((c / 255.0 + 0.055) / 1.055, 2.4); };
  return 0.2126 * linear(p[0]) + 0.7152 * linear(p[1]) + 0.0722 * linear(p[2]);
}


// The glyph of an ink pixel within two pixels of (x, y), nearest ring first; -1 when none.
int inkNearby(const std::vector<float> &cov, const std::vector<int> &label, int w, int h, int x, int y) {
  for (int r = 1; r <= 2; r++)
    for (int dy = -r; dy <= r; dy++)
      for (int dx = -r; dx <= r; dx++) {
        const int xx = x + dx, yy = y + dy;
        if (xx >= 0 && yy >= 0 && xx < w && yy < h && cov[size_t(yy) * w + xx] >= 0.5f) return label[size_t(yy) * w + xx];
      }
  return -1;
}

// Per glyph: sums of luminance and of 8-bit luma over its ink pixels [0] and its surround [1].
struct GlyphSums {
  double y[2] = {0, 0}, luma[2] = {0, 0};
  int n[2] = {0, 0};
};

// Measures one frame: ink pixels are those the glyphs cover at least half, the surround those
// they do not touch within two pixels of ink. Prints the glyphs measured, the median Weber
// contrast of ink against surround and the mean luma step between them.
void measure(const util_image_t &font, const std::string &path, double t) {
  std::vector<unsigned char> rgb;
  int w = 0, h = 0;
  const Pose pose = poseAt(t);
  if (!pngReadFile(path, false, false, rgb, w, h)) return (void)std::printf("%7.2f  cannot read %s\n", t, path.c_str());
  if (pose.sx <= 0.0f) return (void)std::printf("%7.2f  hidden (width factor %.3f)\n", t, double(pose.sx));
  std::vector<float> cov(size_t(w) * h);
  std::vector<int> label(size_t(w) * h, -1);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) cov[size_t(y) * w + x] = inkAt(font, pose, w, h, x, y, label[size_t(y) * w + x]);
  std::vector<GlyphSums> g(9 * 64);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const size_t i = size_t(y) * w + x;
      const int side = cov[i] >= 0.5f ? 0 : 1, owner = side == 0 ? label[i] : cov[i] < 0.02f ? inkNearby(cov, label, w, h, x, y) : -1;
      if (owner < 0) continue;
      const unsigned char *p = &rgb[i * 3];
      GlyphSums &s = g[size_t(owner)];
      s.y[side] += luminance(p), s.luma[side] += 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2], s.n[side]++;
    }
  std::vector<double> weber;
  double step = 0.0;
  for (const GlyphSums &s : g) {
    if (s.n[0] < 3 || s.n[1] < 3) continue;
    const double yi = s.y[0] / s.n[0], yo = s.y[1] / s.n[1];
    weber.push_back(std::fabs(yi - yo) / std::max(yo, 1e-4));
    step += std::fabs(s.luma[0] / s.n[0] - s.luma[1] / s.n[1]);
  }
  if (weber.empty()) return (void)std::printf("%7.2f  no glyph large enough to measure\n", t);
  std::nth_element(weber.begin(), weber.begin() + long(weber.size() / 2), weber.end());
  std::printf("%7.2f  %6zu  %14.2f  %9.1f\n", t, weber.size(), weber[weber.size() / 2], step / double(weber.size()));
}

}  // namespace

// Captures the frames at the given seconds (or reads a folder made by parkhaus-capture --frames
// at 60 frames/s) and prints the contrast of the credits in each.
int main(int argc, char **argv) {
  std::string dir, font = std::string(PARKHAUS_SOURCE_DIR) + "/" + kFontTga;
  std::vector<double> times;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if ((a == "--frames" || a == "--font") && i + 1 < argc) (a == "--frames" ? dir : font) = argv[++i];
    else times.push_back(std::atof(argv[i]));
  }
  if (times.empty()) times = {2, 10, 30, 60, 90, 110};
  util_image_t *f = util_imageFromTGA(font.c_str());
  if (!f) return std::fprintf(stderr, "bench_credits: cannot read %s\n", font.c_str()), 1;
  const TempFolder tmp("bench-credits");
  if (dir.empty() && !tmp.path.empty()) {
    std::string list;
    for (double t : times) list += (list.empty() ? "" : ",") + std::to_string(std::lround(t * kFps));
    dir = tmp.str();
    const std::string cmd = std::string("cd '") + PARKHAUS_SOURCE_DIR + "' && '" + CAPTURE_EXE + "' --quiet --frames " + list + " --out '" + dir + "/'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "bench_credits: capture failed\n");
  }
  std::printf("      t  glyphs  Weber (median)  luma step (mean, of 255)\n");
  for (double t : times) {
    char name[64];
    std::snprintf(name, sizeof name, "/frame-%06ld.png", std::lround(t * kFps));
    measure(*f, dir + name, double(float(double(std::lround(t * kFps)) / kFps)));
  }
  std::free(f->data);
  std::free(f);
  return 0;
}
