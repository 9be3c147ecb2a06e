// A whole MP3 held in memory decoded at once, for the tools, benchmarks and tests.
#ifndef PARKHAUS_TOOLS_MP3DECODE_H
#define PARKHAUS_TOOLS_MP3DECODE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Decodes to interleaved stereo samples (left, right, ...) at 44.1 kHz through the same
// in-place memory reader the music stand-in uses. False with a reason when the data does not
// decode to any samples.
bool mp3Decode(const uint8_t *data, size_t size, std::vector<int16_t> &pcm, std::string &error);

#endif
