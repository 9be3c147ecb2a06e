// The one WAV writer: 16-bit stereo PCM at the music's rate, the form of the music everywhere.
#ifndef PARKHAUS_TOOLS_WAV_H
#define PARKHAUS_TOOLS_WAV_H

#include <cstdint>
#include <vector>

#include "bytes.h"

// The canonical 44-byte header for the given number of sample frames; false when they do not
// fit a WAV's 32-bit sizes.
bool wavHeader(int64_t sampleFrames, uint8_t header[44]);

// A whole WAV file of interleaved stereo samples (left, right, ...); false when too long.
bool wavEncode(const std::vector<int16_t> &stereo, Bytes &out);

#endif
