// Helpers for the library's tests: packs built in memory, PNG files written and read with libpng.
#include "zare_test_util.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

void putLE32(Bytes &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

void putLE16(Bytes &b, size_t at, uint16_t v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}

void putBE32(Bytes &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

static uint32_t getLE32(const Bytes &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

Bytes buildPack(const std::vector<PackFile> &files) {
  Bytes pack = {'Z', 'D', 'A', 'R', 0, 0, 0, 0};
  std::vector<uint32_t> offsets;
  for (const PackFile &f : files) {
    offsets.push_back(static_cast<uint32_t>(pack.size()));
    pack.insert(pack.end(), {'D', 'A', 'T', 0, 0, 0, 0});
    putLE32(pack, pack.size() - 4, static_cast<uint32_t>(f.data.size()));
    pack.insert(pack.end(), f.data.begin(), f.data.end());
    pack.push_back(f.data.empty() ? 0 : f.data.back());
  }
  const uint32_t dirOffset = static_cast<uint32_t>(pack.size());
  pack.insert(pack.end(), {'D', 'I', 'R', 0, 0});
  putLE16(pack, pack.size() - 2, static_cast<uint16_t>(files.size()));
  Bytes names;
  for (size_t i = 0; i < files.size(); ++i) {
    pack.insert(pack.end(), 6, 0);
    putLE32(pack, pack.size() - 6, offsets[i]);
    putLE16(pack, pack.size() - 2, static_cast<uint16_t>(names.size()));
    names.insert(names.end(), files[i].name.begin(), files[i].name.end());
    names.push_back(0);
  }
  pack.insert(pack.end(), names.begin(), names.end());
  pack.insert(pack.end(), {'E', 'N', 'D', 0, 0, 0, 0});
  putLE32(pack, pack.size() - 4, dirOffset);
  putLE32(pack, 4, static_cast<uint32_t>(pack.size()));
  return pack;
}

uint32_t packDirOffset(const Bytes &pack) { return getLE32(pack, pack.size() - 4); }

uint32_t packEntryOffset(const Bytes &pack, int record) {
  return getLE32(pack, packDirOffset(pack) + 5 + 6 * record);
}

// libpng write callback appending to a byte vector.
static void appendData(png_structp png, png_bytep data, png_size_t length) {
  Bytes *out = static_cast<Bytes *>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

static void noFlush(png_structp) {}

Bytes writeIndexedPng(const IndexedImage &img, size_t idatSize, int compressionLevel) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, appendData, noFlush);
  png_set_compression_buffer_size(png, idatSize);
  png_set_compression_level(png, compressionLevel);
  png_set_filter(png, 0, PNG_FILTER_NONE);
  png_set_IHDR(png, info, img.width, img.height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> pal(img.palette.size() / 3);
  for (size_t i = 0; i < pal.size(); ++i) {
    pal[i] = {img.palette[3 * i], img.palette[3 * i + 1], img.palette[3 * i + 2]};
  }
  png_set_PLTE(png, info, pal.data(), static_cast<int>(pal.size()));
  png_write_info(png, info);
  for (uint32_t y = 0; y < img.height; ++y) {
    png_write_row(png, const_cast<png_bytep>(img.indices.data() + static_cast<size_t>(y) * img.width));
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// libpng read callback consuming a byte range.
struct ReadCursor {
  const Bytes *data;
  size_t pos;
};

static void readData(png_structp png, png_bytep out, png_size_t length) {
  ReadCursor *c = static_cast<ReadCursor *>(png_get_io_ptr(png));
  if (c->pos + length > c->data->size()) {
    png_error(png, "read past end");
  }
  memcpy(out, c->data->data() + c->pos, length);
  c->pos += length;
}

bool readIndexedPng(const Bytes &bytes, IndexedImage &out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  ReadCursor cursor{&bytes, 0};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &cursor, readData);
  png_read_info(png, info);
  if (png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE || png_get_bit_depth(png, info) != 8) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  out.width = png_get_image_width(png, info);
  out.height = png_get_image_height(png, info);
  png_colorp pal = nullptr;
  int num = 0;
  png_get_PLTE(png, info, &pal, &num);
  out.palette.clear();
  for (int i = 0; i < num; ++i) {
    out.palette.insert(out.palette.end(), {pal[i].red, pal[i].green, pal[i].blue});
  }
  out.indices.assign(static_cast<size_t>(out.width) * out.height, 0);
  for (uint32_t y = 0; y < out.height; ++y) {
    png_read_row(png, out.indices.data() + static_cast<size_t>(y) * out.width, nullptr);
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

IndexedImage makeImage(uint32_t width, uint32_t height, int paletteSize, bool noisy, uint32_t seed) {
  IndexedImage img;
  img.width = width;
  img.height = height;
  std::mt19937 rng(seed);
  for (int i = 0; i < paletteSize; ++i) {
    img.palette.insert(img.palette.end(), {static_cast<unsigned char>(rng()), static_cast<unsigned char>(rng()),
                                           static_cast<unsigned char>(rng())});
  }
  img.indices.resize(static_cast<size_t>(width) * height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      unsigned v = noisy ? static_cast<unsigned>(rng()) : (x / 3 + y / 5 + ((x * y) >> 6));
      img.indices[static_cast<size_t>(y) * width + x] = static_cast<unsigned char>(v % paletteSize);
    }
  }
  return img;
}

Bytes readFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
