// The music of a capture: the MP3 decoded to 44.1 kHz 16-bit stereo, cut to a span, written as WAV.
#ifndef PARKHAUS_CAPTURE_TRACK_H
#define PARKHAUS_CAPTURE_TRACK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Decodes a whole MP3 held in memory with libmpg123 into interleaved stereo samples at 44.1 kHz
// (left, right, left, ...). Returns false with a reason when the data does not decode.
bool captureDecodeMp3(const unsigned char *data, size_t size, std::vector<int16_t> &pcm, std::string &error);

// Copies sample frames [first, first + count) of pcm into out; the part past the end is silence.
void captureCutSpan(const std::vector<int16_t> &pcm, int64_t first, int64_t count, std::vector<int16_t> &out);

// The 44-byte header of a 16-bit stereo 44.1 kHz PCM WAV holding the given number of sample frames.
// False when that many do not fit a WAV's 32-bit sizes.
bool captureWavHeader(int64_t sampleFrames, unsigned char header[44]);

// Writes a complete WAV (header and samples, little-endian) to an open descriptor.
bool captureWriteWav(int fd, const std::vector<int16_t> &stereo, std::string &error);

#endif
