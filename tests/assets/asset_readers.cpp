// The asset tests' own readers of the file forms, independent of the demo's loaders.
#include "asset_readers.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

std::vector<uint8_t> readAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int runCommand(const std::string &cmd, std::string &out) {
  out.clear();
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Big-endian 32-bit value.
static uint32_t be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

bool pngChunks(const std::vector<uint8_t> &f, std::vector<PngChunk> &chunks) {
  static const uint8_t sig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  chunks.clear();
  if (f.size() < 8 || std::memcmp(f.data(), sig, 8) != 0) return false;
  size_t p = 8;
  while (p < f.size()) {
    if (f.size() - p < 12) return false;
    const uint32_t len = be32(&f[p]);
    if (f.size() - p - 12 < len) return false;
    chunks.push_back({std::string(reinterpret_cast<const char *>(&f[p + 4]), 4), len, p + 8});
    p += 12 + size_t(len);
  }
  return true;
}

bool tgaRead(const std::vector<uint8_t> &f, Tga &t, std::string &err) {
  if (f.size() < 18) return err = "shorter than the header", false;
  auto u16 = [&](size_t at) { return int(f[at] | f[at + 1] << 8); };
  t.idLength = f[0];
  t.mapType = f[1];
  t.imageType = f[2];
  t.xOrigin = u16(8);
  t.yOrigin = u16(10);
  t.width = u16(12);
  t.height = u16(14);
  t.depth = f[16];
  if (t.imageType != 2) return err = "image type is not 2", false;
  if (t.mapType != 0) return err = "has a colour map", false;
  if (t.depth != 32) return err = "not 32 bits per pixel", false;
  const size_t start = 18 + size_t(t.idLength), n = size_t(t.width) * t.height * 4;
  if (f.size() < start + n) return err = "pixels run past the end of the file", false;
  t.rgba.resize(n);
  const size_t rowBytes = size_t(t.width) * 4;
  for (int r = 0; r < t.height; r++) {
    const int src = t.yOrigin == 0 ? t.height - 1 - r : r;
    for (int x = 0; x < t.width; x++) {
      const int sx = t.xOrigin != 0 ? t.width - 1 - x : x;
      const uint8_t *p = &f[start + size_t(src) * rowBytes + size_t(sx) * 4];
      uint8_t *q = &t.rgba[size_t(r) * rowBytes + size_t(x) * 4];
      q[0] = p[2], q[1] = p[1], q[2] = p[0], q[3] = p[3];
    }
  }
  return true;
}

bool oiaRead(const std::vector<uint8_t> &f, Oia &o, std::string &err) {
  if (f.size() < 10) return err = "shorter than the header", false;
  if (std::memcmp(f.data(), "ZoIA", 4) != 0) return err = "no ZoIA magic", false;
  o.b4 = f[4];
  o.b5 = f[5];
  o.ext = f[6];
  o.mode = f[7];
  o.count = f[8] * 256 + f[9];
  o.stride = o.mode == 2 ? 12 : o.mode == 6 ? 24 : o.mode == 14 ? 32 : 0;
  if (o.ext != 0) return err = "extended mode", false;
  if (o.stride == 0) return err = "mode not 2, 6 or 14", false;
  const size_t n = size_t(o.count) * size_t(o.stride);
  if (f.size() != 10 + n) return err = "file length is not 10 + count x stride", false;
  o.data.resize(n / 4);
  std::memcpy(o.data.data(), f.data() + 10, n);  // little-endian floats on this host
  return true;
}
