// Helpers for the library's tests: packs built in memory, PNG files written and read with libpng.
#ifndef ZARE_TEST_UTIL_H
#define ZARE_TEST_UTIL_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<unsigned char>;

// One file of a pack: its name and its bytes.
struct PackFile {
  std::string name;
  Bytes data;
};

// Builds a pack image laid out like the shipped one: entries from offset 8, one repeated byte after
// each entry's data, the directory, the name table and the trailer.
Bytes buildPack(const std::vector<PackFile> &files);

// Offsets inside a pack built by buildPack.
uint32_t packDirOffset(const Bytes &pack);
uint32_t packEntryOffset(const Bytes &pack, int record);

void putLE32(Bytes &b, size_t at, uint32_t v);
void putLE16(Bytes &b, size_t at, uint16_t v);
void putBE32(Bytes &b, size_t at, uint32_t v);

// An 8-bit indexed image as libpng reads it back.
struct IndexedImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<unsigned char> indices;  // width x height
  std::vector<unsigned char> palette;  // 3 bytes per entry
};

// Writes an 8-bit indexed, non-interlaced PNG with filter type 0 on every row; idatSize is the
// compression buffer size, so the data comes in IDAT chunks of that many bytes.
Bytes writeIndexedPng(const IndexedImage &img, size_t idatSize, int compressionLevel = 6);

// Reads an 8-bit indexed PNG with libpng; false if libpng refuses it.
bool readIndexedPng(const Bytes &png, IndexedImage &out);

// Makes an image of the given size and palette size; noisy = random indices, else smooth bands.
IndexedImage makeImage(uint32_t width, uint32_t height, int paletteSize, bool noisy, uint32_t seed);

// Reads a whole file; empty if it cannot be read.
Bytes readFile(const std::string &path);

#endif
