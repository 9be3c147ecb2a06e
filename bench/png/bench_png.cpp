// Times the decode of the pack's two texture images: our zare_imageFromPNG plus the expansion to
// RGBA that the texture code does, libspng to RGBA8, libpng's simplified API to RGBA, and zlib's
// uncompress alone on the joined IDAT data (the floor for any decoder built on it).
// Each figure is the median of many repeats; the four decoders take turns in every repeat.
//
// Usage: bench_png [repeats] [image.png ...]
// Without image files it uses data/organ.png and data/tex-cow-env.png when they exist, and
// otherwise writes 512x512 and 256x256 8-bit indexed images of its own with libpng.
#include <png.h>
#include <spng.h>
#include <sys/resource.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "zarelib.h"

using Bytes = std::vector<unsigned char>;

namespace {

struct Image {
  std::string name;
  Bytes png;
  Bytes idat;  // the joined IDAT data
  uint32_t width = 0, height = 0;
};

Bytes readFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void appendData(png_structp png, png_bytep data, png_size_t length) {
  Bytes *out = static_cast<Bytes *>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void noFlush(png_structp) {}

// Smooth value noise in [0, 1) on a lattice of the given cell size.
struct Noise {
  std::vector<float> lattice;
  int n;
  explicit Noise(int size, uint32_t seed) : lattice(static_cast<size_t>(size) * size), n(size) {
    std::mt19937 rng(seed);
    for (float &v : lattice) v = static_cast<float>(rng() % 10000) / 10000.0f;
  }
  float at(float x, float y) const {
    const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    const float fx = x - x0, fy = y - y0;
    const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    auto v = [&](int i, int j) { return lattice[static_cast<size_t>(((j % n) + n) % n) * n + ((i % n) + n) % n]; };
    const float a = v(x0, y0) + sx * (v(x0 + 1, y0) - v(x0, y0));
    const float b = v(x0, y0 + 1) + sx * (v(x0 + 1, y0 + 1) - v(x0, y0 + 1));
    return a + sy * (b - a);
  }
};

// Writes an 8-bit indexed PNG, filter type 0 on every row, IDAT chunks of 8192 bytes.
Bytes writeIndexed(uint32_t w, uint32_t h, const Bytes &indices, const std::vector<png_color> &palette) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, appendData, noFlush);
  png_set_compression_buffer_size(png, 8192);
  png_set_compression_level(png, 9);
  png_set_filter(png, 0, PNG_FILTER_NONE);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  png_write_info(png, info);
  for (uint32_t y = 0; y < h; ++y) png_write_row(png, indices.data() + static_cast<size_t>(y) * w);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// A picture of natural look: fractal value noise through a 256-colour ramp, with film grain
// as strong as the grain argument (the stronger, the less it compresses).
Bytes makeNatural(uint32_t size, float grain, uint32_t seed) {
  Noise coarse(16, seed), fine(64, seed + 1), finer(256, seed + 2);
  std::mt19937 rng(seed + 3);
  std::normal_distribution<float> g(0.0f, grain);
  Bytes idx(static_cast<size_t>(size) * size);
  for (uint32_t y = 0; y < size; ++y) {
    for (uint32_t x = 0; x < size; ++x) {
      const float u = static_cast<float>(x) / size, v = static_cast<float>(y) / size;
      float t = 0.55f * coarse.at(u * 6, v * 6) + 0.3f * fine.at(u * 24, v * 24) + 0.15f * finer.at(u * 96, v * 96);
      t += g(rng);
      idx[static_cast<size_t>(y) * size + x] = static_cast<unsigned char>(std::clamp(t * 256.0f, 0.0f, 255.0f));
    }
  }
  std::vector<png_color> pal(256);
  for (int i = 0; i < 256; ++i) {
    const float t = i / 255.0f;
    pal[i] = {static_cast<png_byte>(40 + 200 * t), static_cast<png_byte>(30 + 160 * t * t),
              static_cast<png_byte>(90 + 120 * std::sin(3.0f * t))};
  }
  return writeIndexed(size, size, idx, pal);
}

// Joins the IDAT chunks' data and reads width and height.
bool parse(Image &img) {
  const Bytes &p = img.png;
  size_t pos = 8;
  while (pos + 12 <= p.size()) {
    const uint32_t len = static_cast<uint32_t>(p[pos]) << 24 | p[pos + 1] << 16 | p[pos + 2] << 8 | p[pos + 3];
    if (pos + 12 + len > p.size()) break;
    const unsigned char *type = p.data() + pos + 4;
    if (memcmp(type, "IHDR", 4) == 0) {
      const unsigned char *d = type + 4;
      img.width = static_cast<uint32_t>(d[0]) << 24 | d[1] << 16 | d[2] << 8 | d[3];
      img.height = static_cast<uint32_t>(d[4]) << 24 | d[5] << 16 | d[6] << 8 | d[7];
    } else if (memcmp(type, "IDAT", 4) == 0) {
      img.idat.insert(img.idat.end(), type + 4, type + 4 + len);
    }
    pos += 12 + len;
  }
  return img.width && img.height && !img.idat.empty();
}

// A pack image holding the given files, in the format the library reads.
Bytes buildPack(const std::vector<Image> &images) {
  auto le32 = [](Bytes &b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  Bytes pack = {'Z', 'D', 'A', 'R', 0, 0, 0, 0};
  std::vector<uint32_t> offsets;
  for (const Image &img : images) {
    offsets.push_back(static_cast<uint32_t>(pack.size()));
    pack.insert(pack.end(), {'D', 'A', 'T'});
    le32(pack, static_cast<uint32_t>(img.png.size()));
    pack.insert(pack.end(), img.png.begin(), img.png.end());
  }
  const uint32_t dir = static_cast<uint32_t>(pack.size());
  pack.insert(pack.end(), {'D', 'I', 'R', static_cast<unsigned char>(images.size()), 0});
  Bytes names;
  for (size_t i = 0; i < images.size(); ++i) {
    le32(pack, offsets[i]);
    pack.push_back(static_cast<unsigned char>(names.size()));
    pack.push_back(static_cast<unsigned char>(names.size() >> 8));
    names.insert(names.end(), images[i].name.begin(), images[i].name.end());
    names.push_back(0);
  }
  pack.insert(pack.end(), names.begin(), names.end());
  pack.insert(pack.end(), {'E', 'N', 'D'});
  le32(pack, dir);
  const uint32_t total = static_cast<uint32_t>(pack.size());
  for (int i = 0; i < 4; ++i) pack[4 + i] = static_cast<unsigned char>(total >> (8 * i));
  return pack;
}

// The texture code's expansion: red, green, blue from the index's palette entry (low 8 bits of
// each component), alpha 255; one table of the 256 four-byte pixels, then one lookup per pixel.
void expandToRgba(const zare_image_t *image, unsigned char *rgba) {
  uint32_t table[256];
  for (int k = 0; k < 256; ++k) {
    const uint16_t *e = image->palette->data + 3 * k;
    const unsigned char px[4] = {static_cast<unsigned char>(e[0]), static_cast<unsigned char>(e[1]),
                                 static_cast<unsigned char>(e[2]), 255};
    memcpy(&table[k], px, 4);
  }
  const size_t n = static_cast<size_t>(image->width) * image->height;
  const unsigned char *idx = image->data;
  for (size_t i = 0; i < n; ++i) memcpy(rgba + 4 * i, &table[idx[i]], 4);
}

// The library's decode alone.
bool decodeZareOnly(zare_lib_t *lib, const Image &img) {
  zare_image_t *image = zare_imageFromPNG(lib, img.name.c_str());
  const bool ok = image != nullptr;
  zare_image_delete(lib, &image);
  return ok;
}

// Our path: the library's decode, then the texture code's expansion through the palette.
bool decodeZare(zare_lib_t *lib, const Image &img, Bytes *check) {
  zare_image_t *image = zare_imageFromPNG(lib, img.name.c_str());
  if (image == nullptr) return false;
  const size_t n = static_cast<size_t>(image->width) * image->height;
  unsigned char *rgba = static_cast<unsigned char *>(malloc(n * 4));
  expandToRgba(image, rgba);
  if (check) check->assign(rgba, rgba + n * 4);
  free(rgba);
  zare_image_delete(lib, &image);
  return true;
}

bool decodeSpng(const Image &img, Bytes *check) {
  spng_ctx *ctx = spng_ctx_new(0);
  size_t size = 0;
  bool ok = spng_set_png_buffer(ctx, img.png.data(), img.png.size()) == 0 &&
            spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0;
  unsigned char *out = ok ? static_cast<unsigned char *>(malloc(size)) : nullptr;
  ok = ok && spng_decode_image(ctx, out, size, SPNG_FMT_RGBA8, 0) == 0;
  if (ok && check) check->assign(out, out + size);
  free(out);
  spng_ctx_free(ctx);
  return ok;
}

bool decodeLibpng(const Image &img, Bytes *check) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, img.png.data(), img.png.size())) return false;
  image.format = PNG_FORMAT_RGBA;
  const size_t size = PNG_IMAGE_SIZE(image);
  unsigned char *out = static_cast<unsigned char *>(malloc(size));
  const bool ok = png_image_finish_read(&image, nullptr, out, 0, nullptr) != 0;
  if (ok && check) check->assign(out, out + size);
  free(out);
  png_image_free(&image);
  return ok;
}

bool decodeFloor(const Image &img) {
  uLongf size = static_cast<uLongf>(img.height) * (img.width + 1);
  unsigned char *out = static_cast<unsigned char *>(malloc(size));
  const int rc = uncompress(out, &size, img.idat.data(), static_cast<uLong>(img.idat.size()));
  free(out);
  return rc == Z_OK;
}

// Minor page faults of the process so far.
long minorFaults() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

}  // namespace

int main(int argc, char **argv) {
  const int repeats = argc > 1 ? std::max(1, atoi(argv[1])) : 301;
  std::vector<Image> images;
  auto add = [&](const std::string &name, Bytes png) {
    Image img;
    img.name = name;
    img.png = std::move(png);
    images.push_back(std::move(img));
  };
  for (int i = 2; i < argc; ++i) add("data/arg" + std::to_string(i) + ".png", readFile(argv[i]));
  if (images.empty()) {
    for (const char *name : {"data/organ.png", "data/tex-cow-env.png"}) {
      Bytes png = readFile(std::string(PARKHAUS_SOURCE_DIR) + "/" + name);
      if (!png.empty()) add(name, png);
    }
  }
  const bool own = images.empty();
  if (own) {
    add("data/bench-512.png", makeNatural(512, 0.05f, 7));
    add("data/bench-256.png", makeNatural(256, 0.012f, 11));
  }
  for (Image &img : images) {
    if (!parse(img)) {
      fprintf(stderr, "%s: not a PNG this benchmark can read\n", img.name.c_str());
      return 1;
    }
  }
  Bytes pack = buildPack(images);
  zare_lib_t *lib = zare_new();
  zare_dar_add(lib, reinterpret_cast<zare_data_t *>(pack.data()));

  printf("PNG decode, median of %d repeats per image (%s images)\n", repeats, own ? "generated" : "pack");
  printf("%-22s %9s %9s %10s %9s %9s | %10s %10s | %9s\n", "image", "IDAT", "zare us", "libspng us", "libpng us",
         "floor us", "zare/spng", "zare/floor", "decode us");
  bool allMet = true;
  for (const Image &img : images) {
    Bytes a, b, c;
    if (!decodeZare(lib, img, &a) || !decodeSpng(img, &b) || !decodeLibpng(img, &c) || !decodeFloor(img)) {
      fprintf(stderr, "%s: a decoder failed\n", img.name.c_str());
      return 1;
    }
    if (a != b || a != c) {
      fprintf(stderr, "%s: decoders disagree on the pixels\n", img.name.c_str());
      return 1;
    }
    std::vector<double> tz, ts, tp, tf, td;
    using Clock = std::chrono::steady_clock;
    auto time = [](auto &&f) {
      const auto t0 = Clock::now();
      f();
      return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    };
    for (int r = 0; r < repeats; ++r) {
      tz.push_back(time([&] { decodeZare(lib, img, nullptr); }));
      ts.push_back(time([&] { decodeSpng(img, nullptr); }));
      tp.push_back(time([&] { decodeLibpng(img, nullptr); }));
      tf.push_back(time([&] { decodeFloor(img); }));
      td.push_back(time([&] { decodeZareOnly(lib, img); }));
    }
    const double z = median(tz), s = median(ts), p = median(tp), f = median(tf), d = median(td);
    // Page faults per decode, a count of the fresh memory each decoder touches.
    auto faults = [&](auto &&f) {
      const long before = minorFaults();
      for (int r = 0; r < 20; ++r) f();
      return static_cast<double>(minorFaults() - before) / 20;
    };
    const double fz = faults([&] { decodeZare(lib, img, nullptr); });
    const double fs = faults([&] { decodeSpng(img, nullptr); });
    const double fp = faults([&] { decodeLibpng(img, nullptr); });
    const double ff = faults([&] { decodeFloor(img); });
    char label[64];
    snprintf(label, sizeof label, "%s %ux%u", img.name.c_str() + 5, img.width, img.height);
    printf("%-22s %9zu %9.1f %10.1f %9.1f %9.1f | %10.3f %10.3f | %9.1f\n", label, img.idat.size(), z, s, p, f,
           z / s, z / f, d);
    printf("%-22s %9s %9.1f %10.1f %9.1f %9.1f   (page faults per decode)\n", "", "", fz, fs, fp, ff);
    const bool spngMet = z <= 0.85 * s;
    const bool floorMet = img.width < 512 || z <= 1.2 * f;
    allMet = allMet && spngMet && floorMet;
  }
  printf("targets (zare <= 0.85 x libspng on each image, <= 1.2 x floor on 512x512): %s\n", allMet ? "met" : "NOT met");
  zare_delete(lib);
  return 0;
}
