// The one PNG writer of the tools, benchmarks and tests, and their reader of PNG frames. The
// writer takes 8-bit indexed, RGB, RGBA or BGRx pixels, writes no row filters, and leaves the zlib
// settings, the IDAT chunk size and an optional tEXt chunk to the caller (the media tool steers
// exact file lengths with them).
#ifndef PARKHAUS_TOOLS_PNGWRITE_H
#define PARKHAUS_TOOLS_PNGWRITE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"

// How the caller's pixels are laid out: one palette index, or 3 or 4 bytes per pixel. Bgrx is
// written as RGB, its fourth byte dropped (the layout GL reads back fastest).
enum class PngPixels { Indexed, Rgb, Rgba, Bgrx };

struct PngSpec {
  int width = 0;
  int height = 0;
  PngPixels pixels = PngPixels::Indexed;
  std::vector<std::array<uint8_t, 3>> palette;  // Indexed only
  int level = 6;                                 // zlib level, strategy and memory level
  int strategy = 0;
  int memLevel = 8;
  size_t idatSize = 8192;  // the image data comes in IDAT chunks of this many bytes
  Bytes text;              // when not empty: a tEXt chunk with these bytes after the image data
};

// Encodes the rows (rows[y] is row y from the top) into out; false when libpng fails.
bool pngEncodeRows(const PngSpec &spec, const uint8_t *const *rows, Bytes &out);

// Encodes pixels stored row after row from the top; empty when libpng fails.
Bytes pngEncode(const PngSpec &spec, const uint8_t *pixels);

// Bytes per pixel of a layout.
size_t pngBytesPerPixel(PngPixels pixels);

// Reads a PNG file (any kind libpng reads) as 8-bit RGB or RGBA pixels, rows from the top, or
// from the bottom as GL reads pixels back; false, with out empty, when libpng cannot read it.
bool pngReadFile(const std::string &path, bool alpha, bool bottomUp, Bytes &out, int &width, int &height);

#endif
