// The asset tests' own readers of the file forms, independent of the demo's loaders.
#ifndef ASSET_READERS_H
#define ASSET_READERS_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Whole file, or empty if it cannot be read.
std::vector<uint8_t> readAll(const std::string &path);

// Runs a command, returns its exit status and collects its standard output (and error if asked).
int runCommand(const std::string &cmd, std::string &out);

// One PNG chunk as found in the file.
struct PngChunk {
  std::string type;
  uint32_t length;
  size_t offset;  // of the data
};
// Splits a PNG file into chunks; false if the signature or a chunk frame is broken.
bool pngChunks(const std::vector<uint8_t> &f, std::vector<PngChunk> &chunks);

// A 32-bit TGA as the demo's loader reads it: the header fields, and the pixels as red, green,
// blue, alpha after its orientation rule (rows reversed when the Y origin is 0, mirrored when the
// X origin is not), so that row 0 is texture t = 0.
struct Tga {
  int idLength = 0, mapType = 0, imageType = 0, xOrigin = 0, yOrigin = 0, width = 0, height = 0, depth = 0;
  std::vector<uint8_t> rgba;
};
bool tgaRead(const std::vector<uint8_t> &f, Tga &tga, std::string &err);

// An OIA mesh: header fields and the vertex floats.
struct Oia {
  int b4 = 0, b5 = 0, ext = 0, mode = 0, count = 0, stride = 0;
  std::vector<float> data;
};
bool oiaRead(const std::vector<uint8_t> &f, Oia &oia, std::string &err);

#endif
