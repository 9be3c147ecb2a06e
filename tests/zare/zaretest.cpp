// Helpers of the library's tests.
#include "zaretest.h"

#include <png.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "packfmt.h"
#include "pngwrite.h"

long openFileCount() { return long(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})); }

Bytes makePack(const std::vector<PackInput> &files) {
  Bytes pack;
  std::string error;
  return packWrite(files, pack, error) ? pack : Bytes{};
}

uint32_t entryOffset(const Bytes &pack, size_t k) {
  return getLe32(&pack[getLe32(&pack[pack.size() - 4]) + 5 + 6 * k]);
}

Indexed makeImage(uint32_t width, uint32_t height, int paletteSize, bool noisy, uint32_t seed) {
  Indexed img{width, height, {}, {}};
  std::mt19937 rng(seed);
  for (int i = 0; i < 3 * paletteSize; ++i) img.palette.push_back(uint8_t(rng()));
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t v = noisy ? uint32_t(rng()) : x / 3 + y / 5 + ((x * y) >> 6);
      img.indices.push_back(uint8_t(v % uint32_t(paletteSize)));
    }
  }
  return img;
}

Bytes writePng(const Indexed &img, size_t idatSize, int level) {
  PngSpec spec;
  spec.width = int(img.width);
  spec.height = int(img.height);
  for (size_t i = 0; i + 2 < img.palette.size(); i += 3) spec.palette.push_back({img.palette[i], img.palette[i + 1], img.palette[i + 2]});
  spec.level = level;
  spec.idatSize = idatSize;
  return pngEncode(spec, img.indices.data());
}

// libpng's read callback over a byte vector; a read past its end is an error.
static void readBytes(png_structp png, png_bytep out, png_size_t length) {
  auto *cursor = static_cast<std::pair<const Bytes *, size_t> *>(png_get_io_ptr(png));
  if (cursor->second + length > cursor->first->size()) png_error(png, "read past end");
  memcpy(out, cursor->first->data() + cursor->second, length);
  cursor->second += length;
}

bool readPng(const Bytes &bytes, Indexed &out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::pair<const Bytes *, size_t> cursor{&bytes, 0};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &cursor, readBytes);
  png_read_info(png, info);
  if (png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE || png_get_bit_depth(png, info) != 8) {
    png_error(png, "not 8-bit indexed");
  }
  out.width = png_get_image_width(png, info);
  out.height = png_get_image_height(png, info);
  png_colorp pal = nullptr;
  int num = 0;
  png_get_PLTE(png, info, &pal, &num);
  out.palette.clear();
  for (int i = 0; i < num; ++i) out.palette.insert(out.palette.end(), {pal[i].red, pal[i].green, pal[i].blue});
  out.indices.assign(size_t(out.width) * out.height, 0);
  for (uint32_t y = 0; y < out.height; ++y) png_read_row(png, &out.indices[size_t(y) * out.width], nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

std::vector<Chunk> splitChunks(const Bytes &png) {
  std::vector<Chunk> out;
  for (size_t pos = 8; pos + 12 <= png.size();) {
    const uint32_t len = getBe32(&png[pos]);
    out.push_back({std::string(png.begin() + long(pos) + 4, png.begin() + long(pos) + 8),
                   Bytes(png.begin() + long(pos) + 8, png.begin() + long(pos + 8 + len))});
    pos += 12 + len;
  }
  return out;
}

Bytes joinChunks(const std::vector<Chunk> &chunks) {
  Bytes out = {137, 80, 78, 71, 13, 10, 26, 10};
  for (const Chunk &c : chunks) {
    putBe32(out, uint32_t(c.data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), c.type.begin(), c.type.end());
    out.insert(out.end(), c.data.begin(), c.data.end());
    putBe32(out, uint32_t(crc32(0, &out[typeAt], uInt(out.size() - typeAt))));
  }
  return out;
}

Bytes withRows(const Bytes &png, const Bytes &raw) {
  uLongf n = compressBound(raw.size());
  Bytes z(n);
  compress(z.data(), &n, raw.data(), raw.size());
  z.resize(n);
  return recutIdat(png, z.size(), z);
}

Bytes recutIdat(const Bytes &png, size_t size, Bytes z) {
  const std::vector<Chunk> chunks = splitChunks(png);
  const bool gather = z.empty();
  for (const Chunk &c : chunks) {
    if (c.type == "IDAT" && gather) z.insert(z.end(), c.data.begin(), c.data.end());
  }
  std::vector<Chunk> out;
  for (const Chunk &c : chunks) {
    for (size_t at = 0; c.type == "IEND" && at < z.size(); at += size) out.push_back({"IDAT", Bytes(z.begin() + at, z.begin() + std::min(z.size(), at + size))});
    if (c.type != "IDAT") out.push_back(c);
  }
  return joinChunks(out);
}

Lib::Lib(const std::vector<PackInput> &files) : pack(makePack(files)) {
  zare_dar_add(lib, reinterpret_cast<zare_data_t *>(pack.data()));
}
