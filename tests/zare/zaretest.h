// Helpers of the library's tests: packs made with the pack tool's writer, indexed PNGs made with
// the shared writer and read back with libpng (the trusted decoder), and PNG chunk surgery.
#ifndef PARKHAUS_ZARETEST_H
#define PARKHAUS_ZARETEST_H

#include <string>
#include <vector>

#include "bytes.h"
#include "packfmt.h"
#include "zarelib.h"

// A pack image of the named files, laid out as the shipped one.
Bytes makePack(const std::vector<PackInput> &files);

// How many files this process has open, to tell a load that left one open.
long openFileCount();

// The entry offset of record k of a pack.
uint32_t entryOffset(const Bytes &pack, size_t k);

// An 8-bit indexed image: width x height indices and 3 bytes per palette entry.
struct Indexed {
  uint32_t width = 0, height = 0;
  Bytes indices, palette;
};

// An image with random palette colours; noisy indices, or smooth bands that compress well.
Indexed makeImage(uint32_t width, uint32_t height, int paletteSize, bool noisy, uint32_t seed);

// The image as a PNG with filter type 0 on every row and IDAT chunks of at most idatSize bytes.
Bytes writePng(const Indexed &img, size_t idatSize = 8192, int level = 6);

// Reads an 8-bit indexed PNG with libpng; false when libpng refuses it.
bool readPng(const Bytes &png, Indexed &out);

// One chunk of a PNG file.
struct Chunk {
  std::string type;
  Bytes data;
};
std::vector<Chunk> splitChunks(const Bytes &png);
// The signature, then the chunks with their right CRCs.
Bytes joinChunks(const std::vector<Chunk> &chunks);
// The PNG with its image data deflated from raw rows (filter byte first) in one IDAT chunk.
Bytes withRows(const Bytes &png, const Bytes &raw);
// The PNG with z, or its own image data when z is empty, cut into IDAT chunks of size bytes (libpng writes none under 6).
Bytes recutIdat(const Bytes &png, size_t size, Bytes z = {});

// A context with a pack of its own that holds the given files.
struct Lib {
  zare_lib_t *lib = zare_new();
  Bytes pack;
  explicit Lib(const std::vector<PackInput> &files);
  ~Lib() { zare_delete(lib); }
  std::string trace() const { return zare_getTrace(lib); }
};

#endif
