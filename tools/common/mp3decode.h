// A whole MP3 held in memory decoded at once, for the tools, benchmarks and tests.
#ifndef PARKHAUS_TOOLS_MP3DECODE_H
#define PARKHAUS_TOOLS_MP3DECODE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mp3mem.h"
#include "timeline.h"

// Decodes to interleaved stereo samples (left, right, ...) at the given rate through the same
// in-place memory reader the music stand-in uses. False with a reason when the data does not
// decode to any samples.
bool mp3Decode(const uint8_t *data, size_t size, std::vector<int16_t> &pcm, std::string &error,
               long rate = kMusicRate);

// The same in 32-bit floats from libmpg123's portable decoder, so that what is measured on the
// result (the tune's loudness and peaks) comes out the same on every machine; the 16-bit form
// takes whichever decoder is fastest here.
bool mp3DecodeFloat(const uint8_t *data, size_t size, std::vector<float> &pcm, std::string &error);

#endif
