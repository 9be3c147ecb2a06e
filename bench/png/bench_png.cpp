// Times the decode of the pack's two texture images to RGBA: our zare_imageFromPNG plus the
// palette expansion of the texture code, libspng, and zlib's uncompress alone on the joined IDAT
// data (the floor for any decoder built on it). Three measures:
//  - warm: the median of many decodes in one process, allocator and caches warm;
//  - cold: one decode in a fresh process per sample, as the demo decodes at start-up, the
//    median of many, with the page faults of that one decode;
//  - instructions: one decode counted by callgrind, the same whatever else the machine does.
//
// Usage: bench_png [--repeats N] [--cold N] [image.png ...]   (default: data/organ.png and
//        data/tex-cow-env.png, 301 warm repeats, 51 cold samples)
//        bench_png --sample DECODER IMAGE [image.png ...]      (one cold decode; prints us and faults)
#include <spng.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"
#include "files.h"
#include "packfmt.h"
#include "process.h"
#include "zarelib.h"

namespace {

struct Image {
  std::string name;
  Bytes png;
  Bytes idat;  // the joined IDAT data
  uint32_t width = 0, height = 0;
};

// Joins the IDAT chunks' data and reads width and height.
bool parse(Image &img) {
  const Bytes &p = img.png;
  for (size_t pos = 8; pos + 12 <= p.size();) {
    const uint32_t len = getBe32(&p[pos]);
    if (pos + 12 + len > p.size()) break;
    const uint8_t *type = &p[pos + 4];
    if (memcmp(type, "IHDR", 4) == 0) {
      img.width = getBe32(type + 4);
      img.height = getBe32(type + 8);
    } else if (memcmp(type, "IDAT", 4) == 0) {
      img.idat.insert(img.idat.end(), type + 4, type + 4 + len);
    }
    pos += 12 + len;
  }
  return img.width && img.height && !img.idat.empty();
}

// Ours: the library's decode, then the texture code's expansion through the palette.
bool decodeZare(zare_lib_t *lib, const Image &img, Bytes *check) {
  zare_image_t *image = zare_imageFromPNG(lib, img.name.c_str());
  if (image == nullptr) return false;
  const size_t n = static_cast<size_t>(image->width) * image->height;
  auto *rgba = static_cast<uint8_t *>(malloc(n * 4));
  const uint16_t *pal = image->palette->data;
  for (size_t i = 0; i < n; ++i) {
    const size_t k = image->data[i];
    const uint8_t px[4] = {uint8_t(pal[3 * k]), uint8_t(pal[3 * k + 1]), uint8_t(pal[3 * k + 2]), 255};
    memcpy(rgba + 4 * i, px, 4);
  }
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
  auto *out = ok ? static_cast<uint8_t *>(malloc(size)) : nullptr;
  ok = ok && spng_decode_image(ctx, out, size, SPNG_FMT_RGBA8, 0) == 0;
  if (ok && check) check->assign(out, out + size);
  free(out);
  spng_ctx_free(ctx);
  return ok;
}

bool decodeFloor(const Image &img, Bytes *) {
  uLongf size = static_cast<uLongf>(img.height) * (img.width + 1);
  auto *out = static_cast<uint8_t *>(malloc(size));
  const int rc = uncompress(out, &size, img.idat.data(), static_cast<uLong>(img.idat.size()));
  free(out);
  return rc == Z_OK;
}

const char *const kDecoders[] = {"zare", "libspng", "floor"};
constexpr int kDecoderCount = 3;

}  // namespace

// One decode by decoder d; a function of its own so that callgrind can count just it.
extern "C" __attribute__((noinline)) bool benchDecodeOnce(int d, zare_lib_t *lib, const Image *img, Bytes *check) {
  switch (d) {
  case 0: return decodeZare(lib, *img, check);
  case 1: return decodeSpng(*img, check);
  default: return decodeFloor(*img, check);
  }
}

namespace {

// Minor page faults of the process so far.
long minorFaults() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

double nowUs() {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.empty() ? 0.0 : v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Reads the images and registers a pack that holds them, as the demo registers its own.
bool loadImages(const std::vector<std::string> &paths, std::vector<Image> &images, Bytes &pack, zare_lib_t *lib) {
  std::vector<PackInput> files;
  for (const std::string &path : paths) {
    Image img;
    img.name = "data/" + path.substr(path.find_last_of('/') + 1);
    if (!fileRead(path, img.png) || !parse(img)) {
      fprintf(stderr, "bench_png: %s is not a PNG this benchmark can read\n", path.c_str());
      return false;
    }
    files.push_back({img.name, img.png});
    images.push_back(std::move(img));
  }
  std::string error;
  if (!packWrite(files, pack, error)) return false;
  zare_dar_add(lib, reinterpret_cast<zare_data_t *>(pack.data()));
  return true;
}

// The child's side of a cold sample: one decode, its microseconds and page faults on stdout.
int sampleOnce(int d, const Image &img, zare_lib_t *lib) {
  const long faults = minorFaults();
  const double t0 = nowUs();
  const bool ok = benchDecodeOnce(d, lib, &img, nullptr);
  const double us = nowUs() - t0;
  printf("%.1f %ld\n", us, minorFaults() - faults);
  return ok ? 0 : 1;
}

// Runs this program again for one decode, plain or under callgrind counting that decode alone.
ProcResult runSample(const std::vector<std::string> &paths, int d, size_t image, bool callgrind) {
  ProcSpec spec;
  if (callgrind) {
    spec.argv = {"valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", "--toggle-collect=benchDecodeOnce"};
  }
  spec.argv.insert(spec.argv.end(), {procSelf(), "--sample",
                                     std::to_string(d), std::to_string(image)});
  spec.argv.insert(spec.argv.end(), paths.begin(), paths.end());
  return procRun(spec, 120.0);
}

// The figures of one decoder on one image.
struct Figures {
  double warmUs = 0, coldUs = 0, coldFaults = 0;
  long long instructions = -1;
};

// Cold samples in fresh processes, then the callgrind count (when valgrind is there).
void measureCold(const std::vector<std::string> &paths, int d, size_t image, int samples, Figures &f) {
  std::vector<double> us, faults;
  for (int s = 0; s < samples; s++) {
    const ProcResult r = runSample(paths, d, image, false);
    double u = 0, n = 0;
    if (r.status == 0 && sscanf(r.output.c_str(), "%lf %lf", &u, &n) == 2) us.push_back(u), faults.push_back(n);
  }
  f.coldUs = median(us);
  f.coldFaults = median(faults);
  if (procFind("valgrind").empty()) return;
  const ProcResult r = runSample(paths, d, image, true);
  const size_t at = r.output.find("Collected : ");
  if (r.status == 0 && at != std::string::npos) f.instructions = atoll(r.output.c_str() + at + 12);
}

// Warm repeats in this process, the decoders taking turns in every repeat.
void measureWarm(zare_lib_t *lib, const Image &img, int repeats, Figures *f) {
  std::vector<double> t[kDecoderCount];
  for (int r = 0; r < repeats; ++r) {
    for (int d = 0; d < kDecoderCount; d++) {
      const double t0 = nowUs();
      benchDecodeOnce(d, lib, &img, nullptr);
      t[d].push_back(nowUs() - t0);
    }
  }
  for (int d = 0; d < kDecoderCount; d++) f[d].warmUs = median(t[d]);
}

// True when the two RGBA decoders give the same pixels and the floor decodes.
bool decodersAgree(zare_lib_t *lib, const Image &img) {
  Bytes a, b;
  return benchDecodeOnce(0, lib, &img, &a) && benchDecodeOnce(1, lib, &img, &b) && benchDecodeOnce(2, lib, &img, nullptr) &&
         a == b;
}

// Prints one image's table.
void report(const Image &img, const Figures *f) {
  printf("\n%s %ux%u, %zu bytes of image data\n", img.name.c_str() + 5, img.width, img.height, img.idat.size());
  printf("  %-8s %10s %10s %12s %14s\n", "decoder", "warm us", "cold us", "cold faults", "instructions");
  for (int d = 0; d < kDecoderCount; d++) {
    printf("  %-8s %10.1f %10.1f %12.0f %14lld\n", kDecoders[d], f[d].warmUs, f[d].coldUs, f[d].coldFaults,
           f[d].instructions);
  }
  printf("  zare / libspng: warm %.2f, cold %.2f, instructions %.2f\n", f[0].warmUs / f[1].warmUs,
         f[0].coldUs / f[1].coldUs, double(f[0].instructions) / double(f[1].instructions));
}

}  // namespace

int main(int argc, char **argv) {
  int repeats = 301, cold = 51;
  std::vector<std::string> paths;
  const bool sample = argc >= 4 && strcmp(argv[1], "--sample") == 0;
  for (int i = sample ? 4 : 1; i < argc; ++i) {
    if (!sample && i + 1 < argc && strcmp(argv[i], "--repeats") == 0) repeats = std::max(1, atoi(argv[++i]));
    else if (!sample && i + 1 < argc && strcmp(argv[i], "--cold") == 0) cold = std::max(1, atoi(argv[++i]));
    else paths.push_back(argv[i]);
  }
  if (paths.empty()) {
    for (const char *name : {"data/organ.png", "data/tex-cow-env.png"}) paths.push_back(std::string(PARKHAUS_SOURCE_DIR) + "/" + name);
  }
  std::vector<Image> images;
  Bytes pack;
  zare_lib_t *lib = zare_new();
  if (!loadImages(paths, images, pack, lib)) return 1;
  if (sample) return sampleOnce(atoi(argv[2]), images.at(size_t(atoi(argv[3]))), lib);

  printf("PNG decode to RGBA: warm median of %d, cold median of %d fresh processes, instructions by callgrind\n",
         repeats, cold);
  for (size_t i = 0; i < images.size(); i++) {
    if (!decodersAgree(lib, images[i])) {
      fprintf(stderr, "bench_png: %s: the decoders fail or disagree on the pixels\n", images[i].name.c_str());
      return 1;
    }
    Figures f[kDecoderCount];
    for (int d = 0; d < kDecoderCount; d++) measureCold(paths, d, i, cold, f[d]);
    measureWarm(lib, images[i], repeats, f);
    report(images[i], f);
  }
  zare_delete(lib);
  return 0;
}
