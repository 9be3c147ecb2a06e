// Builders for the loader tests: OIA and TGA file images, small indexed PNGs, a pack holding them,
// temporary folders and captured output.
#ifndef PARKHAUS_TESTS_LOADERDATA_H
#define PARKHAUS_TESTS_LOADERDATA_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

// An OIA file image: magic, two free bytes, extended-mode byte, mode, big-endian count, then the floats.
inline Bytes oiaFile(uint8_t mode, uint16_t count, const std::vector<float> &floats, uint8_t extended = 0,
                     const char *magic = "ZoIA", uint8_t free4 = 1, uint8_t free5 = 0) {
  Bytes b(magic, magic + 4);
  b.push_back(free4);
  b.push_back(free5);
  b.push_back(extended);
  b.push_back(mode);
  b.push_back(static_cast<uint8_t>(count >> 8));
  b.push_back(static_cast<uint8_t>(count & 0xff));
  for (float f : floats) {
    uint8_t w[4];
    memcpy(w, &f, 4);  // little-endian host, as the file stores them
    b.insert(b.end(), w, w + 4);
  }
  return b;
}

// Fields of a TGA header that the tests vary.
struct TgaHeader {
  uint8_t idLength = 0;
  uint8_t colourMapType = 0;
  uint8_t imageType = 2;
  uint16_t xOrigin = 0;
  uint16_t yOrigin = 0;
  uint16_t width = 1;
  uint16_t height = 1;
  uint8_t depth = 32;
  uint8_t descriptor = 8;
};

// A TGA file image: the 18-byte header, idLength bytes of ID (0xEE), then the given pixel bytes.
inline Bytes tgaFile(const TgaHeader &h, const Bytes &pixels) {
  Bytes b(18, 0);
  b[0] = h.idLength;
  b[1] = h.colourMapType;
  b[2] = h.imageType;
  auto put16 = [&](size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v & 0xff);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  put16(8, h.xOrigin);
  put16(10, h.yOrigin);
  put16(12, h.width);
  put16(14, h.height);
  b[16] = h.depth;
  b[17] = h.descriptor;
  b.insert(b.end(), h.idLength, 0xEE);
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// Writes bytes to a file; false if it cannot.
inline bool writeFile(const std::string &path, const Bytes &bytes) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

// A fresh folder under /tmp, removed again when the test's TempDir goes.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/parkhaus-loaders-XXXXXX";
    const char *p = mkdtemp(tmpl);
    path = p ? p : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  std::string file(const std::string &name) const { return path + "/" + name; }
};

#endif
